// The wall's tool bar in the page: a layout picker (the eight pane counts the control knows)
// and the live/playback page switch. Both call the control's script methods and then read the
// count back, so the bar always shows what the control has, also after a double click on a pane
// (maximise/restore) or a layout restored when the control started.

import { t } from "./i18n.js";

export const LAYOUTS = [1, 4, 6, 8, 9, 10, 13, 16];
export const PAGES = [
  { page: 0, key: "wall.page-live" },
  { page: 1, key: "wall.page-playback" },
];

// The panes of each layout in grid cells (left, top, right, bottom), as the control places them.
const GRID = { 1: 1, 4: 2, 6: 3, 8: 4, 9: 3, 10: 4, 13: 4, 16: 4 };
const IRREGULAR = {
  6: [[0, 0, 2, 2], [2, 0, 3, 1], [2, 1, 3, 2], [0, 2, 1, 3], [1, 2, 2, 3], [2, 2, 3, 3]],
  8: [[0, 0, 3, 3], [3, 0, 4, 1], [3, 1, 4, 2], [3, 2, 4, 3], [0, 3, 1, 4], [1, 3, 2, 4], [2, 3, 3, 4], [3, 3, 4, 4]],
  10: [[0, 0, 2, 2], [2, 0, 4, 2], [0, 2, 1, 3], [1, 2, 2, 3], [2, 2, 3, 3], [3, 2, 4, 3], [0, 3, 1, 4], [1, 3, 2, 4], [2, 3, 3, 4], [3, 3, 4, 4]],
  13: [[0, 0, 1, 1], [1, 0, 2, 1], [2, 0, 3, 1], [3, 0, 4, 1], [0, 1, 1, 2], [0, 2, 1, 3], [3, 1, 4, 2], [3, 2, 4, 3],
    [0, 3, 1, 4], [1, 3, 2, 4], [2, 3, 3, 4], [3, 3, 4, 4], [1, 1, 3, 3]],
};

export function grid_of(count) {
  return GRID[count] ?? 0;
}

// The panes of a `count` layout on a `width` x `height` wall, as surface rectangles
// {x, y, w, h} in layout order (the control's integer cell size; the remainder stays uncovered).
export function cell_rects(count, width, height) {
  const g = GRID[count];
  if (!g) return [];
  const u = Math.floor(width / g);
  const v = Math.floor(height / g);
  return layout_cells(count).map(([l, t, r, b]) => ({ x: l * u, y: t * v, w: (r - l) * u, h: (b - t) * v }));
}

// The index of the cell of `rects` holding surface point (x, y), or -1.
export function cell_index_at(rects, x, y) {
  return rects.findIndex((c) => x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h);
}

export function layout_cells(count) {
  if (IRREGULAR[count]) return IRREGULAR[count];
  const g = GRID[count];
  if (!g) return [];
  const cells = [];
  for (let row = 0; row < g; row++) for (let col = 0; col < g; col++) cells.push([col, row, col + 1, row + 1]);
  return cells;
}

const SVG = "http://www.w3.org/2000/svg";
const PAGE_KEY = "kavrel.wall-page";

// A small picture of a layout: its panes as rounded cells in an 18x18 box.
function layout_icon(count) {
  const svg = document.createElementNS(SVG, "svg");
  svg.setAttribute("viewBox", "0 0 18 18");
  svg.setAttribute("width", "18");
  svg.setAttribute("height", "18");
  svg.setAttribute("aria-hidden", "true");
  const unit = 18 / GRID[count];
  for (const [l, top, r, b] of layout_cells(count)) {
    const cell = document.createElementNS(SVG, "rect");
    cell.setAttribute("x", String(l * unit + 0.75));
    cell.setAttribute("y", String(top * unit + 0.75));
    cell.setAttribute("width", String((r - l) * unit - 1.5));
    cell.setAttribute("height", String((b - top) * unit - 1.5));
    cell.setAttribute("rx", "1");
    svg.append(cell);
  }
  return svg;
}

export class WallBar extends EventTarget {
  // `call(method, args)` runs a script method and resolves to its result (null when refused).
  constructor(slot, call) {
    super();
    this.call = call;
    this.count = 0;
    // The control has no getter for its page: the bar remembers the last one it chose for this
    // tab, so a reload shows the page the control is still on.
    this.page = Number(sessionStorage.getItem(PAGE_KEY) ?? 0) === 1 ? 1 : 0;

    this.layouts = document.createElement("div");
    this.layouts.className = "segmented layout-picker";
    this.layouts.setAttribute("role", "radiogroup");
    this.layouts.setAttribute("aria-label", t("wall.layout"));
    for (const count of LAYOUTS) {
      const button = document.createElement("button");
      button.type = "button";
      button.className = "segment layout-option";
      button.dataset.count = String(count);
      button.setAttribute("role", "radio");
      button.setAttribute("aria-checked", "false");
      button.title = t("wall.layout-n", { count });
      button.append(layout_icon(count));
      button.addEventListener("click", () => this.set_layout(count));
      this.layouts.append(button);
    }

    this.pages = document.createElement("div");
    this.pages.className = "segmented page-switch";
    this.pages.setAttribute("role", "radiogroup");
    this.pages.setAttribute("aria-label", t("wall.page"));
    for (const { page, key } of PAGES) {
      const button = document.createElement("button");
      button.type = "button";
      button.className = "segment page-option";
      button.dataset.page = String(page);
      button.setAttribute("role", "radio");
      button.setAttribute("aria-checked", String(page === this.page));
      button.textContent = t(key);
      button.addEventListener("click", () => this.set_page(page));
      this.pages.append(button);
    }

    slot.append(this.pages, this.layouts);
    this.enable(false);
  }

  enable(on) {
    for (const b of this.layouts.querySelectorAll("button")) b.disabled = !on;
    for (const b of this.pages.querySelectorAll("button")) b.disabled = !on;
    // Layouts apply to the live wall only.
    if (on && this.page !== 0) for (const b of this.layouts.querySelectorAll("button")) b.disabled = true;
  }

  async set_layout(count) {
    await this.call("CliSetPicNum", [count]);
    await this.refresh();
  }

  async set_page(page) {
    if (page === this.page) return;
    await this.call("CliChangePageTo", [page]);
    this.page = page;
    sessionStorage.setItem(PAGE_KEY, String(page));
    for (const b of this.pages.querySelectorAll("button")) b.setAttribute("aria-checked", String(Number(b.dataset.page) === page));
    this.enable(true);
    this.dispatchEvent(new CustomEvent("page", { detail: { page } }));
  }

  // Reads the pane count back from the control and marks it.
  async refresh() {
    const count = await this.call("CliGetPicNum", []);
    if (typeof count !== "number") return;
    const changed = count !== this.count;
    this.count = count;
    for (const b of this.layouts.querySelectorAll("button")) {
      b.setAttribute("aria-checked", String(Number(b.dataset.count) === count));
    }
    this.layouts.dataset.count = String(count);
    if (changed) this.dispatchEvent(new CustomEvent("count", { detail: { count } }));
  }
}
