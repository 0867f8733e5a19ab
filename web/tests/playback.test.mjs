// The playback view's working parts without a browser: time texts, the month grid, the
// month-status flags, record pages merged, the timeline's geometry, the page's play clock and the
// steps of an export.
import { test } from "node:test";
import assert from "node:assert/strict";

import {
  parse_time, format_time, clock_seconds, days_in_month, is_leap, parse_month, format_month,
  add_months, day_start, clock_text, parse_clock, size_text, duration_text,
} from "../portal/rec_time.js";
import { month_grid } from "../portal/rec_calendar.js";
import { parse_flags, MonthStatus, RecordSearch, playable_from, record_at, start_error_key } from "../portal/rec_search.js";
import { time_to_x, x_to_time, span_rects, day_percent, label_step } from "../portal/timeline.js";
import { PlayClock, SPEEDS, NORMAL, speed_text } from "../portal/play_clock.js";
import { ExportFlow, backup_error_key, export_length } from "../portal/export_flow.js";
import { EV } from "../portal/events.js";
import { _texts_for_tests as texts } from "../portal/i18n.js";

const ev = (nID, nTag1, nTag2, szInfo = "") => ({ hContext: 0, handle: 0, nID, nTag1, nTag2, szInfo, nInfoLen: Buffer.byteLength(szInfo) });

test("14-digit times read and write back; impossible dates are refused", () => {
  const cases = [
    ["20240229235959", clock_seconds(2024, 2, 29, 23, 59, 59)],
    ["20000101000000", clock_seconds(2000, 1, 1)],
    ["20261210143005", clock_seconds(2026, 12, 10, 14, 30, 5)],
    ["20230229000000", null], // 2023 is not a leap year
    ["19000229000000", null], // nor is 1900
    ["20240431000000", null],
    ["20241301000000", null],
    ["20240100000000", null],
    ["20240101240000", null],
    ["20240101006000", null],
    ["2024010100000", null],
    ["202401010000000", null],
    ["2024-01-01 000", null],
    ["", null],
    [undefined, null],
  ];
  for (const [text, want] of cases) assert.equal(parse_time(text), want, String(text));
  for (const [text, want] of cases) if (want !== null) assert.equal(format_time(want), text);
  // Across the end of a year and of February, by whole days.
  assert.equal(format_time(parse_time("20231231235955") + 10), "20240101000005");
  assert.equal(format_time(parse_time("20240228120000") + 86400), "20240229120000");
  assert.equal(format_time(day_start(parse_time("20240229235959"))), "20240229000000");
});

test("months: lengths, leap years, texts and stepping across years", () => {
  assert.deepEqual([1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12].map((m) => days_in_month(2023, m)), [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]);
  assert.deepEqual([2024, 2000, 1900, 2100, 2023].map((y) => [is_leap(y), days_in_month(y, 2)]), [[true, 29], [true, 29], [false, 28], [false, 28], [false, 28]]);
  assert.equal(format_month(2026, 3), "202603");
  assert.deepEqual(parse_month("202612"), { year: 2026, month: 12 });
  assert.equal(parse_month("202613"), null);
  assert.equal(parse_month("20261"), null);
  assert.deepEqual(add_months({ year: 2026, month: 1 }, -1), { year: 2025, month: 12 });
  assert.deepEqual(add_months({ year: 2026, month: 12 }, 1), { year: 2027, month: 1 });
  assert.deepEqual(add_months({ year: 2026, month: 5 }, -17), { year: 2024, month: 12 });
});

test("clock texts and typed times of day", () => {
  assert.equal(clock_text(parse_time("20261210070809")), "07:08:09");
  assert.equal(parse_clock("07:08"), 7 * 3600 + 8 * 60);
  assert.equal(parse_clock("23:59:59"), 86399);
  for (const bad of ["24:00", "12:60", "7", "12:5", "ab:cd", ""]) assert.equal(parse_clock(bad), null, bad);
  assert.deepEqual([45, 200, 600, 3900].map(duration_text), ["45 s", "3 min 20 s", "10 min", "1 h 05 min"]);
  assert.equal(size_text(820, "en"), "820 KB");
  assert.equal(size_text(2560, "pt-BR"), "2,5 MB");
  assert.equal(size_text(12800, "pt-BR"), "13 MB");
  assert.equal(size_text(1258291, "en"), "1.2 GB");
});

test("the month grid: whole weeks from Sunday, every day once, neighbours filling the edges", () => {
  // [year, month, weeks, first cell, last cell]
  const cases = [
    [2026, 2, 4, "2026-2-1", "2026-2-28"], // February 2026 starts on a Sunday and fills four weeks exactly
    [2024, 2, 5, "2024-1-28", "2024-3-2"], // leap February
    [2023, 2, 5, "2023-1-29", "2023-3-4"],
    [2026, 8, 6, "2026-7-26", "2026-9-5"], // starts on a Saturday: six weeks
    [2026, 12, 5, "2026-11-29", "2027-1-2"], // across the year
  ];
  for (const [year, month, weeks, first, last] of cases) {
    const grid = month_grid(year, month);
    assert.equal(grid.length, weeks, `${year}-${month}`);
    assert.ok(grid.every((w) => w.length === 7));
    const cells = grid.flat();
    const key = (c) => `${c.year}-${c.month}-${c.day}`;
    assert.equal(key(cells[0]), first);
    assert.equal(key(cells[cells.length - 1]), last);
    const inside = cells.filter((c) => c.in_month).map((c) => c.day);
    assert.deepEqual(inside, Array.from({ length: days_in_month(year, month) }, (_, i) => i + 1));
    // Day 1 sits under its weekday.
    const one = cells.findIndex((c) => c.in_month);
    assert.equal(one % 7, new Date(Date.UTC(year, month - 1, 1)).getUTCDay());
  }
  // Weeks from Monday move the lead days.
  assert.equal(month_grid(2026, 2, 1)[0][0].day, 26);
});

test("month-status flags: 31 characters, days past the month's end ignored", () => {
  const first_last = "1" + "0".repeat(29) + "1";
  assert.deepEqual([...parse_flags(first_last, 31)], [1, 31]);
  assert.deepEqual([...parse_flags(first_last, 30)], [1]);
  assert.deepEqual([...parse_flags("1".repeat(31), 28)].length, 28);
  assert.equal(parse_flags("0".repeat(31)).size, 0);
  for (const bad of ["1".repeat(30), "1".repeat(32), "2" + "0".repeat(30), null, 31]) assert.equal(parse_flags(bad), null, String(bad));
});

const CAM = { camera: "cam-a", dev_id: "KVR-1", chl_id: 1 };

test("the month-status answer is matched to its question and read in words when it fails", () => {
  const flag = "0110" + "0".repeat(27);
  const json = (month, extra = {}) => JSON.stringify({ dev_id: "KVR-1", chl_id: 1, month, ...extra });
  const ask = () => new MonthStatus({ ...CAM, year: 2026, month: 2 });
  // [event, settles, state, days or error key]
  const cases = [
    [ev(EV.RECORD_STATUS, 0, 0, json("202602", { flag })), true, "done", [2, 3]],
    [ev(EV.RECORD_STATUS, 0, 0, json("202601", { flag })), false, "asking", null], // another month
    [ev(EV.RECORD_STATUS, 0, 0, JSON.stringify({ dev_id: "KVR-1", chl_id: 0, month: "202602", flag })), false, "asking", null],
    [ev(EV.RECORD_QUERY, 1, 0, json("202602", { flag })), false, "asking", null],
    [ev(EV.RECORD_STATUS, 0, -1, json("202602")), true, "failed", "rec.err.device"],
    [ev(EV.RECORD_STATUS, 0, 0, json("202602", { flag: "01" })), true, "failed", "rec.err.unreadable"],
    [ev(EV.RECORD_STATUS, 0, -3, "cam-a"), true, "failed", "rec.err.not-logged-in"],
    [ev(EV.RECORD_STATUS, 0, -3, "cam-a\0\0\0"), true, "failed", "rec.err.not-logged-in"],
    [ev(EV.RECORD_STATUS, 0, -1, "cam-a"), true, "failed", "rec.err.refused"],
    [ev(EV.RECORD_STATUS, 0, -3, "cam-b"), false, "asking", null],
    [ev(EV.RECORD_STATUS, 0, -1, ""), true, "failed", "rec.err.device"],
  ];
  for (const [event, settles, state, want] of cases) {
    const q = ask();
    assert.equal(q.accept(event), settles, event.szInfo);
    assert.equal(q.state, state, event.szInfo);
    if (state === "done") assert.deepEqual([...q.days], want);
    if (state === "failed") assert.equal(q.error.key, want);
  }
  // February of a leap year ignores the flag's 30th and 31st day.
  const leap = new MonthStatus({ ...CAM, year: 2024, month: 2 });
  leap.accept(ev(EV.RECORD_STATUS, 0, 0, json("202402", { flag: "0".repeat(28) + "111" })));
  assert.deepEqual([...leap.days], [29]);
});

// A page of the record answer: files `from` to `to` of a day, one every 10 minutes.
function page(number, files, { start = "20261210000000", end = "20261210235959" } = {}) {
  const records = files.map((i) => ({
    name: `/mnt/dvr/2026-12-10/001/dav/${i}.dav`,
    start: format_time(parse_time("20261210000000") + i * 600),
    end: format_time(parse_time("20261210000000") + i * 600 + 599),
    type: i % 7 === 3 ? 2 : 0,
    size: 40960,
  }));
  return ev(EV.RECORD_QUERY, number, files.length, JSON.stringify({ dev_id: "KVR-1", chl_id: 1, start, end, records }));
}
const range = (a, b) => Array.from({ length: b - a }, (_, i) => a + i);

test("record pages merge into one list; a file repeated at a page boundary is kept once", () => {
  const search = new RecordSearch({ ...CAM, start: "20261210000000", end: "20261210235959" });
  assert.equal(search.accept(page(1, range(0, 100))), true);
  assert.equal(search.state, "searching");
  // The second page starts with the first page's last file again.
  assert.equal(search.accept(page(2, range(99, 199))), true);
  assert.equal(search.state, "searching");
  assert.equal(search.accept(page(3, range(198, 250))), true);
  assert.equal(search.state, "done");
  const records = search.records;
  assert.equal(records.length, 250);
  assert.deepEqual(records.map((r) => r.start), [...records.map((r) => r.start)].sort((a, b) => a - b));
  assert.equal(search.pages, 3);
  // Pages of another search, or after the last page, change nothing.
  assert.equal(search.accept(page(1, range(0, 3), { start: "20261211000000" })), false);
  assert.equal(search.records.length, 250);
});

test("exactly 100 files end with an empty page; failures say why and keep what arrived", () => {
  const search = new RecordSearch({ ...CAM, start: "20261210000000", end: "20261210235959" });
  search.accept(page(1, range(0, 100)));
  assert.equal(search.state, "searching");
  search.accept(page(2, []));
  assert.equal(search.state, "done");
  assert.equal(search.records.length, 100);

  const broken = new RecordSearch({ ...CAM, start: "20261210000000", end: "20261210235959" });
  broken.accept(page(1, range(0, 100)));
  broken.accept(ev(EV.RECORD_QUERY, 0, -1, JSON.stringify({ dev_id: "KVR-1", chl_id: 1, start: "20261210000000", end: "20261210235959" })));
  assert.equal(broken.state, "failed");
  assert.equal(broken.error.key, "rec.err.device");
  assert.equal(broken.records.length, 100);

  const refused = new RecordSearch({ ...CAM, start: "20261210000000", end: "20261210235959" });
  refused.accept(ev(EV.RECORD_QUERY, 0, -5, "cam-a"));
  assert.deepEqual(refused.error, { key: "rec.err.memory", code: -5 });
  assert.equal(start_error_key(-2), "rec.err.not-ready");
  assert.equal(start_error_key(-9), "rec.err.code");

  // Entries that are not recordings are left out.
  const odd = new RecordSearch({ ...CAM, start: "20261210000000", end: "20261210235959" });
  odd.accept(ev(EV.RECORD_QUERY, 1, 3, JSON.stringify({
    dev_id: "KVR-1", chl_id: 1, start: "20261210000000", end: "20261210235959",
    records: [{ name: "a", start: "20261210010000", end: "20261210005959" }, { name: "b", start: "x", end: "20261210010000" }, { name: "c", start: "20261210010000", end: "20261210011000", type: 1, size: 5 }],
  })));
  assert.deepEqual(odd.records.map((r) => r.name), ["c"]);
});

test("a click in a gap plays from the next recording", () => {
  const day = parse_time("20261210000000");
  const records = [{ name: "a", start: day + 3600, end: day + 7199, type: 0, size: 1 }, { name: "b", start: day + 10800, end: day + 14399, type: 0, size: 1 }];
  assert.equal(playable_from(records, day + 4000), day + 4000);
  assert.equal(playable_from(records, day + 8000), day + 10800);
  assert.equal(playable_from(records, day), day + 3600);
  assert.equal(playable_from(records, day + 20000), null);
  assert.equal(record_at(records, day + 7199).name, "a");
  assert.equal(record_at(records, day + 7200), null);
});

test("timeline geometry: positions, clicks, bars clipped to the day and merged where they touch", () => {
  const day = parse_time("20261210000000");
  assert.equal(time_to_x(day + 43200, day, 960), 480);
  assert.equal(x_to_time(480, day, 960), day + 43200);
  assert.equal(x_to_time(-5, day, 960), day);
  assert.equal(x_to_time(2000, day, 960), day + 86399);
  assert.equal(day_percent(day + 21600, day), 25);
  assert.equal(day_percent(day - 5, day), 0);
  assert.equal(day_percent(day + 90000, day), 100);
  const rec = (from, to, type = 0) => ({ name: "", start: day + from, end: day + to, type, size: 0 });
  const bars = span_rects([
    rec(-3600, 3599), // from the day before: clipped at midnight
    rec(3600, 7199), // touches the first: one bar
    rec(43200, 43201), // two seconds: still one pixel
    rec(43000, 43500, 2), // a motion recording over it stays a bar of its own
    rec(82800, 90000), // into the next day: clipped at its end
  ], day, 960);
  assert.deepEqual(bars, [
    { x: 0, w: 80, type: 0 },
    { x: 477, w: 7, type: 2 },
    { x: 480, w: 1, type: 0 },
    { x: 920, w: 40, type: 0 },
  ]);
  assert.deepEqual(span_rects([rec(-7200, -3600), rec(86400, 90000)], day, 960), []);
  assert.deepEqual([1200, 700, 400, 200, 100].map(label_step), [1, 2, 3, 6, 12]);
});

test("the play clock follows start, speed, pause and skips", () => {
  const t0 = parse_time("20261210080000");
  const clock = new PlayClock();
  assert.equal(clock.position(0), null);
  clock.start(t0, 1000);
  assert.equal(clock.position(3000), t0 + 2);
  assert.equal(clock.step(1, 3000), true); // 2×
  assert.equal(clock.position(4000), t0 + 4);
  clock.pause(4000);
  assert.equal(clock.position(60000), t0 + 4);
  clock.resume(60000);
  assert.equal(clock.position(61000), t0 + 6); // still 2× after the pause
  clock.skip(-1, 61000);
  assert.equal(clock.position(61000), t0 - 4);
  assert.equal(clock.speed, NORMAL);
  // Slower down to ⅛×, and no further.
  for (let i = 0; i < 3; i++) assert.equal(clock.step(-1, 61000), true);
  assert.equal(clock.step(-1, 61000), false);
  assert.equal(clock.position(69000), t0 - 3);
  assert.equal(speed_text(clock.speed), "⅛×");
  clock.normal(69000);
  assert.equal(SPEEDS[clock.speed], 1);
  assert.deepEqual([0, 1, 2, 3, 4, 5, 6].map(speed_text), ["⅛×", "¼×", "½×", "1×", "2×", "4×", "8×"]);
  // The clock stops at the end of what is recorded.
  clock.start(t0, 0, t0 + 5);
  assert.equal(clock.position(9000), t0 + 5);
  assert.equal(clock.ended(9000), true);
  clock.stop();
  assert.equal(clock.position(9000), null);
});

test("export steps: the control's results and the save dialog in words", () => {
  assert.deepEqual([-1, -2, -3, -4, -5, -6, -7].map(backup_error_key), [
    "exp.err.camera", "exp.err.internal", "exp.err.refused", "exp.err.login", "exp.err.unknown-device", "exp.err.unknown-camera", "exp.err.code",
  ]);
  assert.deepEqual(["", "60", " 90 ", "0", "3601", "1.5", "-5", "abc"].map(export_length), [60, 60, 90, null, null, null, null, null]);

  const flow = new ExportFlow();
  flow.begin("cam-a");
  flow.started(0);
  assert.equal(flow.state, "exporting");
  flow.event("export", 0, "cam-a");
  assert.equal(flow.state, "exporting");
  flow.dialog_opened();
  assert.equal(flow.state, "choosing");
  flow.dialog_answered({ chosen: true, name: "Video.mp4", filter_index: 1 });
  assert.equal(flow.state, "saving");
  flow.downloaded("Video.mp4");
  assert.deepEqual([flow.state, flow.name], ["saved", "Video.mp4"]);

  // [steps, final state, error key]
  const cases = [
    [(f) => f.started(-4), "failed", "exp.err.login"],
    [(f) => f.started(null), "failed", "exp.err.call"],
    [(f) => { f.started(0); f.event("export", -1, "cam-a"); }, "failed", "exp.err.refused"],
    [(f) => { f.started(0); f.event("export", -1, "cam-b"); }, "exporting", null],
    [(f) => { f.event("login", -3, "cam-a"); f.started(-4); }, "failed", "exp.err.login"],
    [(f) => { f.started(0); f.dialog_opened(); f.dialog_answered({ chosen: false }); }, "cancelled", null],
    [(f) => { f.started(0); f.cancel(); f.dialog_opened(); }, "cancelled", null],
    // A download that never comes after the name was chosen (the page's wait ran out).
    [(f) => { f.started(0); f.dialog_opened(); f.dialog_answered({ chosen: true, name: "a.mp4" }); f.fail("exp.err.no-file"); f.downloaded("a.mp4"); }, "failed", "exp.err.no-file"],
  ];
  for (const [steps, state, key] of cases) {
    const f = new ExportFlow();
    f.begin("cam-a");
    steps(f);
    assert.equal(f.state, state);
    assert.equal(f.error?.key ?? null, key);
  }
});

test("every text the playback view uses exists in both languages", () => {
  const keys = Object.keys(texts.pt).filter((k) => /^(pb|rec|exp)\./.test(k));
  assert.ok(keys.length > 30, `${keys.length} playback texts`);
  for (const key of keys) assert.ok(key in texts.en, `${key} in English`);
  for (const key of Object.keys(texts.en).filter((k) => /^(pb|rec|exp)\./.test(k))) assert.ok(key in texts.pt, `${key} in Portuguese`);
  for (const code of [-1, -2, -3, -5, -9]) assert.ok(start_error_key(code) in texts.pt);
  for (const code of [-1, -2, -3, -4, -5, -6, -7]) assert.ok(backup_error_key(code) in texts.pt);
});
