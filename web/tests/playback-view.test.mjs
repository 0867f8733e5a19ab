// The playback page against the mock host (web/tests/mock-host.mjs, recordings from
// mock-recordings.mjs): failures said in words, a click on the timeline's gap, speeds kept over a
// pause, skips from the keyboard, a camera dropped on the video, a cancelled or refused export,
// English, and screenshots at both usual screen sizes.
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { join } from "node:path";

import { start_host, launch_browser, open_page, output_dir, close_all, drag_and_drop } from "./harness.mjs";

// The library's "device added" event; -3: the device did not log in.
const EV_ADD_DEV = 0x20001001;

describe("playback page against the mock host", { timeout: 240000 }, () => {
  let host;
  let mock;
  let browser;
  let view;
  const out = output_dir();
  const shot = (name, page = view.page) => page.screenshot({ path: join(out, `${name}.png`) });
  const control_calls = (method) => mock.calls.filter((c) => c.method === method).map((c) => c.args);

  async function sign_in_to_playback(page) {
    await page.goto(host.url);
    await page.waitForSelector("body[data-link=open]");
    if (await page.isVisible("#signin-layer")) await page.click("#signin-submit");
    await page.waitForSelector("body.signed-in");
    await page.waitForSelector('.device-row[data-device-id="KVR-000001"][data-link=online]');
    await page.waitForSelector('.page-option[data-page="1"]:not([disabled])');
    if ((await page.getAttribute('.page-option[data-page="1"]', "aria-checked")) !== "true") await page.click('.page-option[data-page="1"]');
    await page.waitForSelector("#pb-side:not([hidden])");
  }

  before(async () => {
    host = await start_host({ program: "mock" });
    mock = host.mock;
    browser = await launch_browser();
    view = await open_page(browser, { width: 1920, height: 1080 });
    await sign_in_to_playback(view.page);
  });

  after(() => close_all(browser, host));

  it("asks the user for a camera first", async () => {
    const { page } = view;
    assert.equal(await page.isVisible("#pb-hint"), true);
    assert.match(await page.textContent("#pb-hint"), /Escolha uma câmera/);
    assert.equal(await page.isDisabled(".pb-toggle"), true);
    assert.equal(await page.isDisabled(".pb-export-go"), true);
    await shot("playback-empty-1920");
  });

  it("says in words why an offline camera's recordings cannot be searched", async () => {
    const { page } = view;
    await page.click('.tree-camera[data-camera-id="cam-0004-0"]');
    await page.waitForSelector('.pb-month-note[data-level="error"]');
    assert.equal(await page.textContent(".pb-month-note"), "Não foi possível consultar os dias: o dispositivo não está conectado.");
    await page.waitForSelector('.pb-records-note[data-level="error"]');
    assert.equal(await page.textContent(".pb-records-note"), "Não foi possível buscar as gravações: o dispositivo não está conectado.");
    assert.equal(await page.$$eval(".cal-day.recorded", (d) => d.length), 0);
  });

  it("takes a camera dropped on the video, and steps back a month", async () => {
    const { page } = view;
    // A device changes state while the camera is held: the tree is drawn anew under the pointer,
    // and the drag goes on.
    await page.evaluate(() => {
      window.model_changes = 0;
      window.kavrel.model.addEventListener("change", () => window.model_changes++);
    });
    await drag_and_drop(page, '.tree-camera[data-camera-id="cam-0001-1"]', "#surface", {
      pressed: async () => {
        const seen = await page.evaluate(() => window.model_changes);
        mock.fire(EV_ADD_DEV, 0, -3, "KVR-000004");
        await page.waitForFunction((n) => window.model_changes > n, seen);
      },
    });
    await page.waitForFunction(() => window.kavrel.playback.camera === "cam-0001-1");
    assert.equal(await page.textContent(".pb-camera-name"), "Caixa");
    await page.waitForSelector(".cal-day.recorded");
    const before = control_calls("CliQueryRecordStatusDev").length;
    await page.click(".cal-prev");
    await page.waitForFunction((n) => window.kavrel.playback.month_q?.state === "done" && window.kavrel.playback.calendar.shown, before);
    const asked = control_calls("CliQueryRecordStatusDev").at(-1);
    const now = new Date();
    const previous = new Date(now.getFullYear(), now.getMonth() - 1, 1);
    assert.deepEqual(asked, ["cam-0001-1", `${previous.getFullYear()}${String(previous.getMonth() + 1).padStart(2, "0")}`]);
    // Days divisible by 6 hold nothing in the mock's schedule.
    await page.waitForSelector('.cal-day.recorded[data-date$="-01"]');
    assert.equal(await page.$$eval('.cal-day.recorded[data-date$="-06"]', (d) => d.length), 0);
  });

  it("plays from the next recording when the timeline is clicked in a gap", async () => {
    const { page } = view;
    await page.click('.cal-day:not(.outside)[data-date$="-01"]');
    await page.waitForFunction(() => window.kavrel.playback.search?.state === "done");
    // Two pages of files, the boundary file sent twice: listed once.
    const listed = await page.$$eval(".pb-record", (r) => r.length);
    assert.equal(listed, 138);
    const box = await page.locator("#pb-timeline").boundingBox();
    await page.mouse.click(box.x + (box.width * 12.5) / 24, box.y + box.height / 3);
    await page.waitForSelector('.pb-state[data-state="playing"]');
    const started = control_calls("CliStartPlaybackDev").at(-1);
    assert.match(started[1], /130000$/, "the gap 12:00-13:00 holds nothing: playback starts at 13:00");
    assert.match(await page.textContent("#log-panel"), /Não há gravação às 12:[23]\d:\d\d; reproduzindo a partir de 13:00:00\./);
    await page.waitForSelector('.pb-record[aria-current="true"]');
    assert.match(await page.textContent('.pb-record[aria-current="true"] .pb-record-times'), /^13:00:00/);
  });

  it("keeps the chosen speed over a pause and skips 10 s with the arrows", async () => {
    const { page } = view;
    mock.calls.length = 0;
    await page.click(".pb-faster");
    await page.click(".pb-faster");
    assert.equal(await page.textContent(".pb-speed-value"), "4×");
    await page.focus("#surface");
    await page.keyboard.press("Space");
    await page.waitForSelector('.pb-state[data-state="paused"]');
    await page.keyboard.press("Space");
    await page.waitForSelector('.pb-state[data-state="playing"]');
    await page.waitForFunction(() => window.kavrel.playback.clock.speed === 5);
    const seconds = (text) => text.split(":").reduce((a, b) => a * 60 + Number(b), 0);
    // The key goes in with the clock read just before and after it, in one turn of the page.
    const [before, after_skip] = await page.evaluate(() => {
      const p = window.kavrel.playback;
      const ahead = p.clock.position(performance.now());
      document.querySelector("#surface").dispatchEvent(new KeyboardEvent("keydown", { code: "ArrowRight", key: "ArrowRight", bubbles: true }));
      return [ahead, p.clock.position(performance.now())];
    });
    assert.ok(after_skip - before >= 10 && after_skip - before < 11, `${before} → ${after_skip}`);
    await page.waitForFunction(() => window.kavrel.playback.clock.speed === 3);
    assert.equal(await page.textContent(".pb-speed-value"), "1×", "a skip plays on at normal speed");
    await page.waitForFunction(() => document.querySelector(".pb-time").textContent !== "--:--:--");
    assert.ok(seconds(await page.textContent(".pb-time")) >= 13 * 3600);
    const commands = control_calls("CliControlPlaybackDev").map((a) => a[1]);
    assert.deepEqual(commands, [2, 2, 1, 0, 2, 2, 5]);
    await shot("playback-playing-1920");
  });

  it("explains a refused export and an export length out of range", async () => {
    const { page } = view;
    await page.fill(".pb-export-length", "0");
    await page.click(".pb-export-go");
    await page.waitForSelector('.pb-export-state[data-state="failed"]');
    assert.equal(await page.textContent(".pb-export-state"), "Informe a duração em segundos, de 1 a 3600.");
    assert.equal(control_calls("CliStartBackup").length, 0);
    await page.fill(".pb-export-length", "60");
    // Nothing is recorded between 12:00 and 13:00: the device delivers nothing.
    await page.fill(".pb-export-start", "12:10:00");
    await page.click(".pb-export-go");
    await page.waitForFunction(() => document.querySelector(".pb-export-state").textContent.includes("falhou"));
    assert.equal(await page.textContent(".pb-export-state"), "A exportação falhou: o dispositivo não forneceu o vídeo desse intervalo.");
    await shot("playback-export-failed-1920");
  });

  it("a cancelled save dialog saves nothing and says so", async () => {
    const { page } = view;
    await page.fill(".pb-export-start", "13:05:00");
    await page.fill(".pb-export-length", "10");
    await page.click(".pb-export-go");
    await page.waitForSelector('.pb-export-state[data-state="exporting"]');
    assert.equal(await page.isDisabled(".pb-toggle"), true, "no playback while exporting");
    await page.waitForSelector("dialog.kind-save-dialog[open]");
    await page.keyboard.press("Escape");
    await page.waitForSelector('.pb-export-state[data-state="cancelled"]');
    assert.equal(await page.textContent(".pb-export-state"), "Exportação cancelada; nada foi salvo.");
    assert.equal(await page.isDisabled(".pb-toggle"), false);
  });

  it("speaks English to an English browser", async () => {
    const english = await open_page(browser, { width: 1280, height: 720, locale: "en-US" });
    await english.context.addCookies(await view.context.cookies());
    await english.page.goto(new URL("/", host.url).href);
    await english.page.waitForSelector("body.signed-in");
    await english.page.waitForSelector('.page-option[data-page="1"]:not([disabled])');
    await english.page.click('.page-option[data-page="1"]');
    await english.page.waitForSelector("#pb-side:not([hidden])");
    await english.page.click('.tree-camera[data-camera-id="cam-0002-0"]');
    await english.page.waitForSelector(".pb-record");
    assert.equal(await english.page.textContent(".wall-title"), "Recording playback");
    assert.equal((await english.page.textContent(".pb-export-go")).trim(), "Export MP4");
    assert.match(await english.page.textContent(".pb-month-note"), /days? with recordings this month\./);
    await shot("playback-english-1280", english.page);
    await english.context.close();
  });

  it("ran without script errors in the page", () => {
    assert.deepEqual(view.problems.filter((p) => !p.includes("WebSocket")), []);
  });
});
