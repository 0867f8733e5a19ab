// The mock host's recordings: the record search and month status of every online camera on a
// fixed schedule, a playback drawn into the playback page with the simulated devices' time code
// in its bottom band, the speed and skip commands, and an export that ends in the control's save
// dialog and a real MP4 file (made with ffmpeg) offered as a download.
//
// The schedule: every day up to today except the days divisible by 6 (today always) holds
// ten-minute files from 00:00 (today: up to now), with nothing between 12:00 and 13:00 and a
// motion file every third hour. Offline devices answer nothing but "not logged in" (-3).

import { spawnSync } from "node:child_process";
import { mkdtempSync, rmSync, readFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const EV = { RECORD_QUERY: 0x20001002, RECORD_STATUS: 0x20001005, LOGIN_FAILED: 0x12101, EXPORT: 0x30003 };
const DAY = 86400;
const FILE_SECONDS = 600;
const PAGE = 100;
const SPEEDS = [1 / 8, 1 / 4, 1 / 2, 1, 2, 4, 8];

const two = (n) => String(n).padStart(2, "0");
// Clock seconds (the devices' wall clock read as UTC) and their 14-digit texts.
export function to_text(s) {
  const d = new Date(s * 1000);
  return `${d.getUTCFullYear()}${two(d.getUTCMonth() + 1)}${two(d.getUTCDate())}${two(d.getUTCHours())}${two(d.getUTCMinutes())}${two(d.getUTCSeconds())}`;
}
export function from_text(text) {
  const m = /^(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})$/.exec(String(text ?? ""));
  return m ? Date.UTC(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]) / 1000 : null;
}
function now_clock() {
  const d = new Date();
  return Date.UTC(d.getFullYear(), d.getMonth(), d.getDate(), d.getHours(), d.getMinutes(), d.getSeconds()) / 1000;
}

// The files of the day starting at `day` (clock seconds).
export function files_of_day(day, now = now_clock()) {
  const date = new Date(day * 1000);
  const today = day <= now && now < day + DAY;
  if ((date.getUTCDate() % 6 === 0 && !today) || day > now) return [];
  const files = [];
  for (let s = day; s < day + DAY && s < now; s += FILE_SECONDS) {
    const hour = Math.floor((s - day) / 3600);
    if (hour === 12) continue;
    const end = Math.min(s + FILE_SECONDS - 1, now);
    files.push({ start: s, end, type: hour % 3 === 1 && (s - day) % 3600 === 0 ? 2 : 0, size: 30000 + ((s / 60) % 7) * 1000 });
  }
  return files;
}

export function crc8(ms) {
  let crc = 0xff;
  for (let i = 4; i >= 0; i--) {
    crc ^= Math.floor(ms / 2 ** (8 * i)) & 0xff;
    for (let b = 0; b < 8; b++) crc = crc & 0x80 ? ((crc << 1) ^ 0x07) & 0xff : (crc << 1) & 0xff;
  }
  return crc;
}

export function make_recordings({ account, fire, site, later, offer, redraw }) {
  const state = {
    page: 0,
    playback: null, // {camera, base, base_at, speed, paused}
    backup: null,
    ticker: null,
  };
  const camera = (id) => account.cameras.cams.find((c) => c.id === id) ?? find_in_groups(account.cameras.groups, id);
  const device = (id) => account.devices.find((d) => d.dev_id === id);
  const padded = (id) => id + "\0".repeat(Math.max(0, 240 - Buffer.byteLength(id)));

  function position() {
    const p = state.playback;
    if (!p) return null;
    if (p.paused) return p.base;
    return p.base + ((Date.now() - p.base_at) / 1000) * SPEEDS[p.speed];
  }
  function rebase() {
    const p = state.playback;
    p.base = position();
    p.base_at = Date.now();
  }
  function run_ticker() {
    clearInterval(state.ticker);
    state.ticker = state.playback && state.page === 1 ? setInterval(redraw, 400) : null;
  }
  function stop_playback() {
    state.playback = null;
    run_ticker();
    redraw();
  }

  const methods = {
    CliChangePageTo: (page) => {
      if (state.page === 1 && page !== 1) stop_playback();
      state.page = page;
      run_ticker();
      redraw();
      return null;
    },
    CliQueryRecordStatusDev: (id, month) => {
      const cam = camera(id);
      if (!cam) return null;
      const dev = device(cam.devid);
      later(120, () => {
        if (!dev?.online) return fire(EV.RECORD_STATUS, 0, -3, id);
        const m = /^(\d{4})(\d{2})$/.exec(month);
        const request = { dev_id: cam.devid, chl_id: cam.chlid, month };
        if (!m) return fire(EV.RECORD_STATUS, 0, -1, JSON.stringify(request));
        let flag = "";
        for (let d = 1; d <= 31; d++) {
          const day = Date.UTC(+m[1], +m[2] - 1, d) / 1000;
          const real = new Date(day * 1000).getUTCMonth() === +m[2] - 1;
          flag += real && files_of_day(day).length ? "1" : "0";
        }
        fire(EV.RECORD_STATUS, 0, 0, JSON.stringify({ ...request, flag }));
      });
      return null;
    },
    CliQueryRecordDev: (id, start, end) => {
      const cam = camera(id);
      if (!cam) return null;
      const dev = device(cam.devid);
      later(150, () => {
        if (!dev?.online) return fire(EV.RECORD_QUERY, 0, -3, id);
        const from = from_text(start);
        const to = from_text(end);
        const request = { dev_id: cam.devid, chl_id: cam.chlid, start, end };
        if (from === null || to === null) return fire(EV.RECORD_QUERY, 0, -1, JSON.stringify(request));
        const all = [];
        for (let day = Math.floor(from / DAY) * DAY; day <= to; day += DAY) {
          for (const f of files_of_day(day)) if (f.end >= from && f.start <= to) all.push(f);
        }
        // Pages of 100; each next page starts again with the previous page's last file, as the
        // device does when a file ends at the page's boundary.
        let page = 1;
        let at = 0;
        for (;;) {
          const files = all.slice(at, at + PAGE);
          const records = files.map((f) => ({
            name: `/mnt/dvr/${to_text(f.start).slice(0, 8)}/${cam.chlid}/${to_text(f.start).slice(8)}.dav`,
            start: to_text(f.start), end: to_text(f.end), type: f.type, size: f.size,
          }));
          fire(EV.RECORD_QUERY, page, records.length, JSON.stringify({ ...request, records }));
          if (files.length < PAGE) break;
          at += PAGE - 1;
          page += 1;
        }
      });
      return null;
    },
    CliStartPlaybackDev: (id, time) => {
      const cam = camera(id);
      const base = from_text(time);
      if (!cam || base === null || state.playback || state.backup) return null;
      if (!device(cam.devid)?.online) {
        later(300, () => fire(EV.LOGIN_FAILED, 0, -1, padded(id)));
        return null;
      }
      state.playback = { camera: id, base, base_at: Date.now(), speed: 3, paused: false };
      run_ticker();
      return null;
    },
    CliStopPlaybackDev: () => {
      if (!state.backup) stop_playback();
      return null;
    },
    CliControlPlaybackDev: (pane, cmd) => {
      const p = state.playback;
      if (!p) return null;
      rebase();
      if (cmd === 0) {
        p.speed = 3;
        p.paused = false;
      } else if (cmd === 1) p.paused = true;
      else if (cmd === 2) p.speed = Math.min(6, p.speed + 1);
      else if (cmd === 3) p.speed = Math.max(0, p.speed - 1);
      else if (cmd === 4 || cmd === 5) {
        p.base += cmd === 4 ? -10 : 10;
        p.speed = 3;
        p.paused = false;
      }
      return null;
    },
    CliStartBackup: (id, start, seconds) => {
      const cam = camera(id);
      if (!id) return -1;
      if (!cam) return -6;
      const dev = device(cam.devid);
      if (!dev) return -5;
      if (!dev.online) {
        later(50, () => fire(EV.LOGIN_FAILED, 0, -1, padded(id)));
        return -4;
      }
      let from = from_text(start);
      if (from === null && state.playback) from = Math.floor(position()) - 15;
      const length = seconds > 0 ? seconds : 60;
      const files = from === null ? [] : files_of_day(Math.floor(from / DAY) * DAY).filter((f) => f.end >= from && f.start < from + length);
      if (!files.length) {
        later(30, () => fire(EV.EXPORT, 0, -1, padded(id)));
        return -3;
      }
      state.backup = { id, from, length };
      stop_playback();
      later(30, () => fire(EV.EXPORT, 0, 0, padded(id)));
      later(1500, async () => {
        if (!state.backup) return;
        const answer = await site({
          kind: "save_dialog", title: "", initial_name: "Video.mp4", default_extension: "mp4",
          filters: [["File video MP4", "*.mp4"], ["File video DAV", "*.dav"]],
        });
        const backup = state.backup;
        state.backup = null;
        if (!answer?.chosen || !backup) return;
        const bytes = String(answer.name).endsWith(".mp4") ? make_mp4(backup.length) : Buffer.from("DAV");
        offer(answer.name, bytes);
      });
      return 0;
    },
    CliStopBackup: () => {
      state.backup = null;
      return 0;
    },
  };

  // The playback page: the grey pane with the video fitted at 16:9, a moving bar, and the
  // band with the playing time's code (ms of the clock seconds) at the bottom. `data` is RGBA.
  function paint(data, width, height) {
    data.fill(0xdc);
    const p = state.playback;
    if (!p) return;
    const vw = Math.min(width - 8, Math.floor(((height - 8) * 16) / 9));
    const vh = Math.floor((vw * 9) / 16);
    const vx = Math.floor((width - vw) / 2);
    const vy = Math.floor((height - vh) / 2);
    const ms = Math.floor(position() * 1000) % 2 ** 40;
    const bits = BigInt(ms) * 256n + BigInt(crc8(ms));
    const bit = Array.from({ length: 48 }, (_, i) => Number((bits >> BigInt(47 - i)) & 1n));
    const block = Math.floor((1280 * 12) / 704);
    const left = Math.floor(block / 2);
    const bar = Math.floor((ms / 40) % vw);
    const half = vw / 40;
    for (let y = 0; y < vh; y++) {
      const sy = Math.floor((y * 720) / vh);
      let i = ((vy + y) * width + vx) * 4;
      for (let x = 0; x < vw; x++, i += 4) {
        let r;
        let g;
        let b;
        if (sy >= 688) {
          const sx = Math.floor((x * 1280) / vw);
          const k = Math.floor((sx - left) / block);
          r = g = b = sx >= left && k < 24 ? (bit[Math.floor((sy - 688) / 16) * 24 + k] ? 235 : 16) : 60;
        } else if (Math.abs(x - bar) < half) [r, g, b] = [200, 120, 40];
        else [r, g, b] = [20, 40 + Math.floor((y * 60) / vh), 70];
        data[i] = r;
        data[i + 1] = g;
        data[i + 2] = b;
      }
    }
  }

  return { methods, paint, state, on_page: () => state.page === 1 };
}

function find_in_groups(groups, id) {
  for (const g of groups ?? []) {
    const found = (g.cams ?? []).find((c) => c.id === id) ?? find_in_groups(g.groups, id);
    if (found) return found;
  }
  return null;
}

// `seconds` of a small test picture at 25 pictures a second as H.264 in MP4.
function make_mp4(seconds) {
  const dir = mkdtempSync(join(tmpdir(), "kavrel-mock-"));
  try {
    const out = join(dir, "v.mp4");
    const r = spawnSync("ffmpeg", ["-v", "error", "-f", "lavfi", "-i", `testsrc=size=320x180:rate=25:duration=${seconds}`, "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-movflags", "+faststart", out], { timeout: 60000 });
    if (r.status !== 0) throw new Error(`ffmpeg: ${r.stderr}`);
    return readFileSync(out);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}
