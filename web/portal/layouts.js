// Named layouts of the wall: a menu in the wall's tool bar that saves the current wall under a
// name (CliSaveLayout), lists the saved ones (CliEnumLayouts, {"Layouts":[...]}), loads one
// (CliLoadLayout, false when the file is not there) and deletes one (CliDeleteLayout).

import { t } from "./i18n.js";

// The names of a CliEnumLayouts answer; [] when it is not one. The control writes the names
// without escaping, so a name with a quote or backslash may spoil the text: such an answer is
// read leniently, name by name.
export function parse_layout_list(text) {
  const s = String(text ?? "");
  try {
    const doc = JSON.parse(s);
    if (doc && Array.isArray(doc.Layouts)) return doc.Layouts.filter((n) => typeof n === "string").sort(by_name);
  } catch {
    const inner = s.match(/^\s*\{\s*"Layouts"\s*:\s*\[(.*)\]\s*\}\s*$/s);
    const body = inner ? inner[1].trim() : "";
    if (body.startsWith('"') && body.endsWith('"') && body.length >= 2) {
      return body.slice(1, -1).split('","').sort(by_name);
    }
  }
  return [];
}

function by_name(a, b) {
  return a.localeCompare(b, undefined, { sensitivity: "base", numeric: true });
}

// What the control makes of a name: characters a file name cannot hold become "_".
export function layout_file_name(name) {
  return String(name).replace(/[<>:"/\\|?*]/g, "_");
}

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

const ICON =
  '<svg viewBox="0 0 24 24" width="16" height="16" aria-hidden="true"><rect x="3.5" y="4.5" width="7" height="7" rx="1.5" fill="none" stroke="currentColor" stroke-width="1.7"/><rect x="13.5" y="4.5" width="7" height="7" rx="1.5" fill="none" stroke="currentColor" stroke-width="1.7"/><rect x="3.5" y="14.5" width="7" height="5" rx="1.5" fill="none" stroke="currentColor" stroke-width="1.7"/><path d="M17 14v6M14 17h6" stroke="currentColor" stroke-width="1.7" stroke-linecap="round"/></svg>';

export class LayoutsMenu extends EventTarget {
  // `slot` the wall's tool bar slot, `call(method, args)` a script method, `bar` the WallBar
  // (read back after a load).
  constructor({ slot, call, bar }) {
    super();
    this.call = call;
    this.bar = bar;
    this.names = [];
    this.root = element("div", "layouts-menu");
    this.button = element("button", "button ghost layouts-button");
    this.button.type = "button";
    this.button.innerHTML = ICON;
    this.button.append(element("span", "", t("layouts.title")), element("span", "chevron-down", "▾"));
    this.button.setAttribute("aria-haspopup", "true");
    this.button.setAttribute("aria-expanded", "false");
    this.popup = element("div", "layouts-popup");
    this.popup.hidden = true;
    this.popup.setAttribute("role", "dialog");
    this.popup.setAttribute("aria-label", t("layouts.title"));

    this.form = element("form", "layouts-save");
    this.input = element("input", "input small layouts-name");
    this.input.name = "name";
    this.input.maxLength = 64;
    this.input.placeholder = t("layouts.name");
    this.input.setAttribute("aria-label", t("layouts.name"));
    const save = element("button", "button small primary layouts-save-button", t("layouts.save"));
    save.type = "submit";
    this.form.append(this.input, save);
    this.hint = element("p", "layouts-hint");
    this.hint.hidden = true;
    this.list = element("ul", "layouts-list");
    this.popup.append(element("h3", "layouts-heading", t("layouts.save-heading")), this.form, this.hint,
      element("h3", "layouts-heading", t("layouts.saved-heading")), this.list);
    this.root.append(this.button, this.popup);
    slot.append(this.root);

    this.button.addEventListener("click", () => this.toggle(this.popup.hidden));
    this.form.addEventListener("submit", (e) => {
      e.preventDefault();
      this.save(this.input.value);
    });
    this.input.addEventListener("input", () => this.check_name());
    document.addEventListener("pointerdown", (e) => {
      if (!this.popup.hidden && !this.root.contains(e.target)) this.toggle(false);
    });
    this.popup.addEventListener("keydown", (e) => {
      if (e.key === "Escape") {
        this.toggle(false);
        this.button.focus();
      }
    });
    this.enable(false);
  }

  enable(on) {
    this.button.disabled = !on;
    if (!on) this.toggle(false);
  }

  async toggle(open) {
    this.popup.hidden = !open;
    this.button.setAttribute("aria-expanded", String(open));
    if (open) {
      await this.refresh();
      this.input.focus();
    }
  }

  async refresh() {
    const text = await this.call("CliEnumLayouts", []);
    this.names = parse_layout_list(text);
    this.render();
    return this.names;
  }

  // Saying before the save that a name will be stored differently, or replaces another.
  check_name() {
    const name = this.input.value.trim();
    const file = layout_file_name(name);
    let key = "";
    if (name && name.toLowerCase() === "default") key = "layouts.reserved";
    else if (name && this.names.includes(file)) key = "layouts.replaces";
    else if (file !== name) key = "layouts.renamed";
    this.hint.hidden = !key;
    this.hint.textContent = key ? t(key, { name: file }) : "";
    return key;
  }

  async save(raw) {
    const name = String(raw ?? "").trim();
    if (!name) {
      this.input.focus();
      return false;
    }
    // "Default" is the control's own layout, rewritten with every start and stop.
    if (name.toLowerCase() === "default") {
      this.check_name();
      return false;
    }
    await this.call("CliSaveLayout", [name]);
    const names = await this.refresh();
    const saved = names.includes(layout_file_name(name));
    this.note(saved ? "success" : "error", saved ? "layouts.saved" : "layouts.save-failed", { name: layout_file_name(name) });
    if (saved) {
      this.input.value = "";
      this.check_name();
    }
    return saved;
  }

  async load(name) {
    const loaded = await this.call("CliLoadLayout", [name]);
    await this.bar.refresh();
    this.note(loaded === true ? "success" : "error", loaded === true ? "layouts.loaded" : "layouts.missing", { name });
    if (loaded === true) this.toggle(false);
    else await this.refresh();
    this.dispatchEvent(new CustomEvent("loaded", { detail: { name, loaded: loaded === true } }));
    return loaded === true;
  }

  async remove(name) {
    await this.call("CliDeleteLayout", [name]);
    const names = await this.refresh();
    const gone = !names.includes(name);
    this.note(gone ? "info" : "error", gone ? "layouts.deleted" : "layouts.delete-failed", { name });
    return gone;
  }

  note(level, key, params) {
    this.dispatchEvent(new CustomEvent("note", { detail: { level, key, params } }));
  }

  render() {
    const rows = this.names.map((name) => {
      const li = element("li", "layouts-row");
      li.dataset.name = name;
      const open = element("button", "layouts-open", name);
      open.type = "button";
      open.title = t("layouts.load", { name });
      open.addEventListener("click", () => this.load(name));
      const del = element("button", "icon-button small layouts-delete");
      del.type = "button";
      del.title = t("layouts.delete", { name });
      del.setAttribute("aria-label", t("layouts.delete", { name }));
      del.innerHTML = '<svg viewBox="0 0 24 24" width="14" height="14" aria-hidden="true"><path d="M5 7h14M10 7V5h4v2M7 7l1 12h8l1-12" fill="none" stroke="currentColor" stroke-width="1.8" stroke-linejoin="round"/></svg>';
      del.addEventListener("click", (e) => {
        e.stopPropagation();
        if (li.dataset.confirm === "1") this.remove(name);
        else {
          li.dataset.confirm = "1";
          del.title = t("layouts.delete-confirm", { name });
          del.setAttribute("aria-label", del.title);
          setTimeout(() => delete li.dataset.confirm, 3000);
        }
      });
      li.append(open, del);
      return li;
    });
    if (!rows.length) rows.push(element("li", "layouts-empty", t("layouts.empty")));
    this.list.replaceChildren(...rows);
  }
}
