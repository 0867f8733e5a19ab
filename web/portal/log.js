// The developer's event log: every control event with its identifier, tags and payload, every
// script call and its result, host-site requests and connection changes. Collapsible; keeps
// the newest entries only.

import { t, locale } from "./i18n.js";
import { event_name, hex, mask_secrets } from "./events.js";

const KEEP = 500;

export class EventLog {
  constructor(root, toggle) {
    this.root = root;
    this.toggle_button = toggle;
    this.list = root.querySelector(".log-list");
    this.filter = root.querySelector(".log-filter");
    this.count = root.querySelector(".log-count");
    this.badge = toggle.querySelector(".badge");
    this.entries = 0;
    this.unseen = 0;
    root.querySelector(".log-clear").addEventListener("click", () => this.clear());
    root.querySelector(".log-close").addEventListener("click", () => this.set_open(false));
    toggle.addEventListener("click", () => this.set_open(this.root.hidden));
    this.filter.addEventListener("input", () => this.apply_filter());
    this.render_count();
  }

  set_open(open) {
    this.root.hidden = !open;
    this.toggle_button.setAttribute("aria-expanded", String(open));
    document.body.classList.toggle("log-open", open);
    if (open) {
      this.unseen = 0;
      this.render_count();
      this.list.scrollTop = this.list.scrollHeight;
    }
    window.dispatchEvent(new Event("resize"));
  }

  clear() {
    this.list.replaceChildren();
    this.entries = 0;
    this.unseen = 0;
    this.render_count();
  }

  render_count() {
    this.count.textContent = t("log.count", { count: this.entries });
    this.badge.textContent = this.unseen > 99 ? "99+" : String(this.unseen);
    this.badge.hidden = this.unseen === 0;
    this.list.dataset.empty = t("log.empty");
  }

  // kind: "event", "call", "result", "site", "conn", "note"; level as in the status line.
  add(kind, title, detail = "", level = "") {
    const row = document.createElement("li");
    row.className = `log-row kind-${kind}`;
    if (level) row.dataset.level = level;
    const time = document.createElement("time");
    const now = new Date();
    time.textContent =
      now.toLocaleTimeString(locale(), { hour: "2-digit", minute: "2-digit", second: "2-digit" }) +
      "." + String(now.getMilliseconds()).padStart(3, "0");
    const tag = document.createElement("span");
    tag.className = "log-kind";
    tag.textContent = kind;
    const head = document.createElement("span");
    head.className = "log-title";
    head.textContent = title;
    row.append(time, tag, head);
    if (detail) {
      const body = document.createElement("span");
      body.className = "log-detail";
      body.textContent = detail;
      body.title = detail;
      row.append(body);
      row.addEventListener("click", () => row.classList.toggle("expanded"));
    }
    const stick = this.list.scrollTop + this.list.clientHeight >= this.list.scrollHeight - 8;
    this.list.append(row);
    this.entries += 1;
    while (this.list.childElementCount > KEEP) this.list.firstElementChild.remove();
    if (this.root.hidden) this.unseen += 1;
    this.render_count();
    this.match(row);
    if (stick) this.list.scrollTop = this.list.scrollHeight;
  }

  // One CliCallBackMsg, written the way the control's trace names it.
  add_callback(ev) {
    const name = event_name(ev.nID);
    const title = `CliCallBackMsg ${hex(ev.nID)}${name ? " " + name : ""}  tag1=${ev.nTag1} tag2=${ev.nTag2}`;
    const info = mask_secrets(String(ev.szInfo ?? "").replace(/\0+$/, ""));
    this.add("event", title, info ? `${info.replace(/\s+/g, " ").trim()}  (${ev.nInfoLen} bytes)` : "");
  }

  match(row) {
    const q = this.filter.value.trim().toLowerCase();
    row.hidden = q !== "" && !row.textContent.toLowerCase().includes(q);
  }

  apply_filter() {
    for (const row of this.list.children) this.match(row);
  }
}
