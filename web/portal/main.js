// The demo portal: wires the bridge, the control, the account model and the views together.

import { pick_language, set_language, translate_page, t, locale } from "./i18n.js";
import { Bridge, bridge_url } from "./transport.js";
import { load_control, call } from "./control.js";
import { AccountModel } from "./model.js";
import { callback_args } from "./events.js";
import { StatusLine, render_note } from "./status.js";
import { EventLog } from "./log.js";
import { Surface } from "./surface.js";
import { Site } from "./site.js";
import { Tree } from "./tree.js";
import { Session } from "./session.js";
import { ConnectionView } from "./connection.js";
import { WallBar } from "./wall_bar.js";
import { LiveWall } from "./live.js";
import { PaneZoom } from "./zoom.js";
import { AlarmsPanel, REFUSED } from "./alarms.js";
import { AlarmOutputSwitch } from "./alarm_output.js";
import { LanSearch } from "./search.js";
import { LayoutsMenu } from "./layouts.js";
import { PlaybackView } from "./playback.js";
import { MediaControls, SnapshotStrip } from "./controls.js";
import { PanePlayer } from "./audio.js";

set_language(pick_language(navigator.languages?.length ? navigator.languages : [navigator.language]));
document.documentElement.lang = locale();
document.title = t("app.title");
translate_page(document);

const $ = (selector) => document.querySelector(selector);

const bridge = new Bridge(bridge_url(location));
const model = new AccountModel();
const status = new StatusLine($("#status-line"));
const log = new EventLog($("#log-panel"), $("#log-button"));
const surface = new Surface($("#wall"), $("#surface"), $("#wall-placeholder"), bridge);
const tree = new Tree($("#sidebar"), model);

let session = null;
function report(note) {
  status.show(note);
  log.add("note", render_note(note), "", note.level);
  session?.on_note(note);
}

session = new Session({
  bridge,
  model,
  tree,
  report,
  form: $("#signin-form"),
  layer: $("#signin-layer"),
  account: $("#account"),
});

let control = null;
const control_call = (method, args) => (control ? call(control, report, method, args) : Promise.resolve(null));
const wall_bar = new WallBar($("#toolbar-slot"), control_call);
const live = new LiveWall({
  call: control_call,
  bar: wall_bar,
  surface,
  model,
  slot: $("#toolbar-slot"),
  fullscreen: () => control && call(control, report, "CliFullScreen", [document.fullscreenElement ? 0 : 1]),
});
live.addEventListener("note", (e) => report(e.detail));
const layouts = new LayoutsMenu({ slot: $("#toolbar-slot"), call: control_call, bar: wall_bar });
layouts.addEventListener("note", (e) => report(e.detail));
const alarms = new AlarmsPanel({
  root: $("#alarms-panel"),
  slot: $("#toolbar-slot"),
  call: (method, args) => (control ? call(control, report, method, args, REFUSED) : Promise.resolve(REFUSED)),
  model,
  output: new AlarmOutputSwitch({ surface, bar: wall_bar, live }),
});
alarms.addEventListener("note", (e) => report(e.detail));
alarms.addEventListener("listening", () => tree.render());
tree.decorate_camera = (li, cam) => alarms.decorate_camera(li, cam);
tree.render();
const lan_search = new LanSearch({ dialog: $("#search-dialog"), button: $("#lan-search-button"), call: control_call, model });
lan_search.addEventListener("note", (e) => report(e.detail));
// Layouts are the live wall's.
wall_bar.addEventListener("page", (e) => layouts.enable(e.detail.page === 0 && Boolean(control)));
// The zoom is the live wall's: on the playback page the canvas shows the playback pane.
const zoom = new PaneZoom({ surface, bar: wall_bar, playing: (cell) => wall_bar.page === 0 && live.playing(live.pane_in_cell(cell)) });
const site = new Site(bridge, surface, {
  report,
  log: (title, detail) => log.add("site", title, detail),
  // Leaving the browser's full screen (Escape) also ends the control's full-screen mode.
  on_fullscreen_left: () => control && call(control, report, "CliFullScreen", [0]),
});

const playback = new PlaybackView({
  call: control_call,
  bar: wall_bar,
  surface,
  model,
  tree,
  site,
  bridge,
  report,
  stage: $(".stage"),
  title: $(".wall-title"),
});

// A reload on the playback page finds the control still on it.
if (wall_bar.page === 1) playback.enter();
const media = new MediaControls({ call: control_call, live, surface, site, bar: wall_bar, root: $("#media-panel") });
media.addEventListener("note", (e) => report(e.detail));
const snapshots = new SnapshotStrip($("#snapshot-strip"));
site.addEventListener("download", (e) => snapshots.add(e.detail.url, e.detail.name).catch((error) => log.add("site", "thumbnail failed", String(error), "error")));
const audio = new PanePlayer(() => site.audio_context());
site.addEventListener("audio", (e) => audio.on_audio(e.detail));
site.addEventListener("audio-end", (e) => audio.on_end(e.detail));

new ConnectionView(bridge, {
  indicator: $("#conn"),
  banner: $("#conn-banner"),
  taken_over: $("#taken-over"),
  unauthorized: $("#unauthorized"),
  log: (title, detail) => log.add("conn", title, detail),
});

model.addEventListener("change", () => {
  const { online, total } = model.summary();
  status.set_summary(online, total);
});

bridge.addEventListener("hello", (e) => {
  const hello = e.detail;
  log.add("conn", `hello build ${hello.build ?? "?"}`, JSON.stringify({ ...hello, demo: hello.demo ? "…" : undefined }));
  session.on_hello(hello);
  // The control was left in full screen: the browser needs a click before it follows.
  if (hello.fullscreen) site.fullscreen(true);
  if (control) {
    layouts.enable(wall_bar.page === 0);
    wall_bar.enable(true);
    wall_bar.refresh();
  }
});
bridge.addEventListener("state", (e) => {
  if (e.detail.state !== "open") {
    wall_bar.enable(false);
    layouts.enable(false);
  }
});
// A double click on a pane maximises or restores it: the bar shows the count that results.
$("#surface").addEventListener("dblclick", () => control && wall_bar.refresh());
// Every script call and its outcome, for the developer log; passwords stay out of it.
const SECRET_ARGS = { CliCloudInitSimple: [1], CliAddDeviceP2P: [2], CliLoginDeviceP2PDev: [2], CliInit: [1, 2, 5] };
bridge.addEventListener("call", (e) => {
  const { method, args } = e.detail;
  const hidden = SECRET_ARGS[method] ?? [];
  log.add("call", `${method}(${args.map((a, i) => (hidden.includes(i) ? "***" : JSON.stringify(a))).join(", ")})`);
});
bridge.addEventListener("result", (e) => {
  const r = e.detail;
  if (r.ok) log.add("result", `${r.method} → ${JSON.stringify(r.value)}`);
  else log.add("result", `${r.method} ✕ ${r.error}`, "", "error");
});
bridge.addEventListener("error", (e) => log.add("conn", "host error", e.detail.error ?? "", "error"));

function on_callback(detail) {
  const ev = callback_args(detail);
  log.add_callback(ev);
  live.on_callback(ev);
  alarms.on_callback(ev);
  lan_search.on_callback(ev);
  playback.on_callback(ev);
  media.on_callback(ev);
  for (const note of model.apply(ev)) report(note);
}

async function start() {
  try {
    control = await load_control(bridge);
  } catch (error) {
    status.show({ level: "error", key: "conn.no-script", params: { error: error.message } });
    log.add("conn", "kavrel.js did not load", String(error), "error");
  }
  if (control) {
    session.set_control(control);
    control.addEventListener("CliCallBackMsg", (...args) => on_callback(args));
    control.addEventListener("CliCreatedNotify", (created) => log.add("event", `CliCreatedNotify lCreated=${created}`));
  }
  bridge.start();
}

// A camera double-clicked in the tree plays live, or, on the playback page, becomes the camera
// whose recordings are shown.
tree.addEventListener("play", (e) => control && wall_bar.page === 0 && live.start_in_selected(e.detail.camera));
tree.addEventListener("play-device", (e) => control && live.start_device(e.detail.device));

$("#about-button").addEventListener("click", () => control && call(control, report, "AboutBox"));
$("#signout-button").addEventListener("click", () => session.sign_out());
$("#fullscreen-button").addEventListener("click", () => control && call(control, report, "CliFullScreen", [1]));
window.addEventListener("kavrel-restored", () => report({ level: "success", key: "conn.restored" }));

// For tests and for a developer's console.
window.kavrel = {
  bridge, model, session, site, surface, wall_bar, live, zoom, playback, media, snapshots, audio, alarms, lan_search, layouts,
  get control() { return control; },
};

start();
