// "Procurar na rede local": CliDeviceSearch, then the report the control raises about a second
// later (event 0x10000017, {"devices":[{"id","ip","name","port","http_port","model"}]}) in a
// dialog. The control has no method that adds a device to the cloud account; its
// CliAddDeviceP2P reaches a device through the P2P service by identifier for this session only.
// So "Adicionar…" copies what the search found into a form that says so, and the outcome is
// the control's own answer (ADD_DEV_RES), never assumed.

import { t } from "./i18n.js";
import { EV } from "./events.js";

const REPORT_WAIT_MS = 6000;

// The devices of a search report; null when the text is not a report.
export function parse_search_report(text) {
  let doc;
  try {
    doc = JSON.parse(String(text ?? ""));
  } catch {
    return null;
  }
  if (!doc || !Array.isArray(doc.devices)) return null;
  return doc.devices
    .filter((d) => d && typeof d.id === "string" && d.id !== "")
    .map((d) => ({
      id: d.id,
      ip: typeof d.ip === "string" ? d.ip : "",
      name: typeof d.name === "string" ? d.name : "",
      port: Number.isInteger(d.port) ? d.port : 0,
      http_port: Number.isInteger(d.http_port) ? d.http_port : 0,
      model: typeof d.model === "string" ? d.model : "",
    }));
}

// The account device a found device already is: the same identifier, or the same name and
// model (the search reports serial numbers, the account P2P identifiers). Null when it looks
// new to the account.
export function account_match(found, model) {
  for (const d of model.devices.values()) {
    if (!d.listed) continue;
    if (d.id === found.id) return d;
    // A device's own description may give its name as its model.
    const model_known = d.model && d.model !== d.name;
    if (found.name && d.name === found.name && (!model_known || d.model === found.model)) return d;
  }
  return null;
}

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

export class LanSearch extends EventTarget {
  // `dialog` the <dialog>, `button` what opens it, `call(method, args)` a script method, `model`.
  constructor({ dialog, button, call, model }) {
    super();
    this.dialog = dialog;
    this.call = call;
    this.model = model;
    this.found = [];
    this.searching = false;
    this.table = dialog.querySelector(".search-rows");
    this.state = dialog.querySelector(".search-state");
    this.again = dialog.querySelector(".search-again");
    this.form = dialog.querySelector(".search-add");
    button.addEventListener("click", () => this.open());
    this.again.addEventListener("click", () => this.search());
    dialog.querySelector(".search-close").addEventListener("click", () => dialog.close());
    this.form.addEventListener("submit", (e) => {
      e.preventDefault();
      this.add();
    });
    this.form.querySelector(".search-add-cancel").addEventListener("click", () => {
      this.form.hidden = true;
    });
  }

  open() {
    if (!this.dialog.open) this.dialog.showModal();
    this.search();
  }

  async search() {
    this.searching = true;
    this.form.hidden = true;
    this.again.disabled = true;
    this.show_state("busy", t("search.busy"));
    clearTimeout(this.timer);
    // A report that does not come means the search did not run.
    this.timer = setTimeout(() => {
      if (!this.searching) return;
      this.searching = false;
      this.again.disabled = false;
      this.show_state("error", t("search.no-report"));
    }, REPORT_WAIT_MS);
    const result = await this.call("CliDeviceSearch", []);
    if (result === null && !this.searching) return;
  }

  show_state(kind, text) {
    this.state.dataset.state = kind;
    this.state.querySelector(".search-state-text").textContent = text;
  }

  on_callback(ev) {
    if (ev.nID !== EV.SEARCH) return;
    const devices = parse_search_report(ev.szInfo);
    clearTimeout(this.timer);
    this.searching = false;
    this.again.disabled = false;
    if (!devices) {
      this.show_state("error", t("search.unreadable"));
      return;
    }
    this.found = devices;
    this.show_state(devices.length ? "done" : "empty", devices.length === 1 ? t("search.found-one") : devices.length ? t("search.found", { count: devices.length }) : t("search.none"));
    this.render();
    this.dispatchEvent(new CustomEvent("found", { detail: { devices } }));
  }

  render() {
    const rows = this.found.map((d) => {
      const tr = element("tr", "search-row");
      tr.dataset.serial = d.id;
      const name = element("td", "search-name");
      name.append(element("span", "search-device-name", d.name || d.model || d.id), element("span", "search-device-model", d.model));
      tr.append(
        name,
        element("td", "mono", d.id),
        element("td", "mono", d.ip),
        element("td", "mono num", d.port ? String(d.port) : "—"),
        element("td", "mono num", d.http_port ? String(d.http_port) : "—"),
      );
      const action = element("td", "search-action");
      const known = account_match(d, this.model);
      if (known) {
        const pill = element("span", "pill tone-online", t("search.in-account"));
        pill.title = known.name || known.id;
        action.append(pill);
      } else {
        const add = element("button", "button small", t("search.add"));
        add.type = "button";
        add.addEventListener("click", () => this.prepare(d));
        action.append(add);
      }
      tr.append(action);
      return tr;
    });
    this.table.replaceChildren(...rows);
  }

  // Copies a found device into the form.
  prepare(d) {
    const f = this.form.elements;
    f.found_id.value = d.id;
    f.found_name.value = d.name;
    f.found_port.value = String(d.port || "");
    f.found_http_port.value = String(d.http_port || "");
    f.found_user.value = "admin";
    f.found_password.value = "";
    this.form.hidden = false;
    f.found_password.focus();
  }

  async add() {
    const f = this.form.elements;
    const id = f.found_id.value.trim();
    if (!id) return;
    await this.call("CliAddDeviceP2P", [id, f.found_user.value, f.found_password.value, f.found_name.value.trim(), Number(f.found_port.value) || 0, Number(f.found_http_port.value) || 0]);
    this.form.hidden = true;
    this.dispatchEvent(new CustomEvent("note", { detail: { level: "info", key: "search.adding", params: { device: f.found_name.value.trim() || id } } }));
  }
}
