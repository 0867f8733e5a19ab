// Alarms, alarm outputs, the LAN search and named layouts in a real browser against
// kavrel-host --demo: the page listens to every camera and sees the demo devices' alarms arrive
// in its panel; it switches the alarm output of a live pane through the pane's own tool-bar
// button and reads the beacon back; it finds the simulated devices by LAN search; and it saves a
// layout, loads it back and deletes it. Screenshots go to build/web-test-output/ (or
// $KAVREL_WEB_TEST_OUTPUT).
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { join } from "node:path";
import { readFileSync, writeFileSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";

import { output_dir, repo, with_host_and_page } from "./harness.mjs";

// The demo world with an alarm script on the first recorder when the demo gives it none: motion
// on channel 0 and its alarm input on channel 1 come on and go off every few seconds.
function demo_with_alarms(folder) {
  const fixture = JSON.parse(readFileSync(join(repo, "sim/fixture/demo.json"), "utf8"));
  const recorder = fixture.accounts[0].devices.find((d) => d.dev_id === "KVR-000001");
  recorder.device ??= {};
  recorder.device.alarms ??= {
    loop_ms: 4000,
    script: [
      { kind: "motion", at_ms: 500, channel: 0, state: 1 },
      { kind: "input", at_ms: 1500, channel: 1, state: 1 },
      { kind: "motion", at_ms: 2500, channel: 0, state: 0 },
      { kind: "input", at_ms: 3500, channel: 1, state: 0 },
    ],
  };
  const path = join(folder, "demo-alarms.json");
  writeFileSync(path, JSON.stringify(fixture));
  return path;
}

const DEVICES_MS = 90000;
const VIDEO_MS = 60000;
const ALARM_MS = 90000;
const ONLINE = ["KVR-000001", "KVR-000002", "KVR-000003"];

describe("alarms, alarm outputs, LAN search and layouts from the page", { timeout: 380000 }, () => {
  let host;
  let view;
  const out = output_dir();
  const shot = (name) => view.page.screenshot({ path: join(out, `${name}.png`) });

  const folder = mkdtempSync(join(tmpdir(), "kavrel-alerts-e2e-"));

  with_host_and_page({ viewport: { width: 1280, height: 720 }, args: () => ["--fixture", demo_with_alarms(folder)] }, (started) => ({ host, view } = started));

  after(() => {
    rmSync(folder, { recursive: true, force: true });
  });

  it("signs in and the devices come online", async () => {
    const { page } = view;
    await page.goto(host.url);
    await page.waitForSelector("body[data-link=open]");
    await page.click("#signin-submit");
    await page.waitForSelector("body.signed-in");
    for (const id of ONLINE) await page.waitForSelector(`.device-row[data-device-id="${id}"][data-link=online]`, { timeout: DEVICES_MS });
    await page.waitForSelector(".layouts-button:not([disabled])");
    await page.evaluate(() => {
      window.test_events = [];
      window.kavrel.control.addEventListener("CliCallBackMsg", (...a) => window.test_events.push(a));
    });
  });

  it("listens to every camera and sees the demo devices' alarms arrive in the panel", async () => {
    const { page } = view;
    await page.click(".alarms-button");
    await page.waitForSelector("#alarms-panel:not([hidden])");
    await page.click(".listen-all");
    const cameras = await page.$$eval(".tree-camera", (els) => els.length);
    await page.waitForFunction((n) => document.querySelectorAll(".listen-chip").length === n, cameras);
    await page.waitForSelector('.tree-camera .listen-toggle[data-on="true"]');
    // Each alarm the control raises (ALAERT_RES) becomes one row naming its kind and channel.
    await page.waitForSelector(".alarm-row", { timeout: ALARM_MS });
    const row = await page.$eval(".alarm-row", (el) => ({
      kind: el.querySelector(".alarm-kind").textContent,
      where: el.querySelector(".alarm-where").textContent,
      time: el.querySelector(".alarm-time").textContent,
      device: el.dataset.device,
    }));
    assert.ok(row.kind.length > 0 && row.where.includes("canal"), JSON.stringify(row));
    assert.match(row.time, /^\d\d:\d\d:\d\d$/);
    const alerts = await page.evaluate(() => window.test_events.filter((a) => a[2] === 0x20001003).map((a) => a[5]));
    assert.ok(alerts.includes(row.device), `the row's device came in an ALAERT_RES event: ${alerts}`);
    assert.ok((await page.evaluate(() => window.kavrel.alarms.beeps ?? 0)) >= 1, "the alarm beeped");
    await shot("alarms-panel-1280");

    // Closed, the panel counts what came since on the bell's badge; opened again, it is read.
    await page.click(".alarm-close");
    const before = await page.$$eval(".alarm-row", (els) => els.length);
    await page.waitForFunction((n) => document.querySelectorAll(".alarm-row").length > n, before, { timeout: ALARM_MS });
    await page.waitForSelector(".alarms-button .badge:not([hidden])");
    await shot("alarms-badge-1280");
    await page.click(".alarms-button");
    await page.waitForSelector(".alarms-button .badge[hidden]", { state: "attached" });

    // Muted, the next alarm arrives without a beep.
    await page.click(".alarm-mute");
    const beeps = await page.evaluate(() => window.kavrel.alarms.beeps ?? 0);
    const rows = await page.$$eval(".alarm-row", (els) => els.length);
    await page.waitForFunction((n) => document.querySelectorAll(".alarm-row").length > n, rows, { timeout: ALARM_MS });
    assert.equal(await page.evaluate(() => window.kavrel.alarms.beeps ?? 0), beeps);
    await page.click(".alarm-mute");

    // Stopping one camera's listening takes its chip away.
    const first = await page.$eval(".listen-chip", (el) => el.dataset.cameraId);
    await page.click(`.listen-chip[data-camera-id="${first}"] .listen-stop`);
    await page.waitForFunction((id) => !document.querySelector(`.listen-chip[data-camera-id="${id}"]`), first);
  });

  it("switches the alarm output of a live pane through its tool-bar button, and back", async () => {
    const { page } = view;
    await page.click('.layout-option[data-count="4"]');
    await page.waitForSelector('.layout-option[data-count="4"][aria-checked="true"]');
    // The first camera of the first recorder (it has alarm outputs).
    const camera = await page.evaluate(() => [...window.kavrel.model.cameras.values()].find((c) => c.devid === "KVR-000001" && c.chlid === 0).id);
    assert.equal(await page.evaluate((id) => window.kavrel.live.start(id, 0), camera), true);
    await page.waitForFunction(() => window.test_events.some((a) => a[2] === 0x30000 && a[3] === 0 && a[4] === 0), null, { timeout: VIDEO_MS });
    // The pane as the selection: a click in its middle.
    await page.evaluate(() => window.kavrel.live.click_pane(0));
    await page.waitForFunction(async () => (await window.kavrel.control.CliGetCurrPicIndex()) === 0);
    await page.click(".output-read");
    await page.waitForFunction(() => ["on", "off"].includes(document.querySelector(".output-state").dataset.state), null, { timeout: 20000 });
    const start = await page.$eval(".output-state", (el) => el.dataset.state);
    await page.click(".output-toggle");
    const flipped = start === "on" ? "off" : "on";
    await page.waitForFunction((s) => document.querySelector(".output-state").dataset.state === s, flipped, { timeout: 20000 });
    await shot(`alarm-output-${flipped}-1280`);
    await page.click(".output-toggle");
    await page.waitForFunction((s) => document.querySelector(".output-state").dataset.state === s, start, { timeout: 20000 });
    await page.click(".alarm-close");
  });

  it("finds the simulated devices by LAN search", async () => {
    const { page } = view;
    await page.click("#lan-search-button");
    await page.waitForSelector("#search-dialog[open]");
    await page.waitForSelector(".search-row", { timeout: 20000 });
    const serials = await page.$$eval(".search-row", (els) => els.map((e) => e.dataset.serial));
    for (const id of ONLINE) assert.ok(serials.some((s) => s.includes(id)), `${id} answered: ${serials}`);
    const reports = await page.evaluate(() => window.test_events.filter((a) => a[2] === 0x10000017).length);
    assert.equal(reports, 1, "one report for one search");
    const state = await page.$eval(".search-state", (el) => el.dataset.state);
    assert.equal(state, "done");
    // The account's own devices say so instead of offering to add them.
    assert.ok((await page.$$eval(".search-row .pill", (els) => els.length)) >= ONLINE.length);
    await shot("lan-search-1280");
    await page.click(".search-close");
  });

  it("saves the wall as a layout, loads it back and deletes it", async () => {
    const { page } = view;
    await page.click(".layouts-button");
    await page.fill(".layouts-name", "Portaria/noite");
    await page.waitForSelector(".layouts-hint:not([hidden])");
    await page.click(".layouts-save-button");
    await page.waitForSelector('.layouts-row[data-name="Portaria_noite"]');
    await shot("layouts-menu-1280");
    await page.keyboard.press("Escape");

    // Another wall, then the layout brings the four panes with pane 0's camera back.
    await page.click('.layout-option[data-count="9"]');
    await page.waitForSelector('.layout-option[data-count="9"][aria-checked="true"]');
    await page.evaluate(() => window.kavrel.control.CliStopPlayDev(0));
    await page.click(".layouts-button");
    await page.click('.layouts-row[data-name="Portaria_noite"] .layouts-open');
    await page.waitForSelector('.layout-option[data-count="4"][aria-checked="true"]');
    await page.waitForFunction(() => window.test_events.filter((a) => a[2] === 0x30000 && a[3] === 0 && a[4] === 0).length >= 2, null, { timeout: VIDEO_MS });

    // A layout that is not there says so and leaves four panes.
    const missing = await page.evaluate(() => window.kavrel.layouts.load("Nao-existe"));
    assert.equal(missing, false);
    await page.waitForFunction(() => [...document.querySelectorAll(".log-row .log-title")].some((el) => /“Nao-existe” não foi encontrado/.test(el.textContent)));
    await page.waitForSelector('.layout-option[data-count="4"][aria-checked="true"]');

    // Deleting asks for a second click.
    await page.click(".layouts-button");
    await page.waitForSelector('.layouts-row[data-name="Portaria_noite"]');
    await page.click('.layouts-row[data-name="Portaria_noite"] .layouts-delete');
    await page.waitForSelector('.layouts-row[data-name="Portaria_noite"][data-confirm="1"]');
    await page.click('.layouts-row[data-name="Portaria_noite"] .layouts-delete');
    await page.waitForFunction(() => !document.querySelector('.layouts-row[data-name="Portaria_noite"]'));
    const list = await page.evaluate(() => window.kavrel.control.CliEnumLayouts());
    assert.ok(!JSON.parse(list).Layouts.includes("Portaria_noite"), list);
  });

  it("left no errors in the page", () => {
    assert.deepEqual(view.problems, []);
  });
});
