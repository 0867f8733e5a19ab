// What the control asks of its host site, drawn by the page: popup menus, message boxes,
// dialogs (the About box), the save dialog; and the notifications: sounds, full screen and
// downloads. Requests with an id are answered with a site-reply; one is shown at a time.

import { t } from "./i18n.js";
import { menu_offers } from "./controls.js";

const IDOK = 1;
const IDCANCEL = 2;
const IDYES = 6;
const IDNO = 7;

// Menu texts use "&" for the mnemonic ("&&" for a real ampersand) and a tab before a shortcut.
export function menu_label(text) {
  const [label, shortcut = ""] = String(text ?? "").split("\t");
  return { label: label.replace(/&&/g, "\u0000").replace(/&/g, "").replace(/\u0000/g, "&"), shortcut };
}

// The extension a save filter pattern gives ("*.mp4" gives ".mp4", "*.*" none).
export function filter_extension(pattern) {
  const m = /^\*(\.[A-Za-z0-9]+)(;|$)/.exec(String(pattern ?? "").trim());
  return m ? m[1] : "";
}

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

export class Site extends EventTarget {
  // surface: maps surface pixels to the page and holds the element that goes full screen.
  // report: takes a note for the status line. log: (title, detail) for the event log.
  constructor(bridge, surface, { report, log, on_fullscreen_left }) {
    super();
    this.bridge = bridge;
    this.surface = surface;
    this.report = report;
    this.log = log;
    this.on_fullscreen_left = on_fullscreen_left;
    this.queue = [];
    this.active = null; // {message, close()}
    this.audio = null;
    this.fullscreen_wanted = false;
    bridge.addEventListener("site", (e) => this.on_site(e.detail));
    bridge.addEventListener("site-cancel", (e) => this.cancel(e.detail.id));
    bridge.addEventListener("state", (e) => {
      if (e.detail.state !== "open") this.drop_all();
    });
    document.addEventListener("fullscreenchange", () => {
      if (!document.fullscreenElement && this.fullscreen_wanted) {
        this.fullscreen_wanted = false;
        this.on_fullscreen_left?.();
      }
    });
    // Sounds may only start after the person has touched the page once.
    const unlock = () => this.audio_context()?.resume().catch(() => {});
    document.addEventListener("pointerdown", unlock, { capture: true });
    document.addEventListener("keydown", unlock, { capture: true });
  }

  on_site(message) {
    // Live sound comes in many small pieces: it goes to its player without a log line each.
    if (message.kind === "audio" || message.kind === "audio-end") {
      this.dispatchEvent(new CustomEvent(message.kind, { detail: message }));
      return;
    }
    this.log?.(`site ${message.kind}${message.id !== undefined ? " #" + message.id : ""}`, JSON.stringify(message));
    if (message.kind === "menu" && this.menu_answer) {
      // The page itself opened this menu to choose an item in it.
      const { command, resolve } = this.menu_answer;
      this.menu_answer = null;
      const offered = menu_offers(message.items, command);
      this.reply(message, offered ? command : 0);
      resolve(offered);
      return;
    }
    switch (message.kind) {
      case "sound":
        this.play_sound(message.url);
        return;
      case "fullscreen":
        this.fullscreen(Boolean(message.on));
        return;
      case "download":
        this.download(message.url, message.name);
        return;
      case "file_not_saved":
        // The name was chosen in a save dialog and then nothing came of it.
        this.report({ level: "error", key: "site.not-saved", params: { name: message.name || "" } });
        this.dispatchEvent(new CustomEvent("not-saved", { detail: { name: message.name } }));
        return;
      default:
        break;
    }
    this.queue.push(message);
    if (!this.active) this.next();
  }

  next() {
    const message = this.queue.shift();
    if (!message) return;
    const show = {
      menu: () => this.show_menu(message),
      message_box: () => this.show_message_box(message),
      dialog: () => this.show_dialog(message),
      save_dialog: () => this.show_save_dialog(message),
    }[message.kind];
    if (!show) {
      this.reply(message, 0);
      this.next();
      return;
    }
    this.active = { message, close: () => {} };
    show();
  }

  // The next menu the control shows is answered with `command` (when it offers it) without being
  // shown; resolves true when it was chosen, false when not offered or no menu came in time.
  answer_next_menu(command, timeout_ms = 5000) {
    this.menu_answer?.resolve(false);
    return new Promise((resolve) => {
      const entry = { command, resolve };
      this.menu_answer = entry;
      setTimeout(() => {
        if (this.menu_answer !== entry) return;
        this.menu_answer = null;
        resolve(false);
      }, timeout_ms);
    });
  }

  reply(message, value) {
    if (message.id === undefined) return;
    this.bridge.send({ type: "site-reply", id: message.id, value });
    this.log?.(`site-reply #${message.id}`, JSON.stringify(value));
  }

  // Closes what is open and answers it; then shows the next request.
  finish(value) {
    const active = this.active;
    if (!active) return;
    this.active = null;
    active.close();
    this.reply(active.message, value);
    this.dispatchEvent(new CustomEvent("answered", { detail: { kind: active.message.kind, value } }));
    this.next();
  }

  // The host gave up waiting for a request: close it without an answer.
  cancel(id) {
    this.queue = this.queue.filter((m) => m.id !== id);
    if (this.active?.message.id !== id) return;
    const active = this.active;
    this.active = null;
    active.close();
    this.dispatchEvent(new CustomEvent("answered", { detail: { kind: active.message.kind, cancelled: true } }));
    this.next();
  }

  // The connection dropped: what is open can no longer be answered on this socket.
  drop_all() {
    this.queue = [];
    const active = this.active;
    this.active = null;
    active?.close();
  }

  // ---- modal boxes ----

  modal(caption, body, buttons, on_escape, extra_class = "") {
    const dialog = element("dialog", `site-modal ${extra_class}`.trim());
    dialog.setAttribute("aria-label", caption);
    const head = element("header", "site-modal-head");
    head.append(element("h2", "", caption));
    const foot = element("footer", "site-modal-buttons");
    for (const b of buttons) {
      const button = element("button", b.primary ? "button primary" : "button", b.text);
      button.type = "button";
      button.dataset.value = String(b.id ?? "");
      button.addEventListener("click", () => b.act());
      foot.append(button);
    }
    dialog.append(head, body, foot);
    dialog.addEventListener("cancel", (e) => {
      e.preventDefault();
      on_escape?.();
    });
    document.body.append(dialog);
    dialog.showModal();
    (foot.querySelector(".primary") ?? foot.querySelector("button"))?.focus();
    this.active.close = () => {
      if (dialog.open) dialog.close();
      dialog.remove();
    };
    return dialog;
  }

  show_message_box(message) {
    const buttons = {
      ok: [{ id: IDOK, text: t("site.ok"), primary: true }],
      okcancel: [
        { id: IDOK, text: t("site.ok"), primary: true },
        { id: IDCANCEL, text: t("site.cancel") },
      ],
      yesno: [
        { id: IDYES, text: t("site.yes"), primary: true },
        { id: IDNO, text: t("site.no") },
      ],
    }[message.buttons] ?? [{ id: IDOK, text: t("site.ok"), primary: true }];
    for (const b of buttons) b.act = () => this.finish(b.id);
    const body = element("div", "site-modal-body");
    const kind = message.icon ?? "none";
    if (kind !== "none") {
      const icon = element("span", `site-icon icon-${kind}`, { error: "✕", warning: "!", question: "?" }[kind] ?? "i");
      icon.setAttribute("aria-hidden", "true");
      body.append(icon);
    }
    body.append(element("p", "site-text", message.text ?? ""));
    // Escape answers Cancel where there is one, OK for a lone OK, nothing for yes/no.
    const escape = message.buttons === "okcancel" ? IDCANCEL : message.buttons === "yesno" ? null : IDOK;
    this.modal(message.caption ?? "", body, buttons, escape === null ? null : () => this.finish(escape), "kind-message-box");
  }

  show_dialog(message) {
    const body = element("div", "site-modal-body site-dialog-body");
    const mark = element("div", "site-dialog-mark", "k");
    mark.setAttribute("aria-hidden", "true");
    const lines = element("div", "site-lines");
    for (const [i, line] of (message.lines ?? []).entries()) lines.append(element("p", i === 0 ? "site-line first" : "site-line", line));
    body.append(mark, lines);
    const list = message.buttons?.length ? message.buttons : [{ id: IDOK, text: t("site.ok") }];
    const buttons = list.map((b, i) => ({ id: b.id, text: b.text, primary: i === 0, act: () => this.finish(b.id) }));
    // A dialog closed with Escape ends with IDCANCEL, as the control's dialogs do.
    this.modal(message.caption ?? "", body, buttons, () => this.finish(IDCANCEL), "kind-dialog");
  }

  show_save_dialog(message) {
    const filters = Array.isArray(message.filters) && message.filters.length ? message.filters : [["*.*", "*.*"]];
    const form = element("form", "site-modal-body site-save");
    form.method = "dialog";
    const name_label = element("label", "field");
    name_label.append(element("span", "field-label", t("site.file-name")));
    const name = element("input", "input");
    name.name = "name";
    name.value = message.initial_name ?? "";
    name.required = true;
    name_label.append(name);
    const type_label = element("label", "field");
    type_label.append(element("span", "field-label", t("site.file-type")));
    const select = element("select", "input");
    for (const [i, [description]] of filters.entries()) {
      const option = element("option", "", description);
      option.value = String(i + 1);
      select.append(option);
    }
    select.addEventListener("change", () => {
      const ext = filter_extension(filters[select.selectedIndex][1]);
      if (ext) name.value = name.value.replace(/(\.[A-Za-z0-9]+)?$/, ext);
    });
    type_label.append(select);
    form.append(name_label, type_label);
    const cancel = { chosen: false, name: "", filter_index: 0 };
    const save = () => {
      if (!name.value.trim()) {
        name.focus();
        return;
      }
      this.finish({ chosen: true, name: name.value.trim(), filter_index: select.selectedIndex + 1 });
    };
    form.addEventListener("submit", (e) => {
      e.preventDefault();
      save();
    });
    this.modal(message.title || t("site.save-title"), form, [
      { text: t("site.save"), primary: true, act: save },
      { text: t("site.cancel"), act: () => this.finish(cancel) },
    ], () => this.finish(cancel), "kind-save-dialog");
    name.focus();
    const dot = name.value.lastIndexOf(".");
    name.setSelectionRange(0, dot > 0 ? dot : name.value.length);
  }

  // ---- popup menu ----

  show_menu(message) {
    const at = this.surface.to_page(message.x ?? 0, message.y ?? 0);
    const layer = element("div", "menu-layer");
    const close_all = (value) => this.finish(value);
    layer.addEventListener("pointerdown", (e) => {
      if (e.target === layer) close_all(0);
    });
    layer.addEventListener("contextmenu", (e) => e.preventDefault());
    const root = this.build_menu(message.items ?? [], close_all);
    layer.append(root);
    document.body.append(layer);
    place(root, at.x, at.y);
    root.querySelector(".menu-item:not([aria-disabled='true'])")?.focus();
    layer.addEventListener("keydown", (e) => {
      if (e.key === "Escape") {
        e.preventDefault();
        close_all(0);
      }
    });
    this.active.close = () => layer.remove();
  }

  build_menu(items, choose) {
    const list = element("ul", "menu");
    list.setAttribute("role", "menu");
    for (const item of items) {
      if (item.separator) {
        const sep = element("li", "menu-separator");
        sep.setAttribute("role", "separator");
        list.append(sep);
        continue;
      }
      const { label, shortcut } = menu_label(item.text);
      const li = element("li", "menu-item");
      li.setAttribute("role", "menuitem");
      li.tabIndex = -1;
      li.dataset.command = String(item.command ?? 0);
      if (item.checked) li.setAttribute("aria-checked", "true");
      if (item.disabled) li.setAttribute("aria-disabled", "true");
      li.append(element("span", "menu-check", item.checked ? "✓" : ""), element("span", "menu-label", label), element("span", "menu-shortcut", shortcut));
      if (Array.isArray(item.submenu) && item.submenu.length) {
        li.classList.add("has-submenu");
        li.append(element("span", "menu-arrow", "›"));
        const sub = this.build_menu(item.submenu, choose);
        sub.classList.add("submenu");
        li.append(sub);
        const open = () => {
          for (const other of list.querySelectorAll(":scope > .menu-item.open")) if (other !== li) other.classList.remove("open");
          li.classList.add("open");
          place_beside(sub, li);
        };
        li.addEventListener("pointerenter", open);
        li.addEventListener("click", (e) => {
          e.stopPropagation();
          open();
          sub.querySelector(".menu-item:not([aria-disabled='true'])")?.focus();
        });
        li.addEventListener("keydown", (e) => {
          if (e.key === "ArrowRight" || e.key === "Enter") {
            e.preventDefault();
            e.stopPropagation();
            open();
            sub.querySelector(".menu-item:not([aria-disabled='true'])")?.focus();
          }
        });
      } else if (!item.disabled) {
        li.addEventListener("click", (e) => {
          e.stopPropagation();
          choose(item.command ?? 0);
        });
        li.addEventListener("keydown", (e) => {
          if (e.key === "Enter" || e.key === " ") {
            e.preventDefault();
            e.stopPropagation();
            choose(item.command ?? 0);
          }
        });
      }
      li.addEventListener("pointerenter", () => li.focus({ preventScroll: true }));
      list.append(li);
    }
    list.addEventListener("keydown", (e) => {
      const own = [...list.querySelectorAll(":scope > .menu-item:not([aria-disabled='true'])")];
      const i = own.indexOf(document.activeElement);
      if (e.key === "ArrowDown" || e.key === "ArrowUp") {
        if (i < 0 && !own.length) return;
        e.preventDefault();
        e.stopPropagation();
        const step = e.key === "ArrowDown" ? 1 : -1;
        own[(i + step + own.length) % own.length]?.focus();
      } else if (e.key === "ArrowLeft" && list.classList.contains("submenu")) {
        e.preventDefault();
        e.stopPropagation();
        const owner = list.parentElement;
        owner.classList.remove("open");
        owner.focus();
      }
    });
    return list;
  }

  // ---- notifications ----

  audio_context() {
    if (!this.audio && typeof AudioContext === "function") this.audio = new AudioContext();
    return this.audio;
  }

  async play_sound(url) {
    const context = this.audio_context();
    if (!context || !url) return;
    try {
      const data = await (await fetch(url)).arrayBuffer();
      const buffer = await context.decodeAudioData(data);
      if (context.state !== "running") await context.resume().catch(() => {});
      if (context.state !== "running") {
        this.report({ level: "info", key: "site.sound-blocked" });
        return;
      }
      const source = context.createBufferSource();
      source.buffer = buffer;
      source.connect(context.destination);
      source.start();
    } catch (error) {
      this.log?.("sound failed", String(error));
    }
  }

  async fullscreen(on) {
    const target = this.surface.container;
    if (on) {
      this.fullscreen_wanted = true;
      if (document.fullscreenElement === target) return;
      try {
        await target.requestFullscreen({ navigationUI: "hide" });
      } catch {
        // The browser wants a fresh click first: offer one.
        this.offer_fullscreen(target);
      }
    } else {
      this.fullscreen_wanted = false;
      document.getElementById("fullscreen-offer")?.remove();
      if (document.fullscreenElement) await document.exitFullscreen().catch(() => {});
    }
  }

  offer_fullscreen(target) {
    document.getElementById("fullscreen-offer")?.remove();
    const offer = element("div", "toast");
    offer.id = "fullscreen-offer";
    offer.append(element("span", "", t("site.fullscreen-prompt")));
    const go = element("button", "button primary", t("site.fullscreen-go"));
    go.type = "button";
    go.addEventListener("click", () => {
      offer.remove();
      target.requestFullscreen().catch(() => {});
    });
    offer.append(go);
    document.body.append(offer);
  }

  download(url, name) {
    if (!url) return;
    const a = document.createElement("a");
    a.href = url;
    a.download = name || "";
    a.rel = "noopener";
    document.body.append(a);
    a.click();
    a.remove();
    this.report({ level: "success", key: "site.download", params: { name: name || url } });
    this.dispatchEvent(new CustomEvent("download", { detail: { url, name } }));
  }
}

// Puts a menu at a page point, inside the window.
function place(menu, x, y) {
  menu.style.left = "0px";
  menu.style.top = "0px";
  const r = menu.getBoundingClientRect();
  const left = Math.max(4, Math.min(x, window.innerWidth - r.width - 4));
  const top = Math.max(4, Math.min(y, window.innerHeight - r.height - 4));
  menu.style.left = `${left}px`;
  menu.style.top = `${top}px`;
}

function place_beside(sub, item) {
  const ir = item.getBoundingClientRect();
  sub.style.left = "100%";
  sub.style.top = "-5px";
  sub.style.right = "auto";
  const r = sub.getBoundingClientRect();
  if (r.right > window.innerWidth - 4) {
    sub.style.left = "auto";
    sub.style.right = "100%";
  }
  if (r.bottom > window.innerHeight - 4) sub.style.top = `${window.innerHeight - 4 - r.height - ir.top}px`;
}
