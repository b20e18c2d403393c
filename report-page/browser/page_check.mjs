// Opens report pages from file:// in headless Chromium and checks what they
// show against the run they were made of. Exits non-zero on the first
// mismatch, naming it.
import { readFileSync } from "node:fs";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const [runPage, runEvents, hostilePage, screenshot, recordedPage] = process.argv.slice(2);

function check(condition, what) {
  if (!condition) {
    console.error("page check failed: " + what);
    process.exitCode = 1;
    throw new Error(what);
  }
}

// The run's own counts, from its event lines.
const events = readFileSync(runEvents, "utf8").split("\n").filter((l) => l.trim()).map((l) => JSON.parse(l));
const finished = events.find((e) => e.type === "suite" && (e.event === "ok" || e.event === "failed"));
const failedTests = events.filter((e) => e.type === "test" && e.event === "failed").map((e) => e.name);

const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
                                        args: ["--no-sandbox"] });
try {
  const page = await browser.newPage({ viewport: { width: 1300, height: 1000 } });
  const requests = [];
  page.on("request", (r) => { if (!r.url().startsWith("file:") && !r.url().startsWith("data:")) requests.push(r.url()); });
  const errors = [];
  page.on("pageerror", (e) => errors.push(String(e)));
  await page.goto(pathToFileURL(runPage).href);
  await page.waitForFunction(() => window.pageReady !== undefined);
  check(errors.length === 0, "script errors: " + errors.join("; "));

  const shownCount = async (name) => Number(await page.locator(`#summary [data-count="${name}"] b`).textContent());
  check(await shownCount("passed") === finished.passed, `passed ${await shownCount("passed")} != ${finished.passed}`);
  check(await shownCount("failed") === finished.failed, `failed ${await shownCount("failed")} != ${finished.failed}`);
  check(await shownCount("tests") === finished.passed + finished.failed + finished.ignored, "test count");

  // Filtered to failures: exactly the failed tests' attempts.
  await page.click("#filter-failed");
  const rows = await page.locator("#attempts .row").allTextContents();
  check(rows.length === failedTests.length, `${rows.length} rows shown for ${failedTests.length} failures`);
  for (const name of failedTests) check(rows.some((r) => r.includes(name)), `failure ${name} not listed`);

  // A failure's output opens under it.
  await page.locator("#attempts .row").first().click();
  const output = await page.locator("#detail-output").textContent();
  const failed = events.find((e) => e.event === "failed" && e.type === "test");
  const firstLine = (failed.runner_output ? failed.runner_output[0].text : failed.stdout).trim().split("\n")[0];
  check(output.includes(firstLine), "the failure's output is not shown: " + firstLine);
  check((await page.locator("#detail-title").textContent()).includes(failed.name), "the detail names another test");

  // Search narrows every view to what matches.
  await page.click("#filter-all");
  await page.fill("#search", "gemm");
  await page.waitForTimeout(400);
  const found = await page.locator("#attempts .row").allTextContents();
  check(found.length > 0 && found.every((r) => r.toLowerCase().includes("gemm")), "search for gemm: " + found.join(" | "));
  await page.fill("#search", "");
  await page.waitForTimeout(300);
  await page.screenshot({ path: screenshot, fullPage: true });
  check(requests.length === 0, "the page asked the network for " + requests.join(", "));

  // Markup in a run's names and output stays text.
  const hostile = await browser.newPage();
  hostile.on("dialog", (d) => d.dismiss());
  await hostile.goto(pathToFileURL(hostilePage).href);
  await hostile.waitForFunction(() => window.pageReady !== undefined);
  await hostile.click("#filter-failed");
  await hostile.locator("#attempts .row").first().click();
  await hostile.waitForTimeout(100);
  check(await hostile.evaluate(() => window.injected) === undefined, "markup in the run's text ran");
  check((await hostile.locator("#detail-output").textContent()).includes("<script>window.injected=2</script>"),
        "the output is not shown as text");
  check((await hostile.locator("#detail-message").textContent()).startsWith("<img"), "the message is not shown as text");
  check(await hostile.locator("#attempts img, #detail img, #attempts b, #detail b").count() === 0, "the run's text became elements");
  await hostile.click("#filter-flaky");
  check(await hostile.locator("#attempts .row").count() === 2, "a flaky test shows both its tries");
  // The run as the history keeps it: the same counts, and a strip per test.
  const recorded = await browser.newPage();
  await recorded.goto(pathToFileURL(recordedPage).href);
  await recorded.waitForFunction(() => window.pageReady !== undefined);
  const recordedCount = async (name) => Number(await recorded.locator(`#summary [data-count="${name}"] b`).textContent());
  check(await recordedCount("passed") === finished.passed, "the recorded run's passes");
  check(await recordedCount("failed") === finished.failed, "the recorded run's failures");
  check(await recorded.locator("#history .strip").count() === finished.passed + finished.failed,
        "a history strip per test");
  check(await recorded.locator("#history .strip .c1").count() === finished.failed, "the strips' failures");
  console.log("report page checks passed");
} finally {
  await browser.close();
}
