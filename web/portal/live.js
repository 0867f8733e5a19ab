// Live video from the page, on the control's own script methods: a camera dropped on a pane (or
// double-clicked in the tree, for the selected pane) starts there with the stream chosen in the
// tool bar, a device's cameras fill the next idle panes, "Auto" picks the main stream where a
// pane is large and the extra stream where it is small, and the keyboard drives the wall.

import { t } from "./i18n.js";
import { EV } from "./events.js";
import { cell_rects, cell_index_at } from "./wall_bar.js";

export const CAMERA_DRAG_TYPE = "application/x-kavrel-camera";
export const STREAM = Object.freeze({ MAIN: 0, EXTRA: 1 });
const CHOICES = [
  { value: "auto", key: "live.stream-auto" },
  { value: String(STREAM.MAIN), key: "live.stream-main" },
  { value: String(STREAM.EXTRA), key: "live.stream-extra" },
];
const PANES = 16;

// The stream "Auto" plays in a wall of `count` panes: the main stream where a pane is large (a
// maximised pane, or a wall of four or fewer), the extra stream otherwise.
export function auto_stream(count) {
  return count <= 4 ? STREAM.MAIN : STREAM.EXTRA;
}

// The stream "Auto" gives pane `pane` when the wall shows `count` panes with `selected`
// selected: a maximised pane is large, the panes hidden behind it keep the small stream.
export function wanted_stream(count, pane, selected) {
  if (count === 1) return pane === selected ? STREAM.MAIN : STREAM.EXTRA;
  return auto_stream(count);
}

// The first pane shown for `count` panes on the page that holds `selected` (the wall's rule).
export function page_start(count, selected) {
  if (selected < 0 || count <= 0) return 0;
  const start = Math.floor(selected / count) * count;
  return start + count > PANES ? PANES - count : start;
}

// The pane under surface point (x, y) of a `width` x `height` wall showing `count` panes with
// `selected` selected; -1 outside every pane.
export function pane_at(x, y, width, height, count, selected) {
  const i = cell_index_at(cell_rects(count, width, height), x, y);
  return i < 0 ? -1 : page_start(count, selected) + i;
}

// The centre of pane `pane` in surface pixels, when it is on the page shown.
export function pane_centre(pane, width, height, count, selected) {
  const cell = cell_rects(count, width, height)[pane - page_start(count, selected)];
  return cell ? { x: cell.x + Math.floor(cell.w / 2), y: cell.y + Math.floor(cell.h / 2) } : null;
}

export class LiveWall extends EventTarget {
  // `call(method, args)` runs a script method (null when refused); `bar` is the WallBar;
  // `surface` the Surface; `model` the account model; `fullscreen()` toggles full screen.
  constructor({ call, bar, surface, model, slot, fullscreen }) {
    super();
    this.call = call;
    this.bar = bar;
    this.surface = surface;
    this.model = model;
    this.fullscreen = fullscreen;
    // Panes this page started: pane -> {camera, choice, stream}. Cleared when the control says
    // the pane closed or its start failed.
    this.panes = new Map();
    // Keyboard actions and the automatic restarts run one after another, so a key pressed while
    // the panes restart acts on the wall as the restarts leave it.
    this.tail = Promise.resolve();

    const label = document.createElement("label");
    label.className = "stream-choice";
    const caption = document.createElement("span");
    caption.textContent = t("live.stream");
    this.choice = document.createElement("select");
    this.choice.className = "input small";
    this.choice.setAttribute("aria-label", t("live.stream"));
    for (const { value, key } of CHOICES) {
      const option = document.createElement("option");
      option.value = value;
      option.textContent = t(key);
      this.choice.append(option);
    }
    this.choice.value = sessionStorage.getItem("kavrel.stream") ?? "auto";
    this.choice.addEventListener("change", () => sessionStorage.setItem("kavrel.stream", this.choice.value));
    label.append(caption, this.choice);
    slot.insertBefore(label, bar.layouts);

    bar.addEventListener("count", () => this.serial(() => this.follow_layout()));
    this.bind_drop();
    this.bind_keys();
  }

  // Runs `work` after everything queued before it; resolves when it has run.
  serial(work) {
    const run = this.tail.then(work).catch((error) => console.warn("live:", error));
    this.tail = run;
    return run;
  }

  // Resolves once the queued actions and restarts have run (for tests).
  idle() {
    return this.tail;
  }

  stream_for(count, pane, selected) {
    return this.choice.value === "auto" ? wanted_stream(count, pane, selected) : Number(this.choice.value);
  }

  async selected() {
    const index = await this.call("CliGetCurrPicIndex", []);
    if (typeof index === "number") this.last_selected = index;
    return typeof index === "number" ? index : -1;
  }

  // The pane shown in cell `cell` of the layout, from the selection last heard of (the page of
  // the wall follows the selection only when the layout changes).
  pane_in_cell(cell) {
    return page_start(this.bar.count, this.last_selected ?? 0) + cell;
  }

  // True when this page started live video in `pane`.
  playing(pane) {
    return this.panes.has(pane);
  }

  // Starts `camera` in `pane` with the stream the choice gives for the current layout.
  async start(camera, pane) {
    if (pane < 0 || pane >= PANES) return false;
    const stream = this.stream_for(this.bar.count, pane, await this.selected());
    const result = await this.call("CliStartPlayDev", [camera, stream, pane]);
    if (result !== 0) {
      this.dispatchEvent(new CustomEvent("note", { detail: { level: "error", key: "live.refused", params: { camera: this.model.camera_name?.(camera) ?? camera, pane: pane + 1 } } }));
      return false;
    }
    this.panes.set(pane, { camera, auto: this.choice.value === "auto", stream });
    return true;
  }

  // A camera for the selected pane (double-click or Enter in the tree).
  async start_in_selected(camera) {
    const pane = await this.selected();
    return this.start(camera, pane < 0 ? 0 : pane);
  }

  // Every camera of a device, each in the next idle pane.
  async start_device(device_id) {
    const cameras = [...this.model.cameras.values()].filter((c) => c.devid === device_id);
    for (const cam of cameras) {
      const pane = await this.call("CliGetFirstIdelPicIndex", []);
      if (typeof pane !== "number" || pane < 0) {
        this.dispatchEvent(new CustomEvent("note", { detail: { level: "warning", key: "live.no-idle-pane" } }));
        return;
      }
      await this.start(cam.id, pane);
    }
  }

  async stop(pane) {
    if (pane < 0 || pane >= PANES) return;
    await this.call("CliStopPlayDev", [pane]);
    this.panes.delete(pane);
  }

  // The control's events about panes.
  on_callback(ev) {
    if (ev.nID === EV.PANE_SELECTED) this.last_selected = ev.nTag1;
    if (ev.nID === EV.PANE_CLOSED) this.panes.delete(ev.nTag1);
    if (ev.nID === EV.LIVE_STARTED && ev.nTag2 !== 0) this.panes.delete(ev.nTag1);
    // A failed login before a playback or an export names the playback pane, 0, too: only the
    // pane's own camera clears it.
    if (ev.nID === EV.LIVE_LOGIN_FAILED) {
      const text = String(ev.szInfo ?? "");
      const camera = text.includes("\0") ? text.slice(0, text.indexOf("\0")) : text;
      if (this.panes.get(ev.nTag1)?.camera === camera) this.panes.delete(ev.nTag1);
    }
  }

  // "Auto" panes play the stream their new size calls for: the page restarts those whose stream
  // no longer fits, through the same script method. Each start moves the control's selection on;
  // the page puts it back afterwards.
  async follow_layout() {
    const count = this.bar.count;
    const selected = await this.selected();
    let restarted = false;
    for (const [pane, entry] of [...this.panes]) {
      if (!entry.auto) continue;
      const want = wanted_stream(count, pane, selected);
      if (want === entry.stream) continue;
      entry.stream = want;
      restarted = (await this.call("CliStartPlayDev", [entry.camera, want, pane])) === 0 || restarted;
    }
    if (restarted && selected >= 0 && (await this.selected()) !== selected) await this.click_pane(selected, 1, selected);
  }

  // ---- drop a camera on a pane ----

  bind_drop() {
    const canvas = this.surface.canvas;
    // On the playback page the canvas shows the playback pane: drops and keys are the playback
    // view's.
    canvas.addEventListener("dragover", (e) => {
      if (this.bar.page !== 0 || !e.dataTransfer.types.includes(CAMERA_DRAG_TYPE)) return;
      e.preventDefault();
      e.dataTransfer.dropEffect = "copy";
    });
    canvas.addEventListener("drop", async (e) => {
      const camera = e.dataTransfer.getData(CAMERA_DRAG_TYPE);
      if (!camera || this.bar.page !== 0) return;
      e.preventDefault();
      const { x, y } = this.surface.point(e);
      const pane = pane_at(x, y, canvas.width, canvas.height, this.bar.count, await this.selected());
      if (pane >= 0) await this.start(camera, pane);
    });
  }

  // ---- keyboard on the wall ----

  // Clicks the middle of `pane` (the control selects panes on a click; the middle is clear of
  // the tool bar and the information bar). Twice is the control's double click. The host pairs
  // two presses close in time and place into a double click, so single clicks land a little off
  // the centre, on alternating sides, and never pair with each other or with a double click.
  async click_pane(pane, times = 1, shown_with = null) {
    const canvas = this.surface.canvas;
    const selected = shown_with ?? (await this.selected());
    const centre = pane_centre(pane, canvas.width, canvas.height, this.bar.count, selected);
    if (!centre) return;
    let at = centre;
    if (times === 1) {
      this.single_side = -(this.single_side ?? 1);
      at = { x: centre.x + 12 * this.single_side, y: centre.y + 12 * this.single_side };
    }
    for (let i = 0; i < times; i++) {
      this.surface.input({ event: "mousedown", ...at, button: 0, buttons: 1, mods: 0 });
      this.surface.input({ event: "mouseup", ...at, button: 0, buttons: 0, mods: 0 });
    }
  }

  bind_keys() {
    const layout_keys = { Digit1: 1, Digit4: 4, Digit6: 6, Digit9: 9, Numpad1: 1, Numpad4: 4, Numpad6: 6, Numpad9: 9 };
    this.surface.canvas.addEventListener("keydown", (e) => {
      if (e.ctrlKey || e.metaKey || e.altKey || this.bar.page !== 0) return;
      const action = this.key_action(e, layout_keys);
      if (!action) return;
      e.preventDefault();
      e.stopImmediatePropagation();
      this.serial(action);
    }, { capture: true });
  }

  // The wall's keyboard: the work a key does, or null for keys the control gets as they are.
  key_action(e, layout_keys) {
    if (e.code in layout_keys) {
      // "1" then "6" within a second is sixteen panes.
      const now = performance.now();
      const sixteen = layout_keys[e.code] === 6 && now - (this.one_pressed_at ?? -Infinity) < 1000;
      this.one_pressed_at = layout_keys[e.code] === 1 ? now : undefined;
      return () => this.bar.set_layout(sixteen ? 16 : layout_keys[e.code]);
    }
    const moves = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 };
    if (e.code in moves) {
      return async () => {
        const count = this.bar.count;
        const selected = await this.selected();
        const start = page_start(count, selected);
        const i = selected < 0 ? 0 : selected - start;
        await this.click_pane(start + ((i + moves[e.code] + count) % count));
      };
    }
    if (e.code === "Enter" || e.code === "NumpadEnter") {
      return async () => {
        const selected = await this.selected();
        if (selected >= 0) await this.click_pane(selected, 2);
        await this.bar.refresh();
      };
    }
    if (e.code === "KeyF") return async () => this.fullscreen();
    if (e.code === "Delete") {
      return async () => {
        const selected = await this.selected();
        if (selected >= 0) await this.stop(selected);
      };
    }
    return null;
  }
}
