// Module updates in a real browser: check, install and follow an update from the project's
// update server on loopback, then see the new module in the interface.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { accessibilityProblems, closeInterface, openInterface, screenshot, SOURCE_DIR, startUpdateServer, startVexo } from './harness.mjs';

const WAIT = { timeout: 30000 };
const haveServer = fs.existsSync(path.join(SOURCE_DIR, 'tools', 'updateserver', 'updateserver.py'));

function writeFiles(root, files) {
  for (const [name, content] of Object.entries(files)) {
    fs.mkdirSync(path.dirname(path.join(root, name)), { recursive: true });
    fs.writeFileSync(path.join(root, name), content);
  }
}

describe('module updates in the browser', { skip: haveServer ? false : 'the update server is not in this tree' }, () => {
  let served;
  let updates;
  let vexo;
  let browser;
  let page;

  before(async () => {
    served = fs.mkdtempSync(path.join(os.tmpdir(), 'vexo-e2e-updates-'));
    writeFiles(served, {
      'check.json': '{"modules":["meter"]}',
      'modules/meter/meter.html': '<section class="card"><h2 id="meter-title">Meter dashboard</h2></section>\n',
      'modules/meter/meter.js': "window.Vexo.defineModule('meter', { init(panel) { panel.dataset.started = 'yes'; } });\n",
    });
    updates = await startUpdateServer(served);
    vexo = await startVexo({ updates: { updateServer: updates.url } });
    ({ browser, page } = await openInterface(vexo, { hash: '#updates' }));
  });

  after(async () => {
    await closeInterface(browser, vexo, 'vexo-updates.log');
    if (updates) await updates.stop();
    if (served) fs.rmSync(served, { recursive: true, force: true });
  });

  test('checks, installs with progress, and the new module appears after a reload', async () => {
    await page.waitForSelector('#upd-installed tr', WAIT);
    assert.equal(await page.locator('#upd-installed tr').count(), 8);
    await page.click('#upd-check');
    await page.waitForSelector('#upd-choice:not([hidden])', WAIT);
    assert.deepEqual(await page.locator('#upd-list label').allTextContents(), ['meter']);
    assert.match(await page.textContent('#upd-status'), /Updates are available for 1 module/);
    await page.click('#upd-start');
    await page.waitForSelector('#upd-status.status-ok', WAIT);
    assert.match(await page.textContent('#upd-status'), /update is complete/);
    assert.match(await page.textContent('#upd-status'), /Completed correctly\./);
    await page.waitForFunction(() => document.querySelectorAll('#upd-installed tr').length === 9, null, WAIT);
    await screenshot(page, '09-updates');
    assert.deepEqual(await accessibilityProblems(page), [], '09-updates');
    assert.ok(fs.existsSync(path.join(vexo.dir, 'www', 'modules', 'meter', 'meter.js')));

    await page.click('#upd-reload');
    await page.waitForSelector('body[data-ready="true"]', WAIT);
    assert.ok((await page.locator('[role="tab"]').allTextContents()).includes('meter'));
    await page.click('#tab-meter');
    assert.equal(await page.textContent('#meter-title'), 'Meter dashboard');
    assert.equal(await page.getAttribute('#module-meter', 'data-started'), 'yes');
  });

  test('an update server that is gone is reported in plain words', async () => {
    await updates.stop();
    await page.click('#tab-updates');
    await page.click('#upd-check');
    await page.waitForSelector('#upd-status.status-error', WAIT);
    assert.match(await page.textContent('#upd-status'), /The update server could not be reached.*Address tried: http:\/\/127\.0\.0\.1:\d+/);
    assert.equal(await page.isEnabled('#upd-check'), true);
  });
});
