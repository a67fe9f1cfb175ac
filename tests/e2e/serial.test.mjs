// A serial (RTU) connection from the browser: the port list, baud rates and modes come from
// Vexo, the device is the simulator on one end of a socat pseudo-terminal pair.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { accessibilityProblems, closeInterface, openInterface, screenshot, startDevsim, startPtyPair, startVexo } from './harness.mjs';

const WAIT = { timeout: 15000 };

describe('serial connection in the browser', () => {
  let pty;
  let devsim;
  let vexo;
  let browser;
  let page;

  before(async () => {
    pty = await startPtyPair();
    devsim = await startDevsim(['--baud', '19200', '--parity', 'E', '--slave', '7'], pty.second);
    vexo = await startVexo({ serial: { extraPorts: pty.first } });
    ({ browser, page } = await openInterface(vexo));
  });

  after(async () => {
    await closeInterface(browser, vexo, 'vexo-serial.log');
    if (devsim) await devsim.stop();
    if (pty) await pty.stop();
  });

  test('lists the ports and line settings, connects, reads, and remembers the settings', async () => {
    // A fresh settings store starts on the serial side with Vexo's defaults.
    await page.waitForSelector('#conn-serial:not([hidden])', WAIT);
    const ports = await page.locator('#conn-com option').evaluateAll((options) => options.map((o) => o.value));
    assert.ok(ports.includes(pty.first), `${pty.first} not in ${ports}`);
    assert.equal(await page.locator('#conn-baud option').count(), 13);
    assert.deepEqual(await page.locator('#conn-mode option').allTextContents(), ['RTU 8N2', 'RTU 8E1', 'RTU 8O1', 'RTU 8N1']);
    assert.equal(await page.inputValue('#conn-mode'), '3');

    await page.selectOption('#conn-com', pty.first);
    await page.selectOption('#conn-baud', { label: '19200' });
    await page.selectOption('#conn-mode', { label: 'RTU 8E1' });
    await page.fill('#conn-slave', '0');
    await page.click('#conn-connect');
    assert.match(await page.textContent('#conn-status'), /slave address must be a whole number from 1 to 247/);

    await page.fill('#conn-slave', '7');
    await page.fill('#conn-timeout', '500');
    await page.click('#conn-connect');
    await page.waitForSelector('#conn-status.status-ok', WAIT);
    assert.match(await page.textContent('#conn-status'), /Connected with serial port\./);
    assert.equal(await page.textContent('#conn-text'), `Connected: ${pty.first}, slave 7`);
    await screenshot(page, '11-serial');
    assert.deepEqual(await accessibilityProblems(page), [], '11-serial');

    await page.click('#tab-registers');
    await page.fill('#reg-addr', '0');
    await page.fill('#reg-count', '2');
    await page.click('#reg-read');
    await page.waitForSelector('#reg-status.status-ok', WAIT);
    assert.deepEqual(await page.locator('#reg-body .value').allTextContents(), ['1234', '-1']);

    // A new page gets the stored settings and the state from Vexo.
    await page.goto(vexo.url('/#connection'));
    await page.waitForSelector('body[data-ready="true"]', WAIT);
    await page.waitForFunction(() => document.getElementById('conn-text').textContent.startsWith('Connected'), null, WAIT);
    assert.equal(await page.inputValue('#conn-com'), pty.first);
    assert.equal(await page.inputValue('#conn-baud'), '5');
    assert.equal(await page.inputValue('#conn-mode'), '1');
    assert.equal(await page.inputValue('#conn-slave'), '7');
    assert.equal(await page.inputValue('#conn-timeout'), '500');
  });
});
