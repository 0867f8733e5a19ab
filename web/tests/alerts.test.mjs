// The page's pure parts of alarms, alarm outputs, the LAN search and layouts: reading the
// control's answers and finding the pane tool bar's alarm button in the control's picture.
import { test } from "node:test";
import assert from "node:assert/strict";

import { ALARM_KINDS, alarm_kind_key, alert_from_event, AlertLog } from "../portal/alarms.js";
import { panel_bounds, tool_bar_button, button_picture, bar_shown, read_beacon, PANE_BACKGROUND } from "../portal/alarm_output.js";
import { parse_search_report, account_match } from "../portal/search.js";
import { parse_layout_list, layout_file_name } from "../portal/layouts.js";
import { AccountModel } from "../portal/model.js";
import { EV } from "../portal/events.js";
import { _texts_for_tests as texts } from "../portal/i18n.js";

const ev = (nID, nTag1, nTag2, szInfo = "") => ({ hContext: 0, handle: 0, nID, nTag1, nTag2, szInfo, nInfoLen: szInfo.length });

function model_with_cameras() {
  const model = new AccountModel();
  model.devices.set("KVR-1", { id: "KVR-1", name: "Loja", listed: true, channels: [] });
  model.devices.set("KVR-2", { id: "KVR-2", name: "", listed: true, channels: [] });
  model.cameras.set("KVR-1_000", { id: "KVR-1_000", name: "Entrada", devid: "KVR-1", chlid: 0 });
  model.cameras.set("KVR-1_001", { id: "KVR-1_001", name: "", devid: "KVR-1", chlid: 1 });
  return model;
}

test("every alarm kind has words in both languages, and an unknown kind a generic one", () => {
  for (let kind = -1; kind <= ALARM_KINDS.length; kind++) {
    const key = alarm_kind_key(kind);
    assert.ok(texts.pt[key], `pt ${key}`);
    assert.ok(texts.en[key], `en ${key}`);
  }
  assert.equal(alarm_kind_key(1), "alarm.kind.motion");
  assert.equal(alarm_kind_key(7), "alarm.kind.other");
});

test("an alert names the camera of its device and channel, or the device when none matches", () => {
  const model = model_with_cameras();
  const at = new Date(2026, 0, 2, 3, 4, 5);
  const cases = [
    { e: ev(EV.ALERT, 1, 0, "KVR-1"), camera_id: "KVR-1_000", camera_name: "Entrada", device: "Loja" },
    { e: ev(EV.ALERT, 0, 1, "KVR-1"), camera_id: "KVR-1_001", camera_name: "KVR-1_001", device: "Loja" },
    { e: ev(EV.ALERT, 4, 3, "KVR-1"), camera_id: "", camera_name: "", device: "Loja" },
    { e: ev(EV.ALERT, 2, 0, "KVR-9"), camera_id: "", camera_name: "", device: "KVR-9" },
  ];
  for (const c of cases) {
    const a = alert_from_event(c.e, model, at);
    assert.equal(a.camera_id, c.camera_id, JSON.stringify(c.e));
    assert.equal(a.camera_name, c.camera_name);
    assert.equal(a.device_name, c.device);
    assert.equal(a.kind, c.e.nTag1);
    assert.equal(a.channel, c.e.nTag2);
    assert.equal(a.at, at);
  }
});

test("the alert log keeps the newest first, bounded, and counts what was not seen", () => {
  const log = new AlertLog(3);
  for (let i = 0; i < 5; i++) log.add({ kind: i });
  assert.deepEqual(log.items.map((a) => a.kind), [4, 3, 2]);
  assert.equal(log.unread, 3);
  log.seen();
  log.add({ kind: 5 });
  assert.equal(log.unread, 1);
  log.clear();
  assert.equal(log.items.length, 0);
  assert.equal(log.unread, 0);
});

// A pane picture: background with a video rectangle of a darker colour.
function pane_picture(w, h, video, border_width = 1) {
  const data = new Uint8ClampedArray(w * h * 4);
  for (let y = 0; y < h; y++) {
    for (let x = 0; x < w; x++) {
      const i = (y * w + x) * 4;
      const border = Math.min(x, y, w - 1 - x, h - 1 - y) < border_width;
      const inside = video && x >= video.left && x < video.right && y >= video.top && y < video.bottom;
      const c = border ? [0, 120, 215] : inside ? [40 + (x % 50), 60, 90] : PANE_BACKGROUND.map((v) => v + ((x + y) % 5) - 2);
      data.set([...c, 255], i);
    }
  }
  return { width: w, height: h, data };
}

test("the video panel is found inside the pane's background, with bars above and below or beside", () => {
  const cases = [
    { w: 480, h: 295, video: { left: 1, top: 12, right: 479, bottom: 282 } }, // letterboxed
    { w: 480, h: 270, video: { left: 75, top: 1, right: 405, bottom: 269 } }, // pillarboxed
    { w: 320, h: 180, video: { left: 1, top: 1, right: 319, bottom: 179 } }, // filling
  ];
  for (const c of cases) assert.deepEqual(panel_bounds(pane_picture(c.w, c.h, c.video)), c.video, JSON.stringify(c));
  // A JPEG frame blurs the selected pane's border over a few pixels of the background.
  const blurred = { left: 1, top: 1, right: 489, bottom: 283 };
  assert.deepEqual(panel_bounds(pane_picture(490, 294, blurred, 3)), blurred);
  assert.equal(panel_bounds(pane_picture(200, 120, null)), null, "an empty pane has no panel");
  assert.equal(panel_bounds({ width: 4, height: 4, data: new Uint8ClampedArray(64) }), null);
});

test("the alarm button is the first of seven equal slots of the bar at the panel's bottom", () => {
  const panel = { left: 10, top: 20, right: 10 + 702, bottom: 20 + 400 };
  const first = tool_bar_button(panel, 0);
  assert.deepEqual(first, { x: 12, y: 420 - 32, w: 99, h: 30 });
  const last = tool_bar_button(panel, 6);
  assert.equal(last.x, 12 + 6 * 99);
  assert.ok(last.x + last.w <= panel.right - 2);
});

function image(w, h, pixel_of) {
  const data = new Uint8ClampedArray(w * h * 4);
  for (let y = 0; y < h; y++) for (let x = 0; x < w; x++) data.set([...pixel_of(x, y), 255], (y * w + x) * 4);
  return { width: w, height: h, data };
}

test("a button's picture is above its text when narrow and at its left when wide, inside the hover ring", () => {
  assert.deepEqual(button_picture({ x: 3, y: 261, w: 69, h: 30 }), { x: 3 + 27 + 4, y: 265, w: 9, h: 9 });
  assert.deepEqual(button_picture({ x: 3, y: 261, w: 138, h: 30 }), { x: 7, y: 265, w: 24, h: 24 });
});

test("the beacon reads as on, off or another button's picture", () => {
  const picture = (colour_of) => image(12, 12, colour_of);
  assert.equal(read_beacon(picture((x, y) => (x > 2 && x < 10 && y > 1 ? [230, 40, 40] : [20, 22, 24]))), "on");
  assert.equal(read_beacon(picture((x, y) => (x > 2 && x < 10 && y > 1 ? [150, 150, 155] : [20, 22, 24]))), "off");
  assert.equal(read_beacon(picture((x, y) => (y < 6 ? [60, 140, 230] : [60, 190, 90]))), "other");
});

test("the tool bar counts as shown when its middle band is mostly black", () => {
  const band = (colour_of) => image(480, 2, colour_of);
  assert.equal(bar_shown(band((x) => (x % 69 > 27 && x % 69 < 42 ? [200, 200, 200] : [8, 9, 10]))), true, "bar with pictures");
  assert.equal(bar_shown(band((x) => [60 + (x % 30), 60, 62])), false, "a dark road is not black");
  assert.equal(bar_shown(band(() => [220, 220, 220])), false, "background");
});

test("a search report gives its devices; anything else is not a report", () => {
  const report = JSON.stringify({
    devices: [
      { id: "SN-KVR-2", ip: "127.0.0.1", name: "Doca", port: 37777, http_port: 80, model: "NVR-4" },
      { id: "", ip: "127.0.0.1", name: "sem série", port: 1, http_port: 2, model: "x" },
      { id: "SN-X", ip: 5, port: "80" },
    ],
  });
  assert.deepEqual(parse_search_report(report), [
    { id: "SN-KVR-2", ip: "127.0.0.1", name: "Doca", port: 37777, http_port: 80, model: "NVR-4" },
    { id: "SN-X", ip: "", name: "", port: 0, http_port: 0, model: "" },
  ]);
  assert.deepEqual(parse_search_report('{"devices":[]}'), []);
  for (const bad of ["", "nope", "{}", '{"devices":{}}', "null"]) assert.equal(parse_search_report(bad), null, bad);
});

test("a found device already in the account is recognised by its identifier, or its name and model", () => {
  const model = model_with_cameras();
  model.devices.get("KVR-2").name = "Doca";
  model.devices.get("KVR-2").model = "PTZ-1";
  const cases = [
    [{ id: "KVR-1" }, "KVR-1"],
    [{ id: "SN-KVR-2", name: "Doca", model: "PTZ-1" }, "KVR-2"],
    [{ id: "SN-KVR-2", name: "Doca", model: "NVR-4" }, null],
    [{ id: "SN-KVR-3", name: "", model: "" }, null],
  ];
  for (const [found, id] of cases) assert.equal(account_match(found, model)?.id ?? null, id, JSON.stringify(found));
});

test("a layout list is read, sorted, also when a name spoiled the JSON", () => {
  const cases = [
    ['{"Layouts":[]}', []],
    ['{"Layouts":["Turno b","Portaria","turno A"]}', ["Portaria", "turno A", "Turno b"]],
    ['{"Layouts":["Sala "2"","Lobby"]}', ["Lobby", 'Sala "2"']],
    ['{"Layouts":["Tab\there"]}', ["Tab\there"]],
    ["", []],
    [null, []],
    ['{"other":[1]}', []],
  ];
  for (const [text, names] of cases) assert.deepEqual(parse_layout_list(text), names, String(text));
});

test("layout names lose the characters a file name cannot hold, as the control stores them", () => {
  assert.equal(layout_file_name("Loja/Centro"), "Loja_Centro");
  assert.equal(layout_file_name('a<b>c:d"e\\f|g?h*i'), "a_b_c_d_e_f_g_h_i");
  assert.equal(layout_file_name("Portaria 2"), "Portaria 2");
});
