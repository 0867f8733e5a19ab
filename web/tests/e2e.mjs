// The demo portal in a real browser against kavrel-host --demo: sign in, the devices come
// online in the tree and the offline one is marked, the control's surface is drawn, the About
// box the control asks for is drawn by the page, a reload finds the control still signed in,
// a dropped connection comes back by itself, and a second page takes the control over.
// Screenshots go to build/web-test-output/ (or $KAVREL_WEB_TEST_OUTPUT).
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { join } from "node:path";

import { start_host, launch_browser, open_page, output_dir, close_all } from "./harness.mjs";

const ONLINE = ["KVR-000001", "KVR-000002", "KVR-000003"];
const OFFLINE = "KVR-000004";
const DEVICES_MS = 90000; // tunnels, logins and descriptions of four devices on a busy machine

describe("demo portal against kavrel-host", { timeout: 300000 }, () => {
  let host;
  let browser;
  let view;
  const out = output_dir();
  const shot = (name, page = view.page) => page.screenshot({ path: join(out, `${name}.png`) });

  before(async () => {
    host = await start_host();
    browser = await launch_browser();
    view = await open_page(browser, { width: 1280, height: 720 });
  });

  after(async () => {
    const ended = await close_all(browser, host);
    if (ended && ended.code !== 0 && ended.code !== null) console.log(`kavrel-host ended with ${ended.code}:\n${host.output()}`);
  });

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
      return r.width > 1400 && c.width === Math.round(r.width * devicePixelRatio) && c.height === Math.round(r.height * devicePixelRatio);
    }, null, { timeout: 20000 });
    for (const id of ONLINE) await page.waitForSelector(`.device-row[data-device-id="${id}"][data-link=online]`);
    await shot("portal-1920");
  });

  it("ran without script errors in the page", () => {
    assert.deepEqual(view.problems, []);
  });
});
