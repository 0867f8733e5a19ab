// Signing in and out, and picking the view up again after a reload or a reconnection.
//
// Sign-in: CliInit (once per control), then CliCloudInitSimple; the control fetches the lists
// and raises them as events. When the device list arrives the page adds each device with the
// account's credentials (CliAddDeviceP2P), so the control logs in to it and says whether it
// works. After a reload, hello.state tells whether the control is still signed in; the page
// then asks for both lists again (which also re-reports every device's tunnel state) and takes
// back what only events could tell from localStorage.

import { t } from "./i18n.js";
import { call } from "./control.js";
import { render_note } from "./status.js";

const CLOUD_ANSWER_MS = 20000;
const SAVE_DELAY_MS = 300;

function storage_key(kind, user) {
  return `kavrel:${kind}:${user}`;
}

function read_storage(key, fallback) {
  try {
    const text = localStorage.getItem(key);
    return text ? JSON.parse(text) : fallback;
  } catch {
    return fallback;
  }
}

function write_storage(key, value) {
  try {
    localStorage.setItem(key, JSON.stringify(value));
  } catch {
    // A full or disabled storage only costs the restore after a reload.
  }
}

export class Session extends EventTarget {
  constructor({ bridge, model, tree, report, form, layer, account }) {
    super();
    this.bridge = bridge;
    this.model = model;
    this.tree = tree;
    this.report = report;
    this.form = form;
    this.layer = layer;
    this.account = account;
    this.error = form.querySelector("#signin-error");
    this.submit = form.querySelector("#signin-submit");
    this.control = null;
    this.defaults = null;
    this.initialised = false;
    this.init_server = "";
    this.phase = "signed-out"; // signed-out | signing-in | restoring | signed-in
    this.user = "";
    this.added = new Set(); // devices given to CliAddDeviceP2P since this sign-in
    this.answer_timer = 0;
    this.save_timer = 0;
    this.announce = false; // say "signed in" once both lists have arrived

    form.addEventListener("submit", (e) => {
      e.preventDefault();
      this.sign_in();
    });
    form.querySelector("#reveal-password").addEventListener("click", (e) => {
      const input = form.elements.password;
      const show = input.type === "password";
      input.type = show ? "text" : "password";
      e.currentTarget.setAttribute("aria-label", t(show ? "signin.hide-password" : "signin.show-password"));
      e.currentTarget.title = t(show ? "signin.hide-password" : "signin.show-password");
      e.currentTarget.classList.toggle("on", show);
    });
    model.addEventListener("devices-listed", () => this.on_devices_listed());
    model.addEventListener("change", () => {
      this.schedule_save();
      this.announce_when_loaded();
    });
  }

  set_control(control) {
    this.control = control;
  }

  c(method, args = [], fallback = null) {
    return call(this.control, this.report, method, args, fallback);
  }

  // ---- what the host says on every connection ----

  on_hello(hello) {
    const state = hello.state ?? {};
    this.defaults = hello.demo ?? this.defaults;
    this.initialised = Boolean(state.initialised);
    if (state.signed_in && state.user) {
      this.restore(state.user);
    } else {
      if (this.phase !== "signed-out") {
        this.model.reset();
        this.phase = "signed-out";
      }
      this.show_sign_in();
    }
  }

  restore(user) {
    const same = this.user === user && this.phase === "signed-in";
    this.user = user;
    if (!same) {
      this.model.reset();
      this.model.restore(read_storage(storage_key("model", user), null));
      this.added = new Set(read_storage(storage_key("added", user), []));
      this.tree.set_loading(true);
    }
    this.phase = same ? "signed-in" : "restoring";
    this.show_portal();
    if (!same) this.report({ level: "info", key: "status.restoring", params: { user } });
    this.expect_cloud_answer();
    // Events raised while the page was away are lost: both lists again bring the page up to
    // date, and the device list makes the control re-report each device's tunnel.
    this.c("CliCloudGetDeviceListSp");
    this.c("CliCloudGetCamListSp");
  }

  // ---- sign-in form ----

  show_sign_in(error_note) {
    document.body.classList.add("signed-out");
    document.body.classList.remove("signed-in");
    this.layer.hidden = false;
    this.account.hidden = true;
    this.set_busy(false);
    const d = this.defaults ?? {};
    const f = this.form.elements;
    if (!f.server.value) f.server.value = d.server ?? "";
    if (!f.user.value) f.user.value = d.user ?? "";
    if (!f.password.value) f.password.value = d.password ?? "";
    if (!f.p2p_addr.value) f.p2p_addr.value = d.tunnel_host ?? "127.0.0.1";
    if (!f.p2p_port.value) f.p2p_port.value = d.tunnel_port ?? "";
    this.form.querySelector("#signin-hint").hidden = !(d.user && d.password);
    if (error_note) {
      this.error.hidden = false;
      this.error.textContent = error_note.text;
    }
    if (!error_note) this.report({ level: "info", key: "status.signed-out" });
    const first_empty = [...this.form.querySelectorAll("input[required]")].find((i) => !i.value);
    (first_empty ?? this.submit).focus({ preventScroll: true });
  }

  show_portal() {
    document.body.classList.remove("signed-out");
    document.body.classList.add("signed-in");
    this.layer.hidden = true;
    this.account.hidden = false;
    this.account.querySelector(".account-name").textContent = this.user;
    this.account.querySelector(".avatar").textContent = (this.user[0] ?? "?").toUpperCase();
    this.account.querySelector(".account-name").title = t("header.user", { user: this.user });
  }

  set_busy(busy) {
    this.submit.disabled = busy;
    this.submit.classList.toggle("busy", busy);
    this.submit.querySelector(".label").textContent = t(busy ? "signin.busy" : "signin.submit");
    for (const input of this.form.querySelectorAll("input")) input.readOnly = busy;
  }

  async sign_in() {
    if (this.phase === "signing-in") return;
    const f = this.form.elements;
    const server = f.server.value.trim();
    const user = f.user.value.trim();
    const password = f.password.value;
    for (const input of [f.server, f.user, f.password]) {
      if (!input.value.trim()) {
        input.focus();
        input.setAttribute("aria-invalid", "true");
        return;
      }
      input.removeAttribute("aria-invalid");
    }
    this.error.hidden = true;
    this.set_busy(true);
    this.phase = "signing-in";
    this.user = user;
    this.model.reset();
    this.added = new Set();
    write_storage(storage_key("added", user), []);
    write_storage(storage_key("model", user), null);
    this.report({ level: "info", key: "status.signing-in", params: { user } });

    const d = this.defaults ?? {};
    if (this.initialised && this.init_server && this.init_server !== server) {
      await this.c("CliUnInit");
      this.initialised = false;
    }
    if (!this.initialised) {
      const port = Number.parseInt(f.p2p_port.value, 10);
      const ok = await this.c(
        "CliInit",
        [server, d.app_key ?? "", d.app_pass ?? "", f.p2p_addr.value.trim(), Number.isFinite(port) ? port : 0, d.tunnel_key ?? ""],
        false,
      );
      if (ok === false) return this.sign_in_failed(null);
      this.initialised = true;
      this.init_server = server;
    }
    const done = await this.c("CliCloudInitSimple", [user, password], false);
    if (done === false) return this.sign_in_failed(null);
    this.expect_cloud_answer();
  }

  // The lists come as events; if none comes, say so instead of waiting for ever.
  expect_cloud_answer() {
    clearTimeout(this.answer_timer);
    this.answer_timer = setTimeout(() => {
      if (this.phase === "signing-in" || this.phase === "restoring") {
        this.sign_in_failed({ level: "error", key: "status.cloud-timeout" });
      }
    }, CLOUD_ANSWER_MS);
  }

  sign_in_failed(note) {
    clearTimeout(this.answer_timer);
    this.phase = "signed-out";
    this.tree.set_loading(false);
    if (note) this.report(note);
    const text = note ? render_note(note) : "";
    this.show_sign_in(text ? { text } : null);
    if (!text) this.error.hidden = true;
  }

  // Notes from the model: a failed cloud request during sign-in sends the person back to the
  // form with the reason.
  on_note(note) {
    if (note.kind === "cloud-error" && (this.phase === "signing-in" || this.phase === "restoring")) {
      this.sign_in_failed(note);
    }
  }

  on_devices_listed() {
    if (this.phase === "signing-in" || this.phase === "restoring") {
      clearTimeout(this.answer_timer);
      const restored = this.phase === "restoring";
      this.phase = "signed-in";
      this.set_busy(false);
      this.show_portal();
      this.tree.set_loading(false);
      if (!restored) this.form.elements.password.value = this.defaults?.password ?? "";
      this.announce = true;
      this.announce_when_loaded();
      this.dispatchEvent(new Event("signed-in"));
    }
    if (this.phase === "signed-in") this.add_devices();
  }

  // Once both lists are in, say what the account holds.
  announce_when_loaded() {
    if (!this.announce || !this.model.loaded.devices || !this.model.loaded.cameras) return;
    this.announce = false;
    this.report({
      level: "success",
      key: "status.signed-in",
      params: { user: this.user, devices: this.model.summary().total, cameras: this.model.cameras.size },
    });
  }

  // Each device of the account is added once per sign-in, with the account's credentials.
  add_devices() {
    for (const d of this.model.devices.values()) {
      if (!d.listed || this.added.has(d.id)) continue;
      this.added.add(d.id);
      this.c("CliAddDeviceP2P", [d.id, d.user, d.pass, d.name, d.port, d.http_port]);
    }
    write_storage(storage_key("added", this.user), [...this.added]);
  }

  schedule_save() {
    if (!this.user || this.phase === "signed-out") return;
    clearTimeout(this.save_timer);
    this.save_timer = setTimeout(() => write_storage(storage_key("model", this.user), this.model.snapshot()), SAVE_DELAY_MS);
  }

  async sign_out() {
    const user = this.user;
    this.phase = "signed-out";
    clearTimeout(this.answer_timer);
    await this.c("CliUnInit");
    this.initialised = false;
    this.model.reset();
    try {
      localStorage.removeItem(storage_key("model", user));
      localStorage.removeItem(storage_key("added", user));
    } catch {
      // nothing kept
    }
    this.user = "";
    this.show_sign_in();
    this.report({ level: "info", key: "status.signed-out-done" });
  }
}
