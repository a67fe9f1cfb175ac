// A page from another origin (a second loopback address with its own server) tries every
// way a browser lets a page reach Vexo: an image, a no-cors fetch, a fetch that needs a
// preflight and an auto-submitted form, all writing a register. The simulator's register,
// read over Modbus directly, stays as it was; Vexo's own interface still reads and writes.
import assert from 'node:assert/strict';
import http from 'node:http';
import net from 'node:net';
import { after, before, describe, test } from 'node:test';
import { closeInterface, keepLog, launchBrowser, openInterface, startDevsim, startVexo } from './harness.mjs';

const WAIT = { timeout: 15000 };
const FOREIGN_HOST = '127.0.0.2';

// Holding register `address` of slave 1, read with one Modbus TCP request (function 3).
function readRegister(port, address) {
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host: '127.0.0.1', port }, () => {
      socket.write(Buffer.from([0, 1, 0, 0, 0, 6, 1, 3, address >> 8, address & 0xff, 0, 1]));
    });
    let reply = Buffer.alloc(0);
    socket.on('data', (chunk) => {
      reply = Buffer.concat([reply, chunk]);
      if (reply.length >= 11) {
        socket.end();
        resolve(reply.readInt16BE(9));
      }
    });
    socket.on('error', reject);
    socket.setTimeout(5000, () => reject(new Error('no Modbus answer')));
  });
}

// A plain local tool's call: no browser headers at all.
function callVexo(vexo, query) {
  return new Promise((resolve, reject) => {
    http.get(vexo.url('/ajax.html?' + query), (res) => {
      let body = '';
      res.on('data', (c) => (body += c));
      res.on('end', () => resolve(body));
    }).on('error', reject);
  });
}

function attackPage(vexoOrigin) {
  const write = (value) => `${vexoOrigin}/ajax.html?func=writeRegisters&regAddr=0&valuesCnt=1&regVals=%255B${value}%255D`;
  return `<!doctype html><html><body>
<iframe name="sink"></iframe>
<form id="form" method="POST" action="${vexoOrigin}/ajax.html" target="sink">
  <input name="func" value="writeRegisters"><input name="regAddr" value="0">
  <input name="valuesCnt" value="1"><input name="regVals" value="%5B444%5D">
</form>
<script>
  window.settled = 0;
  const done = () => { window.settled += 1; };
  const img = new Image();
  img.onload = img.onerror = done;
  img.src = ${JSON.stringify(write(111))};
  fetch(${JSON.stringify(write(222))}, { mode: 'no-cors' }).then(done, done);
  fetch(${JSON.stringify(vexoOrigin + '/ajax.html')}, { method: 'POST', headers: { 'X-Vexo': '1' },
    body: 'func=writeRegisters&regAddr=0&valuesCnt=1&regVals=%255B333%255D' }).then(done, done);
  document.querySelector('iframe').onload = done;
  document.getElementById('form').submit();
</script></body></html>`;
}

describe('a foreign page against Vexo', () => {
  let vexo;
  let devsim;
  let foreign;
  let browser;

  before(async () => {
    devsim = await startDevsim();
    vexo = await startVexo();
    const page = attackPage(`http://127.0.0.1:${vexo.port}`);
    foreign = http.createServer((req, res) => res.end(page));
    await new Promise((resolve) => foreign.listen(0, FOREIGN_HOST, resolve));
  });

  after(async () => {
    if (foreign) foreign.close();
    if (browser) await browser.close();
    await closeInterface(null, vexo, 'vexo-crosssite.log');
    if (devsim) {
      await devsim.stop();
      keepLog(devsim.log, 'vexo-devsim-crosssite.log');
    }
  });

  test('image, no-cors fetch, preflighted fetch and form all leave the device alone', async () => {
    const connected = await callVexo(vexo, `func=connect&connType=tcp&ipAddres_tcp=127.0.0.1&slaveID=1&port_tcp=${devsim.port}&timeout=1000`);
    assert.equal(connected, '{"ok":"Connected with Modbus TCP."}');
    const original = await readRegister(devsim.port, 0);

    browser = await launchBrowser();
    const page = await browser.context.newPage();
    await page.goto(`http://${FOREIGN_HOST}:${foreign.address().port}/`);
    // Every attempt has had its answer: image error, opaque response, failed preflight, form reply.
    await page.waitForFunction(() => window.settled >= 4, null, WAIT);

    assert.equal(await readRegister(devsim.port, 0), original);
    assert.equal(await callVexo(vexo, 'func=readRegisters&regAddr=0&valuesCnt=1'), `[${original}]`);
  });

  test("Vexo's own interface still reads and writes", async () => {
    const { browser: own, page } = await openInterface(vexo);
    try {
      await page.click('#tab-registers');
      await page.fill('#reg-addr', '0');
      await page.fill('#reg-count', '1');
      await page.selectOption('#reg-type', 'int16');
      await page.fill('#reg-waddr', '0');
      await page.fill('#reg-wvalues', '555');
      await page.click('#reg-write');
      await page.waitForSelector('#reg-write-status.status-ok', WAIT);
      await page.click('#reg-read');
      await page.waitForFunction(() => document.querySelector('#reg-body .value')?.textContent === '555', null, WAIT);
      assert.equal(await readRegister(devsim.port, 0), 555);
    } finally {
      await own.close();
    }
  });
});
