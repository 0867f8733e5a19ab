// The account model read from the control's events: what the tree shows and what the status
// line says for each event the control raises after a sign-in.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync, readdirSync } from "node:fs";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";

import { AccountModel, LINK, cloud_error_key } from "../portal/model.js";
import { EV, mask_secrets } from "../portal/events.js";
import { _texts_for_tests as texts } from "../portal/i18n.js";

const here = dirname(fileURLToPath(import.meta.url));

const ev = (nID, nTag1, nTag2, szInfo = "") => ({ hContext: 0, handle: 0, nID, nTag1, nTag2, szInfo, nInfoLen: szInfo.length });

// The lists as the library prints them: formatted, the secrets decrypted and moved last.
const DEVICE_LIST = JSON.stringify(
  {
    devs: [
      { name: "Loja", vendor: "kavrel", model: "NVR-4", status_sp: 0, dev_port: 37777, dev_http_port: 80, channels: ["cam-a", "cam-b"], dev_id: "KVR-GOOD", dev_user: "admin", dev_pass: "good-pw" },
      { name: "Deposito", vendor: "kavrel", model: "NVR-2", status_sp: 0, dev_port: 37777, dev_http_port: 80, channels: ["cam-c"], dev_id: "KVR-DOWN", dev_user: "admin", dev_pass: "down-pw" },
      { name: "Caixa", vendor: "kavrel", model: "NVR-1", status_sp: 3, dev_port: 37777, dev_http_port: 80, dev_id: "KVR-PASS", dev_user: "admin", dev_pass: "stale" },
    ],
  },
  null,
  "\t",
);
const CAMERA_LIST = JSON.stringify(
  {
    groups: [{ name: "Frente", groups: [{ name: "Porta", cams: [{ id: "cam-a", name: "Entrada", devid: "KVR-GOOD", chlid: 0, ptz: 1 }] }] }],
    cams: [
      { id: "cam-b", name: "Caixa", devid: "KVR-GOOD", chlid: 1 },
      { id: "cam-c", name: "Fundos", devid: "KVR-DOWN", chlid: 0 },
      // The same channel again under the identifier the device reports: shown once.
      { id: "KVR-GOOD_000", name: "KVR-GOOD_000", devid: "KVR-GOOD", chlid: 0 },
    ],
  },
  null,
  "\t",
);

function signed_in_model() {
  const m = new AccountModel();
  m.apply(ev(EV.DEV_LIST, 0, 0, DEVICE_LIST));
  m.apply(ev(EV.CAM_LIST, 0, 0, CAMERA_LIST));
  return m;
}

test("the lists give the devices, and the cameras grouped as the camera list groups them", () => {
  const m = signed_in_model();
  assert.deepEqual([...m.devices.keys()], ["KVR-GOOD", "KVR-DOWN", "KVR-PASS"]);
  const good = m.devices.get("KVR-GOOD");
  assert.equal(good.name, "Loja");
  assert.equal(good.pass, "good-pw");
  assert.equal(good.link, LINK.CONNECTING, "a listed device waits for its tunnel");
  assert.equal(m.groups.groups[0].name, "Frente");
  assert.deepEqual(m.groups.groups[0].groups[0].cams, ["cam-a"]);
  assert.deepEqual(m.groups.cams, ["cam-b", "cam-c"], "a channel listed twice is shown once, where it first stands");
  assert.deepEqual(m.cameras_of("KVR-GOOD").map((c) => c.id), ["cam-a", "cam-b"]);
  assert.equal(m.devices.get("KVR-PASS").problem, "tunnel", "the account's status 3 stands until the control says otherwise");
});

test("each list arrives twice; the second changes nothing and announces itself as not the first", () => {
  const m = new AccountModel();
  const firsts = [];
  m.addEventListener("devices-listed", (e) => firsts.push(e.detail.first));
  m.apply(ev(EV.DEV_LIST, 0, 0, DEVICE_LIST));
  m.apply(ev(EV.P2P_CONNECTED, 1, 1, "KVR-GOOD"));
  m.apply(ev(EV.DEV_LIST, 0, 0, DEVICE_LIST));
  assert.deepEqual(firsts, [true, false]);
  assert.equal(m.devices.size, 3);
  assert.equal(m.devices.get("KVR-GOOD").link, LINK.ONLINE, "a list again keeps what the tunnel said");
});

test("tunnel states and add-device results set the link and the problem, and say it in words", () => {
  // [events, device, link, problem, verified, note keys]
  const cases = [
    [[ev(EV.P2P_CONNECTED, 1, 1, "KVR-GOOD")], "KVR-GOOD", LINK.ONLINE, null, false, ["event.online"]],
    [[ev(EV.HTTP_URL, 0, -4, "KVR-DOWN")], "KVR-DOWN", LINK.OFFLINE, null, false, ["event.offline"]],
    [[ev(EV.HTTP_URL, 0, -4, "KVR-DOWN"), ev(EV.P2P_CONNECTED, -4, 1, "KVR-DOWN")], "KVR-DOWN", LINK.OFFLINE, null, false, ["event.offline"]],
    [[ev(EV.P2P_CONNECTED, -4, 1, "KVR-DOWN"), ev(EV.P2P_CONNECTED, 1, 1, "KVR-DOWN")], "KVR-DOWN", LINK.ONLINE, null, false, ["event.offline", "event.online"]],
    [[ev(EV.P2P_CONNECTED, 1, 1, "KVR-GOOD"), ev(EV.P2P_CONNECTED, 1, 1, "KVR-GOOD")], "KVR-GOOD", LINK.ONLINE, null, false, ["event.online"]],
    [[ev(EV.P2P_CONNECTED, 1, 1, "KVR-GOOD"), ev(EV.P2P_CONNECTED, -3, 1, "KVR-GOOD")], "KVR-GOOD", LINK.CONNECTING, null, false, ["event.online", "event.tunnel-cut"]],
    [[ev(EV.P2P_CONNECTED, -5, 1, "KVR-GOOD")], "KVR-GOOD", LINK.OFFLINE, "tunnel-key", false, ["event.tunnel-key"]],
    [[ev(EV.ADD_DEV, 0, 1, "KVR-GOOD")], "KVR-GOOD", LINK.ONLINE, null, true, ["event.added"]],
    [[ev(EV.ADD_DEV, 0, -2, "KVR-GOOD")], "KVR-GOOD", LINK.CONNECTING, "description", false, ["event.add.description"]],
    [[ev(EV.HTTP_URL, 0, -4, "KVR-DOWN"), ev(EV.ADD_DEV, 0, -3, "KVR-DOWN")], "KVR-DOWN", LINK.OFFLINE, "tunnel", false, ["event.offline", "event.add.offline"]],
    [[ev(EV.ADD_DEV, 0, -3, "KVR-DOWN")], "KVR-DOWN", LINK.OFFLINE, "tunnel", false, ["event.add.tunnel"]],
    [[ev(EV.LOGIN, 0, -3, "KVR-PASS"), ev(EV.ADD_DEV, 0, -5, "KVR-PASS")], "KVR-PASS", LINK.CONNECTING, "password", false, ["event.login.tunnel-or-password", "event.add.password"]],
    [[ev(EV.ADD_DEV, 0, -4, "KVR-PASS")], "KVR-PASS", LINK.CONNECTING, "password", false, ["event.add.password-after-tunnel"]],
    [[ev(EV.ADD_DEV, 0, -6, "KVR-GOOD")], "KVR-GOOD", LINK.CONNECTING, "login", false, ["event.add.login"]],
    [[ev(EV.LOGIN, 0, 5, "KVR-GOOD")], "KVR-GOOD", LINK.CONNECTING, "login", false, ["event.login.code"]],
    [[ev(EV.LOGIN, 0, 1, "KVR-GOOD")], "KVR-GOOD", LINK.CONNECTING, "password", false, ["event.login.code"]],
    // The tunnel coming up clears a tunnel failure the account remembered.
    [[ev(EV.P2P_CONNECTED, 1, 1, "KVR-PASS")], "KVR-PASS", LINK.ONLINE, null, false, ["event.online"]],
    // A failed device after a verified one: no longer verified.
    [[ev(EV.ADD_DEV, 0, 1, "KVR-GOOD"), ev(EV.ADD_DEV, 0, -5, "KVR-GOOD")], "KVR-GOOD", LINK.ONLINE, "password", false, ["event.added", "event.add.password"]],
  ];
  for (const [events, id, link, problem, verified, keys] of cases) {
    const m = signed_in_model();
    const notes = events.flatMap((e) => m.apply(e));
    const d = m.devices.get(id);
    const label = `${id} after ${events.map((e) => `${e.nID.toString(16)}/${e.nTag1}/${e.nTag2}`).join(", ")}`;
    assert.equal(d.link, link, label);
    assert.equal(d.problem, problem, label);
    assert.equal(d.verified, verified, label);
    assert.deepEqual(notes.map((n) => n.key), keys, label);
  }
});

test("a failed cloud request is explained by its code, and serial change masks are not failures", () => {
  const cases = [
    [ev(EV.LIST_SERIALS, 401, 0), "cloud.401"],
    [ev(EV.DEV_LIST, 401, 0), "cloud.401"],
    [ev(EV.CAM_LIST, 500, 0), "cloud.http"],
    [ev(EV.DEV_LIST, -1, 0), "cloud.unreadable"],
    [ev(EV.LIST_SERIALS, -4612, 0), "cloud.connect"],
    [ev(EV.LIST_SERIALS, -4613, 0), "cloud.timeout"],
    [ev(EV.CAM_LIST, -4617, 0), "cloud.reply"],
    [ev(EV.LIST_SERIALS, 0, 0, '{"devs_sn":1,"cams_sn":1}'), null],
    [ev(EV.LIST_SERIALS, 3, 0, '{"devs_sn":2,"cams_sn":2}'), null],
  ];
  for (const [event, key] of cases) {
    const notes = new AccountModel().apply(event);
    if (key === null) {
      assert.deepEqual(notes, [], `tag1 ${event.nTag1}`);
    } else {
      assert.equal(notes.length, 1, `tag1 ${event.nTag1}`);
      assert.equal(notes[0].key, key, `tag1 ${event.nTag1}`);
      assert.equal(notes[0].kind, "cloud-error");
    }
  }
  assert.equal(cloud_error_key(403), "cloud.403");
});

test("a device's description adds the channels the camera list lacks, ungrouped", () => {
  const m = signed_in_model();
  const summary = '{"dev_id":"KVR-GOOD","chls":3,"camlist":[{"cam_id":"KVR-GOOD_000","chlid":0,"name":"KVR-GOOD_000"},{"cam_id":"KVR-GOOD_001","chlid":1,"name":"KVR-GOOD_001"},{"cam_id":"KVR-GOOD_002","chlid":2,"name":"Quintal"}]}';
  const notes = m.apply(ev(EV.DEVICE_DESCRIPTION, 0, 0, summary));
  assert.deepEqual(notes.map((n) => n.key), ["event.description"]);
  assert.equal(notes[0].params.count, 3);
  assert.deepEqual(m.groups.cams, ["cam-b", "cam-c", "KVR-GOOD_002"]);
  assert.equal(m.cameras.get("KVR-GOOD_002").devid, "KVR-GOOD");
  // The camera list again keeps the described channel.
  m.apply(ev(EV.CAM_LIST, 0, 0, CAMERA_LIST));
  assert.ok(m.cameras.has("KVR-GOOD_002"));
  assert.equal(m.cameras.size, 4);
});

test("payloads that are not JSON or carry a buffer's tail are read safely", () => {
  const m = signed_in_model();
  // A description without channels is not valid JSON ("...,]}").
  assert.deepEqual(m.apply(ev(EV.DEVICE_DESCRIPTION, 0, 0, '{"dev_id":"KVR-GOOD",]}')), []);
  // The dispatcher raises the description a second time without its payload.
  assert.deepEqual(m.apply(ev(EV.DEVICE_DESCRIPTION, 0, 0, "")), []);
  assert.equal(m.apply(ev(EV.DEVICE_DESCRIPTION, -1, 0, ""))[0].key, "event.description-failed");
  // A camera identifier sent as a 240-byte buffer.
  const notes = m.apply(ev(EV.LIVE_STARTED, 2, 0, "cam-a" + "\0".repeat(235)));
  assert.equal(notes[0].key, "event.live-started");
  assert.deepEqual(notes[0].params, { camera: "Entrada", pane: 3 });
  assert.deepEqual(m.apply(ev(EV.DEV_LIST, 0, 0, "not json")), []);
  assert.equal(m.devices.size, 3, "an unreadable list leaves the model as it was");
  m.apply(ev(EV.DEV_LIST, 0, 0, '{"devs":[{"dev_id":5},null,{"name":"no id"}]}'));
  assert.equal(m.devices.size, 3);
});

test("what only events tell survives a reload through the snapshot", () => {
  const m = signed_in_model();
  m.apply(ev(EV.ADD_DEV, 0, 1, "KVR-GOOD"));
  m.apply(ev(EV.HTTP_URL, 0, -4, "KVR-DOWN"));
  m.apply(ev(EV.ADD_DEV, 0, -5, "KVR-PASS"));
  const kept = JSON.parse(JSON.stringify(m.snapshot()));
  const again = new AccountModel();
  again.restore(kept);
  again.apply(ev(EV.DEV_LIST, 0, 0, DEVICE_LIST));
  assert.equal(again.devices.get("KVR-GOOD").verified, true);
  assert.equal(again.devices.get("KVR-DOWN").link, LINK.OFFLINE);
  assert.equal(again.devices.get("KVR-PASS").problem, "password");
  assert.deepEqual(again.summary(), { online: 1, total: 3 });
  // The re-reported tunnel state then wins.
  again.apply(ev(EV.P2P_CONNECTED, 1, 1, "KVR-DOWN"));
  assert.deepEqual(again.summary(), { online: 2, total: 3 });
});

test("the developer's log never shows a device password", () => {
  const shown = mask_secrets(DEVICE_LIST);
  assert.ok(!shown.includes("good-pw") && !shown.includes("down-pw") && !shown.includes("stale"), shown);
  assert.ok(shown.includes('"dev_pass": "***"'));
  assert.ok(shown.includes('"dev_user": "admin"'), "only secrets are hidden");
  assert.equal(mask_secrets('{"dev_pass":"a\\"b","x":1}'), '{"dev_pass":"***","x":1}');
});

test("every text the portal names exists in Portuguese and in English", () => {
  const portal = join(here, "../portal");
  const used = new Set();
  for (const file of readdirSync(portal).filter((f) => f.endsWith(".js"))) {
    const source = readFileSync(join(portal, file), "utf8");
    for (const m of source.matchAll(/\b(?:t|key:)\s*\(?\s*"([a-z0-9-]+\.[a-z0-9.-]+)"/g)) used.add(m[1]);
  }
  const html = readFileSync(join(here, "../index.html"), "utf8");
  for (const m of html.matchAll(/data-i18n(?:-[a-z-]+)?="([^"]+)"/g)) used.add(m[1]);
  assert.ok(used.size > 60, `found only ${used.size} keys`);
  for (const key of used) {
    assert.ok(key in texts.pt, `"${key}" has no Portuguese text`);
    assert.ok(key in texts.en, `"${key}" has no English text`);
  }
  assert.deepEqual(Object.keys(texts.pt).sort(), Object.keys(texts.en).sort());
});
