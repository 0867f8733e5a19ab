// The status line under the wall: the latest thing worth saying, in words, with its level, and
// the count of devices online. Notes come from the model, the session and the transport.

import { t, locale } from "./i18n.js";

// A note is {level, key, params}; a parameter may itself be a note ({key, params}) or, when
// named in `nested`, a text key.
export function render_note(note) {
  const params = {};
  for (const [name, value] of Object.entries(note.params ?? {})) {
    if (value && typeof value === "object" && "key" in value) params[name] = render_note(value);
    else if (note.nested?.includes(name) && typeof value === "string") params[name] = t(value, note.params);
    else params[name] = value;
  }
  return t(note.key, params);
}

const RANK = { info: 0, success: 1, warning: 2, error: 3 };
const HOLD_MS = { success: 2500, warning: 6000, error: 8000 };
const ICONS = { info: "ℹ", success: "✓", warning: "!", error: "✕" };

export class StatusLine {
  constructor(root) {
    this.root = root;
    this.icon = root.querySelector(".status-icon");
    this.text = root.querySelector(".status-text");
    this.time = root.querySelector(".status-time");
    this.summary = root.querySelector(".status-summary");
    this.current = null;
    this.hold_until = 0;
  }

  // An error or warning stays up for a while; a routine note in that time only goes to the log.
  show(note) {
    const now = Date.now();
    if (this.current && now < this.hold_until && RANK[note.level ?? "info"] < RANK[this.current.level ?? "info"]) return;
    this.hold_until = now + (HOLD_MS[note.level] ?? 0);
    this.current = note;
    const level = note.level ?? "info";
    this.root.dataset.level = level;
    this.icon.textContent = ICONS[level] ?? ICONS.info;
    this.text.textContent = render_note(note);
    this.time.textContent = new Date().toLocaleTimeString(locale(), { hour: "2-digit", minute: "2-digit", second: "2-digit" });
  }

  set_summary(online, total) {
    this.summary.hidden = total === 0;
    this.summary.textContent = t("status.summary", { online, total });
    this.summary.dataset.all = String(online === total);
  }

  refresh() {
    if (this.current) this.text.textContent = render_note(this.current);
  }
}
