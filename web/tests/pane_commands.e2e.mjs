// Every tool-bar button and every menu item of a live pane, used as a person uses them, in a real
// browser against kavrel-host --demo: the pointer goes to the bottom of the pane until the
// control shows its tool bar and clicks each button; a right click opens the pane's menu and
// each item is chosen in it. Each check looks at what the person would see or get: the picture
// of the pane, the tool bar's button, the saved file, the device's alarm output.
// Screenshots go to build/web-test-output/ (or $KAVREL_WEB_TEST_OUTPUT).
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";

import { output_dir, image_size, with_host_and_page } from "./harness.mjs";

const DEVICES_MS = 90000;
const VIDEO_MS = 60000;
const CHANGE_MS = 20000;
const RECORDER = "KVR-000001"; // its cameras have alarm outputs: seven tool-bar buttons
const FISHEYE = "KVR-000003";
const EVENT = { LIVE_STARTED: 0x30000, PANE_CLOSED: 0x12100 };

// Tool-bar buttons from left to right on a live pane whose device has alarm outputs.
const BUTTONS = ["alarm-output", "snapshot", "record", "blc", "history", "freeze", "close"];

// Picture measures that run in the page, on the control's picture as the page holds it (the
// surface's raw canvas, in surface pixels). The panel and its tool bar are found the way the
// page's own alarm-output switch finds them.
async function install_probe() {
  const { cell_rects } = await import("/portal/wall_bar.js");
  const bar = await import("/portal/alarm_output.js");
  const raw = () => window.kavrel.surface.raw;
  const image = (r) => raw().getContext("2d").getImageData(r.x, r.y, Math.max(1, r.w), Math.max(1, r.h));
  window.probe = {
    // The pane's video panel (right and bottom exclusive), or null when it shows no video. The
    // wall's cells follow the surface's size, which changes when the page lays out anew (the
    // strip of snapshots appearing under the wall, say).
    panel(pane) {
      const c = cell_rects(4, raw().width, raw().height)[pane];
      const found = bar.panel_bounds(image(c));
      return found && { left: c.x + found.left, top: c.y + found.top, right: c.x + found.right, bottom: c.y + found.bottom };
    },
    button(p, slot) {
      return bar.tool_bar_button(p, slot, 7);
    },
    // Whether the panel's tool bar is drawn.
    bar_shown(p) {
      const b = bar.tool_bar_button(p, 0, 7);
      return bar.bar_shown(image({ x: p.left + 4, y: b.y + (b.h >> 1) - 1, w: p.right - p.left - 8, h: 2 }));
    },
    // "on" or "off": the alarm-output button's beacon.
    beacon(p) {
      return bar.read_beacon(image(bar.button_picture(bar.tool_bar_button(p, 0, 7))));
    },
    // Mean grey levels of a gx x gy grid over the part of the panel given in fractions.
    grid(p, [x0, y0, x1, y1], gx = 16, gy = 12) {
      const w = p.right - p.left;
      const h = p.bottom - p.top;
      const left = Math.round(p.left + x0 * w);
      const top = Math.round(p.top + y0 * h);
      const rw = Math.max(gx, Math.round((x1 - x0) * w));
      const rh = Math.max(gy, Math.round((y1 - y0) * h));
      const d = image({ x: left, y: top, w: rw, h: rh }).data;
      const out = [];
      for (let j = 0; j < gy; j++)
        for (let i = 0; i < gx; i++) {
          let sum = 0;
          let n = 0;
          for (let y = Math.floor((j * rh) / gy); y < Math.floor(((j + 1) * rh) / gy); y++)
            for (let x = Math.floor((i * rw) / gx); x < Math.floor(((i + 1) * rw) / gx); x++) {
              const k = 4 * (y * rw + x);
              sum += d[k] + d[k + 1] + d[k + 2];
              n++;
            }
          out.push(sum / (3 * Math.max(1, n)));
        }
      return out;
    },
    to_page(x, y) {
      return window.kavrel.surface.to_page(x, y);
    },
    frames() {
      return Number(document.querySelector("#surface").dataset.frames ?? 0);
    },
  };
}

// The spread of grey levels over a grid: backlight compensation raises it with its intensity,
// while the scene's moving things hardly change it.
const spread = (g) => {
  const m = g.reduce((a, b) => a + b, 0) / g.length;
  return Math.sqrt(g.reduce((a, b) => a + (b - m) ** 2, 0) / g.length);
};
const mean_change = (a, b) => a.reduce((s, v, i) => s + Math.abs(v - b[i]), 0) / a.length;
const max_change = (a, b) => a.reduce((m, v, i) => Math.max(m, Math.abs(v - b[i])), 0);

// The picture between the information bar and the tool bar, as fractions of the panel.
const PICTURE = [0.04, 0.12, 0.96, 0.84];
// The freeze inset's corner (0 top left, 1 top right, 2 bottom left, 3 bottom right) and the
// corner across from it, as fractions of the panel away from both bars.
const CORNER = [
  [0.05, 0.12, 0.3, 0.3],
  [0.7, 0.12, 0.95, 0.3],
  [0.05, 0.62, 0.3, 0.8],
  [0.7, 0.62, 0.95, 0.8],
];
const ACROSS = [3, 2, 1, 0];
// The history view's newest thumbnail: the top of its right-hand column.
const NEWEST_THUMBNAIL = [0.7, 0.08, 0.98, 0.3];

describe("every tool-bar button and menu item of a live pane", { timeout: 600000 }, () => {
  let host;
  let view;
  const out = output_dir();
  const shot = (name) => view.page.screenshot({ path: join(out, `${name}.png`) });

  with_host_and_page({ viewport: { width: 1280, height: 800 } }, (started) => ({ host, view } = started));

  const page = () => view.page;
  const frames = () => page().evaluate(() => window.probe.frames());
  const next_frames = async (count = 2) => {
    const now = await frames();
    await page().waitForFunction((n) => window.probe.frames() >= n, now + count, { timeout: 15000 });
  };
  // Waits until the control's picture has the size the page gives the wall, and two pictures of
  // that size arrived: after the page laid out anew, panes are found and pressed where they are.
  const wall_settled = async () => {
    await page().waitForFunction(() => {
      const { surface } = window.kavrel;
      const size = surface.css_size();
      return surface.canvas.width === Math.round(size.width * size.dpr) && surface.canvas.height === Math.round(size.height * size.dpr);
    });
    await next_frames(2);
  };
  const panel = async (pane) => {
    const p = await page().evaluate((i) => window.probe.panel(i), pane);
    assert.ok(p, `pane ${pane + 1} shows a picture`);
    return p;
  };
  const grid = (p, region, gx, gy) => page().evaluate(([q, r, x, y]) => window.probe.grid(q, r, x, y), [p, region, gx, gy]);
  const to_page = (x, y) => page().evaluate(([a, b]) => window.probe.to_page(a, b), [x, y]);
  const starts = (pane) => page().evaluate(([p, id]) => window.test_events.filter((a) => a[2] === id && a[3] === p && a[4] === 0).length, [pane, EVENT.LIVE_STARTED]);
  const closes = (pane) => page().evaluate(([p, id]) => window.test_events.filter((a) => a[2] === id && a[3] === p).length, [pane, EVENT.PANE_CLOSED]);

  // The picture's grid over three pictures in a row, each cell their middle value, so that one
  // odd picture (a car passing a cell) does not stand for the mode.
  const steady_grid = async (pane, region = PICTURE) => {
    const p = await panel(pane);
    const three = [];
    for (let k = 0; k < 3; k++) {
      if (k > 0) await next_frames(1);
      three.push(await grid(p, region));
    }
    return three[0].map((_, i) => [three[0][i], three[1][i], three[2][i]].sort((a, b) => a - b)[1]);
  };
  // How much the pane's picture changes by itself over a few frames (the scene's own motion).
  const own_motion = async (pane) => {
    let most = 0;
    for (let k = 0; k < 2; k++) {
      const a = await steady_grid(pane);
      await next_frames(4);
      most = Math.max(most, mean_change(a, await steady_grid(pane)));
    }
    return most;
  };
  // Waits until the pane's picture differs from `before` by more than its own motion would
  // explain; returns the last difference seen.
  const picture_changes = async (pane, before, still, what) => {
    const limit = Math.max(4, 3 * still);
    const deadline = Date.now() + CHANGE_MS;
    let changed = 0;
    while (Date.now() < deadline) {
      await next_frames(2);
      changed = mean_change(before, await steady_grid(pane));
      if (changed > limit) return changed;
    }
    assert.fail(`${what}: the picture changed by ${changed.toFixed(1)}, no more than its own motion (${still.toFixed(1)})`);
  };
  // The picture's contrast: the middle of three spreads a few frames apart.
  const contrast = async (pane) => {
    const seen = [];
    for (let k = 0; k < 3; k++) {
      await next_frames(2);
      seen.push(spread(await grid(await panel(pane), PICTURE, 96, 48)));
    }
    return seen.sort((a, b) => a - b)[1];
  };
  // Waits until the contrast satisfies `check`; returns it.
  const contrast_until = async (pane, check, what) => {
    const deadline = Date.now() + CHANGE_MS;
    let now = 0;
    while (Date.now() < deadline) if (check((now = await contrast(pane)))) return now;
    assert.fail(`${what}: contrast ${now.toFixed(1)}`);
  };
  // Waits until the freeze inset sits in `corner`: over a second and more of frames, the inset
  // keeps moving while the held picture across from it stays as it is.
  const frozen_with_inset_in = async (pane, corner, what) => {
    const deadline = Date.now() + CHANGE_MS;
    let seen = "";
    while (Date.now() < deadline) {
      const p = await panel(pane);
      const inset = await grid(p, CORNER[corner], 6, 4);
      const held = await grid(p, CORNER[ACROSS[corner]], 6, 4);
      const start = Date.now();
      await next_frames(3);
      while (Date.now() - start < 1200) await next_frames(1);
      const inset_moved = max_change(inset, await grid(p, CORNER[corner], 6, 4));
      const held_moved = max_change(held, await grid(p, CORNER[ACROSS[corner]], 6, 4));
      seen = `inset ${inset_moved.toFixed(1)}, held ${held_moved.toFixed(1)}`;
      if (inset_moved > 8 && held_moved < 3) return;
    }
    assert.fail(`${what}: no held picture with a live inset in corner ${corner} (${seen})`);
  };
  // Waits until the picture lives again outside the quadrant where the freeze inset was (freeze
  // is off): over a second and more of frames, something moves there.
  const lives_again = async (pane, corner, what) => {
    const outside = (i) => {
      const right = i % 16 >= 8;
      const bottom = Math.floor(i / 16) >= 6;
      return right !== (corner === 1 || corner === 3) || bottom !== (corner === 2 || corner === 3);
    };
    const deadline = Date.now() + CHANGE_MS;
    let most = 0;
    while (Date.now() < deadline) {
      const p = await panel(pane);
      const before = await grid(p, PICTURE);
      const start = Date.now();
      await next_frames(3);
      while (Date.now() - start < 1500) await next_frames(1);
      const after_ = await grid(p, PICTURE);
      most = Math.max(...before.map((v, i) => (outside(i) ? Math.abs(v - after_[i]) : 0)));
      if (most > 8) return;
    }
    assert.fail(`${what}: the picture does not live again outside corner ${corner} (${most.toFixed(1)})`);
  };
  // The times (ms) at which the newest thumbnail of the history view changed, watched over
  // `count` changes or until `ms` passed. A change counts once three pictures in a row agree on
  // it, so a thumbnail caught while the scene moves through it is not taken for a new one.
  const thumbnail_changes = async (pane, count, ms) => {
    const p = await panel(pane);
    const times = [];
    let stable = await grid(p, NEWEST_THUMBNAIL, 8, 6);
    const recent = [];
    const deadline = Date.now() + ms;
    while (times.length < count && Date.now() < deadline) {
      await next_frames(1);
      recent.push({ at: Date.now(), picture: await grid(p, NEWEST_THUMBNAIL, 8, 6) });
      if (recent.length > 3) recent.shift();
      if (recent.length < 3) continue;
      const agree = recent.every((r) => max_change(r.picture, recent[0].picture) < 6);
      if (agree && max_change(stable, recent[0].picture) > 12) {
        times.push(recent[0].at);
        stable = recent[0].picture;
      }
    }
    return times;
  };

  // ---- the tool bar, as the pointer finds it ----

  // Puts the pointer on the pane's tool bar over `button` until the control shows the bar;
  // returns the button's spot in page pixels, the panel and the button's rectangle.
  const hover_button = async (pane, button) => {
    const deadline = Date.now() + 15000;
    while (Date.now() < deadline) {
      const p = await panel(pane);
      const rect = await page().evaluate(([q, i]) => window.probe.button(q, i), [p, BUTTONS.indexOf(button)]);
      const at = await to_page(rect.x + (rect.w >> 1), rect.y + (rect.h >> 1));
      // The bar shows when the pointer moves into its strip.
      await page().mouse.move(at.x - 3, at.y);
      await page().mouse.move(at.x, at.y);
      await next_frames(2);
      if (await page().evaluate((q) => window.probe.bar_shown(q), p)) return { at, p, rect };
      // Away, so the next move comes into the strip again.
      const away = await to_page((p.left + p.right) / 2, (p.top + p.bottom) / 2);
      await page().mouse.move(away.x, away.y);
      await next_frames(1);
    }
    assert.fail(`the tool bar of pane ${pane + 1} did not show`);
  };
  // How a button looks (its picture and text), to see it change; the ring a hovered button
  // draws around itself stays out.
  const button_look = (p, rect) => {
    const w = p.right - p.left;
    const h = p.bottom - p.top;
    const inner = [(rect.x + 3 - p.left) / w, (rect.y + 3 - p.top) / h, (rect.x + rect.w - 3 - p.left) / w, (rect.y + rect.h - 3 - p.top) / h];
    return grid(p, inner, 10, 4);
  };
  // Clicks a tool-bar button of the pane as a person does; returns how the button looked before.
  // Two presses in a row land a little apart within the button: the window system makes a
  // double click of two quick presses on one spot, and a button takes only single presses.
  let presses = 0;
  const press = async (pane, button) => {
    const { at, p, rect } = await hover_button(pane, button);
    const look = await button_look(p, rect);
    const aside = (presses++ % 2 ? -1 : 1) * Math.floor(rect.w / 5);
    await page().mouse.click(at.x + aside, at.y);
    return { look };
  };
  // Waits until the pressed button looks different (its text and picture follow the state).
  const button_changes = async (pane, button, look, what) => {
    const deadline = Date.now() + CHANGE_MS;
    let changed = 0;
    while (Date.now() < deadline) {
      const { p, rect } = await hover_button(pane, button);
      changed = max_change(look, await button_look(p, rect));
      if (changed > 10) return;
    }
    assert.fail(`${what}: the button still looks the same (${changed.toFixed(1)})`);
  };
  // The alarm-output button's beacon, read with the bar shown.
  const beacon = async (pane) => {
    const { p } = await hover_button(pane, "alarm-output");
    return page().evaluate((q) => window.probe.beacon(q), p);
  };

  // ---- the pane's menu ----

  // Right-clicks the middle of the pane and chooses the item at `path` (submenu texts, then the
  // item's text) with the pointer.
  const choose = async (pane, ...path) => {
    const p = await panel(pane);
    const at = await to_page((p.left + p.right) / 2, (p.top + p.bottom) / 2);
    await page().mouse.move(at.x, at.y);
    await page().mouse.click(at.x, at.y, { button: "right" });
    let list = page().locator(".menu-layer > ul.menu");
    await list.waitFor({ state: "visible", timeout: 15000 });
    for (let i = 0; i < path.length; i++) {
      const item = list.locator(":scope > li.menu-item").filter({ has: page().locator(":scope > .menu-label", { hasText: new RegExp(`^${path[i].replace(/[.*+?^${}()|[\]\\]/g, "\\$&")}$`) }) });
      assert.equal(await item.count(), 1, `the menu has one "${path.slice(0, i + 1).join(" › ")}"`);
      if (i < path.length - 1) {
        await item.hover();
        list = item.locator(":scope > ul.submenu");
        await list.waitFor({ state: "visible", timeout: 5000 });
      } else {
        await item.click();
      }
    }
    await page().locator(".menu-layer").waitFor({ state: "detached", timeout: 5000 });
  };

  const camera_of = (dev, ch) => page().evaluate(([d, c]) => [...window.kavrel.model.cameras.values()].find((x) => x.devid === d && x.chlid === c).id, [dev, ch]);
  const play = async (dev, pane) => {
    const before = await starts(pane);
    const id = await camera_of(dev, 0);
    assert.equal(await page().evaluate(([c, p]) => window.kavrel.live.start(c, p), [id, pane]), true);
    await page().waitForFunction(([p, n, ev]) => window.test_events.filter((a) => a[2] === ev && a[3] === p && a[4] === 0).length > n, [pane, before, EVENT.LIVE_STARTED], { timeout: VIDEO_MS });
    await page().waitForFunction((i) => window.probe.panel(i) !== null, pane, { timeout: VIDEO_MS });
    await next_frames(4);
  };

  it("signs in and plays a recorder camera in pane 1 and the fisheye camera in pane 2", async () => {
    await page().goto(host.url);
    await page().waitForSelector("body[data-link=open]");
    await page().click("#signin-submit");
    await page().waitForSelector("body.signed-in");
    for (const id of [RECORDER, FISHEYE]) await page().waitForSelector(`.device-row[data-device-id="${id}"][data-link=online]`, { timeout: DEVICES_MS });
    await page().waitForSelector(".layout-option:not([disabled])");
    await page().click('.layout-option[data-count="4"]');
    await page().waitForSelector('.layout-option[data-count="4"][aria-checked="true"]');
    await page().evaluate(install_probe);
    await page().evaluate(() => {
      window.test_events = [];
      window.kavrel.control.addEventListener("CliCallBackMsg", (...a) => window.test_events.push(a));
    });
    await play(RECORDER, 0);
    await play(FISHEYE, 1);
  });

  it("switches the device's alarm output with the first button, and back", async () => {
    // The button shows what the device reports after each press: a lit red beacon while the
    // output is on, a grey one while it is off.
    const start = await beacon(0);
    assert.ok(start === "on" || start === "off", `the beacon reads ${start}`);
    for (const want of [start === "on" ? "off" : "on", start]) {
      await press(0, "alarm-output");
      const deadline = Date.now() + CHANGE_MS;
      let seen = "";
      while (Date.now() < deadline && (seen = await beacon(0)) !== want) await next_frames(1);
      assert.equal(seen, want, "the device's alarm output followed the button");
    }
  });

  it("saves a snapshot of the pane with the camera button", async () => {
    await press(0, "snapshot");
    const dialog = page().locator("dialog.kind-save-dialog");
    await dialog.waitFor({ state: "visible", timeout: CHANGE_MS });
    await dialog.locator("input[name=name]").fill("barra.png");
    const download = page().waitForEvent("download", { timeout: 30000 });
    await dialog.locator("button.primary").click();
    const size = image_size(readFileSync(await (await download).path()));
    assert.equal(size?.format, "png");
    assert.ok(size.width >= 320 && size.height >= 240, `${size.width} x ${size.height}`);
    // The first snapshot opens the strip under the wall, and the wall takes the smaller size:
    // the next presses aim at the panes where they are then.
    await page().waitForSelector('#snapshot-strip:not([hidden]) .snapshot-image[alt="barra.png"]');
    await wall_settled();
  });

  it("records the pane with the record button and saves the video when it is pressed again", async () => {
    const { look } = await press(0, "record");
    await button_changes(0, "record", look, "recording");
    // A few seconds of video, so the recording holds whole pictures to convert.
    const started = Date.now();
    while (Date.now() - started < 4000) await next_frames(1);
    await press(0, "record");
    const dialog = page().locator("dialog.kind-save-dialog");
    await dialog.waitFor({ state: "visible", timeout: CHANGE_MS });
    await dialog.locator("input[name=name]").fill("gravacao.mp4");
    const download = page().waitForEvent("download", { timeout: 60000 });
    await dialog.locator("button.primary").click();
    const bytes = readFileSync(await (await download).path());
    assert.equal(bytes.toString("latin1", 4, 8), "ftyp", "an MP4 file");
    assert.ok(bytes.includes(Buffer.from("avc1")), "with H.264 video");
    assert.ok(bytes.length > 20000, `${bytes.length} bytes`);
  });

  it("switches backlight compensation, history and freeze on and off with their buttons", async () => {
    const plain = await contrast(0);
    let { look } = await press(0, "blc");
    await button_changes(0, "blc", look, "BLC on");
    await contrast_until(0, (c) => c > plain + 1.5, `BLC on over ${plain.toFixed(1)}`);
    await shot("pane-toolbar-blc");
    ({ look } = await press(0, "blc"));
    await button_changes(0, "blc", look, "BLC off");
    await contrast_until(0, (c) => Math.abs(c - plain) < 1, `BLC off back to ${plain.toFixed(1)}`);

    const still = await own_motion(0);
    const before = await steady_grid(0);
    ({ look } = await press(0, "history"));
    await button_changes(0, "history", look, "history on");
    await picture_changes(0, before, still, "history on");
    await shot("pane-toolbar-history");
    const on = await steady_grid(0);
    ({ look } = await press(0, "history"));
    await button_changes(0, "history", look, "history off");
    await picture_changes(0, on, still, "history off");

    ({ look } = await press(0, "freeze"));
    await button_changes(0, "freeze", look, "freeze on");
    // The tool bar's freeze puts the live inset top right.
    await frozen_with_inset_in(0, 1, "freeze from the tool bar");
    await shot("pane-toolbar-freeze");
    ({ look } = await press(0, "freeze"));
    await button_changes(0, "freeze", look, "freeze off");
    await lives_again(0, 1, "freeze off from the tool bar");
  });

  it("history switched on while freeze is on ends the freeze, and the reverse", async () => {
    // Each press is seen on its button before the picture is looked at, as a person would.
    const toggle = async (button, what) => {
      const { look } = await press(0, button);
      await button_changes(0, button, look, what);
    };
    await toggle("freeze", "freeze on");
    await frozen_with_inset_in(0, 1, "freeze");
    const still = await own_motion(0);
    const frozen = await steady_grid(0);
    await toggle("history", "history on");
    await picture_changes(0, frozen, still, "history after freeze");
    // History shows the live picture in its larger part: outside the inset's corner it lives.
    await lives_again(0, 1, "history ended the freeze");
    await toggle("freeze", "freeze on again");
    await frozen_with_inset_in(0, 1, "freeze after history");
    await toggle("freeze", "freeze off");
    await lives_again(0, 1, "freeze off");
  });

  it("closes the pane with the last button", async () => {
    const before = await closes(0);
    await press(0, "close");
    await page().waitForFunction(([n, ev]) => window.test_events.filter((a) => a[2] === ev && a[3] === 0).length > n, [before, EVENT.PANE_CLOSED], { timeout: CHANGE_MS });
    await page().waitForFunction(() => !window.kavrel.live.playing(0), null, { timeout: CHANGE_MS });
    await shot("pane-toolbar-closed");
  });

  it("reconnects the pane from its menu", async () => {
    await play(RECORDER, 0);
    const before = await starts(0);
    await choose(0, "Reconectar");
    await page().waitForFunction(([n, ev]) => window.test_events.filter((a) => a[2] === ev && a[3] === 0 && a[4] === 0).length > n, [before, EVENT.LIVE_STARTED], { timeout: VIDEO_MS });
    await page().waitForFunction((i) => window.probe.panel(i) !== null, 0, { timeout: VIDEO_MS });
    await next_frames(4);
  });

  it("sets backlight compensation from the menu: each intensity its own contrast, off the plain picture", async () => {
    const plain = await contrast(0);
    await choose(0, "BLC", "Baixo");
    const low = await contrast_until(0, (c) => c > plain + 1, `BLC Baixo over ${plain.toFixed(1)}`);
    await choose(0, "BLC", "Alto");
    const high = await contrast_until(0, (c) => c > low + 1.5, `BLC Alto over ${low.toFixed(1)}`);
    await choose(0, "BLC", "Padrão");
    await contrast_until(0, (c) => c > low + 0.5 && c < high - 0.5, `BLC Padrão between ${low.toFixed(1)} and ${high.toFixed(1)}`);
    await choose(0, "BLC", "Inativo");
    await contrast_until(0, (c) => Math.abs(c - plain) < 1, `BLC Inativo back to ${plain.toFixed(1)}`);
  });

  it("sets history from the menu: its thumbnails follow the short, medium and long intervals", async () => {
    const still = await own_motion(0);
    const before = await steady_grid(0);
    await choose(0, "Histórico", "Breve");
    await picture_changes(0, before, still, "history Breve");
    await shot("pane-menu-history");
    const gaps = {};
    for (const [interval, count, ms] of [["Breve", 3, 20000], ["Médio", 3, 30000], ["Longo", 2, 45000]]) {
      if (interval !== "Breve") await choose(0, "Histórico", interval);
      // The first change after a switch may still follow the previous interval.
      const times = await thumbnail_changes(0, count, ms);
      assert.ok(times.length === count, `history ${interval}: ${times.length} thumbnail changes in ${ms} ms`);
      gaps[interval] = times.at(-1) - times.at(-2);
    }
    assert.ok(gaps.Breve < gaps["Médio"] && gaps["Médio"] < gaps.Longo, `the thumbnails follow the intervals: ${JSON.stringify(gaps)}`);
    assert.ok(gaps["Médio"] >= 4000 && gaps.Longo >= 13000, `medium 5 s and long 15 s apart: ${JSON.stringify(gaps)}`);
    const on = await steady_grid(0);
    await choose(0, "Histórico", "Inativo");
    await picture_changes(0, on, still, "history off");
  });

  it("freezes the picture from the menu with the live inset in each corner, and ends the freeze", async () => {
    const corners = ["Superior esquerda", "Superior direito", "Inferior esquerdo", "Inferior direita"];
    for (const [corner, text] of corners.entries()) {
      await choose(0, "Congelar", text);
      await frozen_with_inset_in(0, corner, `freeze ${text}`);
      if (corner === 3) await shot("pane-menu-freeze");
    }
    await choose(0, "Congelar", "Inativo");
    await lives_again(0, 3, "freeze Inativo");
  });

  it("sets the fisheye camera's mount and every view from the menu", async () => {
    const still = await own_motion(1);
    const steps = [
      ["Parede"],
      ["Layout para parede", "Panorama"],
      ["Layout para parede", "Panorama mais 4 EPTZ"],
      ["Layout para parede", "Panorama mais 8 EPTZ"],
      ["Layout para parede", "Panorama mais 3 EPTZ"],
      ["Teto"],
      ["Layout para teto/chão", "Original"],
      ["Layout para teto/chão", "Panorama mais 1 EPTZ"],
      ["Layout para teto/chão", "Original mais 2 EPTZ"],
      ["Layout para teto/chão", "Original mais 4 EPTZ"],
      ["Layout para teto/chão", "Panorama mais 6 EPTZ"],
      ["Layout para teto/chão", "Original mais 8 EPTZ"],
      ["Layout para teto/chão", "Original mais 3 EPTZ"],
      ["Chão"],
    ];
    let last = await steady_grid(1);
    for (const step of steps) {
      await choose(1, "Fisheye", ...step);
      await picture_changes(1, last, still, `fisheye ${step.join(" › ")}`);
      last = await steady_grid(1);
    }
    await shot("pane-menu-fisheye");
  });

  it("closes the pane from its menu", async () => {
    const before = await closes(1);
    await choose(1, "Fechar");
    await page().waitForFunction(([n, ev]) => window.test_events.filter((a) => a[2] === ev && a[3] === 1).length > n, [before, EVENT.PANE_CLOSED], { timeout: CHANGE_MS });
    await page().waitForFunction(() => !window.kavrel.live.playing(1), null, { timeout: CHANGE_MS });
  });

  it("left no errors in the page", () => {
    assert.deepEqual(view.problems, []);
  });
});
