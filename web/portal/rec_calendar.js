// The month calendar of the playback view: a month's days in weeks, the days that hold
// recordings marked, today ringed, the chosen day filled; previous and next month buttons.

import { days_in_month, clock_seconds, clock_parts, add_months } from "./rec_time.js";

// The weeks shown for `month` (1-12) of `year`, weeks starting on `week_start` (0 Sunday):
// rows of seven {year, month, day, in_month}, with the neighbouring months' days filling the
// first and last week. Always whole weeks, four to six of them.
export function month_grid(year, month, week_start = 0) {
  const first_weekday = clock_parts(clock_seconds(year, month, 1)).weekday;
  const lead = (first_weekday - week_start + 7) % 7;
  const count = days_in_month(year, month);
  const before = add_months({ year, month }, -1);
  const after = add_months({ year, month }, 1);
  const before_days = days_in_month(before.year, before.month);
  const cells = [];
  for (let i = lead; i > 0; i--) cells.push({ ...before, day: before_days - i + 1, in_month: false });
  for (let day = 1; day <= count; day++) cells.push({ year, month, day, in_month: true });
  for (let day = 1; cells.length % 7 !== 0; day++) cells.push({ ...after, day, in_month: false });
  const weeks = [];
  for (let i = 0; i < cells.length; i += 7) weeks.push(cells.slice(i, i + 7));
  return weeks;
}

// Short weekday names in the order of the grid's columns.
export function weekday_names(locale, week_start = 0) {
  const format = new Intl.DateTimeFormat(locale, { weekday: "narrow", timeZone: "UTC" });
  // 2023-01-01 was a Sunday.
  return Array.from({ length: 7 }, (_, i) => format.format(new Date(Date.UTC(2023, 0, 1 + ((i + week_start) % 7)))));
}

export function month_title(year, month, locale) {
  const text = new Intl.DateTimeFormat(locale, { month: "long", year: "numeric", timeZone: "UTC" }).format(new Date(Date.UTC(year, month - 1, 1)));
  return text.charAt(0).toLocaleUpperCase(locale) + text.slice(1);
}

function element(tag, className, text) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (text !== undefined) el.textContent = text;
  return el;
}

export class CalendarView extends EventTarget {
  // Fires "month" {year, month} when the shown month changes and "day" {year, month, day} when
  // a day is chosen.
  constructor(root, { locale, texts }) {
    super();
    this.root = root;
    this.locale = locale;
    this.texts = texts; // {previous, next, recorded}
    this.shown = { year: 2000, month: 1 };
    this.today = { year: 2000, month: 1, day: 1 };
    this.chosen = null;
    this.marked = new Set();
    this.state = "idle"; // idle | asking | done | failed

    const head = element("div", "cal-head");
    this.prev = element("button", "icon-button small cal-prev", "‹");
    this.prev.type = "button";
    this.prev.title = texts.previous;
    this.prev.setAttribute("aria-label", texts.previous);
    this.next = element("button", "icon-button small cal-next", "›");
    this.next.type = "button";
    this.next.title = texts.next;
    this.next.setAttribute("aria-label", texts.next);
    this.title = element("span", "cal-title");
    this.title.setAttribute("aria-live", "polite");
    head.append(this.prev, this.title, this.next);
    this.grid = element("div", "cal-grid");
    this.grid.setAttribute("role", "grid");
    root.append(head, this.grid);
    this.prev.addEventListener("click", () => this.show_month(add_months(this.shown, -1)));
    this.next.addEventListener("click", () => this.show_month(add_months(this.shown, 1)));
  }

  set_today(today) {
    this.today = today;
  }

  show_month({ year, month }) {
    this.shown = { year, month };
    this.marked = new Set();
    this.render();
    this.dispatchEvent(new CustomEvent("month", { detail: { year, month } }));
  }

  // The days of the shown month that hold recordings; state says whether the answer is in.
  set_marks(days, state) {
    this.marked = days ?? new Set();
    this.state = state;
    this.render();
  }

  choose(day) {
    this.chosen = day;
    this.render();
  }

  render() {
    const { year, month } = this.shown;
    this.title.textContent = month_title(year, month, this.locale);
    this.root.dataset.state = this.state;
    const rows = [element("div", "cal-weekdays")];
    for (const name of weekday_names(this.locale)) rows[0].append(element("span", "cal-weekday", name));
    for (const week of month_grid(year, month)) {
      const row = element("div", "cal-week");
      row.setAttribute("role", "row");
      for (const cell of week) {
        const button = element("button", "cal-day", String(cell.day));
        button.type = "button";
        button.setAttribute("role", "gridcell");
        button.dataset.date = `${cell.year}-${String(cell.month).padStart(2, "0")}-${String(cell.day).padStart(2, "0")}`;
        const same = (d) => d && d.year === cell.year && d.month === cell.month && d.day === cell.day;
        if (!cell.in_month) button.classList.add("outside");
        if (same(this.today)) button.classList.add("today");
        if (same(this.chosen)) button.setAttribute("aria-selected", "true");
        if (cell.in_month && this.marked.has(cell.day)) {
          button.classList.add("recorded");
          button.title = this.texts.recorded;
        }
        button.addEventListener("click", () => {
          if (!cell.in_month) this.show_month(cell);
          this.choose({ year: cell.year, month: cell.month, day: cell.day });
          this.dispatchEvent(new CustomEvent("day", { detail: { year: cell.year, month: cell.month, day: cell.day } }));
        });
        row.append(button);
      }
      rows.push(row);
    }
    this.grid.replaceChildren(...rows);
  }
}
