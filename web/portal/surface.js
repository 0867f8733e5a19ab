// The control's drawn surface in a <canvas>: JPEG rectangles drawn where the host says,
// frames acknowledged once painted, the element's size (with the device pixel ratio) sent as
// the control's window size, and mouse, wheel and keys sent back in surface pixels.

import { virtual_key, modifiers } from "./keys.js";

const HEADER_BYTES = 24;
const MAGIC = 0x3146564b; // "KVF1" read little-endian
const LAST_RECT = 1;
const RESIZE_SETTLE_MS = 60;
const WHEEL_NOTCH = 120;

// The 24-byte header of a frame rectangle, or null when it is not one.
export function parse_frame_header(buffer) {
  if (!(buffer instanceof ArrayBuffer) || buffer.byteLength < HEADER_BYTES) return null;
  const v = new DataView(buffer);
  if (v.getUint32(0, true) !== MAGIC) return null;
  return {
    seq: v.getUint32(4, true),
    surface_width: v.getUint16(8, true),
    surface_height: v.getUint16(10, true),
    x: v.getUint16(12, true),
    y: v.getUint16(14, true),
    w: v.getUint16(16, true),
    h: v.getUint16(18, true),
    last: (v.getUint32(20, true) & LAST_RECT) !== 0,
  };
}

// Browser shortcuts that stay with the browser even while the surface has the focus.
function browser_keeps(e) {
  if (e.code === "F5" || e.code === "F11" || e.code === "F12" || e.code === "Tab") return true;
  if ((e.ctrlKey || e.metaKey) && ["KeyR", "KeyL", "KeyT", "KeyW", "KeyN", "Tab", "Equal", "Minus", "Digit0"].includes(e.code)) return true;
  return false;
}

export class Surface extends EventTarget {
  constructor(container, canvas, placeholder, bridge) {
    super();
    this.container = container;
    this.canvas = canvas;
    this.placeholder = placeholder;
    this.bridge = bridge;
    this.context = canvas.getContext("2d", { alpha: false });
    // The control's picture as it arrives; the canvas shows it through `present`, where a view
    // of the page (a pane's digital zoom) may draw parts of it differently.
    this.raw = document.createElement("canvas");
    this.raw.width = canvas.width;
    this.raw.height = canvas.height;
    this.raw_context = this.raw.getContext("2d", { alpha: false });
    this.views = [];
    this.chain = Promise.resolve(); // draws happen in arrival order
    this.sent_size = "";
    this.resize_timer = 0;
    this.pending_move = null;
    this.move_scheduled = false;
    this.wheel_rest = 0;
    this.frames_drawn = 0;
    this.last_seq = -1;

    bridge.addEventListener("frame", (e) => this.on_frame(e.detail));
    bridge.addEventListener("hello", (e) => this.on_hello(e.detail));
    bridge.addEventListener("state", (e) => this.on_state(e.detail.state));

    new ResizeObserver(() => this.schedule_resize()).observe(container);
    this.watch_pixel_ratio();
    this.bind_input();
  }

  // A change of zoom or a move to another screen changes the ratio without resizing the element.
  watch_pixel_ratio() {
    const query = matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`);
    query.addEventListener("change", () => {
      this.schedule_resize();
      this.watch_pixel_ratio();
    }, { once: true });
  }

  on_hello(hello) {
    const s = hello.surface;
    if (s && s.width > 0 && s.height > 0 && (this.canvas.width !== s.width || this.canvas.height !== s.height)) {
      this.canvas.width = s.width;
      this.canvas.height = s.height;
      this.raw.width = s.width;
      this.raw.height = s.height;
    }
    this.sent_size = "";
    this.send_resize();
    this.bridge.send({ type: "full-frame" });
  }

  on_state(state) {
    this.container.dataset.link = state === "open" ? "open" : "down";
  }

  schedule_resize() {
    clearTimeout(this.resize_timer);
    this.resize_timer = setTimeout(() => this.send_resize(), RESIZE_SETTLE_MS);
  }

  // The CSS size of the surface element and the device pixel ratio; the host makes the
  // control's window round(width*dpr) x round(height*dpr).
  css_size() {
    const r = this.container.getBoundingClientRect();
    return {
      width: Math.max(1, Math.round(r.width)),
      height: Math.max(1, Math.round(r.height)),
      dpr: window.devicePixelRatio || 1,
      // The screen, in CSS pixels, is what the control takes for full screen.
      screen: { width: window.screen.width, height: window.screen.height },
    };
  }

  send_resize() {
    const size = this.css_size();
    const key = `${size.width}x${size.height}@${size.dpr} ${size.screen.width}x${size.screen.height}`;
    if (key === this.sent_size) return;
    if (this.bridge.send({ type: "resize", ...size })) this.sent_size = key;
  }

  on_frame(buffer) {
    const header = parse_frame_header(buffer);
    if (!header) return;
    const blob = new Blob([new Uint8Array(buffer, HEADER_BYTES)], { type: "image/jpeg" });
    const decoded = createImageBitmap(blob).catch(() => null);
    this.chain = this.chain.then(() => decoded.then((picture) => this.draw(header, picture)));
  }

  draw(header, picture) {
    const { canvas } = this;
    if (canvas.width !== header.surface_width || canvas.height !== header.surface_height) {
      canvas.width = header.surface_width;
      canvas.height = header.surface_height;
      this.raw.width = header.surface_width;
      this.raw.height = header.surface_height;
      // A new size empties the canvas; a part of the picture is not enough to fill it.
      if (header.x !== 0 || header.y !== 0 || header.w !== header.surface_width || header.h !== header.surface_height) {
        this.bridge.send({ type: "full-frame" });
      }
    }
    if (picture) {
      this.raw_context.drawImage(picture, header.x, header.y, header.w, header.h);
      picture.close();
      this.present({ x: header.x, y: header.y, w: header.w, h: header.h });
    } else {
      this.bridge.send({ type: "full-frame" });
    }
    if (header.last) {
      this.last_seq = header.seq;
      this.frames_drawn += 1;
      this.bridge.send({ type: "frame-ack", seq: header.seq });
      if (this.frames_drawn === 1) this.placeholder.hidden = true;
      this.canvas.dataset.frames = String(this.frames_drawn);
      this.dispatchEvent(new CustomEvent("painted", { detail: header }));
    }
  }

  // Shows `rect` of the control's picture on the canvas, then lets each view draw over it.
  present(rect) {
    this.context.drawImage(this.raw, rect.x, rect.y, rect.w, rect.h, rect.x, rect.y, rect.w, rect.h);
    for (const view of this.views) view(this.context, this.raw, rect);
  }

  // Shows the whole picture again (a view changed).
  present_all() {
    this.present({ x: 0, y: 0, w: this.canvas.width, h: this.canvas.height });
  }

  // Surface pixels of a pointer position.
  point(e) {
    const r = this.canvas.getBoundingClientRect();
    const sx = r.width > 0 ? this.canvas.width / r.width : 1;
    const sy = r.height > 0 ? this.canvas.height / r.height : 1;
    return { x: Math.round((e.clientX - r.left) * sx), y: Math.round((e.clientY - r.top) * sy) };
  }

  // Surface pixels to CSS pixels of the page (for menus the control pops up).
  to_page(x, y) {
    const r = this.canvas.getBoundingClientRect();
    const sx = this.canvas.width > 0 ? r.width / this.canvas.width : 1;
    const sy = this.canvas.height > 0 ? r.height / this.canvas.height : 1;
    return { x: r.left + x * sx, y: r.top + y * sy };
  }

  input(message) {
    this.bridge.send({ type: "input", ...message });
  }

  flush_move() {
    if (this.pending_move) {
      this.input(this.pending_move);
      this.pending_move = null;
    }
  }

  bind_input() {
    const c = this.canvas;
    c.addEventListener("pointermove", (e) => {
      this.pending_move = { event: "mousemove", ...this.point(e), buttons: e.buttons, mods: modifiers(e) };
      if (this.move_scheduled) return;
      this.move_scheduled = true;
      requestAnimationFrame(() => {
        this.move_scheduled = false;
        this.flush_move();
      });
    });
    c.addEventListener("pointerdown", (e) => {
      c.focus({ preventScroll: true });
      c.setPointerCapture(e.pointerId);
      this.flush_move();
      // Every press goes as a press: the host makes double clicks from their timing, as the
      // control's window system expects them.
      this.input({ event: "mousedown", ...this.point(e), button: e.button, buttons: e.buttons, mods: modifiers(e) });
    });
    c.addEventListener("pointerup", (e) => {
      this.flush_move();
      this.input({ event: "mouseup", ...this.point(e), button: e.button, buttons: e.buttons, mods: modifiers(e) });
    });
    c.addEventListener("contextmenu", (e) => e.preventDefault());
    c.addEventListener(
      "wheel",
      (e) => {
        e.preventDefault();
        const notches = e.deltaMode === 1 ? e.deltaY / 3 : e.deltaMode === 2 ? e.deltaY : e.deltaY / 100;
        this.wheel_rest += -notches * WHEEL_NOTCH;
        const delta = Math.trunc(this.wheel_rest);
        if (delta === 0) return;
        this.wheel_rest -= delta;
        this.flush_move();
        this.input({ event: "wheel", ...this.point(e), delta, buttons: e.buttons, mods: modifiers(e) });
      },
      { passive: false },
    );
    const key = (type) => (e) => {
      if (browser_keeps(e)) return;
      e.preventDefault();
      const vk = virtual_key(e.code);
      if (!vk) return;
      this.input({ event: type, key: e.key, code: e.code, vk, mods: modifiers(e), repeat: e.repeat });
    };
    c.addEventListener("keydown", key("keydown"));
    c.addEventListener("keyup", key("keyup"));
  }
}
