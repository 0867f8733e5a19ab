// Takes screenshots of the portal at the usual screen sizes, for a person to look at.
//   node web/tests/shoot.mjs <address printed by the host> <output folder> [--sign-in]
import { chromium } from "playwright-core";
const [url, out = "/tmp/shots"] = process.argv.slice(2).filter((a) => !a.startsWith("--"));
const sign_in = process.argv.includes("--sign-in");
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium", headless: true });
try {
  for (const [w, h] of [[1280, 720], [1920, 1080]]) {
    const context = await browser.newContext({ viewport: { width: w, height: h }, locale: process.env.LOCALE ?? "pt-BR" });
    const page = await context.newPage();
    page.on("console", (m) => console.log(`[${w}] console.${m.type()}: ${m.text()}`));
    page.on("pageerror", (e) => console.log(`[${w}] page error: ${e.message}`));
    await page.goto(url);
    await page.waitForSelector("body[data-link=open]", { timeout: 10000 });
    await page.waitForFunction(() => Number(document.querySelector("#surface").dataset.frames ?? 0) > 0, null, { timeout: 30000 });
    await page.screenshot({ path: `${out}/first-${w}.png` });
    if (sign_in) {
      if (await page.isVisible("#signin-layer")) await page.click("#signin-submit");
      await page.waitForSelector("body.signed-in", { timeout: 20000 });
      // Every device has said whether it is there, and the control's picture is in.
      await page.waitForFunction(() => {
        const rows = [...document.querySelectorAll(".device-row")];
        return rows.length > 0 && rows.every((r) => r.dataset.link !== "connecting") && Number(document.querySelector("#surface").dataset.frames ?? 0) > 0;
      }, null, { timeout: 60000 });
      await page.screenshot({ path: `${out}/portal-${w}.png` });
    }
    await context.close();
  }
} finally {
  await browser.close();
}
