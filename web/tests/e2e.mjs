// The demo portal in a real browser against kavrel-host --demo: sign in, the devices come
// online in the tree and the offline one is marked, the control's surface is drawn, the About
// box the control asks for is drawn by the page, a reload finds the control still signed in,
// a dropped connection comes back by itself, and a second page takes the control over. The wall
// from the page: the layout picker, a pane's menu, double-click maximise, the playback page
// switch and the browser's full screen.
// Screenshots go to build/web-test-output/ (or $KAVREL_WEB_TEST_OUTPUT).
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { join } from "node:path";

import { output_dir, with_host_and_page } from "./harness.mjs";

const ONLINE = ["KVR-000001", "KVR-000002", "KVR-000003"];
const OFFLINE = "KVR-000004";
const DEVICES_MS = 90000; // tunnels, logins and descriptions of four devices on a busy machine

describe("demo portal against kavrel-host", { timeout: 300000 }, () => {
  let host;
  let view;
  const out = output_dir();
  const shot = (name, page = view.page) => page.screenshot({ path: join(out, `${name}.png`) });

  with_host_and_page({ viewport: { width: 1280, height: 720 } }, (started) => ({ host, view } = started));

  it("offers the demo account's sign-in, filled in by the host", async () => {
    const { page } = view;
    await page.goto(host.url);
    await page.waitForSelector("body[data-link=open]");
    await page.waitForSelector("#signin-layer:not([hidden])");
    assert.equal(await page.inputValue("input[name=user]"), "demo");
    assert.equal(await page.inputValue("input[name=password]"), "demo-password");
    assert.match(await page.inputValue("input[name=server]"), /^http:\/\/127\.0\.0\.1:\d+/);
    assert.equal(await page.textContent("#signin-submit .label"), "Entrar", "Portuguese for a pt-BR browser");
    await shot("signin-1280");
  });

  it("signs in; the devices come online in the tree and the offline one is marked", async () => {
    const { page } = view;
    await page.click("#signin-submit");
    await page.waitForSelector("body.signed-in");
    for (const id of ONLINE) {
      await page.waitForSelector(`.device-row[data-device-id="${id}"][data-link=online]`, { timeout: DEVICES_MS });
    }
    const offline = await page.waitForSelector(`.device-row[data-device-id="${OFFLINE}"][data-link=offline]`, { timeout: DEVICES_MS });
    assert.equal((await offline.textContent()).includes("Offline"), true);
    // Its cameras carry the mark too.
    await page.waitForSelector(`.tree-camera[data-link=offline]`);
    // The camera list's groups are the tree's groups.
    const groups = await page.$$eval(".tree-group-head .group-name", (els) => els.map((e) => e.textContent));
    for (const name of ["Loja Centro", "Térreo", "Mezanino", "Externas"]) assert.ok(groups.includes(name), `group ${name} in ${groups}`);
    await page.waitForFunction(() => document.querySelector(".status-summary")?.textContent.startsWith("3 de 4"));
    // The developer's log shows the lists and the calls, never a password.
    const logged = await page.textContent("#log-panel");
    assert.ok(logged.includes("KVR-000001") && !logged.includes("admin-pass-") && !logged.includes("demo-password"));
    await shot("portal-1280");
  });

  it("draws the control's surface at the size of its element", async () => {
    const { page } = view;
    await page.waitForFunction(() => Number(document.querySelector("#surface").dataset.frames ?? 0) > 0, null, { timeout: 30000 });
    await page.waitForFunction(() => {
      const c = document.querySelector("#surface");
      const r = c.getBoundingClientRect();
      return c.width === Math.round(r.width * devicePixelRatio) && c.height === Math.round(r.height * devicePixelRatio);
    });
    assert.equal(await page.isHidden("#wall-placeholder"), true);
  });

  // Panes along a horizontal line through the wall at `fraction` of its height, counted from
  // the canvas pixels: pane borders are dark one-pixel lines on light-grey panes, and the
  // borders of two neighbouring panes touch, so n panes in a row make n + 1 dark runs. Installed
  // in the page so a wait can poll it as frames arrive.
  const install_pane_counter = (page) =>
    page.evaluate(() => {
      window.panes_across = (f) => {
        const c = document.querySelector("#surface");
        const y = Math.floor(c.height * f);
        const row = c.getContext("2d").getImageData(0, y, c.width, 1).data;
        let runs = 0;
        let dark = false;
        for (let x = 0; x < c.width; x++) {
          const [r, g, b] = [row[4 * x], row[4 * x + 1], row[4 * x + 2]];
          const is_dark = (r + g + b) / 3 < 160; // grey border, or the green of the selected pane
          if (is_dark && !dark) runs++;
          dark = is_dark;
        }
        return Math.max(0, runs - 1);
      };
    });
  // Waits until the painted wall shows `want` panes across, then returns what it shows (so a
  // wall that never gets there fails the assertion with the count it has).
  const panes_across = async (page, fraction, want) => {
    await page.waitForFunction(([f, w]) => window.panes_across(f) === w, [fraction, want], { timeout: 20000 }).catch(() => {});
    return page.evaluate((f) => window.panes_across(f), fraction);
  };
  const picker_shows = (page, count) =>
    page.waitForSelector(`.layout-option[data-count="${count}"][aria-checked="true"]`, { timeout: 20000 });
  const control_count = (page) => page.evaluate(() => window.kavrel.control.CliGetPicNum());

  it("switches the wall's layout from the picker: 1, 4, 9, 13 and 16 panes", async () => {
    const { page } = view;
    await page.waitForSelector(".layout-option:not([disabled])");
    await install_pane_counter(page);
    // Panes across a line at 55% of the height: row 1 of 2 or 3, row 2 of 4 (13: border, centre, border).
    const expected = { 1: 1, 4: 2, 9: 3, 13: 3, 16: 4 };
    for (const count of [1, 4, 9, 13, 16]) {
      await page.click(`.layout-option[data-count="${count}"]`);
      await picker_shows(page, count);
      assert.equal(await control_count(page), count);
      assert.equal(await panes_across(page, 0.55, expected[count]), expected[count], `panes across the ${count}-pane wall`);
      await shot(`wall-${count}-1280`);
    }
    // Only one layout is marked at a time.
    assert.equal(await page.$$eval('.layout-option[aria-checked="true"]', (els) => els.length), 1);
  });

  it("leaves the bars of a pane without a stream hidden when its tool-bar strip is hovered", async () => {
    const { page } = view;
    const box = await page.locator("#surface").boundingBox();
    // Pane 5 of the 16-pane wall; its tool bar would be the 32-pixel strip at its bottom.
    const pane = { x: box.x + box.width / 4, y: box.y + box.height / 4, w: box.width / 4, h: box.height / 4 };
    const strip_y = pane.y + pane.h - 12;
    const strip = () =>
      page.evaluate(({ x, y, w }) => {
        const c = document.querySelector("#surface");
        const r = c.getBoundingClientRect();
        const s = c.width / r.width;
        return Array.from(c.getContext("2d").getImageData(Math.round((x - r.left) * s), Math.round((y - r.top) * s), Math.round(w * s), 1).data);
      }, { x: pane.x + 4, y: strip_y, w: pane.w - 8 });
    const before = await strip();
    await page.mouse.move(pane.x + pane.w / 2, strip_y);
    await page.mouse.move(pane.x + pane.w / 2 + 5, strip_y);
    // A call after the moves returns once the control has handled them.
    await control_count(page);
    await shot("wall-16-hover-1280");
    const after = await strip();
    const changed = after.filter((v, i) => Math.abs(v - before[i]) > 40).length;
    assert.ok(changed < after.length / 20, `the strip stayed as it was (${changed} of ${after.length} values changed)`);
  });

  it("opens a pane's right-click menu as a page menu and gives the choice back to the control", async () => {
    const { page } = view;
    const box = await page.locator("#surface").boundingBox();
    await page.mouse.click(box.x + box.width * 0.6, box.y + box.height * 0.4, { button: "right" });
    const menu = await page.waitForSelector(".menu-layer .menu");
    const labels = await menu.$$eval(":scope > .menu-item > .menu-label", (els) => els.map((e) => e.textContent));
    assert.deepEqual(labels, ["Fechar", "Reconectar", "BLC", "Histórico", "Congelar", "Fisheye"]);
    // The freeze submenu opens beside it.
    await page.hover('.menu-layer .menu-item:has(> .menu-label:text-is("Congelar"))');
    await page.waitForSelector('.menu-layer .submenu .menu-label:text-is("Superior esquerda")', { state: "visible" });
    await shot("wall-menu-1280");
    await page.click('.menu-layer .submenu .menu-item:has(> .menu-label:text-is("Inativo")):visible');
    await page.waitForSelector(".menu-layer", { state: "detached" });
    // The site's reply carried the item's command number.
    await page.waitForFunction(() =>
      [...document.querySelectorAll(".log-row")].some((r) => r.textContent.includes("site-reply") && r.textContent.includes("259")));
    // The menu leaves the layout alone.
    assert.equal(await control_count(page), 16);
  });

  it("maximises a pane on double click and restores the wall on the next", async () => {
    const { page } = view;
    const box = await page.locator("#surface").boundingBox();
    const at = { x: box.x + box.width * 0.6, y: box.y + box.height * 0.4 };
    await page.mouse.dblclick(at.x, at.y);
    await picker_shows(page, 1);
    assert.equal(await panes_across(page, 0.55, 1), 1);
    await shot("wall-maximised-1280");
    await page.mouse.dblclick(at.x, at.y);
    await picker_shows(page, 16);
    assert.equal(await panes_across(page, 0.55, 4), 4);
  });

  it("switches to the playback page and back; layouts belong to the live page", async () => {
    const { page } = view;
    await page.click('.page-option[data-page="1"]');
    await page.waitForSelector('.page-option[data-page="1"][aria-checked="true"]');
    // The playback page has no layouts: the picker is disabled and out of sight.
    await page.waitForSelector('.layout-option[data-count="4"][disabled]', { state: "attached" });
    await page.waitForSelector(".layout-picker", { state: "hidden" });
    await page.waitForFunction(() => [...document.querySelectorAll(".log-row")].some((r) => r.textContent.includes("CliChangePageTo(1)")));
    await shot("wall-playback-page-1280");
    await page.click('.page-option[data-page="0"]');
    await page.waitForSelector('.page-option[data-page="0"][aria-checked="true"]');
    await page.waitForSelector('.layout-option[data-count="4"]:not([disabled])');
    assert.equal(await control_count(page), 16);
  });

  it("puts the wall in the browser's full screen and leaves it with the browser", async () => {
    const { page } = view;
    await page.click("#fullscreen-button");
    const shown = await Promise.race([
      page.waitForSelector("#fullscreen-offer").then(() => "offer"),
      page.waitForFunction(() => document.fullscreenElement?.id === "wall").then(() => "full"),
    ]);
    if (shown === "offer") await page.click("#fullscreen-offer button");
    await page.waitForFunction(() => document.fullscreenElement?.id === "wall");
    await shot("wall-fullscreen-1280");
    await page.evaluate(() => document.exitFullscreen());
    await page.waitForFunction(() => [...document.querySelectorAll(".log-row")].some((r) => r.textContent.includes("CliFullScreen(0)")));
    await page.waitForFunction(() => document.fullscreenElement === null);
  });

  it("shows the About box the control asks for, and closes it", async () => {
    const { page } = view;
    await page.click("#about-button");
    const dialog = await page.waitForSelector("dialog.site-modal.kind-dialog[open]");
    const text = await dialog.textContent();
    assert.match(text, /Sobre o kavrel Control/);
    assert.match(text, /Versão 1\.2\.1329\.0/);
    await shot("about-1280");
    await dialog.$eval("button", (b) => b.click());
    await page.waitForSelector("dialog.site-modal", { state: "detached" });
    // The control's AboutBox call ends once the page answered.
    await page.waitForFunction(() => [...document.querySelectorAll(".log-row.kind-result")].some((r) => r.textContent.includes("AboutBox →")));
  });

  it("finds the control still signed in after a reload", async () => {
    const { page } = view;
    await page.reload();
    await page.waitForSelector("body[data-link=open]");
    await page.waitForSelector("body.signed-in");
    assert.equal(await page.isHidden("#signin-layer"), true);
    assert.equal(await page.textContent("#account .account-name"), "demo");
    for (const id of ONLINE) await page.waitForSelector(`.device-row[data-device-id="${id}"][data-link=online]`, { timeout: DEVICES_MS });
    await page.waitForSelector(`.device-row[data-device-id="${OFFLINE}"][data-link=offline]`, { timeout: DEVICES_MS });
    await page.waitForFunction(() => Number(document.querySelector("#surface").dataset.frames ?? 0) > 0, null, { timeout: 30000 });
    await shot("reloaded-1280");
  });

  it("comes back by itself when the connection drops, and says so meanwhile", async () => {
    const { page } = view;
    await page.evaluate(() => window.kavrel.bridge.drop());
    await page.waitForSelector("#conn-banner:not([hidden])", { timeout: 5000 });
    await page.waitForSelector("body[data-link=open]", { timeout: 20000 });
    await page.waitForSelector("#conn-banner", { state: "hidden" });
    await page.waitForSelector("body.signed-in");
  });

  it("tells the first page when a second one takes the control over, and takes it back", async () => {
    const { page, context } = view;
    const second = await context.newPage();
    await second.goto(new URL("/", host.url).href);
    await second.waitForSelector("body[data-link=open]");
    await page.waitForSelector("#taken-over:not([hidden])");
    assert.match(await page.textContent("#taken-over"), /aberto em outra janela/);
    await shot("taken-over-1280");
    await page.click("#take-back-button");
    await page.waitForSelector("body[data-link=open]");
    await second.waitForSelector("#taken-over:not([hidden])");
    await second.close();
    await page.waitForSelector("body.signed-in");
  });

  it("fits a 1920x1080 window", async () => {
    const { page } = view;
    await page.setViewportSize({ width: 1920, height: 1080 });
    await page.waitForFunction(() => {
      const c = document.querySelector("#surface");
      const r = c.getBoundingClientRect();
      // The wall takes all the width the camera list and the media controls leave.
      const side = document.querySelector("#sidebar").getBoundingClientRect().width + document.querySelector("#media-panel").getBoundingClientRect().width;
      return r.width > 1300 && r.width >= innerWidth - side - 2 && c.width === Math.round(r.width * devicePixelRatio) && c.height === Math.round(r.height * devicePixelRatio);
    }, null, { timeout: 20000 });
    for (const id of ONLINE) await page.waitForSelector(`.device-row[data-device-id="${id}"][data-link=online]`);
    await shot("portal-1920");
  });

  it("ran without script errors in the page", () => {
    assert.deepEqual(view.problems, []);
  });
});
