// The day's timeline under the playback video: 24 hours across, the recorded spans drawn as
// bars (coloured by record type), the playing time as a cursor; a click asks to play from the
// time under the pointer.

import { DAY, clock_text } from "./rec_time.js";

// x of clock second `t` on a `width`-wide timeline of the day starting at `day`.
export function time_to_x(t, day, width) {
  return ((t - day) / DAY) * width;
}

// The clock second under x (whole seconds, kept inside the day).
export function x_to_time(x, day, width) {
  if (width <= 0) return day;
  const offset = Math.round((x / width) * DAY);
  return day + Math.min(DAY - 1, Math.max(0, offset));
}

// How far into the day `t` is, 0 to 100 (percent), kept inside the day.
export function day_percent(t, day) {
  return Math.min(100, Math.max(0, ((t - day) / DAY) * 100));
}

// The bars to draw for `records` on a `width`-wide timeline of the day starting at `day`:
// each recording clipped to the day, in whole pixels, at least one pixel wide; recordings of
// one type that touch or overlap on screen become one bar. Sorted by x, then type.
export function span_rects(records, day, width) {
  const bars = [];
  const clipped = records
    .filter((r) => r.end >= day && r.start < day + DAY)
    .map((r) => ({ type: r.type, from: Math.max(r.start, day), to: Math.min(r.end + 1, day + DAY) }))
    .sort((a, b) => a.type - b.type || a.from - b.from);
  for (const c of clipped) {
    const x = Math.floor(time_to_x(c.from, day, width));
    const right = Math.max(x + 1, Math.ceil(time_to_x(c.to, day, width)));
    const last = bars[bars.length - 1];
    if (last && last.type === c.type && x <= last.x + last.w) {
      last.w = Math.max(last.w, right - last.x);
      continue;
    }
    bars.push({ x, w: right - x, type: c.type });
  }
  return bars.sort((a, b) => a.x - b.x || a.type - b.type);
}

// The hours that get a label on a timeline `width` CSS pixels wide: every hour when there is
// room, else every 2, 3, 4 or 6 hours.
export function label_step(width) {
  for (const step of [1, 2, 3, 4, 6]) if (width / (24 / step) >= 44) return step;
  return 12;
}

const TYPE_COLOURS = ["#3b82f6", "#ef4444", "#f59e0b", "#22c55e"];

export class TimelineView extends EventTarget {
  // Fires "seek" {time} when clicked.
  constructor(canvas, { label }) {
    super();
    this.canvas = canvas;
    this.label = label; // the hover label element
    this.day = 0;
    this.records = [];
    this.cursor = null;
    this.hover = null;
    this.enabled = false;
    new ResizeObserver(() => this.draw()).observe(canvas);
    canvas.addEventListener("pointermove", (e) => {
      this.hover = this.time_of(e);
      this.draw();
    });
    canvas.addEventListener("pointerleave", () => {
      this.hover = null;
      this.draw();
    });
    canvas.addEventListener("click", (e) => {
      if (this.enabled) this.dispatchEvent(new CustomEvent("seek", { detail: { time: this.time_of(e) } }));
    });
  }

  time_of(e) {
    const r = this.canvas.getBoundingClientRect();
    return x_to_time(e.clientX - r.left, this.day, r.width);
  }

  set_day(day, records) {
    this.day = day;
    this.records = records;
    this.draw();
  }

  set_cursor(t) {
    this.cursor = t;
    this.draw();
  }

  set_enabled(on) {
    this.enabled = on;
    this.canvas.classList.toggle("disabled", !on);
  }

  draw() {
    const c = this.canvas;
    const r = c.getBoundingClientRect();
    const dpr = window.devicePixelRatio || 1;
    const w = Math.max(1, Math.round(r.width * dpr));
    const h = Math.max(1, Math.round(r.height * dpr));
    if (c.width !== w || c.height !== h) {
      c.width = w;
      c.height = h;
    }
    const g = c.getContext("2d");
    g.setTransform(dpr, 0, 0, dpr, 0, 0);
    const W = r.width;
    const H = r.height;
    g.clearRect(0, 0, W, H);
    const track_top = 6;
    const track_h = H - 26;
    g.fillStyle = "#0d131b";
    g.fillRect(0, track_top, W, track_h);
    // Hour lines and labels.
    const step = label_step(W);
    g.font = "11px system-ui, sans-serif";
    g.textBaseline = "top";
    for (let hour = 0; hour <= 24; hour++) {
      const x = Math.round((hour / 24) * W) + 0.5;
      g.fillStyle = hour % step === 0 ? "#2c394b" : "#1b2430";
      g.fillRect(x - 0.5, track_top, 1, track_h + (hour % step === 0 ? 5 : 2));
      if (hour % step === 0 && hour < 24) {
        const text = `${String(hour).padStart(2, "0")}:00`;
        const tw = g.measureText(text).width;
        g.fillStyle = "#7d8a9c";
        g.fillText(text, Math.max(0, x - tw / 2), track_top + track_h + 6);
      }
    }
    // Recorded spans.
    for (const bar of span_rects(this.records, this.day, W)) {
      g.fillStyle = TYPE_COLOURS[bar.type] ?? "#94a3b8";
      g.globalAlpha = bar.type === 0 ? 0.75 : 0.95;
      const inset = bar.type === 0 ? 4 : 1;
      g.fillRect(bar.x, track_top + inset, bar.w, track_h - 2 * inset);
    }
    g.globalAlpha = 1;
    // Hover line.
    if (this.hover !== null && this.enabled) {
      const x = Math.round(time_to_x(this.hover, this.day, W)) + 0.5;
      g.fillStyle = "rgba(230, 235, 242, 0.45)";
      g.fillRect(x - 0.5, track_top, 1, track_h);
    }
    // Cursor.
    if (this.cursor !== null && this.cursor >= this.day && this.cursor < this.day + DAY) {
      const x = Math.round(time_to_x(this.cursor, this.day, W));
      g.fillStyle = "#f8fafc";
      g.fillRect(x - 1, track_top - 4, 2, track_h + 8);
      // The head stays whole at the day's two ends.
      const head = Math.min(Math.max(x, 5), W - 5);
      g.beginPath();
      g.moveTo(head - 5, track_top - 6);
      g.lineTo(head + 5, track_top - 6);
      g.lineTo(head, track_top);
      g.closePath();
      g.fill();
    }
    if (this.label) {
      this.label.hidden = this.hover === null || !this.enabled;
      if (this.hover !== null) {
        this.label.textContent = clock_text(this.hover);
        const x = time_to_x(this.hover, this.day, W);
        this.label.style.left = `${Math.min(Math.max(0, x - 30), W - 60)}px`;
      }
    }
  }
}
