// The alarm output of the selected live pane, switched the way a user switches it: with the
// first button of the pane's own tool bar in the control's picture. The control has no script
// method for alarm outputs; its tool-bar button reads the device's output 0, switches it the
// other way and then shows what the device reports (a lit red beacon, "Desativar", while the
// output is on; a grey one, "Ativar", while it is off). So the page finds the pane's video panel
// in the picture, hovers the tool-bar strip so the bar appears, reads the beacon, and clicks it.
// A device without alarm outputs has the snapshot button first: the page then clicks nothing.

import { cell_rects } from "./wall_bar.js";
import { page_start } from "./live.js";

// The pane's background around the video (light grey) and how far a JPEG frame strays from it.
export const PANE_BACKGROUND = [220, 220, 220];
const TOLERANCE = 16;
// The tool bar: a strip 32 pixels high at the bottom of the panel, one pixel inside it; live
// panes of a device with alarm outputs have seven buttons, the alarm output first.
const TOOL_BAR_HEIGHT = 32;
const LIVE_BUTTONS = 7;
// From this width on a button shows its picture at its left, else above its text.
const WIDE_BUTTON = 120;

function is_background(data, i) {
  return (
    Math.abs(data[i] - PANE_BACKGROUND[0]) <= TOLERANCE &&
    Math.abs(data[i + 1] - PANE_BACKGROUND[1]) <= TOLERANCE &&
    Math.abs(data[i + 2] - PANE_BACKGROUND[2]) <= TOLERANCE
  );
}

// How far in from a pane's edge its border (and the blur a JPEG frame gives it) may reach.
const EDGE = 6;

// The first position from `from` towards `to` (exclusive) that is video: past the border near
// the edge, then past the background; when no background lies next to the border, the video
// reaches the border and starts right after it.
function video_edge(from, to, is_bg) {
  const step = to > from ? 1 : -1;
  const near = from + step * EDGE;
  let i = from;
  while (i !== near && i !== to && !is_bg(i)) i += step;
  if (i === near || i === to) {
    // No background beside the border: the panel fills the pane up to it.
    return from + step;
  }
  while (i !== to && is_bg(i)) i += step;
  return i;
}

// The video panel inside a pane picture `image` ({width, height, data} RGBA, the pane's cell):
// {left, top, right, bottom} (right and bottom exclusive) of the part that is not the pane's
// background, looked for along the middle column and row; null when the pane shows no video.
export function panel_bounds(image) {
  const { width: w, height: h, data } = image;
  if (w < 4 * EDGE || h < 4 * EDGE) return null;
  const at = (x, y) => (y * w + x) * 4;
  const mid_x = w >> 1;
  const column_bg = (y) => is_background(data, at(mid_x, y));
  const top = video_edge(0, h, column_bg);
  if (top >= h) return null;
  const bottom = video_edge(h - 1, top, column_bg);
  if (bottom <= top) return null;
  const mid_y = (top + bottom) >> 1;
  const row_bg = (x) => is_background(data, at(x, mid_y));
  const left = video_edge(0, w, row_bg);
  const right = video_edge(w - 1, left, row_bg);
  if (right <= left) return null;
  return { left, top, right: right + 1, bottom: bottom + 1 };
}

// The rectangle of button `index` of `count` on the tool bar of `panel` (panel coordinates as
// panel_bounds gives them): the bar is the panel's bottom strip less one pixel, its buttons share
// its inner width in equal slots.
export function tool_bar_button(panel, index = 0, count = LIVE_BUTTONS) {
  const inner_left = panel.left + 2;
  const inner_right = panel.right - 2;
  const inner_top = panel.bottom - TOOL_BAR_HEIGHT;
  const inner_bottom = panel.bottom - 2;
  const slot = Math.floor((inner_right - inner_left) / count);
  return { x: inner_left + index * slot, y: inner_top, w: slot, h: inner_bottom - inner_top };
}

// Whether the tool bar is drawn, from a band of rows at its vertical middle (where its
// background gradient is black): mostly near-black pixels.
export function bar_shown(band) {
  const { data } = band;
  let black = 0;
  for (let i = 0; i < data.length; i += 4) if (data[i] < 36 && data[i + 1] < 36 && data[i + 2] < 36) black++;
  return black >= (data.length / 4) * 0.6;
}

// The picture of a button (`button` as tool_bar_button gives it): a square of half the height
// centred at the top of a narrow button, of the full height at the left of a wide one; less a
// margin, so the ring a hovered button draws around itself stays out.
export function button_picture(button) {
  const size = button.w >= WIDE_BUTTON ? button.h : Math.floor(button.h / 2);
  const x = button.w >= WIDE_BUTTON ? button.x : button.x + Math.floor((button.w - size) / 2);
  return { x: x + 4, y: button.y + 4, w: Math.max(1, size - 6), h: Math.max(1, size - 6) };
}

// What the alarm button's picture shows: "on" (a red beacon), "off" (a grey beacon) or "other"
// (a colourful picture: the snapshot button of a device without outputs).
export function read_beacon(picture) {
  const { data } = picture;
  let red = 0;
  let colour = 0;
  for (let i = 0; i < data.length; i += 4) {
    const r = data[i];
    const g = data[i + 1];
    const b = data[i + 2];
    if (r > 150 && g < 110 && b < 110) red++;
    else if ((b > 110 && b > r + 45) || (g > 110 && g > r + 45)) colour++;
  }
  if (red >= 6 && red > colour) return "on";
  if (colour >= 6) return "other";
  return "off";
}

function pixels(context, rect) {
  return context.getImageData(rect.x, rect.y, Math.max(1, rect.w), Math.max(1, rect.h));
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export class AlarmOutputSwitch {
  // `surface` the Surface, `bar` the WallBar (pane count), `live` the LiveWall (selection,
  // panes this page plays).
  constructor({ surface, bar, live }) {
    this.surface = surface;
    this.bar = bar;
    this.live = live;
  }

  // The selected pane and, when it plays live video, its panel in surface pixels.
  async locate() {
    // On the playback page the picture is the playback pane's.
    if (this.bar.page !== 0) return { pane: 0, panel: null };
    const pane = await this.live.selected();
    if (pane < 0 || !this.live.playing(pane)) return { pane: Math.max(pane, 0), panel: null };
    const canvas = this.surface.canvas;
    const cell = cell_rects(this.bar.count, canvas.width, canvas.height)[pane - page_start(this.bar.count, pane)];
    if (!cell) return { pane, panel: null };
    const found = panel_bounds(pixels(this.surface.raw_context, cell));
    if (!found) return { pane, panel: null };
    return {
      pane,
      panel: { left: cell.x + found.left, top: cell.y + found.top, right: cell.x + found.right, bottom: cell.y + found.bottom },
    };
  }

  // Moves the pointer onto the alarm button so the tool bar shows, and reads the button once the
  // picture has it (at most `limit_ms`).
  async hover_and_read(panel, limit_ms = 3000) {
    const button = tool_bar_button(panel);
    const at = { x: button.x + (button.w >> 1), y: button.y + (button.h >> 1) };
    const until = performance.now() + limit_ms;
    let state = "hidden";
    while (performance.now() < until) {
      this.surface.input({ event: "mousemove", ...at, buttons: 0, mods: 0 });
      await sleep(120);
      const context = this.surface.raw_context;
      const bar = { x: panel.left + 4, y: button.y + (button.h >> 1) - 1, w: panel.right - panel.left - 8, h: 2 };
      state = bar_shown(pixels(context, bar)) ? read_beacon(pixels(context, button_picture(button))) : "hidden";
      if (state !== "hidden") break;
    }
    return { at, state };
  }

  // {pane, state}: "on", "off", "none" (no alarm output on the device), "not-live" or "unknown".
  async read() {
    const { pane, panel } = await this.locate();
    if (!panel) return { pane, state: "not-live" };
    const { state } = await this.hover_and_read(panel);
    return { pane, state: state === "other" ? "none" : state === "hidden" ? "unknown" : state };
  }

  // Presses the selected pane's alarm-output button and reads what the device then reports.
  async toggle() {
    const { pane, panel } = await this.locate();
    if (!panel) return { pane, state: "not-live" };
    const before = await this.hover_and_read(panel);
    if (before.state === "other") return { pane, state: "none" };
    if (before.state === "hidden") return { pane, state: "unknown" };
    this.surface.input({ event: "mousedown", ...before.at, button: 0, buttons: 1, mods: 0 });
    this.surface.input({ event: "mouseup", ...before.at, button: 0, buttons: 0, mods: 0 });
    // The control answers after the device has: wait for the beacon to change.
    const want = before.state === "on" ? "off" : "on";
    const until = performance.now() + 8000;
    let state = before.state;
    while (performance.now() < until) {
      await sleep(150);
      state = (await this.hover_and_read(panel, 1000)).state;
      if (state === want) break;
    }
    return { pane, state: state === "hidden" ? "unknown" : state === "other" ? "none" : state };
  }
}
