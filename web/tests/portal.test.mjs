// The portal's side of the bridge in a real browser, against the mock host: the host-site boxes
// it draws and what it answers, input in surface pixels, frames acknowledged, a failed sign-in
// explained, English for an English browser, back-off and a host that no longer knows the page.
import { describe, it, before, after } from "node:test";
import assert from "node:assert/strict";
import { join } from "node:path";

import { start_host, launch_browser, open_page, output_dir, within, until, close_all } from "./harness.mjs";

describe("portal against the mock host", { timeout: 180000 }, () => {
  let host;
  let mock;
  let browser;
  let view;
  const out = output_dir();

  before(async () => {
    host = await start_host({ program: "mock" });
    mock = host.mock;
    browser = await launch_browser();
    view = await open_page(browser, { width: 1280, height: 720 });
    await view.page.goto(host.url);
    await view.page.waitForSelector("body[data-link=open]");
  });

  after(() => close_all(browser, host));

  it("explains a refused sign-in in words and stays on the form", async () => {
    const { page } = view;
    await page.fill("input[name=password]", "not-the-password");
    await page.click("#signin-submit");
    await page.waitForSelector("#signin-error:not([hidden])");
    assert.equal(await page.textContent("#signin-error"), "Conta ou senha incorreta.");
    assert.equal(await page.isVisible("#signin-layer"), true);
    await page.screenshot({ path: join(out, "signin-refused-1280.png") });
    await page.fill("input[name=password]", "demo-password");
    await page.click("#signin-submit");
    await page.waitForSelector("body.signed-in");
  });

  it("finds cameras and devices by name regardless of case and accents", async () => {
    const { page } = view;
    await page.waitForSelector(".tree-camera");
    await page.fill(".tree-search", "DEPOSITO");
    await page.waitForFunction(() => document.querySelectorAll(".tree-camera").length === 2);
    assert.deepEqual(await page.$$eval(".tree-camera .camera-name", (els) => els.map((e) => e.textContent)), ["Depósito 1", "Depósito 2"]);
    assert.deepEqual(await page.$$eval(".device-row", (els) => els.map((e) => e.dataset.deviceId)), ["KVR-000004"]);
    await page.fill(".tree-search", "");
    await page.waitForFunction(() => document.querySelectorAll(".tree-camera").length === 8);
  });

  it("sends pointer, wheel and keys in surface pixels and acknowledges frames", async () => {
    const { page } = view;
    await page.waitForFunction(() => Number(document.querySelector("#surface").dataset.frames ?? 0) > 0);
    const box = await page.locator("#surface").boundingBox();
    const dpr = await page.evaluate(() => devicePixelRatio);
    mock.inputs.length = 0;
    await page.mouse.click(box.x + 100, box.y + 50);
    await page.mouse.wheel(0, -100);
    await page.keyboard.press("KeyA");
    await until(() => mock.inputs.some((i) => i.event === "keyup"), 5000, "the key's release");
    const down = mock.inputs.find((i) => i.event === "mousedown");
    assert.deepEqual({ x: down.x, y: down.y, button: down.button }, { x: Math.round(100 * dpr), y: Math.round(50 * dpr), button: 0 });
    assert.ok(mock.inputs.some((i) => i.event === "mouseup" && i.button === 0));
    const wheel = mock.inputs.find((i) => i.event === "wheel");
    assert.equal(wheel.delta, 120, "a notch away from the user is +120, as WM_MOUSEWHEEL counts");
    const key = mock.inputs.find((i) => i.event === "keydown");
    assert.deepEqual({ vk: key.vk, code: key.code }, { vk: 0x41, code: "KeyA" });
    assert.ok(mock.acks.length > 0, "frames are acknowledged");
    assert.equal(mock.control.surface.width, Math.round(box.width * dpr));
  });

  it("draws the control's popup menu where it asks and answers the chosen command", async () => {
    const { page } = view;
    const box = await page.locator("#surface").boundingBox();
    await page.mouse.click(box.x + 200, box.y + 120, { button: "right" });
    const menu = await page.waitForSelector(".menu-layer > .menu");
    const at = await menu.boundingBox();
    assert.ok(Math.abs(at.x - (box.x + 200)) <= 2 && Math.abs(at.y - (box.y + 120)) <= 2, `menu at ${at.x},${at.y}`);
    const labels = await page.$$eval(".menu-layer > .menu > .menu-item > .menu-label", (els) => els.map((e) => e.textContent));
    assert.deepEqual(labels, ["Fechar vídeo", "Fechar todos", "Layout", "Tela cheia", "Gravar", "Sobre…"]);
    assert.equal(await page.getAttribute(".menu-item[data-command='104']", "aria-disabled"), "true");
    assert.equal(await page.textContent(".menu-item[data-command='103'] .menu-shortcut"), "Duplo clique");
    await page.hover(".menu-item.has-submenu");
    await page.waitForSelector(".menu-item.open .submenu .menu-item[aria-checked=true][data-command='204']");
    await page.screenshot({ path: join(out, "menu-1280.png") });
    await page.click(".submenu .menu-item[data-command='209']");
    await page.waitForSelector(".menu-layer", { state: "detached" });
    await until(() => mock.control.pics === 9, 5000, "the chosen layout");

    // Escape closes the menu with no command.
    await page.mouse.click(box.x + 200, box.y + 120, { button: "right" });
    await page.waitForSelector(".menu-layer");
    await page.keyboard.press("Escape");
    await page.waitForSelector(".menu-layer", { state: "detached" });
  });

  it("answers message boxes with the button pressed", async () => {
    const { page } = view;
    // [buttons, the button to press (null: Escape), the answer]
    const cases = [
      ["ok", "OK", 1],
      ["okcancel", "Cancelar", 2],
      ["okcancel", null, 2],
      ["yesno", "Sim", 6],
      ["yesno", "Não", 7],
    ];
    for (const [buttons, press, expected] of cases) {
      const answer = mock.site_request({ kind: "message_box", text: "Parar a exportação?", caption: "Quenlar Cloud", buttons, icon: "warning" });
      const box = await page.waitForSelector("dialog.kind-message-box[open]");
      assert.match(await box.textContent(), /Parar a exportação\?/);
      if (press === null) await page.keyboard.press("Escape");
      else await page.click(`dialog.kind-message-box button:text-is("${press}")`);
      assert.equal(await within(answer, 10000, "the box's answer"), expected, `${buttons} ${press}`);
      await page.waitForSelector("dialog.site-modal", { state: "detached" });
    }
  });

  it("offers the save dialog with the control's name and filters", async () => {
    const { page } = view;
    const answer = mock.site_request({
      kind: "save_dialog",
      title: "Salvar vídeo",
      initial_name: "Entrada_20240102.dav",
      filters: [["Vídeo DAV (*.dav)", "*.dav"], ["Vídeo MP4 (*.mp4)", "*.mp4"]],
    });
    await page.waitForSelector("dialog.kind-save-dialog[open]");
    assert.equal(await page.inputValue("dialog.kind-save-dialog input"), "Entrada_20240102.dav");
    await page.selectOption("dialog.kind-save-dialog select", "2");
    assert.equal(await page.inputValue("dialog.kind-save-dialog input"), "Entrada_20240102.mp4");
    await page.screenshot({ path: join(out, "save-dialog-1280.png") });
    await page.click("dialog.kind-save-dialog button:text-is('Salvar')");
    assert.deepEqual(await within(answer, 10000, "the save answer"), { chosen: true, name: "Entrada_20240102.mp4", filter_index: 2 });

    const cancelled = mock.site_request({ kind: "save_dialog", title: "", initial_name: "a.bmp", filters: [] });
    await page.waitForSelector("dialog.kind-save-dialog[open]");
    await page.keyboard.press("Escape");
    assert.deepEqual(await within(cancelled, 10000, "the cancelled save"), { chosen: false, name: "", filter_index: 0 });
  });

  it("closes what the host stopped waiting for, and shows the next request", async () => {
    const { page } = view;
    mock.site_request({ kind: "message_box", text: "primeira", caption: "x", buttons: "ok" });
    const first = mock.control.site_id - 1;
    const second = mock.site_request({ kind: "dialog", caption: "Sobre o kavrel Control", lines: ["kavrel Control"], buttons: [{ id: 1, text: "OK" }] });
    await page.waitForSelector("dialog.kind-message-box[open]");
    mock.cancel_site(first);
    await page.waitForSelector("dialog.kind-dialog[open]");
    assert.equal(await page.$$eval("dialog.site-modal", (d) => d.length), 1);
    await page.click("dialog.kind-dialog button");
    assert.equal(await within(second, 10000, "the dialog's answer"), 1);
  });

  it("starts a download the control offers", async () => {
    const { page } = view;
    const download = page.waitForEvent("download", { timeout: 10000 });
    mock.notify({ kind: "download", url: "/download/17", name: "Entrada.jpg" });
    assert.equal((await download).suggestedFilename(), "Entrada.jpg");
  });

  it("says so when a file chosen in a save dialog was not saved", async () => {
    const { page } = view;
    mock.notify({ kind: "file_not_saved", name: "gravacao.mp4" });
    await page.waitForFunction(() => [...document.querySelectorAll(".log-row")].some((el) => /gravacao\.mp4 não foi salvo/.test(el.textContent)), null, { timeout: 10000 });
  });

  it("plays the control's sounds and follows its full-screen requests", async () => {
    const { page } = view;
    const fetched = page.waitForRequest((r) => r.url().endsWith("/download/snd-1"), { timeout: 10000 });
    mock.notify({ kind: "sound", url: "/download/snd-1", name: "alarme.wav" });
    await fetched;
    await page.waitForFunction(() => window.kavrel.site.audio?.state === "running", null, { timeout: 10000 });

    // Where the browser wants a fresh click first, the page offers a button for it.
    mock.notify({ kind: "fullscreen", on: true });
    const shown = await Promise.race([
      page.waitForSelector("#fullscreen-offer").then(() => "offer"),
      page.waitForFunction(() => document.fullscreenElement?.id === "wall").then(() => "full"),
    ]);
    if (shown === "offer") await page.click("#fullscreen-offer button");
    await page.waitForFunction(() => document.fullscreenElement?.id === "wall");
    mock.notify({ kind: "fullscreen", on: false });
    await page.waitForFunction(() => document.fullscreenElement === null);

    // Leaving the browser's full screen (Escape) ends the control's full-screen mode too.
    mock.notify({ kind: "fullscreen", on: true });
    await page.waitForFunction(() => document.fullscreenElement?.id === "wall", null, { timeout: 5000 }).catch(async () => {
      await page.click("#fullscreen-offer button");
      await page.waitForFunction(() => document.fullscreenElement?.id === "wall");
    });
    mock.calls.length = 0;
    await page.evaluate(() => document.exitFullscreen());
    await until(() => mock.calls.some((c) => c.method === "CliFullScreen"), 5000, "CliFullScreen");
    assert.deepEqual(mock.calls.find((c) => c.method === "CliFullScreen")?.args, [0]);
  });

  it("speaks English to a browser that prefers it", async () => {
    const english = await open_page(browser, { width: 1280, height: 720, locale: "en-US" });
    await english.context.addCookies(await view.context.cookies());
    await english.page.goto(new URL("/", host.url).href);
    await english.page.waitForSelector("body[data-link=open]");
    await english.page.waitForSelector("body.signed-in");
    assert.equal(await english.page.textContent("#signout-button"), "Sign out");
    assert.equal(await english.page.getAttribute("html", "lang"), "en");
    await english.page.waitForSelector(".device-row[data-link=offline]");
    assert.match(await english.page.textContent(".device-row[data-link=offline] .pill"), /Offline/);
    await english.page.screenshot({ path: join(out, "portal-english-1280.png") });
    await english.context.close();
    // The English page took the control: take it back for the tests that follow.
    await view.page.waitForSelector("#taken-over:not([hidden])");
    await view.page.click("#take-back-button");
    await view.page.waitForSelector("body[data-link=open]");
  });

  it("retries with growing pauses and says when the host no longer knows the page", async () => {
    const { page } = view;
    const states = [];
    await page.exposeFunction("record_state", (s) => states.push(s));
    await page.evaluate(() => window.kavrel.bridge.addEventListener("state", (e) => window.record_state({ ...e.detail, at: Date.now() })));
    mock.forget_sessions();
    await page.waitForSelector("#unauthorized:not([hidden])", { timeout: 30000 });
    const waits = states.filter((s) => s.state === "waiting").map((s) => s.retry_at - s.at);
    assert.ok(waits.length >= 2, JSON.stringify(states));
    assert.ok(waits[1] > waits[0], `pauses grow: ${waits}`);
    await page.screenshot({ path: join(out, "unauthorized-1280.png") });
  });

  it("ran without script errors in the page", () => {
    assert.deepEqual(view.problems.filter((p) => !p.includes("WebSocket") && !p.includes("403")), []);
  });
});
