// Alarms in the page: which cameras listen (CliStartListenAlertDev / CliStopListenAlertDev, a bell
// per camera in the tree), the alarms the control reports (ALAERT_RES: kind in nTag1, channel in
// nTag2, device in szInfo) in a panel beside the wall with a badge count and a short beep, and
// the alarm output of the selected live pane (see alarm_output.js).
//
// The control keeps no list of listening cameras that script could read: the page remembers the
// ones it switched on for this tab (sessionStorage), so a reload shows them again.

import { t, locale } from "./i18n.js";
import { EV } from "./events.js";

// The device's alarm kinds, in the order of their codes.
export const ALARM_KINDS = ["input", "motion", "video-loss", "masking", "audio", "disk-full", "disk-error"];
const KEEP = 200;
// What `call` gives for a call the control refused or could not get (a void method gives null).
export const REFUSED = Symbol("refused");
const LISTEN_KEY = "kavrel.listening";
const MUTE_KEY = "kavrel.alarm-muted";

export function alarm_kind_key(kind) {
  return ALARM_KINDS[kind] ? `alarm.kind.${ALARM_KINDS[kind]}` : "alarm.kind.other";
}

// One alarm from a CliCallBackMsg, with the camera the device's channel belongs to (if the
// account has one) and the names to show.
export function alert_from_event(ev, model, at = new Date()) {
  const devid = String(ev.szInfo ?? "");
  const channel = ev.nTag2;
  let camera = null;
  for (const cam of model.cameras.values()) {
    if (cam.devid === devid && cam.chlid === channel) {
      camera = cam;
      break;
    }
  }
  return {
    at,
    devid,
    channel,
    kind: ev.nTag1,
    camera_id: camera?.id ?? "",
    camera_name: camera?.name || camera?.id || "",
    device_name: model.device_name(devid),
  };
}

// The alarms heard, newest first, at most `limit`; `unread` counts those not yet seen.
export class AlertLog {
  constructor(limit = KEEP) {
    this.limit = limit;
    this.items = [];
    this.unread = 0;
  }
  add(alert) {
    this.items.unshift(alert);
    if (this.items.length > this.limit) this.items.length = this.limit;
    this.unread = Math.min(this.unread + 1, this.limit);
  }
  seen() {
    this.unread = 0;
  }
  clear() {
    this.items = [];
    this.unread = 0;
  }
}

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

const BELL =
  '<svg viewBox="0 0 24 24" width="16" height="16" aria-hidden="true"><path d="M6 16V11a6 6 0 0 1 12 0v5l1.5 2h-15z" fill="none" stroke="currentColor" stroke-width="1.8" stroke-linejoin="round"/><path d="M10 20.5a2 2 0 0 0 4 0" fill="none" stroke="currentColor" stroke-width="1.8"/></svg>';
const SPEAKER_ON =
  '<svg viewBox="0 0 24 24" width="16" height="16" aria-hidden="true"><path d="M4 9h4l5-4v14l-5-4H4z" fill="none" stroke="currentColor" stroke-width="1.8" stroke-linejoin="round"/><path d="M16.5 8.5a5 5 0 0 1 0 7M19 6a8.5 8.5 0 0 1 0 12" fill="none" stroke="currentColor" stroke-width="1.8" stroke-linecap="round"/></svg>';
const SPEAKER_OFF =
  '<svg viewBox="0 0 24 24" width="16" height="16" aria-hidden="true"><path d="M4 9h4l5-4v14l-5-4H4z" fill="none" stroke="currentColor" stroke-width="1.8" stroke-linejoin="round"/><path d="M17 9.5l5 5M22 9.5l-5 5" stroke="currentColor" stroke-width="1.8" stroke-linecap="round"/></svg>';

export class AlarmsPanel extends EventTarget {
  // `root` the panel, `slot` the wall's tool bar slot for the bell button, `call(method, args)`
  // a script method (REFUSED when it did not run), `model` the account model, `output` the AlarmOutputSwitch.
  constructor({ root, slot, call, model, output }) {
    super();
    this.root = root;
    this.call = call;
    this.model = model;
    this.output = output;
    this.log = new AlertLog();
    this.listening = new Set(JSON.parse(sessionStorage.getItem(LISTEN_KEY) ?? "[]"));
    this.muted = localStorage.getItem(MUTE_KEY) === "1";

    this.button = element("button", "button ghost alarms-button");
    this.button.type = "button";
    this.button.setAttribute("aria-expanded", "false");
    this.button.setAttribute("aria-controls", root.id);
    this.button.innerHTML = BELL;
    this.button.append(element("span", "alarms-button-label", t("alarm.title")), element("span", "badge", "0"));
    this.badge = this.button.querySelector(".badge");
    this.badge.hidden = true;
    this.button.title = t("alarm.title");
    this.button.addEventListener("click", () => this.open(root.hidden));
    slot.append(this.button);

    this.list = root.querySelector(".alarm-list");
    this.count = root.querySelector(".alarm-count");
    this.listen_list = root.querySelector(".listen-list");
    this.mute_button = root.querySelector(".alarm-mute");
    this.mute_button.addEventListener("click", () => this.set_muted(!this.muted));
    root.querySelector(".alarm-clear").addEventListener("click", () => {
      this.log.clear();
      this.render();
    });
    root.querySelector(".alarm-close").addEventListener("click", () => this.open(false));
    root.querySelector(".listen-all").addEventListener("click", () => this.listen_all());
    this.output_state = root.querySelector(".output-state");
    this.output_button = root.querySelector(".output-toggle");
    this.output_button.addEventListener("click", () => this.toggle_output());
    root.querySelector(".output-read").addEventListener("click", () => this.read_output());
    this.set_muted(this.muted);
    model.addEventListener("change", () => this.render_listening());
    this.render();
  }

  open(on) {
    this.root.hidden = !on;
    this.button.setAttribute("aria-expanded", String(on));
    if (on) {
      this.log.seen();
      this.render_badge();
    }
  }

  set_muted(muted) {
    this.muted = muted;
    localStorage.setItem(MUTE_KEY, muted ? "1" : "0");
    this.mute_button.innerHTML = muted ? SPEAKER_OFF : SPEAKER_ON;
    this.mute_button.setAttribute("aria-pressed", String(muted));
    const label = t(muted ? "alarm.unmute" : "alarm.mute");
    this.mute_button.title = label;
    this.mute_button.setAttribute("aria-label", label);
  }

  // ---- listening ----

  is_listening(camera_id) {
    return this.listening.has(camera_id);
  }

  async set_listening(camera_id, on) {
    const result = on
      ? await this.call("CliStartListenAlertDev", [camera_id, 0])
      : await this.call("CliStopListenAlertDev", [camera_id]);
    if (result === REFUSED) return;
    if (on) this.listening.add(camera_id);
    else this.listening.delete(camera_id);
    sessionStorage.setItem(LISTEN_KEY, JSON.stringify([...this.listening]));
    this.render_listening();
    this.dispatchEvent(new CustomEvent("listening", { detail: { camera: camera_id, on } }));
    this.dispatchEvent(new CustomEvent("note", {
      detail: { level: "info", key: on ? "alarm.listen-on" : "alarm.listen-off", params: { camera: this.model.camera_name(camera_id) } },
    }));
  }

  async listen_all() {
    for (const cam of this.model.cameras.values()) {
      if (!this.listening.has(cam.id)) await this.set_listening(cam.id, true);
    }
  }

  // The bell of a camera row in the tree.
  decorate_camera(li, cam) {
    const on = this.is_listening(cam.id);
    const bell = element("button", "icon-button small listen-toggle");
    bell.type = "button";
    bell.innerHTML = BELL;
    bell.dataset.on = String(on);
    bell.setAttribute("aria-pressed", String(on));
    const label = t(on ? "alarm.listen-stop" : "alarm.listen-start");
    bell.title = label;
    bell.setAttribute("aria-label", label);
    bell.addEventListener("click", (e) => {
      e.stopPropagation();
      this.set_listening(cam.id, !this.is_listening(cam.id));
    });
    bell.addEventListener("dblclick", (e) => e.stopPropagation());
    li.querySelector(".camera-badges")?.append(bell);
  }

  render_listening() {
    const chips = [];
    for (const id of this.listening) {
      const chip = element("li", "listen-chip");
      chip.dataset.cameraId = id;
      chip.append(element("span", "listen-name", this.model.camera_name(id)));
      const stop = element("button", "listen-stop", "×");
      stop.type = "button";
      stop.title = t("alarm.listen-stop");
      stop.setAttribute("aria-label", `${t("alarm.listen-stop")}: ${this.model.camera_name(id)}`);
      stop.addEventListener("click", () => this.set_listening(id, false));
      chip.append(stop);
      chips.push(chip);
    }
    if (!chips.length) chips.push(element("li", "listen-none", t("alarm.listen-none")));
    this.listen_list.replaceChildren(...chips);
  }

  // ---- alarms ----

  on_callback(ev) {
    if (ev.nID !== EV.ALERT) return;
    this.log.add(alert_from_event(ev, this.model));
    if (!this.root.hidden) this.log.seen();
    if (!this.muted) this.beep();
    this.render();
  }

  // A short two-tone beep through Web Audio; a page the user has not touched yet may not play.
  beep() {
    try {
      if (!this.audio && typeof AudioContext === "function") this.audio = new AudioContext();
      const ctx = this.audio;
      if (!ctx) return;
      if (ctx.state !== "running") ctx.resume().catch(() => {});
      const start = ctx.currentTime + 0.01;
      for (const [offset, freq] of [[0, 880], [0.16, 1175]]) {
        const osc = ctx.createOscillator();
        const gain = ctx.createGain();
        osc.type = "sine";
        osc.frequency.value = freq;
        gain.gain.setValueAtTime(0.0001, start + offset);
        gain.gain.exponentialRampToValueAtTime(0.18, start + offset + 0.02);
        gain.gain.exponentialRampToValueAtTime(0.0001, start + offset + 0.14);
        osc.connect(gain).connect(ctx.destination);
        osc.start(start + offset);
        osc.stop(start + offset + 0.15);
      }
      this.beeps = (this.beeps ?? 0) + 1;
    } catch {
      // No sound: the panel and the badge still say it.
    }
  }

  render_badge() {
    this.badge.hidden = this.log.unread === 0;
    this.badge.textContent = this.log.unread > 99 ? "99+" : String(this.log.unread);
    this.button.classList.toggle("ringing", this.log.unread > 0);
  }

  render() {
    this.render_badge();
    this.count.textContent = this.log.items.length ? String(this.log.items.length) : "";
    const rows = this.log.items.map((a) => {
      const li = element("li", "alarm-row");
      li.dataset.kind = String(a.kind);
      li.dataset.device = a.devid;
      li.dataset.channel = String(a.channel);
      const time = element("time", "alarm-time", a.at.toLocaleTimeString(locale(), { hour: "2-digit", minute: "2-digit", second: "2-digit" }));
      time.dateTime = a.at.toISOString();
      const mark = element("span", `alarm-mark kind-${ALARM_KINDS[a.kind] ?? "other"}`);
      mark.setAttribute("aria-hidden", "true");
      const text = element("span", "alarm-text");
      text.append(
        element("span", "alarm-kind", t(alarm_kind_key(a.kind))),
        element("span", "alarm-where", [a.camera_name || a.device_name, t("alarm.channel", { channel: a.channel + 1 })].join(" · ")),
      );
      if (a.camera_name) text.append(element("span", "alarm-device", a.device_name));
      li.append(mark, text, time);
      return li;
    });
    if (!rows.length) rows.push(element("li", "alarm-empty", t("alarm.empty")));
    this.list.replaceChildren(...rows);
    this.render_listening();
  }

  // ---- alarm output of the selected pane ----

  show_output(result) {
    const state = result?.state ?? "unknown";
    this.output_state.dataset.state = state;
    this.output_state.textContent = t(`alarm.output.${state}`, { pane: (result?.pane ?? 0) + 1 });
    this.output_button.textContent = t(state === "on" ? "alarm.output.switch-off" : "alarm.output.switch-on");
    this.output_button.disabled = state === "none" || state === "not-live";
  }

  async read_output() {
    this.output_state.dataset.state = "busy";
    this.show_output(await this.output.read());
  }

  async toggle_output() {
    this.output_button.disabled = true;
    this.output_state.dataset.state = "busy";
    const result = await this.output.toggle();
    this.show_output(result);
    if (result.state === "none") {
      this.dispatchEvent(new CustomEvent("note", { detail: { level: "warning", key: "alarm.output.none", params: { pane: result.pane + 1 } } }));
    }
  }
}
