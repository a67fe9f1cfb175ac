// One user's session in a real browser against a real vexo and the device simulator (over TCP,
// and over RTU on a socat pseudo-terminal pair); the steps share one page and build on each
// other. Connect, read every value type, write values and lists with a preview, decimal commas
// in German, poll and chart, the device going silent and coming back, export, identify,
// traffic, read definitions, the support form, a phone screen, a serial line, module updates.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import path from 'node:path';
import { closeInterface, looksRight, openInterface, SOURCE_DIR, startDevsim, startPtyPair, startUpdateServer, startVexo, tempDir } from './harness.mjs';

const WAIT = { timeout: 15000 };

describe('Vexo in the browser', () => {
  let vexo, devsim, browser, page, pty, rtuDevsim, updates;
  const pageErrors = [];
  const served = tempDir('vexo-e2e-updates-');
  before(async () => {
    fs.mkdirSync(path.join(served, 'modules', 'meter'), { recursive: true });
    fs.writeFileSync(path.join(served, 'check.json'), '{"modules":["meter"]}');
    fs.writeFileSync(path.join(served, 'modules', 'meter', 'meter.html'), '<h2 id="meter-title">Meter dashboard</h2>\n');
    fs.writeFileSync(path.join(served, 'modules', 'meter', 'meter.js'), "window.Vexo.defineModule('meter', { init(panel) { panel.dataset.started = 'yes'; } });\n");
    [devsim, pty, updates] = await Promise.all([startDevsim(['--log-requests']), startPtyPair(), startUpdateServer(served)]);
    rtuDevsim = await startDevsim(['--baud', '19200', '--parity', 'E', '--slave', '7'], pty.second);
    vexo = await startVexo({ serial: { extraPorts: pty.first }, updates: { updateServer: updates.url } });
    ({ browser, page } = await openInterface(vexo));
    page.on('pageerror', (e) => pageErrors.push(e.message));
  });
  after(async () => {
    await closeInterface(browser, vexo, 'vexo.log');
    for (const child of [devsim, rtuDevsim, pty, updates]) if (child) await child.stop();
    fs.rmSync(served, { recursive: true, force: true });
  });

  const text = (selector) => page.textContent(selector);
  const texts = (selector) => page.locator(selector).allTextContents();
  const values = () => texts('#reg-body .value');
  const until = (fn, arg) => page.waitForFunction(fn, arg, WAIT);
  const clickThen = async (button, selector) => { await page.click(button); await page.waitForSelector(selector, WAIT); };
  // Fills fields by selector in one step, as typing would (booleans check boxes); skips disabled ones.
  const set = (fields) => page.evaluate((entries) => entries.forEach(([selector, value]) => {
    const e = document.querySelector(selector);
    if (value === null || e.disabled) return;
    if (typeof value === 'boolean') e.checked = value;
    else e.value = String(value);
    for (const type of ['input', 'change']) e.dispatchEvent(new Event(type, { bubbles: true }));
  }), Object.entries(fields).map(([k, v]) => [k, v === undefined ? null : v]));
  // table: coils, discrete, input, holding or holding32 (32-bit registers).
  const setReadForm = ({ addr, count, table = 'holding', type = 'int16', order = 'ABCD' }) =>
    set({ '#reg-table': table, '#reg-type': type, '#reg-order': order, '#reg-addr': addr, '#reg-count': count });
  // The status turns busy on the click itself; the read or write is over when it no longer is.
  async function read(form) {
    if (form) await setReadForm(form);
    await clickThen('#reg-read', '#reg-status:is(.status-ok, .status-error)');
  }
  async function write(addr, typed) {
    if (addr !== null) await set({ '#reg-waddr': addr, '#reg-wvalues': typed });
    await clickThen('#reg-write', '#reg-write-status:is(.status-ok, .status-error)');
    return text('#reg-write-status');
  }
  const loadList = (name, content) => page.setInputFiles('#reg-file', { name, mimeType: 'text/csv', buffer: Buffer.from(content) })
    .then(() => page.waitForSelector('#reg-file-status:is(.status-ok, .status-error)', WAIT));
  async function download(button) {
    const [file] = await Promise.all([page.waitForEvent('download', WAIT), page.click(button)]);
    return { name: file.suggestedFilename(), path: await file.path(), content: fs.readFileSync(await file.path()) };
  }
  // What the device holds, asked through Vexo apart from the page.
  const deviceHolds = async (addr, count, table = 'holding', type = 'int16') =>
    (await (await fetch(vexo.url(`/ajax.html?func=readTable&table=${table}&addr=${addr}&count=${count}${table === 'coils' ? '' : '&type=' + type}`))).json()).values;

  test('the shell: its modules as tabs, the keyboard, the language, About; connecting', async () => {
    assert.deepEqual(await texts('[role="tab"]'), ['Connection', 'Registers', 'Polling', 'Traffic', 'Identify', 'Updates', 'Support', 'About', 'Broker']);
    await page.selectOption('#lang-select', 'pl');
    assert.deepEqual([await text('#tab-connection'), await text('#conn-text'), await page.getAttribute('html', 'lang')], ['Połączenie', 'Brak połączenia', 'pl']);
    await page.selectOption('#lang-select', 'en');
    await page.focus('#tab-connection');
    await page.keyboard.press('ArrowRight');
    assert.deepEqual([await page.getAttribute('#tab-registers', 'aria-selected'), await page.isVisible('#module-registers'), await page.isVisible('#module-connection')], ['true', true, false]);
    await clickThen('#tab-about', '#about-facts:not([hidden])');
    assert.equal(await text('#about-langs'), 'English, Español, Deutsch, Polski');
    assert.deepEqual(await texts('#about-flags li'), ['Module updates (Updates tab): set up', 'Support e-mail (Support tab): not set up']);
    // Connecting: a wrong address is refused in the page, a closed port in plain words.
    await page.click('#tab-connection');
    await page.check('input[name="connType"][value="tcp"]');
    for (const [fields, said] of [[{ '#conn-ip': '999.1.1.1', '#conn-port': 1, '#conn-slave': 1, '#conn-timeout': 500 }, /"999\.1\.1\.1" is neither an IP address nor a host name/],
      [{ '#conn-ip': 'localhost' }, /Vexo could not open a Modbus TCP connection to localhost, port 1\.[^]*Could not connect to Modbus TCP!/],
      [{ '#conn-port': 'abc' }, /TCP port must be a whole number/]]) {
      await set(fields);
      await clickThen('#conn-connect', '#conn-status.status-error:not(:has(.spinner))');
      assert.match(await text('#conn-status'), said);
      assert.equal(await text('#conn-text'), 'Not connected');
    }
    assert.equal(await page.getAttribute('#conn-port', 'aria-invalid'), 'true');
    await set({ '#conn-ip': '127.0.0.1', '#conn-port': devsim.port, '#conn-timeout': 1000 });
    await clickThen('#conn-connect', '#conn-status.status-ok');
    assert.equal(await text('#conn-text'), `Connected: 127.0.0.1:${devsim.port}, slave 1`);
    await looksRight(page, 'connection');
  });

  test('every table, value type and byte order shows what the device holds, from one transaction per read', async () => {
    await page.click('#tab-registers');
    // Each value type and byte order at least once, as the simulator holds them: [table, type,
    // order, address, count, shown]. A float's bits read as an integer of the same order:
    // 123.456f is 0x42F6E979 (1123477881), pi 0x400921FB54442D18 (4614256656552045848).
    const reads = [['input', 'int16', 'BADC', 3, 1, ['-12345']], ['input', 'uint16', 'ABCD', 1, 1, ['40000']],
      ['input', 'int32', 'CDAB', 10, 1, ['1123477881']], ['input', 'uint32', 'DCBA', 14, 1, ['1123477881']], ['input', 'float32', 'BADC', 12, 1, ['123.456']],
      ['input', 'int64', 'ABCD', 16, 1, ['-1234567890123456789']], ['input', 'uint64', 'CDAB', 28, 1, ['4614256656552045848']],
      ['input', 'float64', 'DCBA', 36, 1, ['3.141592653589793']], ['input', 'ascii', 'BADC', 46, 6, ['Vexo devsim']],
      ['coils', 'bit', 'ABCD', 0, 16, [...'1010010100111100']], ['discrete', 'bit', 'ABCD', 0, 16, [...'1100101011110000']],
      ['holding', 'int16', 'ABCD', 0, 2, ['1234', '-1']], ['holding', 'float32', 'ABCD', 12, 1, ['NaN']],
      ['holding32', 'int32', 'ABCD', 5000, 3, ['123456789', '1095237632', '-1']], ['holding32', 'uint32', 'ABCD', 5002, 1, ['4294967295']],
      ['holding32', 'float32', 'ABCD', 5001, 1, ['12.50']], ['holding32', 'float32', 'CDAB', 5003, 1, ['12.5']]];
    for (const [table, type, order, addr, count, shown] of reads) {
      const before = devsim.requests();
      await read({ table, type, order, addr, count });
      assert.deepEqual([await values(), devsim.requests() - before], [shown, 1], `${table} ${type} ${order} at ${addr}, in one device transaction`);
    }
    // Hexadecimal and binary come from the registers of the same read; Vexo says which function
    // it used and how fast the device answered.
    await read({ table: 'input', type: 'float32', order: 'CDAB', addr: 10, count: 1 });
    assert.match(await text('#reg-status'), /1 value\(s\) read at .* with function 04\. The device answered in \d+\.\d\d ms\./);
    assert.equal(await text('#reg-body td:nth-of-type(2)'), '0xE979 0x42F6');
    for (const [view, shown] of [['bin', '01000010 11110110 11101001 01111001'], ['dec', '123.456']]) {
      await page.selectOption('#reg-view', view);
      assert.deepEqual(await values(), [shown]);
    }
    // Addresses typed and shown in Modicon notation, and the table relabelled when it changes.
    await page.selectOption('#reg-notation', 'modicon');
    await read({ table: 'input', type: 'float32', addr: '30009', count: 1 });
    assert.deepEqual([await values(), await text('#reg-body th')], [['123.456'], '30009']);
    await page.selectOption('#reg-notation', 'zero');
    assert.deepEqual([await text('#reg-body th'), await page.inputValue('#reg-addr')], ['8', '8'], 'shown and typed addresses follow');
    // A block past the simulator's last 16-bit register: the device's error in plain words,
    // and the table keeps the last good values and says so.
    await read({ addr: 0, count: 2 });
    await read({ addr: 4998, count: 4 });
    assert.match(await text('#reg-status'), /The device answered with an error: [^]*Vexo replied: \{"error":"Protocol error! /);
    assert.match(await text('#reg-caption'), /^Last good read at .*; the latest read failed/);
    assert.match(await text('#conn-text'), /^Connected: /);
    await looksRight(page, 'registers-error');
  });

  test('writes typed values and loaded lists exactly at their addresses, shown before sending; decimal commas in German', async () => {
    await setReadForm({ addr: 100, count: 3 });
    await page.fill('#reg-wvalues', '11, x, 70000');
    assert.match(await text('#reg-wplan'), /Value 2 \("x"\) is not a number[^]*Value 3 \(70000\) is outside the range -32768 to 32767/);
    assert.match(await write(100, '11, x, 70000'), /Value 2 \("x"\)/);
    await page.fill('#reg-wvalues', '11 -12 13');
    assert.match(await text('#reg-wplan'), /1 request\(s\).*100–102: 11; -12; 13/);
    // [read form, address, typed, what the status says, the device then holds: [addr, count, table, type], values]
    const writes = [[{ addr: 100, count: 3 }, 100, '11 -12 13', /3 value\(s\) written at 100–102 with function 16\. Read back: every register holds what was written\.[^]*Values successfully sent\./, [100, 3], [11, -12, 13]],
      // One register goes with function 06, unless 16 is asked for.
      [null, 100, '0x7FFF', /written at 100 with function 06\. Read back: every register/, [100, 1], [32767]],
      ['multiple', 101, '-1', /written at 101 with function 16\./, [100, 2], [32767, -1]],
      // Every digit of a 64-bit integer; a float given by its bits in another byte order.
      [{ addr: 120, count: 1, type: 'int64' }, 120, '-9223372036854775807', /written at 120–123 with function 16\. Read back/, [120, 1, 'holding', 'int64'], ['-9223372036854775807']],
      [{ addr: 130, count: 1, type: 'float32', order: 'DCBA' }, 130, '0x41480000', /written at 130–131 .*Read back/, [130, 2], [0, 0x4841]],
      // Coils: one with function 05, several with 15.
      [{ table: 'coils', addr: 100, count: 3 }, 100, '1', /written at 100 with function 05\. Read back: every register/, [100, 1, 'coils'], [1]],
      [null, 101, '1 0 1', /written at 101–103 with function 15\./, [100, 4, 'coils'], [1, 1, 0, 1]]];
    for (const [form, addr, typed, said, [...asked], held] of writes) {
      if (form === 'multiple') await page.check('#reg-wmultiple');
      else if (form) await setReadForm(form);
      assert.match(await write(addr, typed), said, typed);
      assert.deepEqual(await deviceHolds(...asked), held, typed);
      await page.uncheck('#reg-wmultiple');
    }
    await page.fill('#reg-wvalues', '1 0 1 x');
    assert.match(await text('#reg-wplan'), /Value 4 \("x"\) must be 0 or 1/);
    await page.selectOption('#reg-table', 'input');
    assert.equal(await page.isDisabled('#reg-write'), true, 'input registers can only be read');

    // A list with a gap: each value goes to its own address, one request per run; nothing is
    // sent before Write, nor when a register is given twice.
    await setReadForm({ addr: 300, count: 6 });
    await loadList('gap.csv', 'address,value\r\n300,11\r\n305,22\r\n301,33\r\n');
    assert.equal(await page.isVisible('#reg-wvalues'), false);
    assert.deepEqual(await texts('#reg-wplan li'), ['300–301: 11; 33', '305: 22']);
    assert.match(await text('#reg-wplan'), /3 value\(s\) in 2 request\(s\)/);
    assert.deepEqual(await deviceHolds(300, 6), [0, 0, 0, 0, 0, 0]);
    assert.match(await write(null), /written at 300–301, 305 with function 16, 06\. Read back: every register/);
    assert.deepEqual(await deviceHolds(300, 6), [11, 33, 0, 0, 0, 22]);
    await loadList('twice.csv', 'address,value\r\n300,1\r\n300,2\r\n');
    assert.match(await write(null), /Address 300 is given twice/);
    assert.deepEqual(await deviceHolds(300, 1), [11]);
    await page.click('#reg-wlist-drop');
    assert.equal(await page.isVisible('#reg-wvalues'), true);
    // In German a comma is the decimal mark, typed, read and in semicolon lists.
    await page.selectOption('#lang-select', 'de');
    assert.equal(await text('#conn-text'), `Verbunden: 127.0.0.1:${devsim.port}, Geräteadresse 1`);
    await setReadForm({ addr: 210, count: 2, type: 'float32' });
    await page.fill('#reg-wvalues', '12.5');
    assert.match(await text('#reg-wplan'), /Wert 1 \(„12\.5“\) hat das falsche Dezimalzeichen: Dezimalstellen mit „,“ schreiben, wie in 12,5/);
    assert.match(await write(210, '12,5; -0,25'), /geschrieben an 210–213 mit Funktion 16\. Zurückgelesen: Jedes Register/);
    await read();
    assert.deepEqual(await values(), ['12,5', '-0,25']);
    assert.match(await text('#reg-status'), /um \d{2}:\d{2}:\d{2} mit Funktion 03 gelesen/);
    await loadList('semicolons.csv', 'address;value\r\n220;2,5\r\n');
    assert.deepEqual(await texts('#reg-wplan li'), ['220–221: 2,5']);
    await page.click('#reg-wlist-drop');
    await page.selectOption('#lang-select', 'en');
  });

  test('polls and charts; a write while polling leaves the poll alone; the device goes silent and comes back', async () => {
    const counts = async () => (await text('#reg-poll-info')).match(/^(\d+) reads, (\d+) failed/).slice(1).map(Number);
    await setReadForm({ addr: 0, count: 10 });
    await page.fill('#reg-interval', '200');
    await page.click('#reg-poll');
    assert.equal(await page.isDisabled('#reg-addr'), true, 'the polled range cannot change under the poll');
    await until(() => Number(document.getElementById('reg-chart').dataset.samples) >= 2);
    await page.check('#reg-body input[data-key="1"]');
    assert.match(await write(8, '43'), /written at 8 with function 06\. Read back: every register/);
    await until(() => document.querySelector('#reg-body tr:nth-child(9) .value').textContent === '43');
    assert.deepEqual([await page.locator('#reg-body tr').count(), await page.inputValue('#reg-addr')], [10, '0']);
    await until(() => /Address 0: 1234, Address 1: -1/.test(document.getElementById('reg-chart-summary').textContent));
    // Vexo's own measure of the device's response times, not the browser's.
    assert.match(await text('#reg-poll-info'), /^\d+ reads, 0 failed, every 200 ms · response \d+\.\d\d ms, average \d+\.\d\d ms$/);
    // The plot area (below the legend) holds a line in the first series' colour.
    const blue = await page.$eval('#reg-chart', (c) => c.getContext('2d').getImageData(0, Math.round(40 * devicePixelRatio), c.width, c.height).data
      .filter((_, i, d) => i % 4 === 0 && Math.abs(d[i] - 11) < 30 && Math.abs(d[i + 1] - 107) < 30 && Math.abs(d[i + 2] - 203) < 30 && d[i + 3] > 200).length);
    assert.ok(blue > 50, `only ${blue} pixels of the first series colour`);
    await looksRight(page, 'chart');

    const port = devsim.port;
    await devsim.stop();
    await page.waitForSelector('#conn-badge.is-silent', WAIT);
    await until(() => /, [2-9]\d* failed/.test(document.getElementById('reg-poll-info').textContent));
    assert.match(await text('#conn-text'), new RegExp(`^127\\.0\\.0\\.1:${port}, slave 1: no answer since \\d`));
    assert.match(await text('#reg-status'), /could not be reached over the network/);
    const [readsDown, failedDown] = await counts();
    devsim = await startDevsim(['--log-requests'], null, port);
    await page.waitForSelector('#conn-badge.is-connected', WAIT);
    assert.equal(await text('#conn-text'), `Connected: 127.0.0.1:${port}, slave 1`);
    await until(() => /The device answers again/.test(document.getElementById('reg-status').textContent));
    await until((n) => Number(/^(\d+)/.exec(document.getElementById('reg-poll-info').textContent)[1]) > n + 1, readsDown);
    const [readsUp, failedUp] = await counts();
    assert.ok(failedUp - failedDown <= 1 && readsUp > readsDown, 'no failures counted after the device is back');
    // The read under way finishes before Read and the poll button are offered again.
    await clickThen('#reg-poll', '#reg-poll[aria-pressed="false"]:not([disabled])');
    assert.equal(await page.isEnabled('#reg-read'), true);
    assert.match(await text('#reg-poll-info'), /^Polling stopped after \d+ reads, \d+ failed\./);
  });

  test('exports CSV and PDF; identifies the device; the traffic view; read definitions', async () => {
    await read({ addr: 0, count: 2 });
    const csv = await download('#reg-csv');
    assert.match(csv.name, /^vexo-registers-\d{8}-\d{6}\.csv$/);
    assert.equal(csv.content.toString(), 'address,table,register_size,type,order,value,raw_registers\r\n' +
      '0,holding,16,int16,ABCD,1234,0x04D2\r\n1,holding,16,int16,ABCD,-1,0xFFFF\r\n');
    const pdf = await download('#reg-pdf');
    assert.match(pdf.name + execFileSync('pdftotext', ['-layout', pdf.path, '-']), /\.pdf[^]*Vexo register report[^]*0\s+1234\s+0x04D2[^]*1\s+-1\s+0xFFFF/);
    await page.click('#tab-traffic');
    // Newest first: the read just made, its frames as they went over the wire.
    await until(() => /Read holding/.test((document.querySelector('#trf-body tr') || {}).textContent));
    const cells = await texts('#trf-body tr:first-child td');
    assert.match(cells.join('|'), /^\d\d:\d\d:\d\d\.\d{3}\|03 Read holding registers\|0\|2\|[0-9a-f]{2} [0-9a-f]{2} 00 00 00 06 01 03 00 00 00 02\|.* 00 07 01 03 04 04 d2 ff ff\|\d+\.\d\d ms\|$/i);
    // An exception reply counts apart, and its row shows the device's error.
    const exceptions = Number(await text('#trf-exceptions'));
    await page.click('#tab-registers');
    await read({ table: 'input', addr: 10000, count: 1 });
    await page.click('#tab-traffic');
    // Earlier steps left exception replies of their own: wait for this one.
    await until((n) => Number(document.getElementById('trf-exceptions').textContent) > n &&
      /Read input/.test((document.querySelector('#trf-body tr.is-error') || {}).textContent), exceptions);
    assert.match(await page.locator('#trf-body tr.is-error').first().textContent(), /04 Read input registers\s*10000.*Illegal data address/);
    await looksRight(page, 'traffic');
    await page.click('#tab-identify');
    await clickThen('#id-run', '#id-status.status-ok');
    assert.deepEqual([await text('#id-id'), await text('#id-desc'), await text('#id-runind'), await page.locator('#id-bytes tbody tr').count()],
      ['42', 'Vexo simulated device', 'Running (0xFF)', 2 + 'Vexo simulated device'.length]);
    // Read definitions: Vexo polls them by itself, each shows its latest values, and logs them.
    await page.click('#tab-polling');
    await page.waitForSelector('#pol-state:not(:empty)', WAIT);
    const boiler = page.locator('.pol-def').filter({ has: page.locator('h3:text-is("Boiler")') });
    const save = async (fields) => (await set(fields), await page.click('#pol-save'));
    await page.click('#pol-add');
    await save({ '#pol-name': '', '#pol-interval': 50 });
    assert.match(await text('#pol-form-status'), /Give the definition a name.*The interval must be/);
    await save({ '#pol-name': 'Boiler', '#pol-table': 'holding', '#pol-addr': 0, '#pol-count': 2, '#pol-interval': 200, '#pol-log': true });
    if ((await page.getAttribute('#pol-toggle', 'aria-pressed')) !== 'true') await page.click('#pol-toggle');
    await until(() => document.querySelectorAll('.pol-def tbody tr').length === 2);
    assert.deepEqual(await boiler.locator('.value').allTextContents(), ['1234', '-1']);
    assert.match(await boiler.locator('.pol-result').textContent(), /^Read at \d\d:\d\d:\d\d\.\d{3}; the device answered in \d+\.\d\d ms\.$/);
    assert.equal(await boiler.locator('.pol-summary').textContent(), 'Holding registers 0–1 · int16 (signed) ABCD · every 200 ms · slave 1 · logged');
    // A change shows at the next poll.
    await boiler.locator('button', { hasText: 'Change' }).click();
    await save({ '#pol-count': 3 });
    await until(() => document.querySelectorAll('.pol-def tbody tr').length === 3);
    assert.deepEqual(await boiler.locator('.value').allTextContents(), ['1234', '-1', '16712']);
    await looksRight(page, 'polling');
    // The log holds the values of the definitions that log, one line per value.
    await until(() => Number(document.getElementById('pol-log-size').dataset.bytes) > 0);
    const log = await download('#pol-download');
    assert.equal(log.name, 'vexo-log.csv');
    assert.match(log.content.toString(), /^\d{4}-\d\d-\d\dT[\d:.]{12}\S*,(Boiler|\d+),1,holding,1,-1\r?$/m);
    await clickThen('#pol-toggle', '#pol-toggle[aria-pressed="false"]');
  });

  test('the support form says what gets through; the page fits a phone; disconnected, a read says so', async () => {
    await page.click('#tab-support');
    assert.match(await text('.sup-rules'), /drops commas, colons, double quotes and braces/);
    await set({ '#sup-name': 'Anna, Maria', '#sup-email': 'anna@example.com', '#sup-company': 'x'.repeat(51), '#sup-message': 'Line one\nLine two, 100%' });
    // The line break travels as two characters, as Vexo counts it.
    assert.deepEqual([await page.getAttribute('#sup-name', 'aria-invalid'), await text('#sup-message ~ .counter')], ['true', '24 / 2000']);
    await page.click('#sup-send');
    assert.match(await text('#sup-status'), /"First name" contains characters that cannot be sent: ,[^]*"Company" may hold at most 50 characters/);
    await page.click('#sup-fix');
    assert.equal(await page.inputValue('#sup-name'), 'Anna; Maria');
    await looksRight(page, 'support');
    await page.setViewportSize({ width: 390, height: 844 });
    for (const tab of ['polling', 'connection', 'registers']) {
      await page.click(`#tab-${tab}`);
      assert.equal(await page.evaluate(() => document.documentElement.scrollWidth), 390, `${tab} is wider than the phone`);
    }
    await looksRight(page, 'registers-phone');
    await page.setViewportSize({ width: 1280, height: 900 });
    await clickThen('#tab-connection', '#conn-disconnect');
    await clickThen('#conn-disconnect', '#conn-status.status-ok');
    assert.equal(await text('#conn-text'), 'Not connected');
    await page.click('#tab-registers');
    await read({ addr: 0, count: 1 });
    assert.match(await text('#reg-status'), /There is no connection to a device/);
  });

  test('a serial line: ports and line settings from Vexo, connect, read, settings remembered; module updates', async () => {
    await page.click('#tab-connection');
    await page.check('input[name="connType"][value="serial"]');
    assert.ok((await page.locator('#conn-com option').evaluateAll((list) => list.map((o) => o.value))).includes(pty.first));
    assert.deepEqual([await text('#conn-baud option:nth-child(6)'), await text('#conn-mode option:nth-child(2)')], ['19200', 'RTU 8E1']);
    await set({ '#conn-com': pty.first, '#conn-baud': 5, '#conn-mode': 1, '#conn-slave': 7, '#conn-timeout': 500 });
    await clickThen('#conn-connect', '#conn-status.status-ok');
    assert.equal(await text('#conn-text'), `Connected: ${pty.first}, slave 7`);
    await page.click('#tab-registers');
    await read({ addr: 0, count: 2 });
    assert.deepEqual(await values(), ['1234', '-1']);
    // A new page gets the stored settings and the state from Vexo.
    await page.goto(vexo.url('/#connection'));
    await until(() => document.getElementById('conn-text').textContent.startsWith('Connected'));
    assert.deepEqual(await Promise.all(['#conn-com', '#conn-baud', '#conn-mode', '#conn-slave', '#conn-timeout'].map((id) => page.inputValue(id))), [pty.first, '5', '1', '7', '500']);
    // Module updates: check, install with progress, the new module after a reload; a server gone.
    await clickThen('#tab-updates', '#upd-installed tr');
    await clickThen('#upd-check', '#upd-choice:not([hidden])');
    assert.deepEqual(await texts('#upd-list label'), ['meter']);
    assert.match(await text('#upd-status'), /Updates are available for 1 module/);
    await clickThen('#upd-start', '#upd-status.status-ok');
    assert.match(await text('#upd-status'), /update is complete[^]*Completed correctly\./);
    // One more than the bundled modules, whatever their number.
    await until((n) => document.querySelectorAll('#upd-installed tr').length === n, fs.readdirSync(path.join(SOURCE_DIR, 'www', 'modules')).length + 1);
    await clickThen('#upd-reload', 'body[data-ready="true"]');
    await page.click('#tab-meter');
    assert.deepEqual([await text('#meter-title'), await page.getAttribute('#module-meter', 'data-started')], ['Meter dashboard', 'yes']);
    await updates.stop();
    await page.click('#tab-updates');
    await clickThen('#upd-check', '#upd-status.status-error');
    assert.match(await text('#upd-status'), /The update server could not be reached.*Address tried: http:\/\/127\.0\.0\.1:\d+/);
    assert.deepEqual(pageErrors, []);
  });
});
