// The media controls beside the wall, for the selected pane: sound on or off and its volume,
// pan-tilt-zoom (hold an arrow to move, let go to stop) with presets, the fisheye mount and view,
// and the pane's own snapshot and record buttons. PTZ and sound use the control's script methods;
// the fisheye settings go through the pane's menu and the snapshot and record through the pane's
// tool bar, as a person using the control would choose them.

import { t } from "./i18n.js";
import { EV } from "./events.js";
import { cell_rects } from "./wall_bar.js";
import { page_start } from "./live.js";

export const PTZ_MOVES = Object.freeze({
  up: "CliPTZMoveUp",
  down: "CliPTZMoveDown",
  left: "CliPTZMoveLeft",
  right: "CliPTZMoveRight",
  "zoom-in": "CliPTZZoomIn",
  "zoom-out": "CliPTZZoomOut",
});

// The pane menu's fisheye commands with the menu's own texts.
export const FISHEYE_MOUNTS = Object.freeze([
  { command: 213, text: "Teto" },
  { command: 214, text: "Chão" },
  { command: 215, text: "Parede" },
]);
export const FISHEYE_VIEWS = Object.freeze([
  { command: 216, text: "Original", mount: "ceiling" },
  { command: 217, text: "Panorama mais 1 EPTZ", mount: "ceiling" },
  { command: 219, text: "Original mais 2 EPTZ", mount: "ceiling" },
  { command: 220, text: "Original mais 3 EPTZ", mount: "ceiling" },
  { command: 221, text: "Original mais 4 EPTZ", mount: "ceiling" },
  { command: 222, text: "Panorama mais 6 EPTZ", mount: "ceiling" },
  { command: 223, text: "Original mais 8 EPTZ", mount: "ceiling" },
  { command: 224, text: "Panorama", mount: "wall" },
  { command: 225, text: "Panorama mais 3 EPTZ", mount: "wall" },
  { command: 226, text: "Panorama mais 4 EPTZ", mount: "wall" },
  { command: 227, text: "Panorama mais 8 EPTZ", mount: "wall" },
]);

// True when a menu (items as the host sends them) offers `command`.
export function menu_offers(items, command) {
  for (const item of items ?? []) {
    const head = Array.isArray(item.submenu) && item.submenu.length > 0;
    if (command && !item.separator && !item.disabled && !head && item.command === command) return true;
    if (menu_offers(item.submenu, command)) return true;
  }
  return false;
}

const PANE_GREY = 220; // the pane's background around a picture narrower or flatter than the pane

// The row (index into `column`, top to bottom) where the pane's panel ends, from a column of the
// pane's pixels as [r, g, b] triples: the lowest row that starts, going up, a run of `run` rows
// that are not the pane's plain grey. The pane's frame (and the selection's coloured frame) at
// the very bottom is too thin to count. -1 when there is no such run.
export function panel_bottom(column, tolerance = 14, run = 6) {
  const grey = ([r, g, b]) => Math.abs(r - PANE_GREY) <= tolerance && Math.abs(g - PANE_GREY) <= tolerance && Math.abs(b - PANE_GREY) <= tolerance;
  let length = 0;
  for (let i = column.length - 1; i >= 0; i--) {
    length = grey(column[i]) ? 0 : length + 1;
    if (length === run) return i + run - 1;
  }
  return -1;
}

// Where to click the pane's tool bar for `kind` ("snapshot" or "record"), in surface pixels,
// given the pane's cell and the panel's bottom row. The tool bar is the panel's bottom 32 pixels
// and its buttons share it equally: six of them, or seven when the device has an alarm output
// (which then comes first). The spots chosen are inside the same button either way.
export function toolbar_point(cell, bottom, kind) {
  const fraction = { snapshot: 0.155, record: 0.31 }[kind];
  if (fraction === undefined) return null;
  return { x: cell.x + Math.round(cell.w * fraction), y: bottom - 16 };
}

export function is_image_name(name) {
  return /\.(png|jpe?g|bmp)$/i.test(String(name ?? ""));
}

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

function icon(path) {
  const span = element("span", "media-icon");
  span.innerHTML = `<svg viewBox="0 0 24 24" width="18" height="18" aria-hidden="true">${path}</svg>`;
  return span;
}

const ARROWS = {
  up: '<path d="M12 5l-7 8h14z" fill="currentColor"/>',
  down: '<path d="M12 19l7-8H5z" fill="currentColor"/>',
  left: '<path d="M5 12l8-7v14z" fill="currentColor"/>',
  right: '<path d="M19 12l-8 7V5z" fill="currentColor"/>',
  "zoom-in": '<circle cx="10" cy="10" r="6" fill="none" stroke="currentColor" stroke-width="2"/><path d="M15 15l5 5M7 10h6M10 7v6" stroke="currentColor" stroke-width="2"/>',
  "zoom-out": '<circle cx="10" cy="10" r="6" fill="none" stroke="currentColor" stroke-width="2"/><path d="M15 15l5 5M7 10h6" stroke="currentColor" stroke-width="2"/>',
};

export class MediaControls extends EventTarget {
  // call(method, args): a script method (null when refused); live: the LiveWall; surface: the
  // Surface; site: the Site; bar: the WallBar; root: the panel element.
  constructor({ call, live, surface, site, bar, root }) {
    super();
    this.call = call;
    this.live = live;
    this.surface = surface;
    this.site = site;
    this.bar = bar;
    this.root = root;
    this.pane = 0;
    this.sound_pane = -1;
    this.recording = new Set();
    this.held = null; // the PTZ move held down: {pane}
    this.snapshot_events = 0; // snapshot events (0x12007) seen
    this.build();
    this.update();
  }

  build() {
    const r = this.root;
    r.replaceChildren();
    this.title = element("h2", "media-title");
    r.append(this.title);

    // Sound.
    const sound = element("section", "media-group");
    sound.append(element("h3", "media-heading", t("media.sound")));
    const row = element("div", "media-row");
    this.sound_button = element("button", "button small media-sound");
    this.sound_button.type = "button";
    this.sound_button.setAttribute("aria-pressed", "false");
    this.sound_button.addEventListener("click", () => this.toggle_sound());
    this.volume = element("input", "media-volume");
    this.volume.type = "range";
    this.volume.min = "0";
    this.volume.max = "100";
    this.volume.value = "80";
    this.volume.setAttribute("aria-label", t("media.volume"));
    this.volume.addEventListener("change", () => this.call("CliSetVolume", [this.pane, Number(this.volume.value)]));
    row.append(this.sound_button, this.volume);
    sound.append(row);
    r.append(sound);

    // PTZ.
    const ptz = element("section", "media-group");
    ptz.append(element("h3", "media-heading", t("media.ptz")));
    const pad = element("div", "ptz-pad");
    for (const dir of ["up", "left", "right", "down", "zoom-in", "zoom-out"]) {
      const b = element("button", `icon-button ptz-${dir}`);
      b.type = "button";
      b.dataset.move = dir;
      b.title = t(`media.ptz-${dir}`);
      b.setAttribute("aria-label", t(`media.ptz-${dir}`));
      b.append(icon(ARROWS[dir]));
      this.bind_hold(b, dir);
      pad.append(b);
    }
    ptz.append(pad);
    const speed_row = element("label", "media-row media-speed");
    speed_row.append(element("span", "field-label", t("media.speed")));
    this.speed = element("input", "");
    this.speed.type = "range";
    this.speed.min = "1";
    this.speed.max = "8";
    this.speed.value = "4";
    speed_row.append(this.speed);
    ptz.append(speed_row);
    const presets = element("div", "media-row media-presets");
    this.preset = element("input", "input small preset-number");
    this.preset.type = "number";
    this.preset.min = "1";
    this.preset.max = "255";
    this.preset.value = "1";
    this.preset.setAttribute("aria-label", t("media.preset"));
    presets.append(this.preset);
    for (const [key, method] of [["media.preset-go", "CliPTZRecallPreset"], ["media.preset-set", "CliPTZSetPreset"], ["media.preset-delete", "CliPTZDeletePreset"]]) {
      const b = element("button", "button small", t(key));
      b.type = "button";
      b.dataset.preset = method;
      b.addEventListener("click", () => this.call(method, [this.pane, Math.max(1, Number(this.preset.value) || 1)]));
      presets.append(b);
    }
    ptz.append(presets);
    r.append(ptz);

    // Fisheye.
    const fish = element("section", "media-group");
    fish.append(element("h3", "media-heading", t("media.fisheye")));
    this.mount = element("select", "input small fisheye-mount");
    this.mount.setAttribute("aria-label", t("media.fisheye-mount"));
    this.mount.append(new Option(t("media.fisheye-mount"), ""));
    for (const m of FISHEYE_MOUNTS) this.mount.append(new Option(m.text, String(m.command)));
    this.mount.addEventListener("change", () => this.choose_menu(Number(this.mount.value)).then(() => (this.mount.value = "")));
    this.view = element("select", "input small fisheye-view");
    this.view.setAttribute("aria-label", t("media.fisheye-view"));
    this.view.append(new Option(t("media.fisheye-view"), ""));
    for (const group of ["ceiling", "wall"]) {
      const og = document.createElement("optgroup");
      og.label = t(`media.fisheye-${group}`);
      for (const v of FISHEYE_VIEWS.filter((x) => x.mount === group)) og.append(new Option(v.text, String(v.command)));
      this.view.append(og);
    }
    this.view.addEventListener("change", () => this.choose_menu(Number(this.view.value)).then(() => (this.view.value = "")));
    fish.append(this.mount, this.view);
    r.append(fish);

    // Snapshot and recording on the pane's tool bar.
    const capture = element("section", "media-group");
    capture.append(element("h3", "media-heading", t("media.capture")));
    const crow = element("div", "media-row");
    this.snapshot_button = element("button", "button small media-snapshot", t("media.snapshot"));
    this.snapshot_button.type = "button";
    this.snapshot_button.addEventListener("click", () => this.press_toolbar("snapshot"));
    this.record_button = element("button", "button small media-record", t("media.record"));
    this.record_button.type = "button";
    this.record_button.setAttribute("aria-pressed", "false");
    this.record_button.addEventListener("click", async () => {
      if (await this.press_toolbar("record")) {
        if (this.recording.has(this.pane)) this.recording.delete(this.pane);
        else this.recording.add(this.pane);
        this.update();
      }
    });
    crow.append(this.snapshot_button, this.record_button);
    capture.append(crow);
    r.append(capture);
  }

  // Press and hold moves; letting go (or leaving the button, or losing the pointer) stops.
  bind_hold(button, dir) {
    const start = (e) => {
      e.preventDefault();
      if (this.held) return;
      this.held = { pane: this.pane };
      button.classList.add("held");
      button.setPointerCapture?.(e.pointerId);
      this.call(PTZ_MOVES[dir], [this.pane, Number(this.speed.value)]);
    };
    const stop = () => {
      if (!this.held) return;
      const { pane } = this.held;
      this.held = null;
      button.classList.remove("held");
      this.call("CliPTZStop", [pane]);
    };
    button.addEventListener("pointerdown", start);
    button.addEventListener("pointerup", stop);
    button.addEventListener("pointercancel", stop);
    button.addEventListener("lostpointercapture", stop);
    button.addEventListener("keydown", (e) => {
      if ((e.key === " " || e.key === "Enter") && !e.repeat) start(e);
    });
    button.addEventListener("keyup", (e) => {
      if (e.key === " " || e.key === "Enter") stop();
    });
    button.addEventListener("blur", stop);
  }

  select(pane) {
    if (pane === this.pane) return;
    this.pane = pane;
    this.update();
  }

  on_callback(ev) {
    if (ev.nID === EV.PANE_SELECTED) this.select(ev.nTag1);
    if (ev.nID === EV.SNAPSHOT) this.snapshot_events++;
    if (ev.nID === EV.PANE_CLOSED || (ev.nID === EV.LIVE_STARTED && ev.nTag2 !== 0)) {
      if (ev.nTag1 === this.sound_pane) this.sound_pane = -1;
      this.recording.delete(ev.nTag1);
    }
    this.update();
  }

  update() {
    const playing = this.live.playing(this.pane);
    this.title.textContent = t("media.pane", { pane: this.pane + 1 });
    this.root.dataset.playing = String(playing);
    for (const el of this.root.querySelectorAll("button, select, input")) el.disabled = !playing;
    const on = this.sound_pane === this.pane;
    this.sound_button.setAttribute("aria-pressed", String(on));
    this.sound_button.textContent = t(on ? "media.sound-off" : "media.sound-on");
    const rec = this.recording.has(this.pane);
    this.record_button.setAttribute("aria-pressed", String(rec));
    this.record_button.textContent = t(rec ? "media.record-stop" : "media.record");
  }

  async toggle_sound() {
    const pane = this.pane;
    const want = this.sound_pane === pane ? 0 : 1;
    await this.call("CliSetAudioState", [pane, want]);
    if (want) await this.call("CliSetVolume", [pane, Number(this.volume.value)]);
    const state = await this.call("CliGetAudioState", [pane]);
    if (state === 1) this.sound_pane = pane;
    else if (this.sound_pane === pane) this.sound_pane = -1;
    if (want && state !== 1) this.dispatchEvent(new CustomEvent("note", { detail: { level: "warning", key: "media.sound-failed", params: { pane: pane + 1 } } }));
    this.update();
    return state;
  }

  // The cell of `pane` on the wall as shown, or null when it is not on the page shown.
  cell_of(pane) {
    const canvas = this.surface.canvas;
    const start = page_start(this.bar.count, this.live.last_selected ?? pane);
    return cell_rects(this.bar.count, canvas.width, canvas.height)[pane - start] ?? null;
  }

  // Opens the pane's menu with a right click in its middle and chooses `command` in it.
  async choose_menu(command) {
    if (!command) return false;
    const cell = this.cell_of(this.pane);
    if (!cell) return false;
    const at = { x: cell.x + Math.floor(cell.w / 2), y: cell.y + Math.floor(cell.h / 2) };
    const chosen = this.site.answer_next_menu(command);
    this.surface.input({ event: "mousedown", ...at, button: 2, buttons: 2, mods: 0 });
    this.surface.input({ event: "mouseup", ...at, button: 2, buttons: 0, mods: 0 });
    const offered = await chosen;
    this.last_menu_choice = { pane: this.pane, command, offered };
    this.dispatchEvent(new CustomEvent("menu-choice", { detail: this.last_menu_choice }));
    return offered;
  }

  // Presses the pane's `kind` button on its tool bar. A snapshot is pressed again (at most three
  // times) when neither its save dialog nor its event follows: a busy control may have hidden the
  // tool bar before the press landed.
  async press_toolbar(kind) {
    for (let attempt = 0; attempt < 3; attempt++) {
      const events = this.snapshot_events;
      if (!(await this.press_toolbar_once(kind))) return false;
      if (kind !== "snapshot") return true;
      const deadline = performance.now() + 4000;
      while (performance.now() < deadline) {
        if (this.site.active?.message.kind === "save_dialog" || this.snapshot_events > events) return true;
        await new Promise((resolve) => setTimeout(resolve, 100));
      }
    }
    return false;
  }

  // Shows the pane's tool bar (the pointer over its strip) and presses its `kind` button.
  async press_toolbar_once(kind) {
    const cell = this.cell_of(this.pane);
    if (!cell) return false;
    const raw = this.surface.raw;
    const x = cell.x + Math.floor(cell.w / 2);
    const data = raw.getContext("2d").getImageData(x, cell.y, 1, cell.h).data;
    const column = [];
    for (let i = 0; i < cell.h; i++) column.push([data[4 * i], data[4 * i + 1], data[4 * i + 2]]);
    const bottom = panel_bottom(column);
    if (bottom < 0) return false;
    const at = toolbar_point(cell, cell.y + bottom, kind);
    // The first move shows the tool bar; the second one reaches its button, which then takes the
    // press. A call after the moves returns once the control has handled them.
    this.surface.input({ event: "mousemove", x: at.x - 2, y: at.y, buttons: 0, mods: 0 });
    await this.call("CliGetPicNum", []);
    this.surface.input({ event: "mousemove", ...at, buttons: 0, mods: 0 });
    await this.call("CliGetPicNum", []);
    this.surface.input({ event: "mousedown", ...at, button: 0, buttons: 1, mods: 0 });
    this.surface.input({ event: "mouseup", ...at, button: 0, buttons: 0, mods: 0 });
    return true;
  }
}

// The last snapshots saved from the panes, as thumbnails under the wall.
export class SnapshotStrip {
  constructor(root, { keep = 8 } = {}) {
    this.root = root;
    this.keep = keep;
    this.list = element("ol", "snapshot-list");
    this.root.replaceChildren(element("h2", "snapshot-title", t("media.snapshots")), this.list);
    this.root.hidden = true;
  }

  async add(url, name) {
    if (!is_image_name(name) || !url) return null;
    const blob = await (await fetch(url)).blob();
    const bitmap = await createImageBitmap(blob);
    const object_url = URL.createObjectURL(blob);
    const item = element("li", "snapshot");
    const link = element("a", "snapshot-link");
    link.href = object_url;
    link.download = name;
    link.title = `${name} · ${bitmap.width} × ${bitmap.height}`;
    const img = element("img", "snapshot-image");
    img.alt = name;
    img.src = object_url;
    img.dataset.width = String(bitmap.width);
    img.dataset.height = String(bitmap.height);
    bitmap.close?.();
    link.append(img, element("span", "snapshot-name", name));
    item.append(link);
    this.list.prepend(item);
    while (this.list.children.length > this.keep) {
      const last = this.list.lastElementChild;
      URL.revokeObjectURL(last.querySelector("a")?.href);
      last.remove();
    }
    this.root.hidden = false;
    return item;
  }
}
