// A page from another origin (a second loopback address with its own server) tries every way a
// browser lets a page reach Vexo: an image, a no-cors fetch, a fetch that needs a preflight and
// an auto-submitted form, all writing a register. Not one request reaches the simulator. (That
// the own interface still writes, the browser journey shows in every step.)
import assert from 'node:assert/strict';
import http from 'node:http';
import { after, before, test } from 'node:test';
import { closeInterface, launchBrowser, startDevsim, startVexo } from './harness.mjs';

const WAIT = { timeout: 15000 };

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
  devsim = await startDevsim(['--log-requests']);
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

test('image, no-cors fetch, preflighted fetch and form all leave the device alone', async () => {
  // A plain local tool's call, without browser headers, connects.
  const call = async (query) => (await fetch(vexo.url('/ajax.html?' + query))).text();
  assert.equal(await call(`func=connect&connType=tcp&ipAddres_tcp=127.0.0.1&slaveID=1&port_tcp=${devsim.port}&timeout=1000`), '{"ok":"Connected with Modbus TCP."}');
  const attacker = await launchBrowser();
  try {
    const page = await attacker.context.newPage();
    await page.goto(`http://127.0.0.2:${foreign.address().port}/`);
    // Every attempt has had its answer: image error, opaque response, failed preflight, form reply.
    await page.waitForFunction(() => window.settled >= 4, null, WAIT);
  } finally {
    await attacker.close();
  }
  assert.equal(devsim.requests('6|16'), 0, 'a write of the foreign page reached the device');
});
