// The page's media controls in a real browser against kavrel-host --demo: a snapshot taken with
// the pane's tool bar arrives as a download in the format chosen in the save dialog (its
// dimensions read back from the file) and shows in the strip of last snapshots; holding a PTZ
// arrow turns the PTZ camera's view and letting go stops it; sound on a pane plays the device's
// tone in the page; the fisheye view chosen beside the wall changes the fisheye camera's picture.
// Screenshots go to build/web-test-output/ (or $KAVREL_WEB_TEST_OUTPUT).
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";

import { output_dir, image_size, with_host_and_page } from "./harness.mjs";

const DEVICES_MS = 90000;
const VIDEO_MS = 60000;
const PTZ_DEVICE = "KVR-000002";
const FISHEYE_DEVICE = "KVR-000003";

describe("media controls from the page", { timeout: 450000 }, () => {
  let host;
  let view;
  const out = output_dir();
  const shot = (name) => view.page.screenshot({ path: join(out, `${name}.png`) });

  with_host_and_page({ viewport: { width: 1280, height: 800 } }, (started) => ({ host, view } = started));

  // A grid of grey levels over the middle of pane `pane` (4-pane wall, first page), from the
  // control's picture as the page holds it.
  const pane_grid = (page, pane) =>
    page.evaluate((p) => {
      const { pane_centre } = window.kavrel.live_geometry;
      const c = window.kavrel.surface.raw;
      const at = pane_centre(p, c.width, c.height, window.kavrel.wall_bar.count, 0);
      const w = Math.floor(c.width / 4);
      const h = Math.floor(c.height / 4);
      const d = c.getContext("2d").getImageData(at.x - w / 2, at.y - h / 2, w, h).data;
      const grid = [];
      for (let gy = 0; gy < 12; gy++) {
        for (let gx = 0; gx < 16; gx++) {
          let sum = 0;
          let n = 0;
          for (let y = Math.floor((gy * h) / 12); y < Math.floor(((gy + 1) * h) / 12); y += 2)
            for (let x = Math.floor((gx * w) / 16); x < Math.floor(((gx + 1) * w) / 16); x += 2) {
              const i = 4 * (y * w + x);
              sum += d[i] + d[i + 1] + d[i + 2];
              n++;
            }
          grid.push(sum / (3 * Math.max(1, n)));
        }
      }
      return grid;
    }, pane);
  const difference = (a, b) => a.reduce((s, v, i) => s + Math.abs(v - b[i]), 0) / a.length;
  const frames = (page) => page.evaluate(() => Number(document.querySelector("#surface").dataset.frames ?? 0));
  const next_frames = async (page, count = 2) => {
    const now = await frames(page);
    await page.waitForFunction((n) => Number(document.querySelector("#surface").dataset.frames ?? 0) >= n, now + count, { timeout: 15000 });
  };
  // How much the pane changes by itself between two pictures some frames apart: the scene's own
  // motion and clock.
  const own_motion = async (page, pane) => {
    const a = await pane_grid(page, pane);
    await next_frames(page, 3);
    return difference(a, await pane_grid(page, pane));
  };

  // The brightness of each column of the upper middle band of pane `pane` (the skyline), to
  // tell a turned view (the band shifts sideways) from the scene's own motion (it does not).
  const skyline = (page, pane) =>
    page.evaluate((p) => {
      const { pane_centre } = window.kavrel.live_geometry;
      const c = window.kavrel.surface.raw;
      const at = pane_centre(p, c.width, c.height, window.kavrel.wall_bar.count, 0);
      const w = Math.floor(c.width / 2) - 8;
      const top = at.y - Math.floor(c.height / 12);
      const h = Math.floor(c.height / 12);
      const d = c.getContext("2d").getImageData(at.x - Math.floor(w / 2), top, w, h).data;
      const profile = [];
      for (let x = 0; x < w; x++) {
        let sum = 0;
        for (let y = 0; y < h; y++) sum += d[4 * (y * w + x)] + d[4 * (y * w + x) + 1] + d[4 * (y * w + x) + 2];
        profile.push(sum / (3 * h));
      }
      return profile;
    }, pane);
  // The sideways shift that best lines `b` up with `a`, in pixels.
  const shift = (a, b) => {
    let best = 0;
    let best_cost = Infinity;
    const span = Math.floor(a.length / 3);
    for (let s = -span; s <= span; s++) {
      let cost = 0;
      let n = 0;
      for (let x = Math.max(0, -s); x < Math.min(a.length, a.length - s); x++) {
        cost += Math.abs(a[x] - b[x + s]);
        n++;
      }
      cost /= n;
      if (cost < best_cost - 0.01) {
        best_cost = cost;
        best = s;
      }
    }
    return best;
  };

  it("signs in, and a PTZ camera and a fisheye camera play in panes 1 and 2", async () => {
    const { page } = view;
    await page.goto(host.url);
    await page.waitForSelector("body[data-link=open]");
    await page.click("#signin-submit");
    await page.waitForSelector("body.signed-in");
    for (const id of [PTZ_DEVICE, FISHEYE_DEVICE]) await page.waitForSelector(`.device-row[data-device-id="${id}"][data-link=online]`, { timeout: DEVICES_MS });
    await page.waitForSelector(".layout-option:not([disabled])");
    await page.click('.layout-option[data-count="4"]');
    await page.waitForSelector('.layout-option[data-count="4"][aria-checked="true"]');
    await page.evaluate(async ([ptz, fish]) => {
      window.kavrel.live_geometry = await import("/portal/live.js");
      window.test_live_started = new Set();
      window.test_calls = [];
      window.kavrel.bridge.addEventListener("call", (e) => {
        if (/^CliPTZ/.test(e.detail.method)) window.test_calls.push(e.detail.method);
      });
      window.kavrel.control.addEventListener("CliCallBackMsg", (...a) => {
        if (a[2] === 0x30000 && a[4] === 0) window.test_live_started.add(a[3]);
      });
      const camera_of = (dev) => [...window.kavrel.model.cameras.values()].find((c) => c.devid === dev).id;
      await window.kavrel.live.start(camera_of(ptz), 0);
      await window.kavrel.live.start(camera_of(fish), 1);
    }, [PTZ_DEVICE, FISHEYE_DEVICE]);
    await page.waitForFunction(() => window.test_live_started.has(0) && window.test_live_started.has(1), null, { timeout: VIDEO_MS });
    await next_frames(page, 4);
    // The media panel follows the selected pane.
    await page.evaluate(() => window.kavrel.live.click_pane(0));
    await page.waitForFunction(() => window.kavrel.media.pane === 0 && document.querySelector("#media-panel").dataset.playing === "true");
    await shot("media-panel");
  });

  it("takes a snapshot of the pane as a PNG and as a JPEG download and shows it in the strip", async () => {
    const { page } = view;
    for (const [name, format] of [["foto-ptz.png", "png"], ["foto-ptz.jpg", "jpeg"]]) {
      await page.click("#media-panel .media-snapshot");
      const dialog = page.locator("dialog.kind-save-dialog");
      await dialog.waitFor({ state: "visible", timeout: 20000 });
      await dialog.locator("input[name=name]").fill(name);
      const download = page.waitForEvent("download", { timeout: 30000 });
      await dialog.locator("button.primary").click();
      const file = await (await download).path();
      const size = image_size(readFileSync(file));
      assert.ok(size, `${name} is an image`);
      assert.equal(size.format, format, name);
      assert.ok(size.width >= 320 && size.height >= 240, `${name}: ${size.width} x ${size.height}`);
      await page.waitForSelector(`.snapshot-image[alt="${name}"]`, { timeout: 15000 });
      const shown = await page.$eval(`.snapshot-image[alt="${name}"]`, (img) => ({ w: Number(img.dataset.width), h: Number(img.dataset.height) }));
      assert.deepEqual(shown, { w: size.width, h: size.height }, "the thumbnail is the downloaded picture");
    }
    await shot("media-snapshots");
  });

  it("moves the PTZ camera while an arrow is held and stops when it is let go", async () => {
    const { page } = view;
    const before_move = await skyline(page, 0);
    await page.$eval("#media-panel .media-speed input", (el) => (el.value = "8"));
    await page.locator("#media-panel .ptz-right").hover();
    await page.mouse.down();
    // The head turns while the arrow is held; the picture follows as the device renders the view.
    let turned = 0;
    const deadline = Date.now() + 30000;
    while (Date.now() < deadline && Math.abs(turned) < 4) {
      await next_frames(page, 2);
      turned = shift(before_move, await skyline(page, 0));
    }
    await page.mouse.up();
    assert.ok(Math.abs(turned) >= 4, `the skyline moved sideways: ${turned} px`);
    assert.deepEqual(await page.evaluate(() => window.test_calls.slice(-2)), ["CliPTZMoveRight", "CliPTZStop"], "held: one move, let go: one stop");
    // Let go: once the picture has caught up, the view stays where it went.
    const settle_deadline = Date.now() + 30000;
    let drift = Infinity;
    while (Date.now() < settle_deadline && drift !== 0) {
      const a = await skyline(page, 0);
      await next_frames(page, 6);
      drift = Math.abs(shift(a, await skyline(page, 0)));
    }
    assert.equal(drift, 0, "the view stopped turning");
  });

  it("plays the pane's sound in the page", async () => {
    const { page } = view;
    await page.click("#media-panel .media-sound");
    await page.waitForSelector('#media-panel .media-sound[aria-pressed="true"]', { timeout: 20000 });
    await page.waitForFunction(() => window.kavrel.audio.recent().total >= 8000, null, { timeout: 30000 });
    const first = await page.evaluate(() => window.kavrel.audio.recent(4000));
    await page.waitForFunction((t) => window.kavrel.audio.recent().total >= t + 4000, first.total, { timeout: 30000 });
    const second = await page.evaluate(() => window.kavrel.audio.recent(4000));
    assert.ok(first.rms > 500, `loud enough: ${first.rms}`);
    assert.ok(first.frequency > 100 && first.frequency < first.rate / 2, `a tone: ${first.frequency} Hz`);
    assert.ok(Math.abs(first.frequency - second.frequency) < first.frequency * 0.05, `steady: ${first.frequency} then ${second.frequency}`);
    await page.click("#media-panel .media-sound");
    await page.waitForSelector('#media-panel .media-sound[aria-pressed="false"]');
    assert.equal(await page.evaluate(() => window.kavrel.control.CliGetAudioState(0)), 0);
  });

  it("switches the fisheye camera's view from the page", async () => {
    const { page } = view;
    await page.evaluate(() => window.kavrel.live.click_pane(1));
    await page.waitForFunction(() => window.kavrel.media.pane === 1);
    const still = Math.max(await own_motion(page, 1), await own_motion(page, 1));
    let last = await pane_grid(page, 1);
    for (const command of ["224", "216"]) {
      const chosen = page.evaluate(() => new Promise((resolve) => {
        window.kavrel.media.addEventListener("menu-choice", (e) => resolve(e.detail.offered), { once: true });
      }));
      await page.selectOption("#media-panel .fisheye-view", command);
      assert.equal(await chosen, true, `the pane menu offered ${command}`);
      await next_frames(page, 6);
      const now = await pane_grid(page, 1);
      const changed = difference(last, now);
      assert.ok(changed > Math.max(4, 3 * still), `view ${command} changed the picture: ${changed.toFixed(1)} against ${still.toFixed(1)}`);
      last = now;
    }
    await shot("media-fisheye");
  });
});
