// Times of recordings as the control and the devices write them: 14 digits YYYYMMDDhhmmss for a
// moment and 6 digits YYYYMM for a month, both on the device's wall clock. The page keeps them
// as "clock seconds": seconds from 1970-01-01 00:00:00 of that wall clock, computed as if it were
// UTC, so days are always 86400 s long and no daylight-saving rule of the browser's zone applies.

export const DAY = 86400;

export function is_leap(year) {
  return (year % 4 === 0 && year % 100 !== 0) || year % 400 === 0;
}

// Days of `month` (1-12) of `year`.
export function days_in_month(year, month) {
  return [31, is_leap(year) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31][month - 1] ?? 0;
}

// Clock seconds of a date and time (month 1-12).
export function clock_seconds(year, month, day, hour = 0, minute = 0, second = 0) {
  return Date.UTC(year, month - 1, day, hour, minute, second) / 1000;
}

// {year, month, day, hour, minute, second, weekday (0 Sunday)} of clock seconds.
export function clock_parts(seconds) {
  const d = new Date(Math.floor(seconds) * 1000);
  return {
    year: d.getUTCFullYear(),
    month: d.getUTCMonth() + 1,
    day: d.getUTCDate(),
    hour: d.getUTCHours(),
    minute: d.getUTCMinutes(),
    second: d.getUTCSeconds(),
    weekday: d.getUTCDay(),
  };
}

const two = (n) => String(n).padStart(2, "0");

// Clock seconds of a 14-digit time, or null when the text is not one (wrong length, a
// non-digit, or a field out of range such as 20240230 or 25 hours).
export function parse_time(text) {
  const m = /^(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})$/.exec(String(text ?? ""));
  if (!m) return null;
  const [year, month, day, hour, minute, second] = m.slice(1).map(Number);
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return null;
  if (hour > 23 || minute > 59 || second > 59) return null;
  return clock_seconds(year, month, day, hour, minute, second);
}

// The 14-digit text of clock seconds (fractions are dropped).
export function format_time(seconds) {
  const p = clock_parts(seconds);
  return `${String(p.year).padStart(4, "0")}${two(p.month)}${two(p.day)}${two(p.hour)}${two(p.minute)}${two(p.second)}`;
}

// The 6-digit month text.
export function format_month(year, month) {
  return `${String(year).padStart(4, "0")}${two(month)}`;
}

// {year, month} of a 6-digit month text, or null.
export function parse_month(text) {
  const m = /^(\d{4})(\d{2})$/.exec(String(text ?? ""));
  if (!m) return null;
  const year = Number(m[1]);
  const month = Number(m[2]);
  return month >= 1 && month <= 12 ? { year, month } : null;
}

// The month before or after {year, month} by `step` months.
export function add_months({ year, month }, step) {
  const index = year * 12 + (month - 1) + step;
  return { year: Math.floor(index / 12), month: (index % 12 + 12) % 12 + 1 };
}

// Clock seconds of the start of the day holding `seconds`.
export function day_start(seconds) {
  return Math.floor(seconds / DAY) * DAY;
}

// "hh:mm:ss" of clock seconds (the time of day).
export function clock_text(seconds) {
  const p = clock_parts(seconds);
  return `${two(p.hour)}:${two(p.minute)}:${two(p.second)}`;
}

// Seconds into the day of "hh:mm" or "hh:mm:ss", or null.
export function parse_clock(text) {
  const m = /^(\d{1,2}):(\d{2})(?::(\d{2}))?$/.exec(String(text ?? "").trim());
  if (!m) return null;
  const [hour, minute, second] = [Number(m[1]), Number(m[2]), Number(m[3] ?? 0)];
  if (hour > 23 || minute > 59 || second > 59) return null;
  return hour * 3600 + minute * 60 + second;
}

// A length of time in words-free short form: "45 s", "3 min 20 s", "1 h 05 min".
export function duration_text(seconds) {
  const s = Math.max(0, Math.round(seconds));
  if (s < 60) return `${s} s`;
  if (s < 3600) return s % 60 ? `${Math.floor(s / 60)} min ${two(s % 60)} s` : `${s / 60} min`;
  const minutes = Math.floor((s % 3600) / 60);
  return `${Math.floor(s / 3600)} h ${two(minutes)} min`;
}

// A file size the device reports in KiB, for people: "820 KB", "12,5 MB", "1,2 GB" (the
// decimal mark of `locale`).
export function size_text(kib, locale = "pt-BR") {
  const bytes = Math.max(0, Number(kib) || 0) * 1024;
  const units = [["GB", 1024 ** 3], ["MB", 1024 ** 2], ["KB", 1024]];
  for (const [unit, scale] of units) {
    if (bytes >= scale || unit === "KB") {
      const value = bytes / scale;
      const digits = value < 10 && unit !== "KB" ? 1 : 0;
      return `${value.toLocaleString(locale, { minimumFractionDigits: digits, maximumFractionDigits: digits })} ${unit}`;
    }
  }
  return "0 KB";
}
