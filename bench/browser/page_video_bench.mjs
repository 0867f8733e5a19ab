// page_video_bench: live video as a person sees it, in headless Chromium against kavrel-host.
//
//   latency  glass to glass in the browser: the capture time the device simulator draws into each
//            picture as a time code, read back from the page's canvas when the page has painted
//            that picture, with 1 pane (main stream) and with 16 panes (extra streams); p50 and
//            p95.
//   cpu      the whole client (the kavrel-host process: tunnels, decoding, the wall, JPEG frames
//            to the page) for 16 extra streams at 25 pictures a second shown in the page: CPU
//            seconds per second of video, against `ffmpeg -f null` decoding the same 16 streams
//            (taken from video_bench in the same run), and the frames per second the page paints.
//
//   node bench/browser/page_video_bench.mjs [seconds per measurement, default 15]
//
// Needs a build (build/bin/kavrel-host, build/bin/video_bench) and `npm ci` for playwright-core.
import { spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

import { start_host, launch_browser, open_page, close_all, repo } from "../../web/tests/harness.mjs";

const seconds = Number(process.argv[2] ?? 15);
const STREAMS = 16;

// One recorder with sixteen channels, each a camera of the account.
function write_fixture(dir) {
  const cams = Array.from({ length: STREAMS }, (_, i) => ({ id: `bench-${i}`, name: `Bench ${i + 1}`, devid: "KVR-BENCH", chlid: i, type: 1 }));
  const fixture = {
    applications: [{ app_key: "kavrel-demo-key", app_pass: "kavrel-demo-pass" }],
    accounts: [{
      user: "demo",
      password: "demo-password",
      devs_sn: 1,
      cams_sn: 1,
      devices: [{ dev_id: "KVR-BENCH", dev_user: "admin", dev_pass: "admin-pass-bench", name: "Bench", vendor: "kavrel", model: "NVR-16", channel_count: STREAMS, dev_port: 37777, dev_http_port: 80, online: true }],
      cameras: { groups: [], cams },
    }],
  };
  const path = join(dir, "fixture.json");
  writeFileSync(path, JSON.stringify(fixture));
  return path;
}

// CPU seconds (user + system) of a process so far, from /proc.
function cpu_seconds(pid) {
  const fields = readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
  return (Number(fields[11]) + Number(fields[12])) / 100; // utime, stime in clock ticks (100 Hz)
}

// Installed in the page: on every painted frame, the time code of each watched pane is read from
// the canvas; a capture time seen for the first time gives one latency sample.
function install_probe() {
  const BITS = 48;
  const PER_ROW = 24;
  const BLOCK_LINES = 16;
  const BAND = 32;
  const MASK = 2 ** 40;
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
  const probe = { panes: [], samples: [], unreadable: 0, frames: 0, last: new Map() };
  // The video inside a pane: the panel is grey-bordered and centred; find its extent along the
  // pane's middle lines.
  const video_rect = (cell, data, width) => {
    const grey = (x, y) => {
      const i = 4 * (y * width + x);
      return Math.abs(data[i] - 0xdc) < 24 && Math.abs(data[i + 1] - 0xdc) < 24 && Math.abs(data[i + 2] - 0xdc) < 24;
    };
    const cy = Math.floor(cell.y + cell.h / 2);
    const cx = Math.floor(cell.x + cell.w / 2);
    let l = cell.x + 2;
    while (l < cell.x + cell.w - 2 && grey(l, cy)) l++;
    let r = cell.x + cell.w - 3;
    while (r > l && grey(r, cy)) r--;
    let t = cell.y + 2;
    while (t < cell.y + cell.h - 2 && grey(cx, t)) t++;
    let b = cell.y + cell.h - 3;
    while (b > t && grey(cx, b)) b--;
    return { x: l, y: t, w: r - l + 1, h: b - t + 1 };
  };
  const read = (data, width, rect, sw, sh, near) => {
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
    let t = Math.floor(near / MASK) * MASK + value;
    if (t - near > MASK / 2) t -= MASK;
    if (near - t > MASK / 2) t += MASK;
    return t;
  };
  window.kavrel.surface.addEventListener("painted", () => {
    const now = performance.timeOrigin + performance.now();
    probe.frames += 1;
    if (!probe.panes.length) return;
    const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
    for (const pane of probe.panes) {
      const rect = video_rect(pane.cell, data, canvas.width);
      if (rect.w < 16 || rect.h < 16) continue;
      const t = read(data, canvas.width, rect, pane.sw, pane.sh, now);
      if (t === null) {
        probe.unreadable += 1;
        continue;
      }
      if (probe.last.get(pane.index) === t) continue;
      probe.last.set(pane.index, t);
      probe.samples.push(now - t);
    }
  });
  window.bench_probe = probe;
}

function percentile(values, p) {
  if (!values.length) return NaN;
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.round(p * (sorted.length - 1)))];
}

async function watch(page, count, stream, sw, sh) {
  await page.evaluate(async ({ count, stream, sw, sh }) => {
    const { live, wall_bar, control } = window.kavrel;
    await wall_bar.set_layout(count);
    const c = document.querySelector("#surface");
    const { cell_rects } = await import("/portal/wall_bar.js");
    window.bench_probe.panes = cell_rects(count, c.width, c.height).map((cell, index) => ({ index, cell, sw, sh }));
    for (let i = 0; i < count; i++) await control.CliStartPlayDev(`bench-${i}`, stream, i);
    live.panes.clear();
  }, { count, stream, sw, sh });
  // Every pane shows a readable time code before measuring.
  await page.waitForFunction((n) => window.bench_probe.last.size >= n, count, { timeout: 120000 });
}

async function measure(page, host_pid, ms) {
  await page.evaluate(() => {
    window.bench_probe.samples = [];
    window.bench_probe.unreadable = 0;
    window.bench_probe.frames = 0;
  });
  const cpu0 = cpu_seconds(host_pid);
  const t0 = Date.now();
  await new Promise((r) => setTimeout(r, ms)); // the measurement window itself
  const cpu = cpu_seconds(host_pid) - cpu0;
  const wall = (Date.now() - t0) / 1000;
  const probe = await page.evaluate(() => ({ samples: window.bench_probe.samples, unreadable: window.bench_probe.unreadable, frames: window.bench_probe.frames }));
  return { cpu_per_s: cpu / wall, fps: probe.frames / wall, p50: percentile(probe.samples, 0.5), p95: percentile(probe.samples, 0.95), samples: probe.samples.length, unreadable: probe.unreadable };
}

async function stop_all(page, count) {
  await page.evaluate(async (n) => {
    for (let i = 0; i < n; i++) await window.kavrel.control.CliStopPlayDev(i);
  }, count);
}

// ffmpeg's CPU per second of the same 16 extra streams, from video_bench in this run (which
// prints CPU milliseconds per second of one stream's video).
function ffmpeg_per_second() {
  const run = spawnSync(join(repo, "build/bin/video_bench"), [String(Math.min(seconds, 10))], { encoding: "utf8", timeout: 600000 });
  const line = (run.stdout ?? "").split("\n").find((l) => l.startsWith("ffmpeg -f null (16 files)"));
  const ms_per_stream_second = line ? Number(line.trim().split(/\s+/)[5]) : NaN;
  return (ms_per_stream_second * STREAMS) / 1000;
}

const dir = mkdtempSync(join(tmpdir(), "kavrel-page-bench-"));
const host = await start_host({ args: ["--fixture", write_fixture(dir)] });
const browser = await launch_browser();
let results;
try {
  const { page } = await open_page(browser, { width: 1280, height: 720 });
  await page.goto(host.url);
  await page.waitForSelector("body[data-link=open]");
  await page.click("#signin-submit");
  await page.waitForSelector('.device-row[data-device-id="KVR-BENCH"][data-link=online]', { timeout: 120000 });
  await page.evaluate(install_probe);

  await watch(page, 1, 0, 1280, 720);
  const one = await measure(page, host.child.pid, seconds * 1000);
  await stop_all(page, 1);
  await watch(page, 16, 1, 704, 576);
  const sixteen = await measure(page, host.child.pid, seconds * 1000);
  await stop_all(page, 16);
  results = { one, sixteen };
} finally {
  await close_all(browser, host);
  rmSync(dir, { recursive: true, force: true });
}
const ffmpeg = ffmpeg_per_second();

const { one, sixteen } = results;
console.log(`page_video_bench: ${seconds} s per measurement, page 1280x720 in headless Chromium`);
console.log("\nglass to glass in the page        p50 ms    p95 ms   samples  unreadable");
for (const [name, r] of [["1 pane, main stream", one], ["16 panes, extra streams", sixteen]]) {
  console.log(`${name.padEnd(32)} ${r.p50.toFixed(1).padStart(7)} ${r.p95.toFixed(1).padStart(9)} ${String(r.samples).padStart(9)} ${String(r.unreadable).padStart(11)}`);
}
console.log(`\nkavrel-host CPU, 16 extra streams shown: ${sixteen.cpu_per_s.toFixed(3)} s per second of video; page painted ${sixteen.fps.toFixed(1)} frames/s`);
console.log(`ffmpeg -f null, the same 16 streams:     ${Number.isFinite(ffmpeg) ? ffmpeg.toFixed(3) : "n/a"} s per second of video`);
console.log(`\nratio glass-to-glass p95, 16 panes / 80 ms:   ${(sixteen.p95 / 80).toFixed(2)}   (target < 1.0)`);
if (Number.isFinite(ffmpeg) && ffmpeg > 0) console.log(`ratio whole client CPU / ffmpeg decode:       ${(sixteen.cpu_per_s / ffmpeg).toFixed(2)}   (target <= 1.5, page >= 20 frames/s)`);
