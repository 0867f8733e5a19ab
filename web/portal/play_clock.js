// The page's idea of the playing time. The control raises no event while a playback runs, so
// the page advances its own clock from the start time at the chosen speed: pause holds it, a
// skip moves it by 10 s, a new speed goes on from where it is. Every method takes the wall time
// in milliseconds, so the clock can be driven by a test.

// The device's speeds: slower and faster move one step, normal returns to 1.
export const SPEEDS = Object.freeze([1 / 8, 1 / 4, 1 / 2, 1, 2, 4, 8]);
export const NORMAL = 3;
export const SKIP_SECONDS = 10;

// "1×", "2×", "½×", "¼×", "⅛×".
export function speed_text(index) {
  return ({ 0: "⅛×", 1: "¼×", 2: "½×" })[index] ?? `${SPEEDS[index]}×`;
}

export class PlayClock {
  constructor() {
    this.state = "stopped"; // stopped | playing | paused
    this.speed = NORMAL;
    this.base = 0; // clock seconds at `base_at`
    this.base_at = 0; // wall ms
    this.limit = Infinity; // the clock stops here (the end of what is recorded)
  }

  // Clock seconds now (fractional); null when stopped.
  position(at) {
    if (this.state === "stopped") return null;
    if (this.state === "paused") return this.base;
    return Math.min(this.limit, this.base + ((at - this.base_at) / 1000) * SPEEDS[this.speed]);
  }

  // True once a running clock has reached its limit.
  ended(at) {
    return this.state === "playing" && this.position(at) >= this.limit;
  }

  rebase(at) {
    this.base = this.position(at) ?? this.base;
    this.base_at = at;
  }

  start(time, at, limit = Infinity) {
    this.state = "playing";
    this.speed = NORMAL;
    this.base = time;
    this.base_at = at;
    this.limit = limit;
  }

  stop() {
    this.state = "stopped";
    this.speed = NORMAL;
  }

  pause(at) {
    if (this.state !== "playing") return;
    this.rebase(at);
    this.state = "paused";
  }

  resume(at) {
    if (this.state !== "paused") return;
    this.base_at = at;
    this.state = "playing";
  }

  // One step faster (+1) or slower (-1), kept within the device's speeds; true when it changed.
  step(direction, at) {
    const next = Math.min(SPEEDS.length - 1, Math.max(0, this.speed + direction));
    if (next === this.speed || this.state === "stopped") return false;
    this.rebase(at);
    this.speed = next;
    return true;
  }

  normal(at) {
    if (this.state === "stopped") return;
    this.rebase(at);
    this.speed = NORMAL;
  }

  // A skip restarts the device's playback 10 s earlier or later, playing at normal speed.
  skip(direction, at) {
    if (this.state === "stopped") return;
    const from = this.position(at);
    this.state = "playing";
    this.speed = NORMAL;
    this.base = Math.min(this.limit, Math.max(0, from + direction * SKIP_SECONDS));
    this.base_at = at;
  }
}
