// What the browser tests share: starting a page host (kavrel-host, or the mock host), headless
// Chromium through playwright-core, and the folder for screenshots. Every wait is bounded.

import { before, after } from "node:test";
import { spawn } from "node:child_process";
import { mkdirSync } from "node:fs";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { createInterface } from "node:readline";

const here = dirname(fileURLToPath(import.meta.url));
export const repo = resolve(here, "../..");

async function load_playwright() {
  try {
    return await import("playwright-core");
  } catch {
    throw new Error(`playwright-core is not installed: run "npm ci" in ${repo}`);
  }
}

// The promise's outcome, or a failure naming `what` once `ms` have passed.
export function within(promise, ms, what) {
  let timer;
  const limit = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what}: nothing within ${ms} ms`)), ms);
  });
  return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
}

// Waits until `check()` is true, polling every 50 ms; fails naming `what` after `ms`.
export async function until(check, ms, what) {
  const deadline = Date.now() + ms;
  while (!check()) {
    if (Date.now() > deadline) throw new Error(`${what}: not within ${ms} ms`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// Closes the browser and stops the host, each within a bound.
export async function close_all(browser, host) {
  await within(browser?.close() ?? Promise.resolve(), 30000, "closing the browser").catch((e) => console.log(e.message));
  return within(host?.stop() ?? Promise.resolve(), 30000, "stopping the host").catch((e) => console.log(e.message));
}

export function output_dir() {
  const dir = process.env.KAVREL_WEB_TEST_OUTPUT ?? join(repo, "build", "web-test-output");
  mkdirSync(dir, { recursive: true });
  return dir;
}

// Starts `kavrel-host --demo --port 0` (with `args` after them) and resolves with {url, stop()}
// once it printed the address to open. KAVREL_HOST names the program; "mock" starts the mock
// host instead.
export async function start_host({ program = process.env.KAVREL_HOST ?? join(repo, "build/bin/kavrel-host"), timeout_ms = 90000, args = [] } = {}) {
  if (program === "mock") {
    const { start_mock_host } = await import("./mock-host.mjs");
    const mock = await start_mock_host();
    return { url: mock.url, stop: () => mock.close(), output: () => "", mock };
  }
  // The page under test is the one beside this test, whichever tree the host was built from.
  const child = spawn(program, ["--demo", "--port", "0", "--web", join(repo, "web"), ...args], { cwd: repo, stdio: ["ignore", "pipe", "pipe"] });
  let output = "";
  const keep = (chunk) => {
    output += chunk;
    if (output.length > 200000) output = output.slice(-100000);
  };
  child.stderr.setEncoding("utf8");
  child.stderr.on("data", keep);
  const exited = new Promise((done) => child.once("exit", (code, signal) => done({ code, signal })));

  const url = await new Promise((resolve_url, reject) => {
    const timer = setTimeout(() => reject(new Error(`kavrel-host printed no address within ${timeout_ms} ms:\n${output}`)), timeout_ms);
    const lines = createInterface({ input: child.stdout });
    lines.on("line", (line) => {
      keep(line + "\n");
      const m = /(http:\/\/127\.0\.0\.1:\d+\/\?token=[A-Za-z0-9_-]+)/.exec(line);
      if (m) {
        clearTimeout(timer);
        resolve_url(m[1]);
      }
    });
    child.once("error", (error) => {
      clearTimeout(timer);
      reject(new Error(`cannot start ${program}: ${error.message}`));
    });
    exited.then(({ code, signal }) => {
      clearTimeout(timer);
      reject(new Error(`kavrel-host ended before printing its address (code ${code}, signal ${signal}):\n${output}`));
    });
  });

  const stop = async () => {
    if (child.exitCode !== null || child.signalCode !== null) return exited;
    child.kill("SIGTERM");
    const timer = setTimeout(() => child.kill("SIGKILL"), 15000);
    const result = await exited;
    clearTimeout(timer);
    return result;
  };
  return { url, stop, output: () => output, child };
}

export async function launch_browser() {
  const { chromium } = await load_playwright();
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--autoplay-policy=no-user-gesture-required"],
    timeout: 60000,
  });
}

// A page whose console errors and uncaught exceptions are collected (a test checks them).
export async function open_page(browser, { width = 1280, height = 720, locale = "pt-BR" } = {}) {
  const context = await browser.newContext({ viewport: { width, height }, locale, acceptDownloads: true });
  const page = await context.newPage();
  const problems = [];
  page.on("pageerror", (e) => problems.push(`page error: ${e.message}`));
  page.on("console", (m) => {
    if (m.type() === "error") problems.push(`console: ${m.text()}`);
  });
  page.setDefaultTimeout(30000);
  return { context, page, problems };
}

// Drags `source` onto `target` (at `targetPosition` in it, or its middle) with the pointer: press,
// move past the drag threshold, drop. The browser's own drag is intercepted and waited for.
// (page.dragAndDrop guesses whether a move began a drag from a dragstart heard on the window
// within a zero-delay timer. A row drawn anew under the pointer sends its dragstart nowhere the
// window hears, and a late move misses the timer; once a playback test's clicks were all lost
// after such a drag.)
// `pressed`, when given, runs once the button is down, before the pointer moves.
export async function drag_and_drop(page, source, target, { targetPosition, pressed } = {}) {
  const from_box = await shown_box(page, source);
  const to_box = await shown_box(page, target);
  const from = { x: from_box.x + from_box.width / 2, y: from_box.y + from_box.height / 2 };
  const to = targetPosition ? { x: to_box.x + targetPosition.x, y: to_box.y + targetPosition.y } : { x: to_box.x + to_box.width / 2, y: to_box.y + to_box.height / 2 };
  const cdp = await page.context().newCDPSession(page);
  let on_drag;
  const dragged = new Promise((resolve) => (on_drag = (e) => resolve(e.data)));
  cdp.on("Input.dragIntercepted", on_drag);
  const mouse = (type, at, extra) => cdp.send("Input.dispatchMouseEvent", { type, x: at.x, y: at.y, ...extra });
  try {
    await cdp.send("Input.setInterceptDrags", { enabled: true });
    await mouse("mouseMoved", from, { button: "none", buttons: 0 });
    await mouse("mousePressed", from, { button: "left", buttons: 1, clickCount: 1 });
    await pressed?.();
    for (let step = 1; step <= 4; step++) {
      const at = { x: from.x + ((to.x - from.x) * step) / 4, y: from.y + ((to.y - from.y) * step) / 4 };
      await mouse("mouseMoved", at, { button: "left", buttons: 1 });
    }
    const data = await within(dragged, 15000, `the browser starting a drag of ${source}`);
    for (const type of ["dragEnter", "dragOver", "drop"]) await cdp.send("Input.dispatchDragEvent", { type, x: to.x, y: to.y, data });
  } finally {
    cdp.off("Input.dragIntercepted", on_drag);
    await cdp.send("Input.setInterceptDrags", { enabled: false }).catch(() => {});
    await cdp.detach().catch(() => {});
  }
}

// Where `selector` is on the page once it is shown (a list may be drawn anew while it is measured).
async function shown_box(page, selector) {
  const deadline = Date.now() + 30000;
  for (;;) {
    await page.locator(selector).waitFor({ state: "visible", timeout: Math.max(1, deadline - Date.now()) });
    const box = await page.locator(selector).boundingBox();
    if (box) return box;
    if (Date.now() > deadline) throw new Error(`${selector}: not shown within 30000 ms`);
  }
}

// Width and height of a PNG (IHDR) or a baseline JPEG (SOF0) file.
export function image_size(bytes) {
  if (bytes[0] === 0x89 && bytes.toString("latin1", 1, 4) === "PNG") return { format: "png", width: bytes.readUInt32BE(16), height: bytes.readUInt32BE(20) };
  if (bytes[0] === 0xff && bytes[1] === 0xd8) {
    let i = 2;
    while (i + 9 < bytes.length) {
      if (bytes[i] !== 0xff) return null;
      const marker = bytes[i + 1];
      const length = bytes.readUInt16BE(i + 2);
      if (marker === 0xc0 || marker === 0xc1 || marker === 0xc2) return { format: "jpeg", height: bytes.readUInt16BE(i + 5), width: bytes.readUInt16BE(i + 7) };
      i += 2 + length;
    }
  }
  if (bytes.toString("latin1", 0, 2) === "BM") return { format: "bmp", width: bytes.readInt32LE(18), height: Math.abs(bytes.readInt32LE(22)) };
  return null;
}

// Starts kavrel-host (with `args`, or what `args()` gives once the suite starts) and a browser
// page of `viewport` before a suite's tests, hands them to `use`, and ends both after the tests.
// The host's output is shown when it did not end cleanly: with a failure code, or killed by a
// signal (a crash).
export function with_host_and_page({ viewport = { width: 1280, height: 720 }, args = [] } = {}, use) {
  let host;
  let browser;
  before(async () => {
    host = await start_host({ args: typeof args === "function" ? args() : args });
    browser = await launch_browser();
    use({ host, browser, view: await open_page(browser, viewport) });
  });
  after(async () => {
    const ended = await close_all(browser, host);
    if (ended && (ended.signal || (ended.code !== 0 && ended.code !== null))) {
      console.log(`kavrel-host ended with ${ended.signal ?? ended.code}:\n${host.output()}`);
    }
  });
}
