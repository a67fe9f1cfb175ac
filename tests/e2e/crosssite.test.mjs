// A page from another origin (a second loopback address with its own server) tries every way a
// browser lets a page reach Vexo: an image, a no-cors fetch, a fetch that needs a preflight and
// an auto-submitted form, all writing a register. The simulator's register, read over Modbus
// directly, stays as it was; Vexo's own interface still writes it.
import assert from 'node:assert/strict';
import http from 'node:http';
import net from 'node:net';
import { after, before, test } from 'node:test';
import { closeInterface, launchBrowser, openInterface, startDevsim, startVexo } from './harness.mjs';

const WAIT = { timeout: 15000 };

// Holding register 0 of slave 1, read with one Modbus TCP request (function 3).
const readRegister = (port) => new Promise((resolve, reject) => {
  const socket = net.connect({ host: '127.0.0.1', port }, () => socket.write(Buffer.from([0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1])));
  let reply = Buffer.alloc(0);
  socket.on('data', (chunk) => {
    reply = Buffer.concat([reply, chunk]);
    if (reply.length >= 11) { socket.end(); resolve(reply.readInt16BE(9)); }
  }).on('error', reject).setTimeout(5000, () => reject(new Error('no Modbus answer')));
});

function attackPage(origin) {
  const write = (value) => JSON.stringify(`${origin}/ajax.html?func=writeRegisters&regAddr=0&valuesCnt=1&regVals=%255B${value}%255D`);
  return `<!doctype html><html><body><iframe name="sink"></iframe>
<form id="form" method="POST" action="${origin}/ajax.html" target="sink"><input name="func" value="writeRegisters">
<input name="regAddr" value="0"><input name="valuesCnt" value="1"><input name="regVals" value="%5B444%5D"></form>
<script>
  window.settled = 0;
  const done = () => { window.settled += 1; };
  const img = new Image();
  img.onload = img.onerror = done;
  img.src = ${write(111)};
  fetch(${write(222)}, { mode: 'no-cors' }).then(done, done);
  fetch('${origin}/ajax.html', { method: 'POST', headers: { 'X-Vexo': '1' }, body: 'func=writeRegisters&regAddr=0&valuesCnt=1&regVals=%255B333%255D' }).then(done, done);
  document.querySelector('iframe').onload = done;
  document.getElementById('form').submit();
</script></body></html>`;
}

let vexo, devsim, foreign;
before(async () => {
  devsim = await startDevsim();
  vexo = await startVexo();
  const page = attackPage(`http://127.0.0.1:${vexo.port}`);
  foreign = http.createServer((req, res) => res.end(page));
  await new Promise((resolve) => foreign.listen(0, '127.0.0.2', resolve));
});
after(async () => {
  foreign?.close();
  await closeInterface(null, vexo, 'vexo-crosssite.log');
  await devsim?.stop();
});

test('image, no-cors fetch, preflighted fetch and form all leave the device alone; the own interface writes', async () => {
  // A plain local tool's call, without browser headers, connects.
  const connected = await (await fetch(vexo.url(`/ajax.html?func=connect&connType=tcp&ipAddres_tcp=127.0.0.1&slaveID=1&port_tcp=${devsim.port}&timeout=1000`))).text();
  assert.equal(connected, '{"ok":"Connected with Modbus TCP."}');
  const original = await readRegister(devsim.port);
  const attacker = await launchBrowser();
  try {
    const page = await attacker.context.newPage();
    await page.goto(`http://127.0.0.2:${foreign.address().port}/`);
    // Every attempt has had its answer: image error, opaque response, failed preflight, form reply.
    await page.waitForFunction(() => window.settled >= 4, null, WAIT);
  } finally {
    await attacker.close();
  }
  assert.equal(await readRegister(devsim.port), original);

  const { browser, page } = await openInterface(vexo);
  try {
    await page.click('#tab-registers');
    await page.fill('#reg-waddr', '0');
    await page.fill('#reg-wvalues', '555');
    await page.click('#reg-write');
    await page.waitForSelector('#reg-write-status.status-ok', WAIT);
    assert.equal(await readRegister(devsim.port), 555);
  } finally {
    await browser.close();
  }
});
