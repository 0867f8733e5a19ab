// Recorded video from the page, in a real browser against kavrel-host --demo: the playback page
// shows a camera's month with its recorded days marked, today's recordings as a list, plays one
// (the picture in the pane changes and the page's clock runs; pause holds both),
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

import { output_dir, with_host_and_page } from "./harness.mjs";

const DEVICES_MS = 90000;
const ANSWER_MS = 30000; // a device login and a record search on a busy machine
const VIDEO_MS = 60000;
const EXPORT_MS = 120000; // 60 s of video downloaded from the device and converted
const CAMERA = "cam-0001-0"; // "Entrada" on KVR-000001, online in the demo world
const FRAME_S = 1 / 25;

describe("playback and export from the page", { timeout: 600000 }, () => {
  let host;
  let view;
  const out = output_dir();
  const shot = (name) => view.page.screenshot({ path: join(out, `${name}.png`) });
  const calls = (method) => view.page.evaluate((m) => window.test_calls.filter((c) => c.method === m).map((c) => c.args), method);
  // What the person sees of the video: a screenshot of the control's surface in the page.
  const video_shot = () => view.page.locator("#surface").screenshot();
  with_host_and_page({ viewport: { width: 1280, height: 720 } }, (started) => ({ host, view } = started));

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
    // The video plays: what the person sees in the pane changes, and the page's clock runs.
    const clock = await page.textContent(".pb-time");
    const before = await video_shot();
    await page.waitForFunction((c) => document.querySelector(".pb-time").textContent !== c, clock, { timeout: VIDEO_MS });
    await page.waitForTimeout(1500);
    const after = await video_shot();
    assert.ok(!before.equals(after), "the picture in the playback pane changes while it plays");
    assert.notEqual(await page.textContent(".pb-time"), "--:--:--");
    await shot("playback-playing-1280");
  });

  it("pauses with the space bar: the picture holds still", async () => {
    const { page } = view;
    await page.focus("#surface");
    await page.keyboard.press("Space");
    await page.waitForSelector('.pb-state[data-state="paused"]');
    assert.deepEqual((await calls("CliControlPlaybackDev")).at(-1), [0, 1]);
    // Paused, the picture holds still (the host sends nothing new, or the same picture).
    await page.waitForTimeout(1500);
    const held = await video_shot();
    await page.waitForTimeout(1500);
    const still = await video_shot();
    assert.ok(held.equals(still), "the paused picture holds still");
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
