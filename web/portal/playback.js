// The playback view ("Reprodução"): a camera, the month's days with recordings, the chosen day's
// recordings as a list and as a timeline, the transport (play/pause, speeds, 10 s skips, stop)
// and the export of a span as MP4. The control draws the video in its playback pane, which the
// page shows in the same canvas as the live wall; everything else is drawn here from the
// control's answers. The control says nothing while a playback runs, so the page keeps the
// playing time itself (play_clock.js).

import { t, locale } from "./i18n.js";
import { EV } from "./events.js";
import { CAMERA_DRAG_TYPE } from "./live.js";
import { LINK } from "./model.js";
import { CalendarView } from "./rec_calendar.js";
import { MonthStatus, RecordSearch, record_type_key, playable_from, record_at } from "./rec_search.js";
import { TimelineView } from "./timeline.js";
import { PlayClock, speed_text, SPEEDS, NORMAL } from "./play_clock.js";
import { ExportFlow, export_length } from "./export_flow.js";
import { DAY, clock_seconds, clock_parts, format_time, clock_text, parse_clock, size_text, duration_text } from "./rec_time.js";

// Control commands of CliControlPlaybackDev.
const CMD = Object.freeze({ NORMAL: 0, PAUSE: 1, FASTER: 2, SLOWER: 3, BACK: 4, FORWARD: 5 });
const PANE = 0; // the control has one playback pane; the index is only traced
// A question with no answer at all means the device could not be logged in (the control raises
// nothing then): say so instead of waiting for ever.
const ANSWER_MS = 20000;
const TICK_MS = 200;
// The control converts and saves the file once the person has chosen its name; a conversion
// that fails saves nothing and says nothing, so the page stops waiting after this long.
const SAVE_MS = 120000;

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

function clean(text) {
  const s = String(text ?? "");
  const zero = s.indexOf("\0");
  return zero >= 0 ? s.slice(0, zero) : s;
}

function date_text(seconds) {
  return new Intl.DateTimeFormat(locale(), { day: "2-digit", month: "2-digit", year: "numeric", timeZone: "UTC" }).format(new Date(seconds * 1000));
}

function long_date_text(seconds) {
  return new Intl.DateTimeFormat(locale(), { weekday: "short", day: "numeric", month: "long", timeZone: "UTC" }).format(new Date(seconds * 1000));
}

// Today on the browser's wall clock, which is the devices' clock in this product.
function today() {
  const now = new Date();
  return { year: now.getFullYear(), month: now.getMonth() + 1, day: now.getDate() };
}

export class PlaybackView extends EventTarget {
  constructor({ call, bar, surface, model, tree, site, bridge, report, stage, title }) {
    super();
    this.call = call;
    this.bar = bar;
    this.surface = surface;
    this.model = model;
    this.tree = tree;
    this.report = report;
    this.stage = stage;
    this.title = title;
    this.side = stage.querySelector("#pb-side");
    this.transport = stage.querySelector("#pb-transport");
    this.$ = (selector) => stage.querySelector(selector);

    this.camera = "";
    this.day = null; // clock seconds of the chosen day's midnight
    this.month_q = null;
    this.search = null;
    this.records = [];
    this.clock = new PlayClock();
    this.play_state = "stopped"; // stopped | playing | paused | ended
    this.cursor = null; // clock seconds of the playing (or last played) time
    this.start_edited = false;
    this.flow = new ExportFlow();
    this.shown = false;
    this.ticker = 0;
    this.month_timer = 0;
    this.search_timer = 0;
    this.save_timer = 0;

    const t0 = today();
    this.calendar = new CalendarView(this.$(".calendar"), {
      locale: locale(),
      texts: { previous: t("pb.month-prev"), next: t("pb.month-next"), recorded: t("pb.day-recorded") },
    });
    this.calendar.set_today(t0);
    this.calendar.shown = { year: t0.year, month: t0.month };
    this.calendar.render();
    this.calendar.addEventListener("month", () => this.ask_month());
    this.calendar.addEventListener("day", (e) => this.choose_day(e.detail));

    this.timeline = new TimelineView(this.$("#pb-timeline"), { label: this.$(".pb-hover-time") });
    this.timeline.addEventListener("seek", (e) => this.play_from(e.detail.time));

    this.bind_controls();
    this.bind_export(site, bridge);
    this.bind_camera_drop();
    this.bind_keys();
    bar.addEventListener("page", (e) => (e.detail.page === 1 ? this.enter() : this.leave()));
    tree.addEventListener("select", (e) => {
      if (this.shown) this.choose_camera(e.detail.camera);
    });
    model.addEventListener("change", () => this.render_camera());
    this.render_all();
  }

  // ---- page ----

  enter() {
    if (this.shown) return;
    this.shown = true;
    this.stage.classList.add("playback");
    this.side.hidden = false;
    this.transport.hidden = false;
    this.$(".pb-camera").hidden = false;
    this.title.textContent = t("pb.title");
    const t0 = today();
    this.calendar.set_today(t0);
    // Coming back finds what was recorded meanwhile.
    if (!this.camera && this.tree.selected) this.choose_camera(this.tree.selected);
    else if (this.camera) {
      this.ask_month();
      if (this.day !== null) this.search_day();
    }
    if (this.day === null) {
      this.calendar.choose(t0);
      this.choose_day(t0);
    }
    this.render_all();
    this.ticker = setInterval(() => this.tick(), TICK_MS);
  }

  // Back to the live wall: the control stops the playback when it leaves its playback page; the
  // page says so too, so nothing keeps playing unseen. A running export goes on (its save dialog
  // still comes).
  leave() {
    if (!this.shown) return;
    this.shown = false;
    this.stage.classList.remove("playback");
    this.side.hidden = true;
    this.transport.hidden = true;
    this.$(".pb-camera").hidden = true;
    this.$("#pb-hint").hidden = true;
    this.title.textContent = t("wall.title");
    clearInterval(this.ticker);
    if (this.play_state !== "stopped") this.call("CliStopPlaybackDev", [PANE]);
    this.set_stopped();
  }

  // ---- camera, month, day ----

  choose_camera(camera) {
    if (!camera || camera === this.camera) return;
    if (this.play_state !== "stopped") this.stop();
    this.camera = camera;
    this.records = [];
    this.search = null;
    this.cursor = null;
    this.render_camera();
    this.ask_month();
    if (this.day !== null) this.search_day();
    this.render_all();
  }

  camera_record() {
    return this.model.cameras.get(this.camera) ?? null;
  }

  async ask_month() {
    clearTimeout(this.month_timer);
    const cam = this.camera_record();
    if (!cam) {
      this.month_q = null;
      this.calendar.set_marks(null, "idle");
      this.render_month_note();
      return;
    }
    const { year, month } = this.calendar.shown;
    const q = new MonthStatus({ camera: this.camera, dev_id: cam.devid, chl_id: cam.chlid, year, month });
    this.month_q = q;
    this.calendar.set_marks(null, "asking");
    this.render_month_note();
    this.month_timer = setTimeout(() => {
      if (this.month_q === q && q.state === "asking") {
        q.fail("rec.err.timeout", 0);
        this.month_answered();
      }
    }, ANSWER_MS);
    await this.call("CliQueryRecordStatusDev", [this.camera, q.text]);
  }

  month_answered() {
    const q = this.month_q;
    clearTimeout(this.month_timer);
    this.calendar.set_marks(q.days, q.state);
    this.render_month_note();
    if (q.state === "failed") this.report({ level: "error", key: "pb.month-failed", params: { reason: t(q.error.key, { code: q.error.code }) } });
  }

  choose_day({ year, month, day }) {
    const start = clock_seconds(year, month, day);
    if (start === this.day && this.search) return;
    if (this.play_state !== "stopped") this.stop();
    this.day = start;
    this.cursor = null;
    this.start_edited = false;
    this.search_day();
  }

  async search_day() {
    clearTimeout(this.search_timer);
    this.records = [];
    const cam = this.camera_record();
    if (!cam || this.day === null) {
      this.search = null;
      this.render_all();
      return;
    }
    const s = new RecordSearch({ camera: this.camera, dev_id: cam.devid, chl_id: cam.chlid, start: format_time(this.day), end: format_time(this.day + DAY - 1) });
    this.search = s;
    this.arm_search_timer(s);
    this.render_all();
    await this.call("CliQueryRecordDev", [this.camera, s.start, s.end]);
  }

  arm_search_timer(s) {
    clearTimeout(this.search_timer);
    this.search_timer = setTimeout(() => {
      if (this.search === s && s.state === "searching") {
        s.fail("rec.err.timeout", 0);
        this.searched();
      }
    }, ANSWER_MS);
  }

  searched() {
    const s = this.search;
    this.records = s.records;
    if (s.state === "searching") this.arm_search_timer(s);
    else clearTimeout(this.search_timer);
    if (s.state === "failed") this.report({ level: "error", key: "pb.records-failed", params: { reason: t(s.error.key, { code: s.error.code }) } });
    this.render_all();
  }

  // ---- the control's events ----

  on_callback(ev) {
    if (this.month_q?.accept(ev)) this.month_answered();
    if (this.search?.accept(ev)) this.searched();
    const camera = clean(ev.szInfo);
    if (ev.nID === EV.EXPORT_STARTED && camera === this.flow.camera) {
      this.flow.event("export", ev.nTag2, camera);
      this.render_export();
    }
    if (ev.nID === EV.LIVE_LOGIN_FAILED && camera === this.camera) {
      if (this.flow.busy) {
        this.flow.event("login", ev.nTag2, camera);
        this.render_export();
      } else if (this.play_state !== "stopped" && this.shown) {
        this.set_stopped();
        this.report({ level: "error", key: "pb.login-failed", params: { camera: this.model.camera_name(camera), code: ev.nTag2 } });
      }
    }
  }

  // ---- playing ----

  now() {
    return performance.now();
  }

  // The end of what the day holds: the playing time does not run past it.
  recorded_end() {
    if (!this.records.length) return Infinity;
    return Math.min(this.day + DAY, Math.max(...this.records.map((r) => r.end + 1)));
  }

  async play_from(time) {
    if (!this.camera || this.day === null) return;
    if (this.flow.busy) {
      this.report({ level: "warning", key: "pb.wait-export" });
      return;
    }
    const from = this.records.length ? playable_from(this.records, time) : time;
    if (from === null) {
      this.report({ level: "warning", key: "pb.nothing-after", params: { time: clock_text(time) } });
      return;
    }
    if (from !== time) this.report({ level: "info", key: "pb.gap", params: { time: clock_text(time), start: clock_text(from) } });
    // The control starts nothing while it holds a playback (also one an export ended), so the
    // page always stops first.
    await this.call("CliStopPlaybackDev", [PANE]);
    await this.call("CliStartPlaybackDev", [this.camera, format_time(from), PANE]);
    this.clock.start(from, this.now(), this.recorded_end());
    this.play_state = "playing";
    this.cursor = from;
    this.report({ level: "info", key: "pb.started", params: { camera: this.model.camera_name(this.camera), time: `${date_text(from)} ${clock_text(from)}` } });
    this.render_all();
  }

  async toggle() {
    if (this.play_state === "playing") {
      this.clock.pause(this.now());
      this.play_state = "paused";
      this.render_transport();
      await this.call("CliControlPlaybackDev", [PANE, CMD.PAUSE]);
    } else if (this.play_state === "paused") {
      // The device resumes at normal speed: the page asks for the chosen speed again.
      const speed = this.clock.speed;
      this.clock.resume(this.now());
      this.play_state = "playing";
      this.render_transport();
      await this.call("CliControlPlaybackDev", [PANE, CMD.NORMAL]);
      for (let i = NORMAL; i !== speed; i += Math.sign(speed - NORMAL)) {
        await this.call("CliControlPlaybackDev", [PANE, speed > NORMAL ? CMD.FASTER : CMD.SLOWER]);
      }
    } else {
      // From where the cursor stands; from the day's first recording after the end was reached.
      const first = Math.max(this.records[0]?.start ?? this.day, this.day);
      await this.play_from(this.play_state === "ended" || this.cursor === null ? first : this.cursor);
    }
  }

  async speed(direction) {
    if (this.play_state !== "playing" && this.play_state !== "paused") return;
    if (!this.clock.step(direction, this.now())) return;
    this.render_transport();
    await this.call("CliControlPlaybackDev", [PANE, direction > 0 ? CMD.FASTER : CMD.SLOWER]);
  }

  async normal_speed() {
    if (this.play_state !== "playing" && this.play_state !== "paused") return;
    // The device's normal speed also ends a pause.
    this.clock.normal(this.now());
    if (this.play_state === "paused") this.clock.resume(this.now());
    this.play_state = "playing";
    this.render_transport();
    await this.call("CliControlPlaybackDev", [PANE, CMD.NORMAL]);
  }

  async skip(direction) {
    if (this.play_state === "stopped" || this.play_state === "ended") {
      if (this.cursor !== null) this.cursor += direction * 10;
      this.render_all();
      return;
    }
    // The device restarts 10 s away, playing at normal speed.
    this.clock.skip(direction, this.now());
    this.play_state = "playing";
    this.tick();
    this.render_transport();
    await this.call("CliControlPlaybackDev", [PANE, direction > 0 ? CMD.FORWARD : CMD.BACK]);
  }

  async stop() {
    this.set_stopped();
    await this.call("CliStopPlaybackDev", [PANE]);
  }

  set_stopped() {
    if (this.play_state === "playing" || this.play_state === "paused") this.cursor = this.clock.position(this.now()) ?? this.cursor;
    this.clock.stop();
    this.play_state = "stopped";
    this.render_all();
  }

  tick() {
    if (this.play_state !== "playing" && this.play_state !== "paused") return;
    const at = this.now();
    this.cursor = this.clock.position(at);
    if (this.clock.ended(at)) {
      this.clock.pause(at);
      this.play_state = "ended";
    }
    this.render_time();
  }

  // ---- export ----

  async export_span() {
    const start_text = this.$(".pb-export-start").value;
    const seconds = parse_clock(start_text);
    const length = export_length(this.$(".pb-export-length").value);
    if (!this.camera || this.day === null) return this.export_problem("exp.need-day");
    if (seconds === null) return this.export_problem("exp.bad-start", ".pb-export-start");
    if (length === null) return this.export_problem("exp.bad-length", ".pb-export-length");
    const start = this.day + seconds;
    this.export_params = { start, length };
    this.flow.begin(this.camera);
    // The library stops a running playback when a download starts.
    if (this.play_state === "playing" || this.play_state === "paused") {
      this.set_stopped();
      this.report({ level: "info", key: "pb.stopped-by-export" });
    }
    this.render_export();
    const result = await this.call("CliStartBackup", [this.camera, format_time(start), length]);
    this.flow.started(typeof result === "number" ? result : null);
    this.render_export();
  }

  export_problem(key, field) {
    this.flow.reset();
    this.flow.fail(key);
    this.flow.error.plain = true;
    this.render_export();
    if (field) this.$(field).focus();
  }

  async cancel_export() {
    this.flow.cancel();
    this.render_export();
    await this.call("CliStopBackup", []);
  }

  bind_export(site, bridge) {
    const form = this.$(".pb-export-form");
    form.addEventListener("submit", (e) => {
      e.preventDefault();
      if (!this.flow.busy) this.export_span();
    });
    this.$(".pb-export-cancel").addEventListener("click", () => this.cancel_export());
    this.$(".pb-export-start").addEventListener("input", () => (this.start_edited = true));
    this.$(".pb-export-cursor").addEventListener("click", () => {
      this.start_edited = false;
      this.render_time();
    });
    bridge.addEventListener("site", (e) => {
      const m = e.detail;
      if (m.kind === "save_dialog" && this.flow.busy) {
        this.flow.dialog_opened();
        this.render_export();
      }
      if (m.kind === "download" && this.flow.busy) {
        this.flow.downloaded(m.name);
        this.render_export();
      }
    });
    site.addEventListener("answered", (e) => {
      if (e.detail.kind !== "save_dialog") return;
      this.flow.dialog_answered(e.detail.cancelled ? { chosen: false } : e.detail.value);
      this.render_export();
      clearTimeout(this.save_timer);
      if (this.flow.state === "saving") {
        this.save_timer = setTimeout(() => {
          if (this.flow.state !== "saving") return;
          this.flow.fail("exp.err.no-file");
          this.render_export();
        }, SAVE_MS);
      }
    });
  }

  // ---- input ----

  bind_controls() {
    this.$(".pb-toggle").addEventListener("click", () => this.toggle());
    this.$(".pb-back").addEventListener("click", () => this.skip(-1));
    this.$(".pb-forward").addEventListener("click", () => this.skip(1));
    this.$(".pb-stop").addEventListener("click", () => this.stop());
    this.$(".pb-slower").addEventListener("click", () => this.speed(-1));
    this.$(".pb-faster").addEventListener("click", () => this.speed(1));
    this.$(".pb-speed-value").addEventListener("click", () => this.normal_speed());
  }

  // A camera dragged from the tree onto the camera card or onto the video.
  bind_camera_drop() {
    for (const target of [this.$(".pb-camera"), this.surface.container]) {
      target.addEventListener("dragover", (e) => {
        if (!this.shown || !e.dataTransfer.types.includes(CAMERA_DRAG_TYPE)) return;
        e.preventDefault();
        e.dataTransfer.dropEffect = "copy";
        this.$(".pb-camera").classList.add("drop");
      });
      target.addEventListener("dragleave", () => this.$(".pb-camera").classList.remove("drop"));
      target.addEventListener("drop", (e) => {
        this.$(".pb-camera").classList.remove("drop");
        if (!this.shown) return;
        const camera = e.dataTransfer.getData(CAMERA_DRAG_TYPE);
        if (!camera) return;
        e.preventDefault();
        this.tree.select(camera);
        this.choose_camera(camera);
      });
    }
  }

  // Space plays or pauses, the arrows skip 10 s; typing in a field is left alone.
  bind_keys() {
    window.addEventListener("keydown", (e) => {
      if (!this.shown || e.ctrlKey || e.metaKey || e.altKey) return;
      // Fields, boxes, menus and the page's other buttons keep their own keys.
      if (e.target.closest?.("input, select, textarea, dialog, .menu-layer, [contenteditable], .topbar, .wall-toolbar, .pb-side, .log-panel")) return;
      const actions = { Space: () => this.toggle(), ArrowLeft: () => this.skip(-1), ArrowRight: () => this.skip(1) };
      const action = actions[e.code];
      if (!action) return;
      e.preventDefault();
      e.stopImmediatePropagation();
      if (!e.repeat || e.code !== "Space") action();
    }, { capture: true });
  }

  // ---- drawing ----

  render_all() {
    this.render_camera();
    this.render_month_note();
    this.render_records();
    this.render_transport();
    this.render_export();
  }

  render_camera() {
    const cam = this.camera_record();
    const dev = cam ? this.model.devices.get(cam.devid) : null;
    const box = this.$(".pb-camera");
    box.dataset.chosen = String(Boolean(this.camera));
    this.$(".pb-camera-name").textContent = this.camera ? this.model.camera_name(this.camera) : t("pb.camera-none");
    this.$(".pb-camera-device").textContent = cam ? `${this.model.device_name(cam.devid)} · ${t("pb.channel", { n: cam.chlid + 1 })}` : t("pb.camera-hint");
    const dot = this.$(".pb-camera .dot");
    const tone = !dev ? "unknown" : dev.link === LINK.ONLINE ? "online" : dev.link === LINK.OFFLINE ? "offline" : "connecting";
    dot.className = `dot tone-${tone}`;
    dot.hidden = !this.camera;
    box.title = dev?.link === LINK.OFFLINE ? t("pb.camera-offline") : "";
  }

  render_month_note() {
    const note = this.$(".pb-month-note");
    const q = this.month_q;
    note.dataset.level = "info";
    if (!this.camera) note.textContent = t("pb.pick-camera");
    else if (!q || q.state === "asking") note.textContent = t("pb.month-asking");
    else if (q.state === "failed") {
      note.dataset.level = "error";
      note.textContent = t("pb.month-failed", { reason: t(q.error.key, { code: q.error.code }) });
    } else if (q.days.size === 0) note.textContent = t("pb.month-none");
    else note.textContent = q.days.size === 1 ? t("pb.month-count-one") : t("pb.month-count", { count: q.days.size });
  }

  render_records() {
    const list = this.$(".pb-record-list");
    const note = this.$(".pb-records-note");
    const s = this.search;
    const total = this.records.reduce((sum, r) => sum + Math.min(r.end + 1, this.day + DAY) - Math.max(r.start, this.day), 0);
    const count = this.$(".pb-records-count");
    count.textContent = this.records.length ? (this.records.length === 1 ? t("pb.records-count-one", { duration: duration_text(total) }) : t("pb.records-count", { count: this.records.length, duration: duration_text(total) })) : "";
    count.title = this.day !== null ? long_date_text(this.day) : "";
    note.dataset.level = "info";
    note.hidden = false;
    if (!this.camera) note.textContent = t("pb.pick-camera");
    else if (this.day === null) note.textContent = t("pb.pick-day");
    else if (!s || (s.state === "searching" && !this.records.length)) {
      note.textContent = t("pb.records-asking");
      note.dataset.level = "busy";
    } else if (s.state === "failed") {
      note.dataset.level = "error";
      note.textContent = t("pb.records-failed", { reason: t(s.error.key, { code: s.error.code }) });
    } else if (!this.records.length) note.textContent = t("pb.records-none");
    else note.hidden = true;
    list.replaceChildren(...this.records.map((r, i) => this.record_row(r, i)));
    this.mark_current_record();
    this.timeline.set_day(this.day ?? 0, this.records);
    this.timeline.set_enabled(Boolean(this.camera) && this.day !== null);
  }

  record_row(r, index) {
    const li = element("li", "pb-record");
    li.dataset.index = String(index);
    li.dataset.type = String(r.type);
    const play = element("button", "pb-record-button");
    play.type = "button";
    play.title = t("pb.play-record", { time: clock_text(Math.max(r.start, this.day)) });
    const times = element("span", "pb-record-times", `${clock_text(r.start)} – ${clock_text(r.end)}`);
    const type = element("span", `pb-record-type type-${r.type}`, t(record_type_key(r.type)));
    const size = element("span", "pb-record-size", size_text(r.size, locale()));
    play.append(times, type, size);
    play.addEventListener("click", () => this.play_from(Math.max(r.start, this.day)));
    li.append(play);
    return li;
  }

  mark_current_record() {
    const current = this.cursor !== null ? record_at(this.records, Math.floor(this.cursor)) : null;
    const index = current ? this.records.indexOf(current) : -1;
    for (const li of this.$(".pb-record-list").children) {
      const on = Number(li.dataset.index) === index;
      if (on && li.getAttribute("aria-current") !== "true") {
        li.setAttribute("aria-current", "true");
        li.scrollIntoView({ block: "nearest" });
      } else if (!on) li.removeAttribute("aria-current");
    }
  }

  render_transport() {
    const state = this.play_state;
    const can_play = Boolean(this.camera) && this.day !== null && !this.flow.busy;
    const active = state === "playing" || state === "paused";
    const toggle = this.$(".pb-toggle");
    toggle.dataset.playing = String(state === "playing");
    toggle.disabled = !can_play;
    const label = t(state === "playing" ? "pb.pause" : "pb.play");
    toggle.title = label;
    toggle.setAttribute("aria-label", label);
    for (const sel of [".pb-back", ".pb-forward", ".pb-stop"]) this.$(sel).disabled = !active;
    this.$(".pb-slower").disabled = !active || this.clock.speed === 0;
    this.$(".pb-faster").disabled = !active || this.clock.speed === SPEEDS.length - 1;
    this.$(".pb-speed-value").disabled = !active;
    this.$(".pb-speed-value").textContent = speed_text(this.clock.speed);
    this.$(".pb-speed-value").dataset.normal = String(this.clock.speed === NORMAL);
    const badge = this.$(".pb-state");
    badge.dataset.state = state;
    badge.textContent = t(`pb.state.${state}`);
    this.transport.dataset.state = state;
    this.render_hint();
    this.render_time();
  }

  // Over the video, until something plays: what to do next.
  render_hint() {
    const hint = this.$("#pb-hint");
    // A failed search says why in the side panel; nothing to point at then.
    const idle = this.play_state === "stopped" && this.cursor === null && this.search?.state !== "failed";
    hint.hidden = !this.shown || !idle;
    this.$(".pb-hint-text").textContent = t(!this.camera ? "pb.hint-camera" : this.day === null ? "pb.pick-day" : "pb.hint-play");
  }

  render_time() {
    const cursor = this.cursor;
    this.$(".pb-time").textContent = cursor === null ? "--:--:--" : clock_text(cursor);
    this.$(".pb-date").textContent = cursor === null ? (this.day !== null ? date_text(this.day) : "") : date_text(cursor);
    this.timeline.set_cursor(cursor === null ? null : Math.floor(cursor));
    const slider = this.$("#pb-timeline");
    slider.setAttribute("aria-valuemin", "0");
    slider.setAttribute("aria-valuemax", String(DAY - 1));
    slider.setAttribute("aria-valuenow", String(cursor === null || this.day === null ? 0 : Math.max(0, Math.floor(cursor - this.day))));
    slider.setAttribute("aria-valuetext", cursor === null ? "" : clock_text(cursor));
    const start = this.$(".pb-export-start");
    if (!this.start_edited && document.activeElement !== start) {
      start.value = clock_text(cursor ?? this.records[0]?.start ?? this.day ?? 0);
    }
    if (this.play_state === "ended") {
      const badge = this.$(".pb-state");
      badge.dataset.state = "ended";
      badge.textContent = t("pb.state.ended");
      this.$(".pb-toggle").dataset.playing = "false";
    }
    this.mark_current_record();
  }

  render_export() {
    const f = this.flow;
    const state = this.$(".pb-export-state");
    const go = this.$(".pb-export-go");
    go.disabled = f.busy || !this.camera || this.day === null;
    go.classList.toggle("busy", f.state === "starting" || f.state === "exporting");
    this.$(".pb-export-cancel").hidden = !(f.state === "starting" || f.state === "exporting");
    state.dataset.state = f.state;
    state.hidden = f.state === "idle";
    const p = this.export_params ?? { start: 0, length: 0 };
    if (f.state === "failed") {
      state.textContent = f.error.plain ? t(f.error.key) : t("exp.state.failed", { reason: t(f.error.key, { code: f.error.code }) });
    } else if (f.state !== "idle") {
      state.textContent = t(`exp.state.${f.state}`, { length: p.length, time: clock_text(p.start), name: f.name });
    }
    if (this.reported_state !== f.state) {
      this.reported_state = f.state;
      const level = { failed: "error", saved: "success", cancelled: "warning" }[f.state];
      if (level && !f.error?.plain) this.report({ level, key: "pb.export-note", params: { text: state.textContent } });
    }
    this.render_transport_buttons_for_export();
  }

  render_transport_buttons_for_export() {
    const busy = this.flow.busy;
    this.$(".pb-toggle").disabled = busy || !this.camera || this.day === null;
    this.timeline.set_enabled(!busy && Boolean(this.camera) && this.day !== null);
    this.transport.classList.toggle("exporting", busy);
  }
}
