// Live video in a real browser against kavrel-host --demo: cameras dragged from the tree start
// in the panes they are dropped on, "Auto" plays the main stream where a pane is large and the
// extra stream where it is small, the keyboard changes the layout and stops a pane, a pane's tool
// bar shows while hovered, and every started pane keeps changing its pixels. Screenshots of the
// 4-pane and the 16-pane wall go to build/web-test-output/ (or $KAVREL_WEB_TEST_OUTPUT).
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { join } from "node:path";

import { drag_and_drop, output_dir, with_host_and_page } from "./harness.mjs";

const DEVICES_MS = 90000;
const VIDEO_MS = 60000; // a device login and a first key picture each, on a busy machine
const ONLINE = ["KVR-000001", "KVR-000002", "KVR-000003"];

describe("live video from the page", { timeout: 400000 }, () => {
  let host;
  let view;
  const out = output_dir();
  const shot = (name) => view.page.screenshot({ path: join(out, `${name}.png`) });

  with_host_and_page({ viewport: { width: 1280, height: 720 } }, (started) => ({ host, view } = started));

  // Script calls the page made to `method`, each as [args...] (recorded from the bridge).
  const calls = (page, method) => page.evaluate((m) => window.test_calls.filter((c) => c.method === m).map((c) => c.args), method);
  // A fingerprint of the middle of pane `pane` (a cell of the layout) read from the canvas.
  const pane_print = (page, pane) =>
    page.evaluate((p) => {
      const { pane_centre } = window.kavrel.live_geometry;
      const c = document.querySelector("#surface");
      // The walls read here (4 and 16 panes) show their first page.
      const at = pane_centre(p, c.width, c.height, window.kavrel.wall_bar.count, 0);
      if (!at) return null;
      const d = c.getContext("2d").getImageData(at.x - 40, at.y - 30, 80, 60).data;
      let sum = 0;
      let spread = 0;
      for (let i = 0; i < d.length; i += 4) {
        sum = (sum * 31 + d[i] + 7 * d[i + 1] + 13 * d[i + 2]) >>> 0;
        spread += Math.abs(d[i] - 0xdc);
      }
      return { sum, spread: spread / (d.length / 4) };
    }, pane);
  // Waits until the control reported the live start of pane `pane` (event 0x30000, result 0)
  // and then the pane shows video (not the grey of an idle pane) whose pixels change from one
  // painted frame to a later one.
  const pane_moves = async (page, pane) => {
    const started = await page
      .waitForFunction((p) => window.test_live_started.has(p), pane, { timeout: VIDEO_MS })
      .then(() => true, () => false);
    if (!started) return false;
    const next_frame = async () => {
      const frames = await page.evaluate(() => Number(document.querySelector("#surface").dataset.frames ?? 0));
      await page.waitForFunction((n) => Number(document.querySelector("#surface").dataset.frames ?? 0) > n, frames, { timeout: 10000 });
    };
    // The frame that hides the connecting indicator may still be on its way.
    await next_frame();
    await next_frame();
    const deadline = Date.now() + VIDEO_MS;
    let first = null;
    while (Date.now() < deadline) {
      const now = await pane_print(page, pane);
      if (now && now.spread > 25) {
        if (first && first.sum !== now.sum) return true;
        first ??= now;
      }
      await next_frame().catch(() => {});
    }
    return false;
  };
  const camera_ids = (page) => page.$$eval(".tree-camera[data-link=online]", (els) => els.map((e) => e.dataset.cameraId));

  it("signs in and the devices come online", async () => {
    const { page } = view;
    await page.goto(host.url);
    await page.waitForSelector("body[data-link=open]");
    await page.click("#signin-submit");
    await page.waitForSelector("body.signed-in");
    for (const id of ONLINE) await page.waitForSelector(`.device-row[data-device-id="${id}"][data-link=online]`, { timeout: DEVICES_MS });
    await page.waitForSelector(".layout-option:not([disabled])");
    // The geometry the page uses, for reading panes back from the canvas.
    await page.evaluate(async () => {
      window.kavrel.live_geometry = await import("/portal/live.js");
      window.test_calls = [];
      window.test_live_started = new Set();
      // Panes whose live start the control reported as successful (event 0x30000, result 0).
      window.kavrel.control.addEventListener("CliCallBackMsg", (...a) => {
        if (a[2] === 0x30000 && a[4] === 0) window.test_live_started.add(a[3]);
        if (a[2] === 0x12100) window.test_live_started.delete(a[3]);
      });
      window.kavrel.bridge.addEventListener("call", (e) => {
        window.test_calls.push({ method: e.detail.method, args: e.detail.args });
        // A restarted pane counts as started again only once the control says so.
        if (e.detail.method === "CliStartPlayDev") window.test_live_started.delete(e.detail.args[2]);
      });
    });
  });

  it("starts four cameras dragged onto the panes of a 4-pane wall, each on the main stream", async () => {
    const { page } = view;
    await page.click('.layout-option[data-count="4"]');
    await page.waitForSelector('.layout-option[data-count="4"][aria-checked="true"]');
    await page.selectOption(".stream-choice select", "auto");
    const cams = (await camera_ids(page)).slice(0, 4);
    assert.equal(cams.length, 4, "four online cameras in the tree");
    const box = await page.locator("#surface").boundingBox();
    const spots = [
      [0.25, 0.25],
      [0.75, 0.25],
      [0.25, 0.75],
      [0.75, 0.75],
    ];
    for (let i = 0; i < 4; i++) {
      await drag_and_drop(page, `.tree-camera[data-camera-id="${cams[i]}"]`, "#surface", {
        targetPosition: { x: box.width * spots[i][0], y: box.height * spots[i][1] },
      });
      await page.waitForFunction(([id, pane]) => window.kavrel.live.panes.get(pane)?.camera === id, [cams[i], i]);
    }
    const started = (await calls(page, "CliStartPlayDev")).map((a) => JSON.stringify(a));
    for (let i = 0; i < 4; i++) assert.ok(started.includes(JSON.stringify([cams[i], 0, i])), `${cams[i]} in pane ${i} on the main stream: ${started}`);
    for (let i = 0; i < 4; i++) assert.ok(await pane_moves(page, i), `pane ${i} shows moving video`);
    await shot("live-4-1280");
  });

  it("shows a live pane's tool bar and title while its bottom strip is hovered", async () => {
    const { page } = view;
    const box = await page.locator("#surface").boundingBox();
    // Pane 0 of the 4-pane wall: its tool bar is the 32-pixel strip at its bottom.
    await page.mouse.move(box.x + box.width * 0.25, box.y + box.height * 0.5 - 14);
    await page.mouse.move(box.x + box.width * 0.25 + 6, box.y + box.height * 0.5 - 14);
    // A call after the moves returns once the control has handled them.
    await page.evaluate(() => window.kavrel.control.CliGetPicNum());
    await shot("live-4-toolbar-1280");
    await page.mouse.move(box.x + box.width * 0.25, box.y + box.height * 0.25);
  });

  it("zooms into a pane's picture with the wheel, pans it by dragging, and a double click resets it", async () => {
    const { page } = view;
    const box = await page.locator("#surface").boundingBox();
    // Pane 1, the upper right one of the 4-pane wall.
    const at = { x: box.x + box.width * 0.7, y: box.y + box.height * 0.2 };
    // How far the shown cell differs from the control's own picture of it.
    const zoomed_difference = () =>
      page.evaluate(() => {
        const { surface } = window.kavrel;
        const c = surface.canvas;
        const [x, y, w, h] = [Math.floor(c.width / 2) + 8, 8, Math.floor(c.width / 2) - 16, Math.floor(c.height / 2) - 16];
        const shown = surface.context.getImageData(x, y, w, h).data;
        const own = surface.raw_context.getImageData(x, y, w, h).data;
        let diff = 0;
        for (let i = 0; i < shown.length; i += 4) diff += Math.abs(shown[i] - own[i]) + Math.abs(shown[i + 1] - own[i + 1]);
        return diff / (shown.length / 4);
      });
    assert.ok((await zoomed_difference()) < 2, "unzoomed, the canvas shows the control's picture");
    await page.mouse.move(at.x, at.y);
    for (let i = 0; i < 5; i++) await page.mouse.wheel(0, -100);
    await page.waitForFunction(() => window.kavrel.zoom.zooms.get(1)?.scale > 2.5);
    assert.ok((await zoomed_difference()) > 10, "zoomed, the pane shows a magnified part");
    const before = await page.evaluate(() => ({ ...window.kavrel.zoom.zooms.get(1) }));
    await page.mouse.down();
    await page.mouse.move(at.x + 40, at.y + 20, { steps: 4 });
    await page.mouse.up();
    const after = await page.evaluate(() => ({ ...window.kavrel.zoom.zooms.get(1) }));
    assert.ok(after.cx < before.cx && after.cy < before.cy, "dragging right and down shows more of the left and top");
    await shot("live-4-zoomed-1280");
    // Away from where the drag began: the host would pair that press with a quick next one.
    await page.mouse.dblclick(at.x - 30, at.y + 30);
    await page.waitForFunction(() => window.kavrel.zoom.zooms.size === 0);
    // The double click went to the zoom, not to the control: the wall still has four panes.
    assert.equal(await page.evaluate(() => window.kavrel.control.CliGetPicNum()), 4);
  });

  it("plays the extra stream in a 9-pane wall and the main stream again in a maximised pane, by itself", async () => {
    const { page } = view;
    const selected = await page.evaluate(() => window.kavrel.control.CliGetCurrPicIndex());
    assert.ok(selected >= 0 && selected < 4, "a playing pane is selected");
    const main_starts = () =>
      page.evaluate((p) => window.test_calls.filter((c) => c.method === "CliStartPlayDev" && c.args[1] === 0 && c.args[2] === p).length, selected);
    await page.focus("#surface");
    await page.keyboard.press("9");
    await page.waitForSelector('.layout-option[data-count="9"][aria-checked="true"]');
    await page.waitForFunction(() => window.test_calls.filter((c) => c.method === "CliStartPlayDev" && c.args[1] === 1).length >= 4, null, { timeout: 20000 });
    await page.evaluate(() => window.kavrel.live.idle());
    // The page kept the selection where it was while it restarted the panes.
    assert.equal(await page.evaluate(() => window.kavrel.control.CliGetCurrPicIndex()), selected);
    const main_before = await main_starts();
    // Enter maximises the selected pane: it alone goes back to the main stream.
    await page.keyboard.press("Enter");
    await page.waitForSelector('.layout-option[data-count="1"][aria-checked="true"]');
    await page.evaluate(() => window.kavrel.live.idle());
    assert.equal(await main_starts(), main_before + 1);
    await page.keyboard.press("Enter");
    await page.waitForSelector('.layout-option[data-count="9"][aria-checked="true"]');
    await page.evaluate(() => window.kavrel.live.idle());
  });

  it("fills the next idle panes with every camera of a device, and shows a 16-pane wall", async () => {
    const { page } = view;
    await page.keyboard.press("1");
    await page.keyboard.press("6");
    await page.waitForSelector('.layout-option[data-count="16"][aria-checked="true"]');
    const before = (await calls(page, "CliStartPlayDev")).length;
    for (const id of ["KVR-000002", "KVR-000003"]) {
      await page.hover(`.device-row[data-device-id="${id}"]`);
      await page.click(`.device-row[data-device-id="${id}"] .play-device`);
    }
    await page.waitForFunction((n) => window.test_calls.filter((c) => c.method === "CliStartPlayDev").length >= n + 2, before);
    // The two single-camera devices went to the first idle panes, 4 and 5.
    for (const pane of [0, 1, 2, 3, 4, 5]) assert.ok(await pane_moves(page, pane), `pane ${pane} shows moving video`);
    await shot("live-16-1280");
  });

  it("stops the selected pane with Delete", async () => {
    const { page } = view;
    const box = await page.locator("#surface").boundingBox();
    await page.mouse.click(box.x + box.width * 0.125, box.y + box.height * 0.125);
    await page.focus("#surface");
    await page.keyboard.press("Delete");
    await page.waitForFunction(() => window.test_calls.some((c) => c.method === "CliStopPlayDev" && c.args[0] === 0));
    await page.waitForFunction(() => !window.kavrel.live.panes.has(0));
  });

  it("ran without script errors in the page", () => {
    assert.deepEqual(view.problems, []);
  });
});
