// Makes docs/screenshot.png: what a new user sees after scripts/run.sh, connecting to the
// simulated device and polling its live registers (sine, ramp, noise) with all three charted.
// Not a test; run it by hand after changing the look (needs the e2e packages: setup.sh --test):
//   node tools/screenshots/readme-screenshot.mjs
import path from 'node:path';
import { launchBrowser, SOURCE_DIR, startDevsim, startVexo } from '../../tests/e2e/harness.mjs';

const SAMPLES = 60;
const devsim = await startDevsim();
const vexo = await startVexo();
const browser = await launchBrowser();
try {
  const page = await browser.context.newPage();
  await page.setViewportSize({ width: 1280, height: 800 });
  await page.goto(vexo.url('/'));
  await page.waitForSelector('body[data-ready="true"]');
  await page.check('input[name="connType"][value="tcp"]');
  await page.fill('#conn-ip', '127.0.0.1');
  await page.fill('#conn-port', String(devsim.port));
  await page.click('#conn-connect');
  await page.waitForSelector('#conn-status.status-ok');

  await page.click('#tab-registers');
  await page.fill('#reg-addr', '1000');
  await page.fill('#reg-count', '3');
  await page.click('#reg-read');
  await page.waitForSelector('#reg-status.status-ok');
  for (const address of ['1001', '1002']) await page.check(`#reg-body input[data-key="${address}"]`);
  await page.fill('#reg-interval', '300');
  await page.click('#reg-poll');
  await page.waitForFunction((n) => Number(document.getElementById('reg-chart').dataset.samples) >= n, SAMPLES, { timeout: 120000 });
  await page.screenshot({ path: path.join(SOURCE_DIR, 'docs', 'screenshot.png'), fullPage: true });
} finally {
  await browser.close();
  await vexo.stop();
  vexo.cleanup();
  await devsim.stop();
}
