// Finding a device on the network from the browser and connecting to it from the list. Discovery
// broadcasts on every interface, so Vexo and the browser run inside a network namespace of the
// test's own, the device simulator (which answers searches too) in a second one.
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, test } from 'node:test';
import { BUILD_DIR, closeInterface, looksRight, makeNetLab, openInterface, startVexo } from './harness.mjs';

const lab = await makeNetLab();
let vexo, browser;
after(async () => {
  await closeInterface(browser, vexo, 'vexo-discovery.log');
  await lab?.close();
});

test('lists the answering device with progress, and connects to it from the list', { skip: !lab && 'network namespaces cannot be made here (needs root and iproute2)' }, async () => {
  const device = lab.inDevices([path.join(BUILD_DIR, 'vexo-devsim'), '--tcp', `${lab.deviceIp}:5020`,
    '--discovery-name', 'Meter A', '--discovery-mac', '00:11:22:33:44:55', '--discovery-unit-id', '1']);
  let said = '';
  await new Promise((resolve) => device.stdout.on('data', (d) => /answering device searches/.test(said += d) && resolve()));
  vexo = await startVexo({}, lab);
  let page;
  ({ browser, page } = await openInterface(vexo, { netns: lab }));
  await page.click('#disc-search');
  // The search takes a moment and shows its progress meanwhile.
  assert.equal(await page.getAttribute('#disc-search', 'aria-busy'), 'true');
  await page.waitForSelector('#disc-status.status-ok', { timeout: 15000 });
  assert.equal(await page.textContent('#disc-status'), '1 device(s) found.');
  assert.deepEqual((await page.locator('#disc-body tr:first-child td').allTextContents()).slice(0, 3), ['Meter A00:11:22:33:44:55', `${lab.deviceIp}:5020`, '1']);
  // The row's Connect button is whole inside its table, not cut off by it.
  const [button, table] = [await page.locator('#disc-body button').boundingBox(), await page.locator('#disc-results').boundingBox()];
  assert.ok(button.x + button.width <= table.x + table.width, `Connect ends at ${button.x + button.width}, the table at ${table.x + table.width}`);
  await looksRight(page, 'discovery');
  await page.click('#disc-body button');
  await page.waitForSelector('#conn-status.status-ok', { timeout: 15000 });
  assert.equal(await page.textContent('#conn-text'), `Connected: ${lab.deviceIp}:5020, slave 1`);
});
