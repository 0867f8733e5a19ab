// The side panel: the account's cameras, grouped as the camera list groups them, and its
// devices, each with its link state kept live from the model. A double click (or Enter) on a
// camera asks for it to be played ("play" event).

import { t } from "./i18n.js";
import { LINK } from "./model.js";
import { CAMERA_DRAG_TYPE } from "./live.js";

// Search compares without case and accents: "deposito" finds "Depósito".
export function fold(text) {
  return String(text ?? "").normalize("NFD").replace(/\p{Diacritic}/gu, "").toLocaleLowerCase();
}

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

// The words and the look of a device's state.
export function device_state(d) {
  if (!d) return { tone: "unknown", label: t("device.unknown") };
  if (d.link === LINK.OFFLINE) {
    return { tone: "offline", label: d.problem === "tunnel-key" ? t("device.problem.tunnel-key") : t("device.offline") };
  }
  if (d.problem === "password" || d.problem === "login" || d.problem === "tunnel-key") {
    return { tone: "problem", label: t(`device.problem.${d.problem}`) };
  }
  if (d.link === LINK.ONLINE) return { tone: "online", label: t("device.online") };
  if (d.link === LINK.CONNECTING) return { tone: "connecting", label: t("device.connecting") };
  return { tone: "unknown", label: t("device.unknown") };
}

export class Tree extends EventTarget {
  constructor(root, model) {
    super();
    this.root = root;
    this.model = model;
    this.search = root.querySelector(".tree-search");
    this.cameras = root.querySelector(".camera-tree");
    this.devices = root.querySelector(".device-list");
    this.camera_count = root.querySelector(".camera-count");
    this.device_count = root.querySelector(".device-count");
    this.collapsed = new Set();
    this.selected = "";
    this.loading = false;
    this.search.addEventListener("input", () => this.render());
    model.addEventListener("change", () => this.schedule());
    this.render();
  }

  set_loading(loading) {
    this.loading = loading;
    this.render();
  }

  schedule() {
    if (this.scheduled) return;
    this.scheduled = true;
    queueMicrotask(() => {
      this.scheduled = false;
      this.render();
    });
  }

  query() {
    return fold(this.search.value.trim());
  }

  camera_matches(cam, q) {
    if (!q) return true;
    const dev = this.model.devices.get(cam.devid);
    return [cam.name, cam.id, dev?.name, cam.devid].some((s) => s && fold(s).includes(q));
  }

  render() {
    const q = this.query();
    const focused = document.activeElement?.closest?.("[data-camera-id], [data-device-id]");
    const focus_key = focused ? focused.dataset.cameraId ?? "dev:" + focused.dataset.deviceId : "";
    this.render_cameras(q);
    this.render_devices(q);
    if (focus_key) {
      const again = focus_key.startsWith("dev:")
        ? this.devices.querySelector(`[data-device-id="${CSS.escape(focus_key.slice(4))}"]`)
        : this.cameras.querySelector(`[data-camera-id="${CSS.escape(focus_key)}"]`);
      again?.focus({ preventScroll: true });
    }
  }

  render_cameras(q) {
    const m = this.model;
    this.camera_count.textContent = m.loaded.cameras ? String(m.cameras.size) : "";
    const list = element("ul", "tree-level");
    list.setAttribute("role", "group");
    const shown = this.group_nodes(m.groups, "", q, list);
    if (!m.loaded.cameras) {
      this.cameras.replaceChildren(element("p", "tree-empty", this.loading ? t("tree.loading") : ""));
      return;
    }
    if (shown === 0) {
      this.cameras.replaceChildren(element("p", "tree-empty", q ? t("tree.no-match", { query: this.search.value.trim() }) : t("tree.empty")));
      return;
    }
    this.cameras.replaceChildren(list);
  }

  // Appends the groups and cameras of `group` to `list`; returns how many cameras it showed.
  group_nodes(group, path, q, list) {
    let shown = 0;
    for (const [i, child] of group.groups.entries()) {
      const key = `${path}/${i}:${child.name}`;
      const li = element("li", "tree-group");
      li.setAttribute("role", "treeitem");
      const open = q !== "" || !this.collapsed.has(key);
      li.setAttribute("aria-expanded", String(open));
      const head = element("button", "tree-group-head");
      head.type = "button";
      head.append(element("span", "chevron", "›"), element("span", "group-name", child.name || t("tree.ungrouped")));
      const count = element("span", "group-count");
      head.append(count);
      head.addEventListener("click", () => {
        if (this.collapsed.has(key)) this.collapsed.delete(key);
        else this.collapsed.add(key);
        this.render();
      });
      const sub = element("ul", "tree-level");
      sub.setAttribute("role", "group");
      const n = this.group_nodes(child, key, q, sub);
      count.textContent = String(n);
      if (n === 0 && q) continue;
      li.append(head);
      if (open) li.append(sub);
      list.append(li);
      shown += n;
    }
    for (const id of group.cams) {
      const cam = this.model.cameras.get(id);
      if (!cam || !this.camera_matches(cam, q)) continue;
      list.append(this.camera_node(cam));
      shown += 1;
    }
    return shown;
  }

  camera_node(cam) {
    const dev = this.model.devices.get(cam.devid);
    const state = device_state(dev);
    const li = element("li", "tree-camera");
    li.setAttribute("role", "treeitem");
    li.tabIndex = 0;
    li.dataset.cameraId = cam.id;
    li.dataset.link = dev?.link ?? LINK.UNKNOWN;
    li.dataset.tone = state.tone;
    li.title = t("tree.camera-hint");
    if (this.selected === cam.id) li.setAttribute("aria-selected", "true");
    const icon = element("span", "camera-icon");
    icon.setAttribute("aria-hidden", "true");
    const text = element("span", "camera-text");
    text.append(element("span", "camera-name", cam.name || cam.id), element("span", "camera-device", dev?.name || cam.devid));
    const badges = element("span", "camera-badges");
    if (cam.ptz) badges.append(element("span", "badge-ptz", "PTZ"));
    const dot = element("span", `dot tone-${state.tone}`);
    dot.title = state.label;
    dot.setAttribute("aria-label", state.label);
    li.append(icon, text, badges, dot);
    this.decorate_camera?.(li, cam);
    li.addEventListener("click", () => this.select(cam.id));
    li.addEventListener("dblclick", () => this.play(cam.id));
    // Dragged onto a pane of the wall, it starts there.
    li.draggable = true;
    li.addEventListener("dragstart", (e) => {
      e.dataTransfer.setData(CAMERA_DRAG_TYPE, cam.id);
      e.dataTransfer.setData("text/plain", cam.name || cam.id);
      e.dataTransfer.effectAllowed = "copy";
      this.select(cam.id);
    });
    li.addEventListener("keydown", (e) => {
      if (e.key === "Enter") this.play(cam.id);
    });
    return li;
  }

  select(id) {
    this.selected = id;
    for (const el of this.cameras.querySelectorAll("[aria-selected]")) el.removeAttribute("aria-selected");
    this.cameras.querySelector(`[data-camera-id="${CSS.escape(id)}"]`)?.setAttribute("aria-selected", "true");
    this.dispatchEvent(new CustomEvent("select", { detail: { camera: id } }));
  }

  play(id) {
    this.select(id);
    this.dispatchEvent(new CustomEvent("play", { detail: { camera: id } }));
  }

  render_devices(q) {
    const m = this.model;
    const devices = [...m.devices.values()].filter((d) => d.listed);
    const { online, total } = m.summary();
    this.device_count.textContent = m.loaded.devices ? t("tree.online-count", { online, total }) : "";
    if (!m.loaded.devices) {
      this.devices.replaceChildren();
      return;
    }
    const list = element("ul", "device-rows");
    for (const d of devices) {
      if (q && ![d.name, d.id, d.model].some((s) => s && fold(s).includes(q))) continue;
      list.append(this.device_node(d));
    }
    if (!list.childElementCount) {
      this.devices.replaceChildren(element("p", "tree-empty", q ? "" : t("tree.no-devices")));
      return;
    }
    this.devices.replaceChildren(list);
  }

  device_node(d) {
    const state = device_state(d);
    const li = element("li", "device-row");
    li.tabIndex = 0;
    li.dataset.deviceId = d.id;
    li.dataset.link = d.link;
    li.dataset.tone = state.tone;
    if (d.problem) li.dataset.problem = d.problem;
    const dot = element("span", `dot tone-${state.tone}`);
    dot.setAttribute("aria-hidden", "true");
    const text = element("span", "device-text");
    const channels = this.model.cameras_of(d.id).length || d.channels.length;
    // The device's own description may report its name as its model: say it once.
    const model = d.model && d.model !== d.name ? d.model : "";
    const meta = [model, d.id, channels === 1 ? t("tree.channel") : channels > 1 ? t("tree.channels", { count: channels }) : ""]
      .filter(Boolean)
      .join(" · ");
    text.append(element("span", "device-name", d.name || d.id), element("span", "device-meta", meta));
    const pill = element("span", `pill tone-${state.tone}`, state.label);
    li.append(dot, text, pill);
    if (d.link === LINK.ONLINE && channels > 0) {
      const all = element("button", "icon-button small play-device");
      all.type = "button";
      all.title = t("tree.play-device");
      all.setAttribute("aria-label", t("tree.play-device"));
      all.innerHTML = '<svg viewBox="0 0 24 24" width="16" height="16" aria-hidden="true"><path d="M8 5v14l11-7z" fill="currentColor"/></svg>';
      all.addEventListener("click", (e) => {
        e.stopPropagation();
        this.dispatchEvent(new CustomEvent("play-device", { detail: { device: d.id } }));
      });
      li.insertBefore(all, pill);
    }
    return li;
  }
}
