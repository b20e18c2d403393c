// Times a report page in headless Chromium: first contentful paint, the
// moment its script has drawn every view, and a filter and a scroll after.
//   node page_timing.mjs PAGE
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
                                        args: ["--no-sandbox"] });
try {
  const page = await browser.newPage({ viewport: { width: 1300, height: 1000 } });
  const opened = Date.now();
  await page.goto(pathToFileURL(process.argv[2]).href);
  await page.waitForFunction(() => window.pageReady !== undefined, null, { timeout: 60000 });
  const loaded = Date.now() - opened;
  const paint = await page.evaluate(() => {
    const entry = performance.getEntriesByName("first-contentful-paint")[0];
    return { firstPaint: entry ? entry.startTime : -1, ready: window.pageReady };
  });
  const filterStart = Date.now();
  await page.click("#filter-failed");
  await page.locator("#attempts .row").first().waitFor();
  const filtered = Date.now() - filterStart;
  const scrollStart = Date.now();
  await page.evaluate(() => { const list = document.getElementById("attempts"); list.scrollTop = list.scrollHeight / 2; });
  await page.locator("#attempts .row").first().waitFor();
  const scrolled = Date.now() - scrollStart;
  console.log(`first contentful paint ${paint.firstPaint.toFixed(0)} ms  interactive ${paint.ready.toFixed(0)} ms` +
              `  (goto to ready ${loaded} ms)  filter to failures ${filtered} ms  scroll ${scrolled} ms`);
} finally {
  await browser.close();
}
