// Digital zoom of a pane, drawn by the page: the wheel over a pane playing live video zooms into
// its picture around the pointer, dragging with the left button pans, and a double click while
// zoomed resets it (instead of maximising). The control's picture is untouched: the page draws
// the zoomed part over the pane as the canvas is presented. A new layout or size resets zooms.

import { cell_rects, cell_index_at } from "./wall_bar.js";

const STEP = 1.25;
const MAX_SCALE = 8;
const DOUBLE_MS = 500;
const DOUBLE_PX = 4;

// The cell of the layout under surface point (x, y), inside the pane's one-pixel border, or null.
export function cell_at(x, y, width, height, count) {
  const rects = cell_rects(count, width, height);
  const index = cell_index_at(rects, x, y);
  if (index < 0) return null;
  const c = rects[index];
  return { index, x: c.x + 1, y: c.y + 1, w: c.w - 2, h: c.h - 2 };
}

// The source rectangle a zoom shows: `scale` times smaller than the cell, centred on (cx, cy) and
// kept inside the cell.
export function zoom_source(zoom) {
  const { cell, scale } = zoom;
  const w = cell.w / scale;
  const h = cell.h / scale;
  const x = Math.min(Math.max(zoom.cx - w / 2, cell.x), cell.x + cell.w - w);
  const y = Math.min(Math.max(zoom.cy - h / 2, cell.y), cell.y + cell.h - h);
  return { x, y, w, h };
}

export class PaneZoom {
  // `playing(cell)` says whether the pane in a cell of the layout plays live video.
  constructor({ surface, bar, playing }) {
    this.surface = surface;
    this.bar = bar;
    this.playing = playing;
    this.zooms = new Map(); // cell index -> {cell, scale, cx, cy}
    this.last_down = null;
    this.pan = null;
    this.swallow_up = false;
    this.size = "";

    surface.views.push((context, raw, rect) => this.draw(context, raw, rect));
    bar.addEventListener("count", () => this.reset_all());
    this.bind();
  }

  draw(context, raw, rect) {
    const size = `${raw.width}x${raw.height}`;
    if (size !== this.size) {
      this.size = size;
      this.zooms.clear();
    }
    for (const zoom of this.zooms.values()) {
      const { cell } = zoom;
      if (rect.x >= cell.x + cell.w || rect.x + rect.w <= cell.x || rect.y >= cell.y + cell.h || rect.y + rect.h <= cell.y) continue;
      const s = zoom_source(zoom);
      context.drawImage(raw, s.x, s.y, s.w, s.h, cell.x, cell.y, cell.w, cell.h);
    }
  }

  redraw(cell) {
    this.surface.present({ x: cell.x, y: cell.y, w: cell.w, h: cell.h });
  }

  reset_all() {
    if (!this.zooms.size) return;
    this.zooms.clear();
    this.surface.present_all();
  }

  reset(index) {
    const zoom = this.zooms.get(index);
    if (!zoom) return;
    this.zooms.delete(index);
    this.redraw(zoom.cell);
  }

  cell_of(e) {
    const { x, y } = this.surface.point(e);
    const canvas = this.surface.canvas;
    return { at: { x, y }, cell: cell_at(x, y, canvas.width, canvas.height, this.bar.count) };
  }

  // The wheel: zooms around the pointer, keeping the picture point under it in place.
  wheel(e) {
    const { at, cell } = this.cell_of(e);
    if (!cell) return false;
    const zoom = this.zooms.get(cell.index) ?? { cell, scale: 1, cx: cell.x + cell.w / 2, cy: cell.y + cell.h / 2 };
    if (zoom.scale === 1 && !this.playing(cell.index)) return false;
    const s = zoom_source(zoom);
    const px = s.x + ((at.x - cell.x) * s.w) / cell.w;
    const py = s.y + ((at.y - cell.y) * s.h) / cell.h;
    const scale = Math.min(MAX_SCALE, Math.max(1, zoom.scale * (e.deltaY < 0 ? STEP : 1 / STEP)));
    if (scale <= 1.001) {
      this.reset(cell.index);
      return true;
    }
    const w = cell.w / scale;
    const h = cell.h / scale;
    zoom.scale = scale;
    zoom.cx = px - ((at.x - cell.x) * w) / cell.w + w / 2;
    zoom.cy = py - ((at.y - cell.y) * h) / cell.h + h / 2;
    const kept = zoom_source(zoom);
    zoom.cx = kept.x + w / 2;
    zoom.cy = kept.y + h / 2;
    this.zooms.set(cell.index, zoom);
    this.redraw(cell);
    return true;
  }

  bind() {
    const c = this.surface.canvas;
    // Registered for the capture phase, so they run before the surface sends input on.
    c.addEventListener("wheel", (e) => {
      if (e.ctrlKey || !this.wheel(e)) return;
      e.preventDefault();
      e.stopImmediatePropagation();
    }, { capture: true, passive: false });
    c.addEventListener("pointerdown", (e) => {
      if (e.button !== 0) return;
      const { at, cell } = this.cell_of(e);
      const now = performance.now();
      const last = this.last_down;
      this.last_down = { at, when: now };
      if (!cell || !this.zooms.has(cell.index)) return;
      if (last && now - last.when <= DOUBLE_MS && Math.abs(last.at.x - at.x) <= DOUBLE_PX && Math.abs(last.at.y - at.y) <= DOUBLE_PX) {
        // A double click on a zoomed pane resets the zoom; the control does not see it.
        this.last_down = null;
        this.swallow_up = true;
        this.reset(cell.index);
        e.stopImmediatePropagation();
        return;
      }
      this.pan = { index: cell.index, from: at };
    }, { capture: true });
    c.addEventListener("pointermove", (e) => {
      if (!this.pan || !(e.buttons & 1)) return;
      const zoom = this.zooms.get(this.pan.index);
      if (!zoom) return;
      const at = this.surface.point(e);
      zoom.cx -= (at.x - this.pan.from.x) / zoom.scale;
      zoom.cy -= (at.y - this.pan.from.y) / zoom.scale;
      const kept = zoom_source(zoom);
      zoom.cx = kept.x + kept.w / 2;
      zoom.cy = kept.y + kept.h / 2;
      this.pan.from = at;
      this.redraw(zoom.cell);
    }, { capture: true });
    c.addEventListener("pointerup", (e) => {
      this.pan = null;
      if (this.swallow_up) {
        this.swallow_up = false;
        e.stopImmediatePropagation();
      }
    }, { capture: true });
  }
}
