// Makes docs/screenshot.png: the registers page polling the simulated device while its values
// change. Not a test; run it by hand after changing the look:
//   node tests/e2e/make-readme-screenshot.mjs
import path from 'node:path';
import { launchBrowser, SOURCE_DIR, startDevsim, startVexo } from './harness.mjs';

const devsim = await startDevsim();
const vexo = await startVexo();
const browser = await launchBrowser();
let writing = true;
try {
  const page = await browser.context.newPage();
  await page.setViewportSize({ width: 1280, height: 1000 });
  await page.goto(vexo.url('/'));
  await page.waitForSelector('body[data-ready="true"]');
  await page.check('input[name="connType"][value="tcp"]');
  await page.fill('#conn-ip', '127.0.0.1');
  await page.fill('#conn-port', String(devsim.port));
  await page.click('#conn-connect');
  await page.waitForSelector('#conn-status.status-ok');

  // Something to watch: two registers follow slow waves, written through Vexo itself.
  const writer = (async () => {
    for (let t = 0; writing; t++) {
      const values = [Math.round(500 + 300 * Math.sin(t / 4)), Math.round(350 + 150 * Math.cos(t / 6))];
      const regVals = encodeURIComponent(JSON.stringify(values));
      await fetch(vexo.url(`/ajax.html?func=writeRegisters&regAddr=100&valuesCnt=2&regVals=${encodeURIComponent(regVals)}`));
      await new Promise((resolve) => setTimeout(resolve, 250));
    }
  })();

  await page.click('#tab-registers');
  await page.fill('#reg-addr', '100');
  await page.fill('#reg-count', '6');
  await page.click('#reg-read');
  await page.waitForSelector('#reg-status.status-ok');
  await page.check('#reg-body input[data-key="101"]');
  await page.fill('#reg-interval', '300');
  await page.click('#reg-poll');
  await page.waitForFunction(() => Number(document.getElementById('reg-chart').dataset.samples) >= 40, null, { timeout: 60000 });
  await page.screenshot({ path: path.join(SOURCE_DIR, 'docs', 'screenshot.png') });
  writing = false;
  await writer;
} finally {
  writing = false;
  await browser.close();
  await vexo.stop();
  vexo.cleanup();
  await devsim.stop();
}
