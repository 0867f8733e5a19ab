// The two questions the page asks about a camera's recordings and how their answers come back:
// which days of a month hold recordings (RECORD_QUERY_STATUS_RES) and which files lie between two
// times (RECORD_QUERY_RES, one event per page of up to 100 files). The control passes the
// library's JSON through unchanged; when it could not even start a question, it answers with
// tag1 0, the negative result in tag2 and the camera identifier as the text.

import { EV } from "./events.js";
import { parse_time, parse_month, format_month } from "./rec_time.js";

export const PAGE_SIZE = 100;

// The device's record types.
export const RECORD_TYPE = Object.freeze({ REGULAR: 0, ALARM: 1, MOTION: 2, CARD: 3 });

export function record_type_key(type) {
  return ["rec.type.regular", "rec.type.alarm", "rec.type.motion", "rec.type.card"][type] ?? "rec.type.other";
}

// The text key saying why a question could not start (the library's results).
export function start_error_key(code) {
  return { [-1]: "rec.err.refused", [-2]: "rec.err.not-ready", [-3]: "rec.err.not-logged-in", [-5]: "rec.err.memory" }[code] ?? "rec.err.code";
}

function clean(text) {
  const s = String(text ?? "");
  const zero = s.indexOf("\0");
  return zero >= 0 ? s.slice(0, zero) : s;
}

function parse_object(text) {
  try {
    const value = JSON.parse(text);
    return value && typeof value === "object" && !Array.isArray(value) ? value : null;
  } catch {
    return null;
  }
}

// The days (1-based) marked in a month-status "flag": 31 characters "0"/"1", day i + 1 at i.
// Characters past the month's last day are ignored. Null when the text is not such a flag.
export function parse_flags(flag, days = 31) {
  if (typeof flag !== "string" || !/^[01]{31}$/.test(flag)) return null;
  const marked = new Set();
  for (let i = 0; i < Math.min(days, 31); i++) if (flag[i] === "1") marked.add(i + 1);
  return marked;
}

// An answer event that names `request` ({camera, dev_id, chl_id} and the fields `keys` lists),
// read as {failed: true, code} for "could not start", {json} for an answer of the library, or
// null when the event is about another question.
function read_answer(ev, request, keys) {
  const info = clean(ev.szInfo);
  if (ev.nTag1 === 0 && ev.nTag2 < 0 && info === request.camera && info !== "") {
    return { not_started: true, code: ev.nTag2 };
  }
  const json = parse_object(info);
  if (!json) {
    // The library could not write its answer at all: tag1 0, tag2 -1 and no text.
    return ev.nTag1 === 0 && ev.nTag2 === -1 && info === "" ? { json: null } : null;
  }
  if (json.dev_id !== request.dev_id || Number(json.chl_id) !== request.chl_id) return null;
  for (const key of keys) if (json[key] !== request[key]) return null;
  return { json };
}

// The month-status question for a camera's month: `accept(ev)` takes each event and returns
// true when it settled the question; then `days` (a Set of day numbers) or `error` is set.
export class MonthStatus {
  constructor({ camera, dev_id, chl_id, year, month }) {
    this.camera = camera;
    this.dev_id = dev_id;
    this.chl_id = chl_id;
    this.year = year;
    this.month = month;
    this.text = format_month(year, month);
    this.state = "asking"; // asking | done | failed
    this.days = null;
    this.error = null; // {key, code}
  }

  accept(ev) {
    if (ev.nID !== EV.RECORD_STATUS || this.state !== "asking") return false;
    const answer = read_answer(ev, { camera: this.camera, dev_id: this.dev_id, chl_id: this.chl_id, month: this.text }, ["month"]);
    if (!answer) return false;
    if (answer.not_started) return this.fail(start_error_key(answer.code), answer.code);
    if (ev.nTag2 !== 0 || !answer.json) return this.fail("rec.err.device", ev.nTag2);
    const days = parse_flags(answer.json.flag, days_of(answer.json.month));
    if (!days) return this.fail("rec.err.unreadable", 0);
    this.days = days;
    this.state = "done";
    return true;
  }

  fail(key, code) {
    this.state = "failed";
    this.error = { key, code };
    return true;
  }
}

function days_of(month_text) {
  const m = parse_month(month_text);
  if (!m) return 31;
  return new Date(Date.UTC(m.year, m.month, 0)).getUTCDate();
}

// A record of the list: times as clock seconds; null when the entry is not a recording.
export function read_record(entry) {
  if (!entry || typeof entry !== "object") return null;
  const start = parse_time(entry.start);
  const end = parse_time(entry.end);
  if (start === null || end === null || end < start) return null;
  return {
    name: String(entry.name ?? ""),
    start,
    end,
    type: Number.isInteger(entry.type) ? entry.type : 0,
    size: Number.isFinite(entry.size) ? entry.size : 0,
  };
}

// The file search between two 14-digit times. Pages arrive numbered from 1; a page of fewer
// than 100 files is the last. A file that ends at a page boundary can come again at the top of
// the next page: it is kept once (same name and start).
export class RecordSearch {
  constructor({ camera, dev_id, chl_id, start, end }) {
    this.camera = camera;
    this.dev_id = dev_id;
    this.chl_id = chl_id;
    this.start = start;
    this.end = end;
    this.state = "searching"; // searching | done | failed
    this.pages = 0;
    this.error = null;
    this.by_key = new Map();
  }

  get records() {
    return [...this.by_key.values()].sort((a, b) => a.start - b.start || a.end - b.end || a.name.localeCompare(b.name));
  }

  accept(ev) {
    if (ev.nID !== EV.RECORD_QUERY || this.state !== "searching") return false;
    const answer = read_answer(ev, { camera: this.camera, dev_id: this.dev_id, chl_id: this.chl_id, start: this.start, end: this.end }, ["start", "end"]);
    if (!answer) return false;
    if (answer.not_started) return this.fail(start_error_key(answer.code), answer.code);
    if (ev.nTag1 < 1 || ev.nTag2 < 0 || !answer.json || !Array.isArray(answer.json.records)) return this.fail("rec.err.device", ev.nTag2);
    this.pages = Math.max(this.pages, ev.nTag1);
    for (const entry of answer.json.records) {
      const record = read_record(entry);
      if (record) this.by_key.set(`${record.name}\u0000${record.start}`, record);
    }
    if (ev.nTag2 < PAGE_SIZE) this.state = "done";
    return true;
  }

  fail(key, code) {
    this.state = "failed";
    this.error = { key, code };
    return true;
  }
}

// The record holding clock second `t`, or null.
export function record_at(records, t) {
  return records.find((r) => r.start <= t && t <= r.end) ?? null;
}

// Where playback from `t` begins: `t` inside a recording, else the start of the next recording
// (a gap has nothing to show); null after the last one.
export function playable_from(records, t) {
  if (record_at(records, t)) return t;
  const next = records.filter((r) => r.start > t).sort((a, b) => a.start - b.start)[0];
  return next ? next.start : null;
}
