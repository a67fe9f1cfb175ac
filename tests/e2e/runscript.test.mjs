// scripts/run.sh as a new user meets it: it prints the address only once Vexo serves it, and says
// so and fails when another program holds Vexo's port. Runs on a private copy of the build with
// its own config.ini, settings and lock, on free loopback ports.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { test } from 'node:test';
import { freePort, privateBuild, SOURCE_DIR } from './harness.mjs';

// Runs run.sh on a private build serving `port` until it ends, or until its output shows
// `until`: then `check` runs and run.sh is stopped, as a user's Ctrl+C would.
async function runScript(port, until = null, check = null) {
  const { dir, env } = privateBuild(port);
  Object.assign(env, { SKIP_SETUP: '1', BUILD_DIR: dir, DEVSIM_PORT: String(await freePort()), DISPLAY: '', WAYLAND_DISPLAY: '' });
  const child = spawn('bash', [path.join(SOURCE_DIR, 'scripts', 'run.sh')], { env, stdio: ['ignore', 'pipe', 'pipe'], timeout: 40000 });
  const out = { stdout: '', stderr: '', checked: null };
  child.stderr.on('data', (chunk) => (out.stderr += chunk));
  child.stdout.on('data', (chunk) => {
    out.stdout += chunk;
    if (until?.test(out.stdout) && !out.checked) out.checked = check(out.stdout).finally(() => child.kill('SIGTERM'));
  });
  out.code = await new Promise((resolve) => child.once('exit', resolve));
  fs.rmSync(dir, { recursive: true, force: true });
  await out.checked;
  return out;
}

test('run.sh prints the address once Vexo answers there, and refuses a port another program holds', async () => {
  const port = await freePort();
  const served = await runScript(port, /Stop with Ctrl\+C/, async (stdout) => {
    assert.match(stdout, new RegExp(`Vexo: +http://127\\.0\\.0\\.1:${port}/`));
    // When the address is printed, Vexo answers on it.
    assert.match(await (await fetch(`http://127.0.0.1:${port}/ajax.html?func=getGeneralInfo`)).text(), /"ver":"\d+\.\d+\.\d+"/);
  });
  assert.notEqual(served.code, 0, 'stopped by a signal');
  assert.doesNotMatch(served.stderr, /run\.sh:/);
  // Another program holds the port: no address is printed, the reason is, and the status says it.
  const holder = net.createServer(() => {});
  await new Promise((resolve) => holder.listen(port, '127.0.0.1', resolve));
  try {
    const refused = await runScript(port);
    assert.notEqual(refused.code, 0);
    assert.doesNotMatch(refused.stdout, /http:\/\//);
    assert.match(refused.stderr, new RegExp(`Vexo cannot serve: Cannot bind on port ${port}[^]*Another program holds that port`));
  } finally {
    holder.close();
  }
});
