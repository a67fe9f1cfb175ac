// The bundled interface in a real browser against a real vexo and the device simulator.
// The steps share one browser page and build on each other, as a user's session would.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { accessibilityProblems, ARTIFACTS_DIR, closeInterface, keepLog, openInterface, screenshot, startDevsim, startVexo } from './harness.mjs';

const WAIT = { timeout: 15000 };

describe('Vexo in the browser', () => {
  let vexo;
  let devsim;
  let browser;
  let page;
  const pageErrors = [];

  before(async () => {
    devsim = await startDevsim(['--log-requests']);
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
  const values = () => page.locator('#reg-body .value').allTextContents();

  // table: coils, discrete, input, holding or holding32 (32-bit registers).
  async function setReadForm({ addr, count, table = 'holding', type = 'int16', order = 'ABCD', prec }) {
    await page.selectOption('#reg-table', table);
    if (await page.isEnabled('#reg-type')) await page.selectOption('#reg-type', type);
    if (await page.isEnabled('#reg-order')) await page.selectOption('#reg-order', order);
    await page.fill('#reg-addr', String(addr));
    await page.fill('#reg-count', String(count));
    if (prec !== undefined && (await page.isEnabled('#reg-prec'))) await page.fill('#reg-prec', String(prec));
  }

  async function read(form) {
    if (form) await setReadForm(form);
    await page.click('#reg-read');
    // The status turns busy on the click itself; the read is over when it no longer is.
    await page.waitForSelector('#reg-status:is(.status-ok, .status-error)', WAIT);
  }

  async function write(addr, text) {
    await page.fill('#reg-waddr', String(addr));
    await page.fill('#reg-wvalues', text);
    await page.click('#reg-write');
    await page.waitForSelector('#reg-write-status:is(.status-ok, .status-error)', WAIT);
  }

  async function loadList(name, content) {
    const file = `${ARTIFACTS_DIR}/${name}`;
    fs.mkdirSync(ARTIFACTS_DIR, { recursive: true });
    fs.writeFileSync(file, content);
    await page.setInputFiles('#reg-file', file);
    await page.waitForSelector('#reg-file-status:is(.status-ok, .status-error)', WAIT);
  }

  // What the device holds, asked through Vexo apart from the page.
  async function deviceHolds(addr, count, table = 'holding', type = 'int16') {
    const typed = table === 'coils' ? '' : `&type=${type}`;
    const reply = await (await fetch(vexo.url(`/ajax.html?func=readTable&table=${table}&addr=${addr}&count=${count}${typed}`))).json();
    return reply.values;
  }

  test('the shell lists the installed modules, shows the version and switches language', async () => {
    const tabs = await page.locator('[role="tab"]').allTextContents();
    assert.deepEqual(tabs, ['Connection', 'Registers', 'Polling', 'Traffic', 'Identify', 'Updates', 'Support', 'About', 'Broker']);
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
    assert.equal(await page.evaluate(() => document.activeElement.id), 'tab-broker');
    await page.keyboard.press('Home');
    assert.equal(await page.getAttribute('#tab-connection', 'aria-selected'), 'true');

    // About names only the languages one can choose and the features that have a screen.
    await page.click('#tab-about');
    await page.waitForSelector('#about-facts:not([hidden])', WAIT);
    assert.match(await page.textContent('#about-ver'), /^\d+\.\d+\.\d+$/);
    assert.equal(await page.textContent('#about-langs'), 'English, Español, Deutsch, Polski');
    assert.deepEqual(await page.locator('#about-flags li').allTextContents(),
      ['Module updates (Updates tab): set up', 'Support e-mail (Support tab): not set up']);
    await screenshot(page, '08-about');
    assert.deepEqual(await accessibilityProblems(page), [], '08-about');
  });

  test('a wrong address is refused in the page, a closed port in plain words, and the state stays disconnected', async () => {
    await page.click('#tab-connection');
    await page.check('input[name="connType"][value="tcp"]');
    await page.fill('#conn-slave', '1');
    await page.fill('#conn-timeout', '500');
    await page.fill('#conn-port', '1');
    for (const [address, text] of [['999.1.1.1', /"999\.1\.1\.1" is neither an IP address nor a host name/], ['plc_7', /"plc_7" is neither/]]) {
      await page.fill('#conn-ip', address);
      await page.click('#conn-connect');
      assert.match(await status('#conn-status').textContent(), text);
      assert.equal(await page.getAttribute('#conn-ip', 'aria-invalid'), 'true');
    }
    // A port that nobody listens on: the devsim port plus one would be a guess, so use port 1.
    // A host name goes to Vexo as typed.
    await page.fill('#conn-ip', 'localhost');
    await page.click('#conn-connect');
    await page.waitForSelector('#conn-status.status-error:not(:has(.spinner))', WAIT);
    assert.match(await status('#conn-status').textContent(), /connection to localhost, port 1\./);
    await page.fill('#conn-ip', '127.0.0.1');
    await page.click('#conn-connect');
    await page.waitForSelector('#conn-status.status-error:not(:has(.spinner))', WAIT);
    const refused = await status('#conn-status').textContent();
    assert.match(refused, /Vexo could not open a Modbus TCP connection to 127\.0\.0\.1, port 1\./);
    assert.match(refused, /Could not connect to Modbus TCP!/);
    assert.equal(await page.textContent('#conn-text'), 'Not connected');

    await page.fill('#conn-port', 'abc');
    await page.click('#conn-connect');
    assert.match(await status('#conn-status').textContent(), /TCP port must be a whole number/);
    assert.equal(await page.getAttribute('#conn-port', 'aria-invalid'), 'true');
  });

  test('connects over TCP to the simulated device; the header speaks the interface language', async () => {
    await page.fill('#conn-port', String(devsim.port));
    await page.fill('#conn-timeout', '1000');
    await page.click('#conn-connect');
    await page.waitForSelector('#conn-status.status-ok', WAIT);
    assert.equal(await page.textContent('#conn-text'), `Connected: 127.0.0.1:${devsim.port}, slave 1`);
    assert.match(await status('#conn-status').textContent(), /Connected with Modbus TCP\./);
    await page.selectOption('#lang-select', 'de');
    assert.equal(await page.textContent('#conn-text'), `Verbunden: 127.0.0.1:${devsim.port}, Geräteadresse 1`);
    await page.selectOption('#lang-select', 'en');
    await screenshot(page, '01-connection');
    assert.deepEqual(await accessibilityProblems(page), [], '01-connection');

    // A reload learns the state and the stored settings from Vexo itself.
    await page.reload();
    await page.waitForSelector('body[data-ready="true"]', WAIT);
    await page.waitForFunction(() => document.getElementById('conn-text').textContent.startsWith('Connected'), null, WAIT);
    assert.equal(await page.inputValue('#conn-port'), String(devsim.port));
  });

  test('every table, value type and byte order shows what the device holds, from one transaction per read', async () => {
    await page.click('#tab-registers');
    // The simulator's input registers hold each type; a float's bits read as an integer of
    // the same order: 123.456f is 0x42F6E979, 3.141592653589793 is 0x400921FB54442D18.
    const f32 = '1123477881';
    const f64 = '4614256656552045848';
    // type/order: reads of [address, count, the values shown from there].
    const input = {
      'int16/ABCD': [[0, 1, '-1'], [2, 1, '-12345']], 'int16/BADC': [[3, 1, '-12345']],
      'uint16/ABCD': [[1, 1, '40000']], 'uint16/BADC': [[3, 1, '53191']],
      'int32/ABCD': [[4, 1, '-123456789']], 'int32/CDAB': [[10, 1, f32]], 'int32/BADC': [[12, 1, f32]], 'int32/DCBA': [[14, 1, f32]],
      'uint32/ABCD': [[6, 1, '4000000000']], 'uint32/CDAB': [[10, 1, f32]], 'uint32/BADC': [[12, 1, f32]], 'uint32/DCBA': [[14, 1, f32]],
      'float32/ABCD': [[8, 1, '123.456']], 'float32/CDAB': [[10, 1, '123.456']], 'float32/BADC': [[12, 1, '123.456']], 'float32/DCBA': [[14, 1, '123.456']],
      'int64/ABCD': [[16, 1, '-1234567890123456789']], 'int64/CDAB': [[28, 1, f64]], 'int64/BADC': [[32, 1, f64]], 'int64/DCBA': [[36, 1, f64]],
      'uint64/ABCD': [[20, 1, '12345678901234567890']], 'uint64/CDAB': [[28, 1, f64]], 'uint64/BADC': [[32, 1, f64]], 'uint64/DCBA': [[36, 1, f64]],
      'float64/ABCD': [[24, 1, '3.141592653589793']], 'float64/CDAB': [[28, 1, '3.141592653589793']],
      'float64/BADC': [[32, 1, '3.141592653589793']], 'float64/DCBA': [[36, 1, '3.141592653589793']],
      'ascii/ABCD': [[40, 6, 'Vexo devsim']], 'ascii/BADC': [[46, 6, 'Vexo devsim']],
    };
    const options = (id) => page.locator(`${id} option`).evaluateAll((list) => list.map((o) => o.value));
    const offered = [];
    await page.selectOption('#reg-table', 'input');
    for (const type of await options('#reg-type')) {
      await page.selectOption('#reg-type', type);
      for (const order of await options('#reg-order')) offered.push(`${type}/${order}`);
    }
    assert.deepEqual(offered.sort(), Object.keys(input).sort(), 'every type and order offered is checked');
    // The other tables: [table, type, order, address, count, values].
    const reads = Object.entries(input).flatMap(([key, list]) => list.map(([addr, count, ...shown]) => ['input', ...key.split('/'), addr, count, shown]));
    reads.push(
      ['coils', 'bit', 'ABCD', 0, 16, [...'1010010100111100']],
      ['discrete', 'bit', 'ABCD', 0, 16, [...'1100101011110000']],
      ['holding', 'int16', 'ABCD', 0, 2, ['1234', '-1']],
      ['holding', 'uint16', 'ABCD', 1, 1, ['65535']],
      ['holding', 'float32', 'ABCD', 2, 1, ['12.5']],
      ['holding', 'float32', 'CDAB', 4, 1, ['12.5']],
      ['holding', 'uint32', 'ABCD', 6, 1, ['65536']],
      ['holding', 'int32', 'CDAB', 10, 1, ['-100000']],
      ['holding', 'float32', 'ABCD', 12, 1, ['NaN']],
      ['holding32', 'int32', 'ABCD', 5000, 3, ['123456789', '1095237632', '-1']],
      ['holding32', 'uint32', 'ABCD', 5002, 1, ['4294967295']],
      ['holding32', 'float32', 'ABCD', 5001, 1, ['12.50']],
      ['holding32', 'float32', 'CDAB', 5003, 1, ['12.5']],
    );
    for (const [table, type, order, addr, count, shown] of reads) {
      const before = devsim.requests();
      await read({ table, type, order, addr, count });
      assert.deepEqual(await values(), shown, `${table} ${type} ${order} at ${addr}`);
      assert.equal(devsim.requests() - before, 1, `${table} ${type} ${order}: one device transaction per read`);
    }

    // Hexadecimal and binary come from the registers of the same read; Vexo says which
    // function it used and how fast the device answered.
    await read({ table: 'input', type: 'float32', order: 'CDAB', addr: 10, count: 1 });
    assert.match(await status('#reg-status').textContent(), /1 value\(s\) read at .* with function 04\. The device answered in \d+\.\d\d ms\./);
    assert.equal(await cell(10, 1).textContent(), '0xE979 0x42F6');
    await page.selectOption('#reg-view', 'hex');
    assert.deepEqual(await values(), ['0x42F6E979']);
    await page.selectOption('#reg-view', 'bin');
    assert.deepEqual(await values(), ['01000010 11110110 11101001 01111001']);
    await page.selectOption('#reg-view', 'dec');
    // 32-bit registers print floats of one layout with a fixed number of decimals.
    await read({ table: 'holding32', type: 'float32', order: 'ABCD', addr: 5001, count: 1, prec: 3 });
    assert.deepEqual(await values(), ['12.500']);
    await page.selectOption('#reg-order', 'CDAB');
    assert.equal(await page.isEnabled('#reg-prec'), false);
    assert.match(await page.textContent('#reg-prec-hint'), /6 significant digits/);

    // Addresses from 1 and in Modicon notation, shown and typed; hexadecimal typed.
    await page.selectOption('#reg-notation', 'modicon');
    await read({ table: 'input', type: 'float32', order: 'ABCD', addr: '30009', count: 1 });
    assert.deepEqual(await values(), ['123.456']);
    assert.equal(await page.textContent('#reg-body th'), '30009');
    await read({ table: 'input', type: 'float32', order: 'ABCD', addr: '40009', count: 1 });
    assert.match(await status('#reg-status').textContent(), /"40009" is a Modicon number of the table Holding registers/);
    assert.equal(await page.getAttribute('#reg-addr', 'aria-invalid'), 'true');
    await page.selectOption('#reg-notation', 'one');
    await read({ table: 'coils', addr: '0x3', count: 1 });
    assert.equal(await page.textContent('#reg-body th'), '3');
    assert.deepEqual(await values(), ['1'], 'coil 3 counted from 1 is protocol address 2');
    await page.selectOption('#reg-notation', 'zero');
    assert.equal(await page.textContent('#reg-body th'), '2');

    await read({ table: 'holding', type: 'int16', addr: 0, count: 10 });
    assert.equal(await cell(1, 1).textContent(), '0xFFFF');
    assert.equal(await cell(1, 2).textContent(), '65535');
    await screenshot(page, '02-registers');
    assert.deepEqual(await accessibilityProblems(page), [], '02-registers');
  });

  test('writes typed values and loaded lists exactly at their addresses, shown before sending', async () => {
    await setReadForm({ addr: 100, count: 3 });
    await page.fill('#reg-waddr', '100');
    await page.fill('#reg-wvalues', '11, x, 70000');
    const refused = await page.textContent('#reg-wplan');
    assert.match(refused, /Value 2 \("x"\) is not a number/);
    assert.match(refused, /Value 3 \(70000\) is outside the range -32768 to 32767/);
    await page.click('#reg-write');
    assert.match(await status('#reg-write-status').textContent(), /Value 2 \("x"\)/);

    await page.fill('#reg-wvalues', '11 -12 13');
    assert.match(await page.textContent('#reg-wplan'), /1 request\(s\).*100–102: 11; -12; 13/);
    await write(100, '11 -12 13');
    const written = await status('#reg-write-status').textContent();
    assert.match(written, /3 value\(s\) written at 100–102 with function 16\. Read back: every register holds what was written\./);
    assert.match(written, /Values successfully sent\./);
    assert.deepEqual(await deviceHolds(100, 3), [11, -12, 13]);
    // One register goes with function 06, unless 16 is asked for.
    await write(100, '0x7FFF');
    assert.match(await status('#reg-write-status').textContent(), /written at 100 with function 06\. Read back: every register/);
    await page.check('#reg-wmultiple');
    await write(101, '-1');
    assert.match(await status('#reg-write-status').textContent(), /written at 101 with function 16\./);
    await page.uncheck('#reg-wmultiple');
    assert.deepEqual(await deviceHolds(100, 2), [32767, -1]);

    // Every digit of a 64-bit integer, a float given by its bits in another byte order, a text.
    await setReadForm({ addr: 120, count: 1, type: 'int64' });
    await write(120, '-9223372036854775807');
    assert.match(await status('#reg-write-status').textContent(), /written at 120–123 with function 16\. Read back: every register/);
    assert.deepEqual(await deviceHolds(120, 1, 'holding', 'int64'), ['-9223372036854775807']);
    await setReadForm({ addr: 130, count: 1, type: 'float32', order: 'DCBA' });
    await page.fill('#reg-waddr', '130');
    await page.fill('#reg-wvalues', '0x41480000');
    assert.match(await page.textContent('#reg-wplan'), /130–131: 12\.5/);
    await write(130, '0x41480000');
    assert.deepEqual(await deviceHolds(130, 2), [0, 0x4841]);
    await setReadForm({ addr: 140, count: 3, type: 'ascii', order: 'BADC' });
    await write(140, 'Vexo!');
    assert.match(await status('#reg-write-status').textContent(), /written at 140–142 .*Read back: every register/);
    await read();
    assert.deepEqual(await values(), ['Vexo!']);

    // Coils: one with function 05, several with 15; the read-only tables cannot be written.
    await setReadForm({ table: 'coils', addr: 100, count: 3 });
    await write(100, '1');
    assert.match(await status('#reg-write-status').textContent(), /written at 100 with function 05\. Read back: every register/);
    await write(101, '1 0 1 x');
    assert.match(await page.textContent('#reg-wplan'), /Value 4 \("x"\) must be 0 or 1/);
    await write(101, '1 0 1');
    assert.match(await status('#reg-write-status').textContent(), /written at 101–103 with function 15\./);
    assert.deepEqual(await deviceHolds(100, 4, 'coils'), [1, 1, 0, 1]);
    await page.selectOption('#reg-table', 'input');
    assert.match(await page.textContent('#reg-wreadonly'), /Input registers can only be read/);
    assert.equal(await page.isDisabled('#reg-write'), true);
    await setReadForm({ addr: 300, count: 6 });

    // A list with a gap: each value goes to its own address, one request per run.
    await loadList('gap.csv', 'address,value\r\n300,11\r\n305,22\r\n301,33\r\n');
    assert.equal(await page.isVisible('#reg-wvalues'), false);
    const plan = await page.locator('#reg-wplan li').allTextContents();
    assert.deepEqual(plan, ['300–301: 11; 33', '305: 22']);
    assert.match(await page.textContent('#reg-wplan'), /3 value\(s\) in 2 request\(s\)/);
    assert.deepEqual(await deviceHolds(300, 6), [0, 0, 0, 0, 0, 0], 'nothing is sent before Write');
    await page.click('#reg-write');
    await page.waitForSelector('#reg-write-status.status-ok', WAIT);
    assert.match(await status('#reg-write-status').textContent(), /written at 300–301, 305 with function 16, 06\. Read back: every register/);
    assert.deepEqual(await deviceHolds(300, 6), [11, 33, 0, 0, 0, 22]);

    // Two values for one register: nothing is written.
    await loadList('twice.csv', 'address,value\r\n300,1\r\n300,2\r\n');
    assert.match(await page.textContent('#reg-wplan'), /Address 300 is given twice/);
    await page.click('#reg-write');
    assert.match(await status('#reg-write-status').textContent(), /Address 300 is given twice/);
    assert.deepEqual(await deviceHolds(300, 1), [11]);
    await page.click('#reg-wlist-drop');
    assert.equal(await page.isVisible('#reg-wvalues'), true);
  });

  test('in German a comma is the decimal mark, typed and in semicolon lists; nothing is cut', async () => {
    await page.selectOption('#lang-select', 'de');
    await setReadForm({ addr: 210, count: 2, type: 'float32' });
    await page.fill('#reg-wvalues', '12.5');
    assert.match(await page.textContent('#reg-wplan'), /Wert 1 \(„12\.5“\) hat das falsche Dezimalzeichen: Dezimalstellen mit „,“ schreiben, wie in 12,5/);
    await write(210, '12,5; -0,25');
    assert.match(await status('#reg-write-status').textContent(), /geschrieben an 210–213 mit Funktion 16\. Zurückgelesen: Jedes Register/);
    await read();
    assert.deepEqual(await values(), ['12,5', '-0,25']);
    // Times as German readers write them.
    assert.match(await status('#reg-status').textContent(), /um \d{2}:\d{2}:\d{2} mit Funktion 03 gelesen/);

    await loadList('semicolons.csv', 'address;value\r\n220;2,5\r\n');
    assert.deepEqual(await page.locator('#reg-wplan li').allTextContents(), ['220–221: 2,5']);
    await page.click('#reg-write');
    await page.waitForSelector('#reg-write-status.status-ok', WAIT);
    assert.match(await status('#reg-write-status').textContent(), /Zurückgelesen: Jedes Register/);
    // In a comma list an unquoted decimal comma would split the number: the line is refused.
    await loadList('commas.csv', 'address,value\r\n220,2,5\r\n');
    assert.match(await status('#reg-file-status').textContent(), /220,2,5/);
    await page.click('#reg-wlist-drop');
    await page.selectOption('#lang-select', 'en');
  });

  test('polls and charts; a write with read-back while polling leaves the poll alone', async () => {
    await setReadForm({ addr: 0, count: 10 });
    await page.fill('#reg-interval', '200');
    await page.click('#reg-poll');
    assert.equal(await page.getAttribute('#reg-poll', 'aria-pressed'), 'true');
    assert.equal(await page.isDisabled('#reg-addr'), true, 'the polled range cannot change under the poll');
    await page.waitForFunction(() => Number(document.getElementById('reg-chart').dataset.samples || 0) >= 2, null, WAIT);
    await page.check('#reg-body input[data-key="1"]');

    const samples = Number(await page.getAttribute('#reg-chart', 'data-samples'));
    await write(8, '43');
    assert.match(await status('#reg-write-status').textContent(), /written at 8 with function 06\. Read back: every register/);
    await page.waitForFunction(() => document.querySelector('#reg-body tr:nth-child(9) .value').textContent === '43', null, WAIT);
    assert.equal(await page.locator('#reg-body tr').count(), 10);
    assert.equal(await page.inputValue('#reg-addr'), '0');
    assert.equal(await page.inputValue('#reg-count'), '10');
    assert.ok(Number(await page.getAttribute('#reg-chart', 'data-samples')) > samples, 'the chart went on');
    await write(8, '42');

    await page.waitForFunction((n) => Number(document.getElementById('reg-chart').dataset.samples) >= n + 3, samples, WAIT);
    assert.match(await page.textContent('#reg-chart-summary'), /Address 0: 1234, Address 1: -1/);
    // Vexo's own measure of the device's response times, not the browser's.
    assert.match(await page.textContent('#reg-poll-info'), /^\d+ reads, 0 failed, every 200 ms · response \d+\.\d\d ms, average \d+\.\d\d ms$/);
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

    // Paused, the picture stands still while the samples go on; dragging across it zooms in
    // on a time range; the picture can be saved.
    const picture = () => page.evaluate(() => document.getElementById('reg-chart').toDataURL());
    await page.click('#reg-chart-pause');
    const still = await picture();
    const pausedAt = Number(await page.getAttribute('#reg-chart', 'data-samples'));
    await page.waitForFunction((n) => Number(document.getElementById('reg-chart').dataset.samples) >= n + 2, pausedAt, WAIT);
    assert.equal(await picture(), still, 'a paused chart stands still');
    await page.click('#reg-chart-pause');
    await page.locator('#reg-chart').scrollIntoViewIfNeeded();
    const box = await page.locator('#reg-chart').boundingBox();
    await page.mouse.move(box.x + box.width * 0.4, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.8, box.y + box.height / 2, { steps: 4 });
    await page.mouse.up();
    const zoom = await page.evaluate(() => Object.assign({}, document.getElementById('reg-chart').dataset));
    assert.ok(Number(zoom.zoomTo) > Number(zoom.zoomFrom), 'dragging zooms in on a time range');
    await page.click('#reg-chart-unzoom');
    assert.equal(await page.getAttribute('#reg-chart', 'data-zoom-from'), null);
    const [png] = await Promise.all([page.waitForEvent('download', WAIT), page.click('#reg-chart-png')]);
    assert.match(png.suggestedFilename(), /^vexo-chart-\d{8}-\d{6}\.png$/);
    assert.deepEqual([...fs.readFileSync(await png.path()).subarray(0, 4)], [0x89, 0x50, 0x4e, 0x47]);
    await screenshot(page, '03-chart');
    assert.deepEqual(await accessibilityProblems(page), [], '03-chart');
  });

  test('when the device stops answering the header says so, failures count apart, and all recovers', async () => {
    const counts = async () => (await page.textContent('#reg-poll-info')).match(/^(\d+) reads, (\d+) failed/).slice(1).map(Number);
    const port = devsim.port;
    await devsim.stop();
    await page.waitForFunction(() => document.getElementById('conn-badge').classList.contains('is-silent'), null, WAIT);
    assert.match(await page.textContent('#conn-text'), new RegExp(`^127\\.0\\.0\\.1:${port}, slave 1: no answer since \\d`));
    await page.waitForFunction(() => /, [2-9]\d* failed/.test(document.getElementById('reg-poll-info').textContent), null, WAIT);
    const [readsDown, failedDown] = await counts();
    assert.match(await status('#reg-status').textContent(), /could not be reached over the network/);
    await screenshot(page, '05-device-silent');

    devsim = await startDevsim(['--log-requests'], null, port);
    await page.waitForFunction(() => document.getElementById('conn-badge').classList.contains('is-connected'), null, WAIT);
    assert.equal(await page.textContent('#conn-text'), `Connected: 127.0.0.1:${port}, slave 1`);
    await page.waitForSelector('#reg-status.status-ok', WAIT);
    assert.match(await status('#reg-status').textContent(), /The device answers again/);
    await page.waitForFunction((n) => Number(/^(\d+)/.exec(document.getElementById('reg-poll-info').textContent)[1]) > n + 1, readsDown, WAIT);
    const [readsUp, failedUp] = await counts();
    assert.ok(failedUp - failedDown <= 1, 'no failures counted after the device is back');
    assert.ok(readsUp > readsDown);

    await page.click('#reg-poll');
    // The read under way finishes before Read and the poll button are offered again.
    await page.waitForSelector('#reg-poll[aria-pressed="false"]:not([disabled])', WAIT);
    assert.equal(await page.isEnabled('#reg-read'), true);
    assert.match(await page.textContent('#reg-poll-info'), /^Polling stopped after \d+ reads, \d+ failed\.( · response .*)?$/);
  });

  test('exports CSV and a PDF report with margins through the save endpoint', async () => {
    await read({ addr: 0, count: 2 });
    const [csv] = await Promise.all([page.waitForEvent('download', WAIT), page.click('#reg-csv')]);
    assert.match(csv.suggestedFilename(), /^vexo-registers-\d{8}-\d{6}\.csv$/);
    const text = fs.readFileSync(await csv.path(), 'utf8');
    assert.equal(text, 'address,table,register_size,type,order,value,raw_registers\r\n0,holding,16,int16,ABCD,1234,0x04D2\r\n' +
      '1,holding,16,int16,ABCD,-1,0xFFFF\r\n');
    await page.waitForSelector('#reg-file-status.status-ok', WAIT);

    const [pdf] = await Promise.all([page.waitForEvent('download', WAIT), page.click('#reg-pdf')]);
    assert.match(pdf.suggestedFilename(), /\.pdf$/);
    const pdfPath = `${ARTIFACTS_DIR}/report.pdf`;
    fs.copyFileSync(await pdf.path(), pdfPath);
    assert.equal(fs.readFileSync(pdfPath).subarray(0, 5).toString('latin1'), '%PDF-');
    const pdfText = execFileSync('pdftotext', ['-layout', pdfPath, '-'], { encoding: 'utf8' });
    assert.match(pdfText, /Vexo register report/);
    assert.match(pdfText, /0\s+1234\s+0x04D2/);
    assert.match(pdfText, /1\s+-1\s+0xFFFF/);
    // No word closer than 12 mm (34 pt) to an edge of the A4 page.
    const boxes = execFileSync('pdftotext', ['-bbox', pdfPath, '-'], { encoding: 'utf8' });
    const [width, height] = /<page width="([\d.]+)" height="([\d.]+)"/.exec(boxes).slice(1).map(Number);
    for (const m of boxes.matchAll(/<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</g)) {
      const [x0, y0, x1, y1] = m.slice(1, 5).map(Number);
      assert.ok(x0 >= 34 && y0 >= 34 && width - x1 >= 34 && height - y1 >= 34, `"${m[5]}" at ${x0},${y0}-${x1},${y1}`);
    }
    execFileSync('pdftoppm', ['-png', '-r', '60', '-f', '1', '-l', '1', pdfPath, `${ARTIFACTS_DIR}/report`]);
    await page.waitForSelector('#reg-file-status.status-ok', WAIT);

    await loadList('bad.txt', 'nothing useful here\n1\n');
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
    await read({ addr: 4998, count: 2 });
    assert.equal(await page.locator('#reg-status.status-ok').count(), 1);
    // 16-bit registers end at 4999 on the simulator; a block across 5000 does not exist.
    await read({ addr: 4998, count: 4 });
    const text = await status('#reg-status').textContent();
    assert.match(text, /The device answered with an error: /);
    assert.match(text, /Vexo replied: \{"error":"Protocol error! /);
    // The device answered, so the header does not call it silent.
    assert.match(await page.textContent('#conn-text'), /^Connected: /);
    // The table keeps the last good values and says that they are not from this read.
    assert.match(await page.textContent('#reg-caption'), /^Last good read at .*; the latest read failed/);
    await screenshot(page, '05-error');
    assert.deepEqual(await accessibilityProblems(page), [], '05-error');

    await setReadForm({ addr: 65535, count: 2 });
    await page.click('#reg-read');
    assert.match(await status('#reg-status').textContent(), /runs past the last register address 65535/);
  });

  test('the traffic view lists each transaction with its frames and response time; counters count apart and reset', async () => {
    await page.click('#tab-registers');
    await read({ addr: 0, count: 2 });
    await page.click('#tab-traffic');
    // Newest first: the read just made, its frames as they went over the wire.
    await page.waitForFunction(() => /Read holding/.test((document.querySelector('#trf-body tr') || {}).textContent), null, WAIT);
    const cells = await page.locator('#trf-body tr').first().locator('td').allTextContents();
    assert.match(cells[0], /^\d\d:\d\d:\d\d\.\d{3}$/);
    assert.deepEqual(cells.slice(1, 4), ['03 Read holding registers', '0', '2']);
    assert.match(cells[4], /^[0-9a-f]{2} [0-9a-f]{2} 00 00 00 06 01 03 00 00 00 02$/i);
    assert.match(cells[5], / 00 07 01 03 04 04 d2 ff ff$/i);
    assert.match(cells[6], /^\d+\.\d\d ms$/);
    assert.equal(cells[7], '');
    assert.match(await page.textContent('#trf-body'), /17 Report slave id/);
    const counter = async (name) => Number(await page.textContent(`#trf-${name}`));
    assert.ok((await counter('requests')) >= (await counter('answers')) && (await counter('answers')) > 0);
    assert.match(await page.textContent('#trf-avgMs'), /^\d+\.\d\d ms$/);

    await page.click('#trf-reset');
    await page.waitForSelector('#trf-status.status-ok', WAIT);
    assert.equal(await counter('requests'), 0);
    assert.ok((await page.locator('#trf-body tr').count()) > 2, 'the transactions stay listed');
    // An exception reply counts apart, and its row shows the device's error.
    await page.click('#tab-registers');
    await read({ table: 'input', addr: 10000, count: 1 });
    await page.click('#tab-traffic');
    await page.waitForFunction(() => Number(document.getElementById('trf-exceptions').textContent) > 0, null, WAIT);
    assert.ok((await counter('requests')) >= (await counter('exceptions')));
    assert.equal(await counter('timeouts'), 0);
    assert.match(await page.locator('#trf-body tr.is-error').first().textContent(), /04 Read input registers\s*10000.*Illegal data address/);
    await screenshot(page, '14-traffic');
    assert.deepEqual(await accessibilityProblems(page), [], '14-traffic');
  });

  test('read definitions: Vexo polls them by itself, each shows its latest values, and logs them', async () => {
    await page.click('#tab-polling');
    await page.waitForSelector('#pol-state:not(:empty)', WAIT);
    const card = (name) => page.locator('.pol-def').filter({ has: page.locator(`h3:text-is("${name}")`) });
    async function saveForm(fields) {
      for (const [id, value] of Object.entries(fields)) {
        if (typeof value === 'boolean') await page.setChecked(id, value);
        else if (id === '#pol-table' || id === '#pol-type') await page.selectOption(id, value);
        else await page.fill(id, String(value));
      }
      await page.click('#pol-save');
    }
    // Refused in the page before anything is saved.
    await page.click('#pol-add');
    await saveForm({ '#pol-name': '', '#pol-interval': 50 });
    assert.match(await status('#pol-form-status').textContent(), /Give the definition a name.*The interval must be/);
    await saveForm({ '#pol-name': 'Boiler', '#pol-table': 'holding', '#pol-addr': 0, '#pol-count': 2, '#pol-interval': 200, '#pol-log': true });
    await page.waitForSelector('#pol-form[hidden]', { state: 'attached', ...WAIT });
    await page.click('#pol-add');
    await saveForm({ '#pol-name': 'Coils', '#pol-table': 'coils', '#pol-addr': 0, '#pol-count': 16, '#pol-interval': 200, '#pol-log': false });
    await page.waitForSelector('#pol-form[hidden]', { state: 'attached', ...WAIT });
    if ((await page.getAttribute('#pol-toggle', 'aria-pressed')) !== 'true') await page.click('#pol-toggle');
    await page.waitForSelector('#pol-toggle[aria-pressed="true"]', WAIT);

    await page.waitForFunction(() => document.querySelectorAll('.pol-def tbody tr').length === 18, null, WAIT);
    assert.deepEqual(await card('Boiler').locator('.value').allTextContents(), ['1234', '-1']);
    assert.deepEqual(await card('Coils').locator('.value').allTextContents(), [...'1010010100111100']);
    assert.match(await card('Boiler').locator('.pol-result').textContent(), /^Read at \d\d:\d\d:\d\d\.\d{3}; the device answered in \d+\.\d\d ms\.$/);
    assert.equal(await card('Boiler').locator('.pol-summary').textContent(), 'Holding registers 0–1 · int16 (signed) ABCD · every 200 ms · slave 1 · logged');
    // A change shows at the next poll.
    await card('Boiler').locator('button', { hasText: 'Change' }).click();
    assert.equal(await page.inputValue('#pol-name'), 'Boiler');
    await saveForm({ '#pol-count': 3 });
    await page.waitForFunction(() => document.querySelectorAll('.pol-def tbody tr').length === 19, null, WAIT);
    assert.deepEqual(await card('Boiler').locator('.value').allTextContents(), ['1234', '-1', '16712']);
    // A read that fails says why, in plain words.
    await page.click('#pol-add');
    await saveForm({ '#pol-name': 'Missing', '#pol-table': 'input', '#pol-addr': 10000, '#pol-count': 1, '#pol-log': false });
    await card('Missing').locator('.pol-result.is-error').waitFor(WAIT);
    assert.match(await card('Missing').locator('.pol-result').textContent(), /^The read at .* failed: The device answered with an error: Illegal data address\.$/);
    await screenshot(page, '15-polling');
    assert.deepEqual(await accessibilityProblems(page), [], '15-polling');

    // The log holds the polled values of the definitions that log, one line per value.
    await page.waitForFunction(() => Number(document.getElementById('pol-log-size').dataset.bytes) > 0, null, WAIT);
    const [log] = await Promise.all([page.waitForEvent('download', WAIT), page.click('#pol-download')]);
    assert.equal(log.suggestedFilename(), 'vexo-log.csv');
    const lines = fs.readFileSync(await log.path(), 'utf8');
    // The definition by its name or its number.
    const boiler = `(Boiler|${await card('Boiler').getAttribute('data-id')})`;
    assert.match(lines, new RegExp(`^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d),${boiler},1,holding,1,-1\r?$`, 'm'));
    assert.doesNotMatch(lines, /,coils,/, 'only definitions with logging on are logged');

    await page.click('#pol-toggle');
    await page.waitForSelector('#pol-toggle[aria-pressed="false"]', WAIT);
    page.once('dialog', (dialog) => dialog.accept());
    await page.click('#pol-clear');
    await page.waitForSelector('#pol-log-status.status-ok', WAIT);
    assert.equal(await page.getAttribute('#pol-log-size', 'data-bytes'), '0');
    for (const name of ['Boiler', 'Coils', 'Missing']) {
      page.once('dialog', (dialog) => dialog.accept());
      await card(name).locator('button', { hasText: 'Delete' }).click();
      await card(name).waitFor({ state: 'detached', ...WAIT });
    }
    assert.match(await page.textContent('#pol-state'), /No read definitions yet/);
  });

  test('the page fits a 1280×800 screen and a 390×844 phone', async () => {
    await page.setViewportSize({ width: 1280, height: 800 });
    for (const tab of ['polling', 'traffic']) {
      await page.click(`#tab-${tab}`);
      await page.screenshot({ path: `${ARTIFACTS_DIR}/12-${tab}-1280x800.png` });
    }
    await page.click('#tab-registers');
    await read({ addr: 0, count: 10 });
    await page.evaluate(() => window.scrollTo(0, 0));
    const firstRow = await page.locator('#reg-body tr').first().boundingBox();
    assert.ok(firstRow.y + firstRow.height <= 800, `the first value row ends at ${firstRow.y + firstRow.height}`);
    await page.screenshot({ path: `${ARTIFACTS_DIR}/12-registers-1280x800.png` });

    await page.setViewportSize({ width: 390, height: 844 });
    for (const tab of ['registers', 'polling', 'traffic', 'connection', 'support']) {
      await page.click(`#tab-${tab}`);
      await page.evaluate(() => window.scrollTo(0, 0));
      assert.equal(await page.evaluate(() => document.documentElement.scrollWidth), 390, `${tab} is wider than the phone`);
      await screenshot(page, `13-${tab}-390x844`);
      assert.deepEqual(await accessibilityProblems(page), [], `13-${tab}-390x844`);
    }
    await page.click('#tab-registers');
    const poll = await page.locator('#reg-poll').boundingBox();
    assert.ok(poll.x >= 0 && poll.x + poll.width <= 390, `Start polling at ${poll.x}..${poll.x + poll.width}`);
    await page.setViewportSize({ width: 1280, height: 900 });
  });

  test('the support form says up front what gets through, and Vexo logs none of it', async () => {
    await page.click('#tab-support');
    // Before anything is typed: this Vexo cannot send mail, and which characters it drops.
    assert.match(await page.textContent('#sup-mailstate'), /not set up to send support e-mail/);
    assert.match(await page.textContent('.sup-rules'), /drops commas, colons, double quotes and braces/);
    // Every module but the form's own.
    assert.equal(await page.locator('#sup-module option').count(), (await page.locator('[role="tab"]').count()) - 1);
    await page.fill('#sup-name', 'Anna, Maria');
    // Marked while typing, with the fix at hand.
    assert.equal(await page.getAttribute('#sup-name', 'aria-invalid'), 'true');
    assert.equal(await page.isVisible('#sup-fix'), true);
    await page.fill('#sup-email', 'anna@example.com');
    await page.fill('#sup-message', 'Line one\nLine two, 100%');
    // The line break travels as two characters, as Vexo counts it.
    assert.equal(await page.locator('#sup-message ~ .counter').textContent(), '24 / 2000');
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
    // The message file holds the text as sent; Vexo's log holds none of it.
    assert.match(fs.readFileSync(`${vexo.dir}/emailMessage.txt`, 'utf8'), /Client email {3}anna@example\.com\r\n[^]*Line one\r\nLine two; 100%\r\n/);
    assert.doesNotMatch(fs.readFileSync(vexo.log, 'utf8'), /anna|Torva%20Test|Torva Test|Line%20one/i);
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
