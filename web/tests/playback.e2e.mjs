// Recorded video from the page, in a real browser against kavrel-host --demo: the playback page
// shows a camera's month with its recorded days marked, today's recordings as a list, plays one
// (the simulated video's time code, read back from the page's canvas, advances; pause holds it),
// exports 60 s as MP4 through the control's save dialog into a browser download that ffprobe
// measures and Chromium plays, and going back to "Ao vivo" stops the playback.
// Screenshots go to build/web-test-output/ (or $KAVREL_WEB_TEST_OUTPUT).
//
// KAVREL_HOST=mock runs the same steps against the mock host (web/tests/mock-host.mjs).
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { join } from "node:path";
import { spawnSync } from "node:child_process";
import { readFileSync } from "node:fs";

import { start_host, launch_browser, open_page, output_dir, close_all } from "./harness.mjs";

const DEVICES_MS = 90000;
const ANSWER_MS = 30000; // a device login and a record search on a busy machine
const VIDEO_MS = 60000;
const EXPORT_MS = 120000; // 60 s of video downloaded from the device and converted
const CAMERA = "cam-0001-0"; // "Entrada" on KVR-000001, online in the demo world
const FRAME_S = 1 / 25;

// Installed in the page: reads the time code of the video in the playback pane (48 blocks at the
// bottom of the simulated picture: 40 bits of milliseconds and a CRC-8) from the canvas. The video
// is found as the part of the canvas that is not the pane's grey; each stream size the simulator
// makes is tried.
function install_time_code_probe() {
  const BITS = 48;
  const PER_ROW = 24;
  const BLOCK_LINES = 16;
  const BAND = 32;
  const MASK = 2 ** 40;
  const STREAMS = [[1280, 720], [704, 576], [704, 480], [352, 288], [352, 240]];
  const crc8 = (ms) => {
    let crc = 0xff;
    for (let i = 4; i >= 0; i--) {
      crc ^= Math.floor(ms / 2 ** (8 * i)) & 0xff;
      for (let b = 0; b < 8; b++) crc = crc & 0x80 ? ((crc << 1) ^ 0x07) & 0xff : (crc << 1) & 0xff;
    }
    return crc;
  };
  const canvas = document.querySelector("#surface");
  const context = canvas.getContext("2d", { willReadFrequently: true });
  const video_rect = (data, width, height) => {
    const grey = (x, y) => {
      const i = 4 * (y * width + x);
      return Math.abs(data[i] - 0xdc) < 24 && Math.abs(data[i + 1] - 0xdc) < 24 && Math.abs(data[i + 2] - 0xdc) < 24;
    };
    const cy = Math.floor(height / 2);
    const cx = Math.floor(width / 2);
    let l = 0;
    while (l < width - 1 && grey(l, cy)) l++;
    let r = width - 1;
    while (r > l && grey(r, cy)) r--;
    let t = 0;
    while (t < height - 1 && grey(cx, t)) t++;
    let b = height - 1;
    while (b > t && grey(cx, b)) b--;
    return { x: l, y: t, w: r - l + 1, h: b - t + 1 };
  };
  const read = (data, width, rect, sw, sh) => {
    const block = Math.max(4, Math.floor((sw * 12) / 704));
    const left = Math.floor(block / 2);
    let value = 0;
    let check = 0;
    for (let i = 0; i < BITS; i++) {
      const row = Math.floor(i / PER_ROW);
      const sx2 = 2 * (left + (i % PER_ROW) * block) + block;
      const sy2 = 2 * (sh - BAND + row * BLOCK_LINES) + BLOCK_LINES;
      const x = rect.x + Math.floor((sx2 * rect.w) / (2 * sw));
      const y = rect.y + Math.floor((sy2 * rect.h) / (2 * sh));
      const p = 4 * (y * width + x);
      const bit = (data[p + 2] * 29 + data[p + 1] * 150 + data[p] * 77) >> 8 >= 128 ? 1 : 0;
      if (i < 40) value = value * 2 + bit;
      else check = check * 2 + bit;
    }
    if (crc8(value) !== check) return null;
    const near = Date.now();
    let t = Math.floor(near / MASK) * MASK + value;
    if (t - near > MASK / 2) t -= MASK;
    if (near - t > MASK / 2) t += MASK;
    return t;
  };
  // The time code the canvas shows now, or null when none can be read. The host sends a picture
  // only when the control's surface changed, so a paused video may paint nothing new for a while:
  // the canvas still holds its last picture.
  window.read_time_code = () => {
    const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
    const rect = video_rect(data, canvas.width, canvas.height);
    if (rect.w < 32 || rect.h < 32) return null;
    for (const [sw, sh] of STREAMS) {
      const code = read(data, canvas.width, rect, sw, sh);
      if (code !== null) return code;
    }
    return null;
  };
}

describe("playback and export from the page", { timeout: 600000 }, () => {
  let host;
  let browser;
  let view;
  const out = output_dir();
  const shot = (name) => view.page.screenshot({ path: join(out, `${name}.png`) });
  const calls = (method) => view.page.evaluate((m) => window.test_calls.filter((c) => c.method === m).map((c) => c.args), method);
  // The time code on screen, in ms, once one can be read (and, with `above`, once it is past it).
  const code_on_screen = async (above = -Infinity) => {
    const handle = await view.page.waitForFunction((a) => {
      const code = window.read_time_code();
      return code !== null && code > a ? code : null;
    }, above, { timeout: VIDEO_MS, polling: 100 });
    return handle.jsonValue();
  };

  before(async () => {
    host = await start_host();
    browser = await launch_browser();
    view = await open_page(browser, { width: 1280, height: 720 });
  });

  after(async () => {
    const ended = await close_all(browser, host);
    if (ended && ended.code !== 0 && ended.code !== null) console.log(`kavrel-host ended with ${ended.code}:\n${host.output()}`);
  });

  it("signs in and switches to the playback page", async () => {
    const { page } = view;
    await page.goto(host.url);
    await page.waitForSelector("body[data-link=open]");
    await page.click("#signin-submit");
    await page.waitForSelector("body.signed-in");
    await page.waitForSelector('.device-row[data-device-id="KVR-000001"][data-link=online]', { timeout: DEVICES_MS });
    await page.evaluate(() => {
      window.test_calls = [];
      window.kavrel.bridge.addEventListener("call", (e) => window.test_calls.push({ method: e.detail.method, args: e.detail.args }));
    });
    await page.waitForSelector('.page-option[data-page="1"]:not([disabled])');
    await page.click('.page-option[data-page="1"]');
    await page.waitForSelector("#pb-side:not([hidden])");
    assert.deepEqual(await calls("CliChangePageTo"), [[1]]);
    assert.equal(await page.textContent(".wall-title"), "Reprodução de gravações");
    assert.equal(await page.isVisible(".layout-picker"), false, "layouts belong to the live wall");
    await page.evaluate(install_time_code_probe);
  });

  it("marks the month's recorded days once a camera is chosen, and lists today's recordings", async () => {
    const { page } = view;
    await page.click(`.tree-camera[data-camera-id="${CAMERA}"]`);
    await page.waitForSelector(`.pb-camera[data-chosen="true"]`);
    assert.equal(await page.textContent(".pb-camera-name"), "Entrada");
    const now = new Date();
    const month = `${now.getFullYear()}${String(now.getMonth() + 1).padStart(2, "0")}`;
    assert.deepEqual((await calls("CliQueryRecordStatusDev")).at(-1), [CAMERA, month]);
    await page.waitForSelector(".cal-day.recorded", { timeout: ANSWER_MS });
    const today = `${now.getFullYear()}-${String(now.getMonth() + 1).padStart(2, "0")}-${String(now.getDate()).padStart(2, "0")}`;
    assert.equal(await page.getAttribute(".cal-day.today", "data-date"), today);
    await page.click(".cal-day.today");
    await page.waitForSelector(".pb-record", { timeout: ANSWER_MS });
    const day = today.replaceAll("-", "");
    assert.deepEqual((await calls("CliQueryRecordDev")).at(-1), [CAMERA, `${day}000000`, `${day}235959`]);
    assert.match(await page.textContent(".pb-month-note"), /dias? com gravações/);
    await shot("playback-day-1280");
  });

  it("plays a recording, and the video's time code advances", async () => {
    const { page } = view;
    // The first recording of the day long enough for the export that follows.
    const index = await page.evaluate(() => window.kavrel.playback.records.findIndex((r) => r.end - r.start >= 120));
    assert.ok(index >= 0, "a recording of two minutes or more today");
    await page.click(`.pb-record[data-index="${index}"] button`);
    await page.waitForSelector('.pb-state[data-state="playing"]');
    const started = await page.evaluate(() => window.test_calls.filter((c) => c.method === "CliStartPlaybackDev").at(-1).args);
    const record = await page.evaluate((i) => window.kavrel.playback.records[i], index);
    const { format_time } = await import("../portal/rec_time.js");
    assert.deepEqual(started, [CAMERA, format_time(record.start), 0]);
    const first = await code_on_screen();
    // A second of recording later on screen: the video plays.
    const later = await code_on_screen(first + 1000);
    assert.ok(later - first >= 1000, `the time code advanced: ${first} → ${later}`);
    // It shows the recording chosen (clock seconds of the device's wall clock, as the page
    // keeps them, and the code's milliseconds of the same clock in UTC or local terms).
    const offset_s = new Date(first).getTimezoneOffset() * 60;
    const near = [first / 1000 - record.start, first / 1000 - offset_s - record.start];
    assert.ok(near.some((d) => d >= -2 && d <= 120), `the code ${first} lies in the recording from ${record.start}`);
    // The page's own clock runs too.
    assert.notEqual(await page.textContent(".pb-time"), "--:--:--");
    await shot("playback-playing-1280");
  });

  it("pauses with the space bar: the picture holds still", async () => {
    const { page } = view;
    await page.focus("#surface");
    await page.keyboard.press("Space");
    await page.waitForSelector('.pb-state[data-state="paused"]');
    assert.deepEqual((await calls("CliControlPlaybackDev")).at(-1), [0, 1]);
    await page.waitForTimeout(1000);
    const held = await code_on_screen();
    await page.waitForTimeout(1500);
    const still = await code_on_screen();
    assert.ok(Math.abs(still - held) < 500, `paused: ${held} → ${still}`);
    const shown = await page.textContent(".pb-time");
    await page.waitForTimeout(600);
    assert.equal(await page.textContent(".pb-time"), shown, "the page's clock holds while paused");
  });

  let download_path = "";

  it("exports 60 s as MP4 through the control's save dialog", async () => {
    const { page } = view;
    const start = await page.inputValue(".pb-export-start");
    assert.match(start, /^\d{2}:\d{2}:\d{2}$/, "the export starts at the cursor");
    assert.equal(await page.inputValue(".pb-export-length"), "60");
    await page.click(".pb-export-go");
    await page.waitForSelector('.pb-export-state:is([data-state="exporting"], [data-state="choosing"])', { timeout: ANSWER_MS });
    const backup = (await calls("CliStartBackup")).at(-1);
    assert.equal(backup[0], CAMERA);
    assert.match(backup[1], new RegExp(`${start.replaceAll(":", "")}$`));
    assert.equal(backup[2], 60);
    await shot("playback-exporting-1280");
    const dialog = await page.waitForSelector("dialog.kind-save-dialog[open]", { timeout: EXPORT_MS });
    assert.equal(await page.inputValue("dialog.kind-save-dialog input"), "Video.mp4");
    assert.equal(await page.isVisible('.pb-export-state[data-state="choosing"]'), true);
    assert.ok(dialog);
    const download = page.waitForEvent("download", { timeout: EXPORT_MS });
    await page.click("dialog.kind-save-dialog button:text-is('Salvar')");
    const file = await download;
    assert.equal(file.suggestedFilename(), "Video.mp4");
    download_path = join(out, "playback-export.mp4");
    await file.saveAs(download_path);
    await page.waitForSelector('.pb-export-state[data-state="saved"]');
    assert.match(await page.textContent(".pb-export-state"), /Video\.mp4/);
    await shot("playback-saved-1280");
  });

  it("the saved file is 60 s of video by ffprobe, and Chromium plays it", async () => {
    const probe = spawnSync("ffprobe", ["-v", "error", "-show_entries", "format=duration:stream=codec_type,codec_name", "-of", "json", download_path], { encoding: "utf8", timeout: 30000 });
    assert.equal(probe.status, 0, probe.stderr);
    const info = JSON.parse(probe.stdout);
    const duration = Number(info.format.duration);
    assert.ok(Math.abs(duration - 60) <= FRAME_S + 1e-6, `duration ${duration} s`);
    assert.ok(info.streams.some((s) => s.codec_type === "video" && s.codec_name === "h264"), JSON.stringify(info.streams));

    const { page } = view;
    const bytes = readFileSync(download_path).toString("base64");
    const played = await page.evaluate(async (b64) => {
      const data = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
      const video = document.createElement("video");
      video.muted = true;
      video.src = URL.createObjectURL(new Blob([data], { type: "video/mp4" }));
      document.body.append(video);
      try {
        await video.play();
        const deadline = performance.now() + 20000;
        while (video.currentTime < 1 && performance.now() < deadline && !video.error) await new Promise((r) => setTimeout(r, 100));
        return { time: video.currentTime, error: video.error?.message ?? null };
      } finally {
        video.remove();
      }
    }, bytes);
    assert.equal(played.error, null);
    assert.ok(played.time >= 1, `the video played to ${played.time} s`);
  });

  it("going back to Ao vivo leaves nothing playing", async () => {
    const { page } = view;
    await page.click(".pb-toggle");
    await page.waitForSelector('.pb-state[data-state="playing"]');
    await page.click('.page-option[data-page="0"]');
    await page.waitForSelector("#pb-side", { state: "hidden" });
    assert.deepEqual((await calls("CliChangePageTo")).at(-1), [0]);
    assert.ok((await calls("CliStopPlaybackDev")).length >= 1);
    assert.equal(await page.evaluate(() => window.kavrel.playback.play_state), "stopped");
    assert.equal(await page.textContent(".wall-title"), "Mosaico ao vivo");
    assert.equal(await page.isVisible(".layout-picker"), true);
  });

  it("ran without script errors in the page", () => {
    assert.deepEqual(view.problems, []);
  });
});
