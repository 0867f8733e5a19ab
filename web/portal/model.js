// The account as the page knows it: devices with their link state and last problem, cameras,
// and the camera list's groups. It is fed only by the control's CliCallBackMsg events; each
// event returns notes (what happened, in words the status line shows) and fires "change".
// No DOM here, so node can test it.

import { EV } from "./events.js";

// Link states of a device, as the tree shows them.
export const LINK = Object.freeze({ UNKNOWN: "unknown", CONNECTING: "connecting", ONLINE: "online", OFFLINE: "offline" });

// Tunnel status codes (nTag1 of event 256, nTag2 of HTTP_URL_RES).
const TUNNEL_TRYING = 0;
const TUNNEL_UP = 1;
const TUNNEL_NOT_FOUND = -1;
const TUNNEL_FAILED = -2;
const TUNNEL_CUT = -3;
const TUNNEL_OFFLINE = -4;
const TUNNEL_KEY_REFUSED = -5;

// nTag2 of HTTP_URL_RES when the local port for the device page is taken.
const WEB_PORT_IN_USE = 10;

// status_sp values the account keeps for a device.
const STATUS_SP_LOGIN_REFUSED = 2;
const STATUS_SP_TUNNEL_FAILED = 3;
const STATUS_SP_PASSWORD_REFUSED = 4;

// The key of the text that explains a failed cloud request (an HTTP status or a transport code).
export function cloud_error_key(code) {
  if (code === 401) return "cloud.401";
  if (code === 403) return "cloud.403";
  if (code === 404) return "cloud.404";
  if (code >= 100) return "cloud.http";
  if (code === -1) return "cloud.unreadable";
  if (code === -4612) return "cloud.connect";
  if (code === -4613) return "cloud.timeout";
  if (code === -4616 || code === -4617) return "cloud.reply";
  return "cloud.other";
}

// Texts in events may carry the rest of a fixed-size buffer after the terminating zero.
function clean(text) {
  const s = String(text ?? "");
  const zero = s.indexOf("\0");
  return zero >= 0 ? s.slice(0, zero) : s;
}

function parse_json(text) {
  try {
    return JSON.parse(clean(text));
  } catch {
    return null;
  }
}

function new_device(id) {
  return {
    id,
    name: "",
    model: "",
    vendor: "",
    user: "",
    pass: "",
    port: 0,
    http_port: 0,
    status_sp: 0,
    channels: [],
    link: LINK.UNKNOWN,
    problem: null, // "password", "tunnel", "login", "description", "tunnel-key"
    login_code: 0,
    verified: false,
    listed: false, // named by the account's device list
  };
}

export class AccountModel extends EventTarget {
  constructor() {
    super();
    this.reset();
  }

  reset() {
    this.devices = new Map();
    this.cameras = new Map();
    this.groups = { name: "", groups: [], cams: [] };
    this.described = new Map(); // device id -> camera summaries from its description
    this.loaded = { devices: false, cameras: false };
    this.web_url = "";
    this.changed();
  }

  changed() {
    this.dispatchEvent(new Event("change"));
  }

  device_name(id) {
    const d = this.devices.get(id);
    return d && d.name ? d.name : id;
  }

  camera_name(id) {
    const c = this.cameras.get(id);
    return c && c.name ? c.name : id;
  }

  // The device entry, created when an event names a device before the list did.
  device(id) {
    let d = this.devices.get(id);
    if (!d) {
      d = new_device(id);
      this.devices.set(id, d);
    }
    return d;
  }

  summary() {
    let online = 0;
    let total = 0;
    for (const d of this.devices.values()) {
      if (!d.listed) continue;
      total += 1;
      if (d.link === LINK.ONLINE) online += 1;
    }
    return { online, total };
  }

  // What the page keeps across a reload: per device, what only events could tell.
  snapshot() {
    const devices = {};
    for (const d of this.devices.values()) {
      devices[d.id] = { link: d.link, problem: d.problem, login_code: d.login_code, verified: d.verified };
    }
    return { devices };
  }

  restore(snapshot) {
    for (const [id, s] of Object.entries(snapshot?.devices ?? {})) {
      const d = this.device(id);
      if (d.link === LINK.UNKNOWN) d.link = s.link ?? LINK.UNKNOWN;
      d.problem ??= s.problem ?? null;
      d.login_code ||= s.login_code ?? 0;
      d.verified ||= Boolean(s.verified);
    }
    this.changed();
  }

  // Applies one CliCallBackMsg (its named arguments) and returns the notes it gives.
  apply(ev) {
    const notes = [];
    const info = clean(ev.szInfo);
    switch (ev.nID) {
      case EV.P2P_CONNECTED:
        this.tunnel_status(info, ev.nTag1, notes);
        break;
      case EV.HTTP_URL:
        this.http_url(ev, info, notes);
        break;
      case EV.ADD_DEV:
        this.add_result(info, ev.nTag2, notes);
        break;
      case EV.LOGIN:
        this.login_result(info, ev.nTag2, notes);
        break;
      case EV.DEVICE_DESCRIPTION:
        if (ev.nTag1 !== 0) notes.push({ level: "warning", key: "event.description-failed" });
        else if (info) this.description(info, notes);
        break;
      case EV.DEV_LIST:
        if (ev.nTag1 !== 0) notes.push(this.cloud_failure(ev.nTag1));
        else this.device_list(info, notes);
        break;
      case EV.CAM_LIST:
        if (ev.nTag1 !== 0) notes.push(this.cloud_failure(ev.nTag1));
        else this.camera_list(info, notes);
        break;
      case EV.LIST_SERIALS:
        // 0 to 3 say which lists changed; anything else is the failed request's outcome.
        if (ev.nTag1 < 0 || ev.nTag1 > 3) notes.push(this.cloud_failure(ev.nTag1));
        break;
      case EV.DEV_LIST_SAVED:
      case EV.CAM_LIST_SAVED:
        if (ev.nTag1 !== 0) {
          const failure = this.cloud_failure(ev.nTag1);
          notes.push({
            level: "warning",
            key: "cloud.save-failed",
            params: { list: ev.nID === EV.DEV_LIST_SAVED ? "cloud.list.devices" : "cloud.list.cameras", reason: failure },
            nested: ["list", "reason"],
          });
        }
        break;
      case EV.LIVE_STARTED:
        if (ev.nTag2 === 0) {
          notes.push({ level: "success", key: "event.live-started", params: { camera: this.camera_name(info), pane: ev.nTag1 + 1 } });
        } else {
          notes.push({ level: "error", key: "event.live-failed", params: { camera: this.camera_name(info), code: ev.nTag2 } });
        }
        break;
      case EV.LIVE_LOGIN_FAILED:
        notes.push({ level: "error", key: "event.live-login-failed", params: { camera: this.camera_name(info), code: ev.nTag2 } });
        break;
      case EV.PANE_CLOSED:
        notes.push({ level: "info", key: "event.pane-closed", params: { pane: ev.nTag1 + 1 } });
        break;
      case EV.SNAPSHOT:
        notes.push({ level: "info", key: "event.snapshot", params: { pane: ev.nTag1 + 1 } });
        break;
      default:
        break;
    }
    return notes;
  }

  cloud_failure(code) {
    return { level: "error", key: cloud_error_key(code), params: { code }, kind: "cloud-error", code };
  }

  set_link(d, link) {
    if (d.link === link) return false;
    d.link = link;
    if (link === LINK.ONLINE && (d.problem === "tunnel" || d.problem === "tunnel-key")) d.problem = null;
    this.changed();
    return true;
  }

  tunnel_status(id, status, notes) {
    if (!id) return;
    const d = this.device(id);
    const device = this.device_name(id);
    switch (status) {
      case TUNNEL_UP:
        if (this.set_link(d, LINK.ONLINE)) notes.push({ level: "success", key: "event.online", params: { device }, device: id });
        break;
      case TUNNEL_OFFLINE:
        if (this.set_link(d, LINK.OFFLINE)) notes.push({ level: "error", key: "event.offline", params: { device }, device: id });
        break;
      case TUNNEL_TRYING:
        if (d.link !== LINK.ONLINE && this.set_link(d, LINK.CONNECTING)) {
          notes.push({ level: "info", key: "event.connecting", params: { device }, device: id });
        }
        break;
      case TUNNEL_CUT:
        this.set_link(d, LINK.CONNECTING);
        notes.push({ level: "warning", key: "event.tunnel-cut", params: { device }, device: id });
        break;
      case TUNNEL_FAILED:
        d.problem = "tunnel";
        this.set_link(d, LINK.OFFLINE);
        this.changed();
        notes.push({ level: "error", key: "event.tunnel-failed", params: { device }, device: id });
        break;
      case TUNNEL_KEY_REFUSED:
        d.problem = "tunnel-key";
        this.set_link(d, LINK.OFFLINE);
        this.changed();
        notes.push({ level: "error", key: "event.tunnel-key", params: { device }, device: id });
        break;
      case TUNNEL_NOT_FOUND:
        if (this.set_link(d, LINK.OFFLINE)) notes.push({ level: "warning", key: "event.tunnel-missing", params: { device }, device: id });
        break;
      default:
        break;
    }
  }

  http_url(ev, info, notes) {
    if (ev.nTag2 === TUNNEL_UP) {
      this.web_url = info;
      notes.push({ level: "info", key: "event.web-url", params: { url: info } });
    } else if (ev.nTag2 === WEB_PORT_IN_USE) {
      notes.push({ level: "warning", key: "event.web-port-busy", params: { port: ev.nTag1 } });
    } else if (ev.nTag2 === TUNNEL_OFFLINE || ev.nTag2 === TUNNEL_NOT_FOUND) {
      // The device's tunnel reports it offline at once; event 256 follows only when it stays
      // offline for a while, so this is the first word the page gets.
      this.tunnel_status(info, ev.nTag2, notes);
    }
  }

  add_result(id, result, notes) {
    if (!id) return;
    const d = this.device(id);
    const device = this.device_name(id);
    switch (result) {
      case 1:
        d.verified = true;
        d.problem = null;
        d.login_code = 0;
        d.link = LINK.ONLINE;
        notes.push({ level: "success", key: "event.added", params: { device }, device: id });
        break;
      case -2:
        d.problem = "description";
        notes.push({ level: "warning", key: "event.add.description", params: { device }, device: id });
        break;
      case -3:
        d.problem = "tunnel";
        d.verified = false;
        notes.push({ level: "error", key: d.link === LINK.OFFLINE ? "event.add.offline" : "event.add.tunnel", params: { device }, device: id });
        if (d.link !== LINK.ONLINE) d.link = LINK.OFFLINE;
        break;
      case -4:
        d.problem = "password";
        d.verified = false;
        notes.push({ level: "error", key: "event.add.password-after-tunnel", params: { device }, device: id });
        break;
      case -5:
        d.problem = "password";
        d.verified = false;
        notes.push({ level: "error", key: "event.add.password", params: { device }, device: id });
        break;
      default:
        d.problem = "login";
        d.verified = false;
        notes.push({ level: "error", key: "event.add.login", params: { device }, device: id });
        break;
    }
    this.changed();
  }

  login_result(id, result, notes) {
    if (!id) return;
    const d = this.device(id);
    const device = this.device_name(id);
    if (result === -3) {
      notes.push({ level: "warning", key: "event.login.tunnel-or-password", params: { device }, device: id });
    } else if (result === -1) {
      notes.push({ level: "warning", key: "event.login.tunnel", params: { device }, device: id });
    } else if (result !== 0) {
      d.login_code = result;
      d.problem = result === 1 || result === 2 ? "password" : "login";
      this.changed();
      const reason = result >= 1 && result <= 10 ? `login.${result}` : "login.other";
      notes.push({ level: "error", key: "event.login.code", params: { device, reason, code: result }, nested: ["reason"], device: id });
    }
  }

  device_list(text, notes) {
    const doc = parse_json(text);
    if (!doc || typeof doc !== "object") return;
    const devs = Array.isArray(doc.devs) ? doc.devs : [];
    for (const item of devs) {
      if (!item || typeof item.dev_id !== "string" || !item.dev_id) continue;
      const d = this.device(item.dev_id);
      const first_listing = !d.listed;
      d.listed = true;
      if (typeof item.name === "string") d.name = item.name;
      if (typeof item.model === "string") d.model = item.model;
      if (typeof item.vendor === "string") d.vendor = item.vendor;
      if (typeof item.dev_user === "string") d.user = item.dev_user;
      if (typeof item.dev_pass === "string") d.pass = item.dev_pass;
      if (Number.isInteger(item.dev_port)) d.port = item.dev_port;
      if (Number.isInteger(item.dev_http_port)) d.http_port = item.dev_http_port;
      if (Number.isInteger(item.status_sp)) d.status_sp = item.status_sp;
      if (Array.isArray(item.channels)) d.channels = item.channels.filter((c) => typeof c === "string");
      // What the account remembers about the device stands until the control says otherwise.
      if (first_listing && d.problem === null && !d.verified) {
        if (d.status_sp === STATUS_SP_TUNNEL_FAILED) d.problem = "tunnel";
        else if (d.status_sp === STATUS_SP_PASSWORD_REFUSED || d.status_sp === STATUS_SP_LOGIN_REFUSED) d.problem = "password";
      }
      if (d.link === LINK.UNKNOWN) d.link = LINK.CONNECTING;
    }
    const first = !this.loaded.devices;
    this.loaded.devices = true;
    this.changed();
    this.dispatchEvent(new CustomEvent("devices-listed", { detail: { first } }));
  }

  camera_list(text) {
    const doc = parse_json(text);
    if (!doc || typeof doc !== "object") return;
    this.cameras = new Map();
    const seen_channels = new Set();
    const walk = (node, name) => {
      const group = { name, groups: [], cams: [] };
      for (const child of Array.isArray(node.groups) ? node.groups : []) {
        if (child && typeof child === "object") group.groups.push(walk(child, typeof child.name === "string" ? child.name : ""));
      }
      for (const cam of Array.isArray(node.cams) ? node.cams : []) {
        if (!cam || typeof cam.id !== "string" || !cam.id) continue;
        // A channel named twice (the account may hold a camera under its list identifier and
        // again under the identifier the device reports) is shown once, where it first stands.
        const channel = `${cam.devid}\u0000${cam.chlid}`;
        if (typeof cam.devid === "string" && Number.isInteger(cam.chlid)) {
          if (seen_channels.has(channel)) continue;
          seen_channels.add(channel);
        }
        this.cameras.set(cam.id, {
          id: cam.id,
          name: typeof cam.name === "string" ? cam.name : "",
          devid: typeof cam.devid === "string" ? cam.devid : "",
          chlid: Number.isInteger(cam.chlid) ? cam.chlid : 0,
          ptz: cam.ptz ? 1 : 0,
          type: Number.isInteger(cam.type) ? cam.type : 0,
          shared: cam.shared ? 1 : 0,
        });
        group.cams.push(cam.id);
      }
      return group;
    };
    this.groups = walk(doc, "");
    for (const [devid, cams] of this.described) this.add_described(devid, cams);
    this.loaded.cameras = true;
    this.changed();
  }

  // A device's description names its channels; a channel the camera list lacks is shown
  // ungrouped.
  description(text, notes) {
    const doc = parse_json(text);
    if (!doc || typeof doc.dev_id !== "string") return;
    const cams = Array.isArray(doc.camlist) ? doc.camlist : [];
    this.described.set(doc.dev_id, cams);
    this.add_described(doc.dev_id, cams);
    notes.push({
      level: "info",
      key: (Number.isInteger(doc.chls) ? doc.chls : cams.length) === 1 ? "event.description-one" : "event.description",
      params: { device: this.device_name(doc.dev_id), count: Number.isInteger(doc.chls) ? doc.chls : cams.length },
      device: doc.dev_id,
    });
    this.changed();
  }

  add_described(devid, cams) {
    for (const cam of cams) {
      if (!cam || typeof cam.cam_id !== "string") continue;
      if (this.cameras.has(cam.cam_id)) continue;
      const taken = [...this.cameras.values()].some((c) => c.devid === devid && c.chlid === cam.chlid);
      if (taken) continue;
      this.cameras.set(cam.cam_id, {
        id: cam.cam_id,
        name: typeof cam.name === "string" ? cam.name : "",
        devid,
        chlid: Number.isInteger(cam.chlid) ? cam.chlid : 0,
        ptz: 0,
        type: 0,
        shared: 0,
      });
      this.groups.cams.push(cam.cam_id);
    }
  }

  // The cameras of one device, in channel order.
  cameras_of(devid) {
    return [...this.cameras.values()].filter((c) => c.devid === devid).sort((a, b) => a.chlid - b.chlid);
  }
}
