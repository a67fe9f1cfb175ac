// Finding a device on the network and connecting to it from the browser. Discovery broadcasts
// on every interface, so Vexo and the browser run inside a network namespace of the test's own,
// and the device (simulator plus discovery answer) in a second one joined by a veth pair.
import assert from 'node:assert/strict';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import { accessibilityProblems, BUILD_DIR, closeInterface, makeNetLab, openInterface, screenshot, startVexo } from './harness.mjs';

const WAIT = { timeout: 15000 };
const here = path.dirname(fileURLToPath(import.meta.url));
const lab = await makeNetLab();

describe('device discovery in the browser', { skip: lab ? false : 'network namespaces cannot be made here (needs root and iproute2)' }, () => {
  let vexo;
  let browser;
  let page;
  const modbusPort = 5020;

  before(async () => {
    lab.inDevices([path.join(BUILD_DIR, 'vexo-devsim'), '--tcp', `${lab.deviceIp}:${modbusPort}`]);
    const responder = lab.inDevices([process.execPath, path.join(here, 'discoveryresponder.mjs'), `Meter A\r\n00:11:22:33:44:55\r\n${modbusPort}\r\n1\r\n`]);
    await new Promise((resolve, reject) => {
      responder.stdout.once('data', resolve);
      responder.once('exit', (code) => reject(new Error('discovery responder ended with ' + code)));
    });
    vexo = await startVexo({}, lab);
    ({ browser, page } = await openInterface(vexo, { netns: lab }));
  });

  after(async () => {
    await closeInterface(browser, vexo, 'vexo-discovery.log');
    await lab.close();
  });

  test('lists the answering device with progress, and connects to it from the list', async () => {
    await page.click('#disc-search');
    // The search takes a moment and shows its progress meanwhile.
    await page.waitForSelector('#disc-progress:not([hidden])', WAIT);
    assert.equal(await page.getAttribute('#disc-search', 'aria-busy'), 'true');
    await page.waitForSelector('#disc-status.status-ok', WAIT);
    assert.equal(await page.textContent('#disc-status'), '1 device(s) found.');
    const cells = await page.locator('#disc-body tr').first().locator('td').allTextContents();
    assert.deepEqual(cells.slice(0, 3), ['Meter A00:11:22:33:44:55', `${lab.deviceIp}:${modbusPort}`, '1']);
    // The row's Connect button is whole inside its table, not cut off by it.
    const button = await page.locator('#disc-body button').boundingBox();
    const table = await page.locator('#disc-results').boundingBox();
    assert.ok(button.x + button.width <= table.x + table.width, `Connect ends at ${button.x + button.width}, the table at ${table.x + table.width}`);
    await screenshot(page, '10-discovery');
    assert.deepEqual(await accessibilityProblems(page), [], '10-discovery');

    await page.click('#disc-body button');
    await page.waitForSelector('#conn-status.status-ok', WAIT);
    assert.equal(await page.textContent('#conn-text'), `Connected: ${lab.deviceIp}:${modbusPort}, slave 1`);
    await page.click('#tab-registers');
    await page.fill('#reg-addr', '0');
    await page.fill('#reg-count', '1');
    await page.click('#reg-read');
    await page.waitForSelector('#reg-status.status-ok', WAIT);
    assert.equal(await page.textContent('#reg-body .value'), '1234');
  });
});
