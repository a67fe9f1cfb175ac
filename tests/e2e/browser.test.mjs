// The bundled interface in a real browser against a real vexo and the device simulator.
// The steps share one browser page and build on each other, as a user's session would.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { accessibilityProblems, closeInterface, keepLog, openInterface, screenshot, startDevsim, startVexo } from './harness.mjs';

const WAIT = { timeout: 15000 };

describe('Vexo in the browser', () => {
  let vexo;
  let devsim;
  let browser;
  let page;
  const pageErrors = [];

  before(async () => {
    devsim = await startDevsim();
    vexo = await startVexo();
    ({ browser, page } = await openInterface(vexo));
    page.on('pageerror', (e) => pageErrors.push(e.message));
  });

  after(async () => {
    await closeInterface(browser, vexo, 'vexo.log');
    if (devsim) {
      await devsim.stop();
      keepLog(devsim.log, 'vexo-devsim.log');
    }
  });

  const status = (id) => page.locator(id);
  const cell = (address, column) => page.locator('#reg-body tr').filter({ has: page.locator(`th:text-is("${address}")`) }).locator('td').nth(column);

  async function setReadForm({ addr, count, type = 'int', regSize = '16', valSize, prec }) {
    await page.fill('#reg-addr', String(addr));
    await page.fill('#reg-count', String(count));
    await page.selectOption('#reg-type', type);
    await page.selectOption('#reg-regsize', regSize);
    if (valSize && (await page.isEnabled('#reg-valsize'))) await page.selectOption('#reg-valsize', valSize);
    if (prec !== undefined) await page.fill('#reg-prec', String(prec));
  }

  async function read(form) {
    await setReadForm(form);
    await page.click('#reg-read');
    // The status turns busy on the click itself; the read is over when it no longer is.
    await page.waitForSelector('#reg-status:is(.status-ok, .status-error)', WAIT);
  }

  test('the shell lists the installed modules, shows the version and switches language', async () => {
    const tabs = await page.locator('[role="tab"]').allTextContents();
    assert.deepEqual(tabs, ['Connection', 'Registers', 'Identify', 'Updates', 'Support', 'About']);
    await page.waitForFunction(() => document.getElementById('app-version').textContent.startsWith('v'), null, WAIT);
    assert.match(await page.textContent('#app-version'), /^v\d+\.\d+\.\d+$/);
    assert.equal(await page.textContent('#conn-text'), 'Not connected');

    const expected = { es: ['Conexión', 'Sin conexión'], de: ['Verbindung', 'Nicht verbunden'], pl: ['Połączenie', 'Brak połączenia'] };
    for (const [lang, [tab, state]] of Object.entries(expected)) {
      await page.selectOption('#lang-select', lang);
      assert.equal(await page.textContent('#tab-connection'), tab);
      assert.equal(await page.textContent('#conn-text'), state);
      assert.equal(await page.getAttribute('html', 'lang'), lang);
      await screenshot(page, `00-language-${lang}`);
      assert.deepEqual(await accessibilityProblems(page), [], `00-language-${lang}`);
    }
    await page.selectOption('#lang-select', 'en');
    assert.equal(await page.textContent('#conn-connect'), 'Connect');

    // The tabs work from the keyboard: arrows move between them, End jumps to the last.
    await page.focus('#tab-connection');
    await page.keyboard.press('ArrowRight');
    assert.equal(await page.getAttribute('#tab-registers', 'aria-selected'), 'true');
    assert.equal(await page.isVisible('#module-registers'), true);
    assert.equal(await page.isVisible('#module-connection'), false);
    await page.keyboard.press('End');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'tab-about');
    await page.keyboard.press('Home');
    assert.equal(await page.getAttribute('#tab-connection', 'aria-selected'), 'true');

    await page.click('#tab-about');
    await page.waitForSelector('#about-facts:not([hidden])', WAIT);
    assert.match(await page.textContent('#about-ver'), /^\d+\.\d+\.\d+$/);
    assert.ok((await page.locator('#about-flags li').count()) >= 5);
    await screenshot(page, '08-about');
    assert.deepEqual(await accessibilityProblems(page), [], '08-about');
  });

  test('a wrong TCP port gives a plain error and the state stays disconnected', async () => {
    await page.click('#tab-connection');
    await page.check('input[name="connType"][value="tcp"]');
    await page.fill('#conn-ip', '127.0.0.1');
    // A port that nobody listens on: the devsim port plus one would be a guess, so use port 1.
    await page.fill('#conn-port', '1');
    await page.fill('#conn-slave', '1');
    await page.fill('#conn-timeout', '500');
    await page.click('#conn-connect');
    await page.waitForSelector('#conn-status.status-error', WAIT);
    assert.match(await status('#conn-status').textContent(), /No Modbus TCP device answered/);
    assert.match(await status('#conn-status').textContent(), /Could not connect to Modbus TCP!/);
    assert.equal(await page.textContent('#conn-text'), 'Not connected');

    await page.fill('#conn-port', 'abc');
    await page.click('#conn-connect');
    assert.match(await status('#conn-status').textContent(), /TCP port must be a whole number/);
    assert.equal(await page.getAttribute('#conn-port', 'aria-invalid'), 'true');
  });

  test('connects over TCP to the simulated device', async () => {
    await page.fill('#conn-port', String(devsim.port));
    await page.fill('#conn-timeout', '1000');
    await page.click('#conn-connect');
    await page.waitForSelector('#conn-status.status-ok', WAIT);
    assert.equal(await page.textContent('#conn-text'), `Connected: 127.0.0.1:${devsim.port}, slave 1`);
    assert.match(await status('#conn-status').textContent(), /Connected with Modbus TCP\./);
    await screenshot(page, '01-connection');
    assert.deepEqual(await accessibilityProblems(page), [], '01-connection');

    // A reload learns the state and the stored settings from Vexo itself.
    await page.reload();
    await page.waitForSelector('body[data-ready="true"]', WAIT);
    await page.waitForFunction(() => document.getElementById('conn-text').textContent.startsWith('Connected'), null, WAIT);
    assert.equal(await page.inputValue('#conn-port'), String(devsim.port));
  });

  test('reads registers in several types beside their raw registers', async () => {
    await page.click('#tab-registers');
    await read({ addr: 0, count: 10, type: 'int', valSize: '16' });
    assert.equal(await page.locator('#reg-body tr').count(), 10);
    assert.equal(await cell(0, 0).textContent(), '1234');
    assert.equal(await cell(0, 1).textContent(), '0x04D2');
    assert.equal(await cell(1, 0).textContent(), '-1');
    assert.equal(await cell(1, 1).textContent(), '0xFFFF');
    assert.equal(await cell(1, 2).textContent(), '65535');
    assert.equal(await cell(8, 0).textContent(), '42');
    await screenshot(page, '02-registers');
    assert.deepEqual(await accessibilityProblems(page), [], '02-registers');

    await read({ addr: 2, count: 1, type: 'float4321' });
    assert.equal(await cell(2, 0).textContent(), '12.5');
    assert.equal(await cell(2, 1).textContent(), '0x4148 0x0000');
    await read({ addr: 4, count: 1, type: 'float1234', prec: 3 });
    assert.equal(await cell(4, 0).textContent(), '12.500');
    await read({ addr: 6, count: 1, type: 'long' });
    assert.equal(await cell(6, 0).textContent(), '65536');
    await read({ addr: 5000, count: 3, type: 'uint', regSize: '32' });
    assert.equal(await cell(5000, 0).textContent(), '123456789');
    assert.equal(await cell(5002, 0).textContent(), '4294967295');
    assert.equal(await cell(5002, 1).textContent(), '0xFFFF 0xFFFF');
    await read({ addr: 5001, count: 1, type: 'float4321', regSize: '32', prec: 1 });
    assert.equal(await cell(5001, 0).textContent(), '12.5');
  });

  test('writes values after checking them, and reads them back', async () => {
    await setReadForm({ addr: 100, count: 3, type: 'int', valSize: '16' });
    await page.fill('#reg-waddr', '100');
    await page.fill('#reg-wvalues', '11, x, 70000');
    await page.click('#reg-write');
    const refused = await status('#reg-write-status').textContent();
    assert.match(refused, /Value 2 \("x"\) is not a number/);
    assert.match(refused, /Value 3 \(70000\) is outside the range -32768 to 32767/);

    await page.fill('#reg-wvalues', '11 -12 13');
    await page.click('#reg-write');
    await page.waitForSelector('#reg-write-status.status-ok', WAIT);
    assert.match(await status('#reg-write-status').textContent(), /Values successfully sent\./);
    await page.waitForFunction(() => document.querySelectorAll('#reg-body tr').length === 3 && document.getElementById('reg-status').classList.contains('status-ok'), null, WAIT);
    assert.deepEqual(await page.locator('#reg-body .value').allTextContents(), ['11', '-12', '13']);
    assert.equal(await cell(101, 1).textContent(), '0xFFF4');

    await page.selectOption('#reg-type', 'float4321');
    await page.fill('#reg-waddr', '200');
    await page.fill('#reg-wvalues', '-2.75');
    await page.click('#reg-write');
    await page.waitForFunction(() => document.getElementById('reg-caption').textContent.includes('Float'), null, WAIT);
    await page.waitForSelector('#reg-status.status-ok', WAIT);
    assert.equal(await cell(200, 0).textContent(), '-2.75');
    assert.equal(await cell(200, 1).textContent(), '0xC030 0x0000');
  });

  test('polls continuously and the chart follows', async () => {
    await setReadForm({ addr: 100, count: 3, type: 'int', valSize: '16' });
    await page.fill('#reg-interval', '200');
    await page.click('#reg-poll');
    assert.equal(await page.getAttribute('#reg-poll', 'aria-pressed'), 'true');
    await page.waitForFunction(() => Number(document.getElementById('reg-chart').dataset.samples || 0) >= 2, null, WAIT);
    // A second register joins the chart while polling runs.
    await page.check('#reg-body input[data-key="101"]');
    const samplesBefore = Number(await page.getAttribute('#reg-chart', 'data-samples'));
    await page.waitForFunction((n) => Number(document.getElementById('reg-chart').dataset.samples) >= n + 3, samplesBefore, WAIT);
    assert.match(await page.textContent('#reg-chart-summary'), /Address 100: 11, Address 101: -12/);
    assert.match(await page.textContent('#reg-poll-info'), /^\d+ reads, every 200 ms$/);
    // The plot area (below the legend) really holds a line in the first series' colour.
    const coloured = await page.evaluate(() => {
      const c = document.getElementById('reg-chart');
      const top = Math.round(40 * (window.devicePixelRatio || 1));
      const data = c.getContext('2d').getImageData(0, top, c.width, c.height - top).data;
      let blue = 0;
      for (let i = 0; i < data.length; i += 4) {
        const near = Math.abs(data[i] - 11) < 30 && Math.abs(data[i + 1] - 107) < 30 && Math.abs(data[i + 2] - 203) < 30;
        if (near && data[i + 3] > 200) blue++;
      }
      return blue;
    });
    assert.ok(coloured > 50, `only ${coloured} pixels of the first series colour`);
    await screenshot(page, '03-chart');
    assert.deepEqual(await accessibilityProblems(page), [], '03-chart');
    await page.click('#reg-poll');
    // The read under way finishes before Read and the poll button are offered again.
    await page.waitForSelector('#reg-poll[aria-pressed="false"]:not([disabled])', WAIT);
    assert.equal(await page.isEnabled('#reg-read'), true);
    assert.match(await page.textContent('#reg-poll-info'), /^Polling stopped after \d+ reads\.$/);
  });

  test('exports CSV and a PDF report through the save endpoint, and loads the list back', async () => {
    await read({ addr: 0, count: 2, type: 'int', valSize: '16' });
    const [csv] = await Promise.all([page.waitForEvent('download', WAIT), page.click('#reg-csv')]);
    assert.match(csv.suggestedFilename(), /^vexo-registers-\d{8}-\d{6}\.csv$/);
    const csvPath = await csv.path();
    const text = fs.readFileSync(csvPath, 'utf8');
    assert.equal(text, 'address,type,register_size,value_size,value,raw_registers\r\n0,int,16,16,1234,0x04D2\r\n1,int,16,16,-1,0xFFFF\r\n');
    await page.waitForSelector('#reg-file-status.status-ok', WAIT);

    const [pdf] = await Promise.all([page.waitForEvent('download', WAIT), page.click('#reg-pdf')]);
    assert.match(pdf.suggestedFilename(), /\.pdf$/);
    const pdfBytes = fs.readFileSync(await pdf.path());
    assert.equal(pdfBytes.subarray(0, 5).toString('latin1'), '%PDF-');
    const pdfText = execFileSync('pdftotext', ['-layout', await pdf.path(), '-'], { encoding: 'utf8' });
    assert.match(pdfText, /Vexo register report/);
    assert.match(pdfText, /0\s+1234\s+0x04D2/);
    assert.match(pdfText, /1\s+-1\s+0xFFFF/);
    await page.waitForSelector('#reg-file-status.status-ok', WAIT);

    fs.writeFileSync(csvPath + '.csv', 'address,value\r\n300,5\r\n301,6\r\n302,7\r\n');
    await page.setInputFiles('#reg-file', csvPath + '.csv');
    await page.waitForSelector('#reg-file-status.status-ok', WAIT);
    assert.match(await page.textContent('#reg-caption'), /^Loaded from /);
    assert.equal(await page.inputValue('#reg-wvalues'), '5, 6, 7');
    assert.equal(await page.inputValue('#reg-waddr'), '300');
    assert.equal(await page.inputValue('#reg-count'), '3');

    fs.writeFileSync(csvPath + '.bad', 'nothing useful here\n1\n');
    await page.setInputFiles('#reg-file', csvPath + '.bad');
    await page.waitForSelector('#reg-file-status.status-error', WAIT);
    assert.match(await status('#reg-file-status').textContent(), /needs the columns "address" and "value"/);
  });

  test('identifies the slave with its id, description and raw bytes', async () => {
    await page.click('#tab-identify');
    await page.click('#id-run');
    await page.waitForSelector('#id-status.status-ok', WAIT);
    assert.equal(await page.textContent('#id-id'), '42');
    assert.equal(await page.textContent('#id-desc'), 'Vexo simulated device');
    assert.match(await page.textContent('#id-runind'), /Running \(0xFF\)/);
    const bytes = await page.locator('#id-bytes tbody tr').count();
    assert.equal(bytes, 2 + 'Vexo simulated device'.length);
    assert.equal(await page.locator('#id-bytes tbody tr').nth(2).locator('td').nth(2).textContent(), 'V');
    await screenshot(page, '04-identify');
    assert.deepEqual(await accessibilityProblems(page), [], '04-identify');
  });

  test('a wrong register address shows the device error in plain words', async () => {
    await page.click('#tab-registers');
    await read({ addr: 4998, count: 2, type: 'int', valSize: '16' });
    assert.equal(await page.locator('#reg-status.status-ok').count(), 1);
    // 16-bit registers end at 4999 on the simulator; a block across 5000 does not exist.
    await read({ addr: 4998, count: 4, type: 'int', valSize: '16' });
    const text = await status('#reg-status').textContent();
    assert.match(text, /The device answered with an error: /);
    assert.match(text, /Vexo replied: \{"error":"Protocol error! /);
    // The table keeps the last good values and says that they are not from this read.
    assert.match(await page.textContent('#reg-caption'), /^Last good read at .*; the latest read failed/);
    await screenshot(page, '05-error');
    assert.deepEqual(await accessibilityProblems(page), [], '05-error');

    await setReadForm({ addr: 65535, count: 2 });
    await page.click('#reg-read');
    assert.match(await status('#reg-status').textContent(), /runs past the last register address 65535/);
  });

  test('the support form shows its limits and refuses characters Vexo cannot carry', async () => {
    await page.click('#tab-support');
    assert.equal(await page.locator('#sup-module option').count(), 5);
    await page.fill('#sup-name', 'Anna, Maria');
    await page.fill('#sup-email', 'anna@example.com');
    await page.fill('#sup-message', 'Line one\nLine two');
    // The line break travels as two characters, as Vexo counts it.
    assert.equal(await page.locator('#sup-message ~ .counter').textContent(), '18 / 2000');
    await page.click('#sup-send');
    assert.match(await status('#sup-status').textContent(), /"First name" contains characters that cannot be sent: ,/);
    await page.click('#sup-fix');
    assert.equal(await page.inputValue('#sup-name'), 'Anna; Maria');
    await page.fill('#sup-company', 'x'.repeat(51));
    assert.equal(await page.locator('#sup-company ~ .counter').textContent(), '51 / 50');
    await page.click('#sup-send');
    assert.match(await status('#sup-status').textContent(), /"Company" may hold at most 50 characters/);
    await screenshot(page, '07-support');
    assert.deepEqual(await accessibilityProblems(page), [], '07-support');

    // No mail server is configured for this vexo, so the mail tool fails and says so.
    await page.fill('#sup-company', 'Torva Test');
    await page.click('#sup-send');
    await page.waitForSelector('#sup-status.status-error:not(:has(.spinner))', WAIT);
    assert.match(await status('#sup-status').textContent(), /The message could not be sent: the mail program reported an error/);
    assert.match(await status('#sup-status').textContent(), /\{"status":"err!"\}/);
  });

  test('disconnects, and a read then says there is no connection', async () => {
    await page.click('#tab-connection');
    await page.click('#conn-disconnect');
    await page.waitForSelector('#conn-status.status-ok', WAIT);
    assert.equal(await page.textContent('#conn-text'), 'Not connected');
    await page.click('#tab-registers');
    await read({ addr: 0, count: 1 });
    assert.match(await status('#reg-status').textContent(), /There is no connection to a device/);
    await screenshot(page, '06-disconnected');
    assert.deepEqual(await accessibilityProblems(page), [], '06-disconnected');
    assert.deepEqual(pageErrors, []);
  });
});
