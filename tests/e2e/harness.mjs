// Starts the real pieces for the browser tests: a private vexo, the device simulator on
// loopback, and Debian's Chromium driven headless. Everything listens on 127.0.0.1 only.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const SOURCE_DIR = process.env.VEXO_SOURCE_DIR || path.resolve(here, '..', '..');
export const BUILD_DIR = process.env.VEXO_BUILD_DIR || path.join(SOURCE_DIR, 'build');
export const ARTIFACTS_DIR = process.env.VEXO_E2E_ARTIFACTS || path.join(BUILD_DIR, 'e2e-artifacts');
export const CHROMIUM = process.env.VEXO_CHROMIUM || '/usr/bin/chromium';

export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

export async function waitForPort(port, child, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    if (child && child.exitCode !== null) throw new Error(`${child.spawnfile} ended with ${child.exitCode} before listening`);
    const open = await new Promise((resolve) => {
      const socket = net.connect({ host: '127.0.0.1', port }, () => {
        socket.end();
        resolve(true);
      });
      socket.once('error', () => resolve(false));
    });
    if (open) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`nothing listens on 127.0.0.1:${port}`);
}

function logTo(child, file) {
  const out = fs.createWriteStream(file);
  child.stdout.pipe(out);
  child.stderr.pipe(out);
  return file;
}

async function stopChild(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  const ended = new Promise((resolve) => child.once('exit', resolve));
  child.kill('SIGTERM');
  const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
  await ended;
  clearTimeout(timer);
}

function writeIni(file, groups) {
  const text = Object.entries(groups)
    .map(([group, keys]) => `[${group}]\n` + Object.entries(keys).map(([k, v]) => `${k}=${v}\n`).join(''))
    .join('\n');
  fs.writeFileSync(file, text);
}

/* One private vexo: its own copy of the executable beside its own config.ini, a copy of the
 * bundled document root, and private HOME, XDG_CONFIG_HOME (settings store) and TMPDIR. */
export async function startVexo(extraConfig = {}, netns = null) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vexo-e2e-'));
  const port = await freePort();
  const home = path.join(dir, 'home');
  // Not dir/tmp: that is where module updates are unpacked, and they clear it first.
  const tmp = path.join(dir, 'systmp');
  fs.mkdirSync(home);
  fs.mkdirSync(tmp);
  fs.cpSync(path.join(SOURCE_DIR, 'www'), path.join(dir, 'www'), { recursive: true });
  const exe = path.join(dir, 'vexo');
  fs.copyFileSync(path.join(BUILD_DIR, 'vexo'), exe);
  fs.chmodSync(exe, 0o755);
  const groups = {
    listener: { host: '127.0.0.1', port, readTimeout: 10000 },
    docroot: { path: 'www', cacheTime: 1000 },
  };
  Object.entries(extraConfig).forEach(([group, keys]) => (groups[group] = Object.assign(groups[group] || {}, keys)));
  writeIni(path.join(dir, 'config.ini'), groups);
  const env = Object.assign({}, process.env, {
    HOME: home,
    XDG_CONFIG_HOME: path.join(home, '.config'),
    TMPDIR: tmp,
    QT_QPA_PLATFORM: 'offscreen',
  });
  const child = netns
    ? spawn('ip', ['netns', 'exec', netns.searcher, exe, '-r'], { cwd: dir, env, stdio: ['ignore', 'pipe', 'pipe'] })
    : spawn(exe, ['-r'], { cwd: dir, env, stdio: ['ignore', 'pipe', 'pipe'] });
  const log = logTo(child, path.join(dir, 'vexo.log'));
  if (netns) await netns.waitForHttp(`http://127.0.0.1:${port}/`, child);
  else await waitForPort(port, child);
  return {
    dir,
    port,
    log,
    url: (p = '/') => `http://127.0.0.1:${port}${p}`,
    async stop() {
      await stopChild(child);
    },
    cleanup() {
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

/* The device simulator over Modbus TCP on a free loopback port (or the port given, to bring
 * a stopped one back), or, given rtuDevice, over RTU on that serial device (then port is null).
 * With --log-requests among args, requests() counts the requests it has answered so far. */
export async function startDevsim(args = [], rtuDevice = null, tcpPort = null) {
  const port = rtuDevice ? null : tcpPort || (await freePort());
  const where = rtuDevice ? ['--rtu', rtuDevice] : ['--tcp', `127.0.0.1:${port}`];
  const child = spawn(path.join(BUILD_DIR, 'vexo-devsim'), [...where, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
  const log = logTo(child, path.join(os.tmpdir(), `vexo-devsim-e2e-${process.pid}-${port || 'rtu'}.log`));
  let output = '';
  child.stdout.on('data', (chunk) => (output += chunk));
  if (rtuDevice) await new Promise((resolve) => setTimeout(resolve, 300));
  else await waitForPort(port, child);
  if (child.exitCode !== null) throw new Error('vexo-devsim ended with ' + child.exitCode);
  return {
    port,
    log,
    requests: () => (output.match(/request function=/g) || []).length,
    async stop() {
      await stopChild(child);
    },
  };
}

/* A real headless Chromium with a fresh profile; downloads are accepted. Inside a network
 * namespace it is started through a small wrapper; it talks to this process over a pipe. */
export async function launchBrowser(netns = null) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vexo-e2e-profile-'));
  let executablePath = CHROMIUM;
  if (netns) {
    executablePath = path.join(profile, 'chromium-in-netns.sh');
    fs.writeFileSync(executablePath, `#!/bin/sh\nexec ip netns exec ${netns.searcher} ${CHROMIUM} "$@"\n`, { mode: 0o755 });
  }
  const context = await chromium.launchPersistentContext(path.join(profile, 'profile'), {
    executablePath,
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1280, height: 900 },
    locale: 'en-US',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--no-first-run', '--disable-sync'],
  });
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

export async function screenshot(page, name) {
  fs.mkdirSync(ARTIFACTS_DIR, { recursive: true });
  await page.screenshot({ path: path.join(ARTIFACTS_DIR, name + '.png'), fullPage: true });
}

export function keepLog(file, name) {
  fs.mkdirSync(ARTIFACTS_DIR, { recursive: true });
  if (fs.existsSync(file)) fs.copyFileSync(file, path.join(ARTIFACTS_DIR, name));
}

/* The project's small update server, serving the folder `root` on a free loopback port. */
export async function startUpdateServer(root) {
  const script = path.join(SOURCE_DIR, 'tools', 'updateserver', 'updateserver.py');
  const child = spawn('/usr/bin/python3', [script, '--root', root, '--host', '127.0.0.1', '--port', '0'], { stdio: ['ignore', 'pipe', 'pipe'] });
  const port = await new Promise((resolve, reject) => {
    let seen = '';
    child.stdout.on('data', (chunk) => {
      seen += chunk;
      const m = /listening on (\d+)/.exec(seen);
      if (m) resolve(Number(m[1]));
    });
    child.once('exit', (code) => reject(new Error('update server ended with ' + code)));
  });
  return {
    port,
    url: `http://127.0.0.1:${port}/`,
    async stop() {
      await stopChild(child);
    },
  };
}

/* Two network namespaces joined by a veth pair: Vexo searches from "searcher", devices answer
 * from "devices". Discovery broadcasts on every interface, so it never runs outside them.
 * Resolves to null where namespaces cannot be made (not root, no iproute2). */
export async function makeNetLab() {
  const tag = `${process.pid}-${Date.now() % 100000}`;
  const lab = {
    searcher: `vexo-e2e-${tag}-s`,
    devices: `vexo-e2e-${tag}-d`,
    searcherIp: '10.232.0.1',
    deviceIp: '10.232.0.2',
    children: [],
  };
  const ip = (...args) => {
    const result = spawnSync('ip', args, { encoding: 'utf8', timeout: 10000 });
    if (result.status !== 0) throw new Error(`ip ${args.join(' ')}: ${result.stderr || result.error}`);
  };
  lab.close = async () => {
    for (const child of lab.children) await stopChild(child);
    for (const ns of [lab.searcher, lab.devices]) spawnSync('ip', ['netns', 'del', ns], { timeout: 10000 });
  };
  try {
    ip('netns', 'add', lab.searcher);
    ip('netns', 'add', lab.devices);
    ip('-n', lab.searcher, 'link', 'add', 've2s', 'type', 'veth', 'peer', 'name', 've2d', 'netns', lab.devices);
    ip('-n', lab.searcher, 'addr', 'add', lab.searcherIp + '/24', 'brd', '+', 'dev', 've2s');
    ip('-n', lab.devices, 'addr', 'add', lab.deviceIp + '/24', 'brd', '+', 'dev', 've2d');
    for (const [ns, link] of [[lab.searcher, 've2s'], [lab.devices, 've2d']]) {
      ip('-n', ns, 'link', 'set', 'lo', 'up');
      ip('-n', ns, 'link', 'set', link, 'up');
    }
  } catch (e) {
    await lab.close();
    return null;
  }
  lab.inDevices = (argv, options) => {
    const child = spawn('ip', ['netns', 'exec', lab.devices, ...argv], Object.assign({ stdio: ['ignore', 'pipe', 'pipe'] }, options));
    lab.children.push(child);
    return child;
  };
  lab.waitForHttp = async (url, child, timeoutMs = 10000) => {
    const deadline = Date.now() + timeoutMs;
    while (Date.now() < deadline) {
      if (child && child.exitCode !== null) throw new Error(`ended with ${child.exitCode} before listening`);
      const r = spawnSync('ip', ['netns', 'exec', lab.searcher, 'curl', '-s', '-o', '/dev/null', '--max-time', '1', url]);
      if (r.status === 0) return;
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    throw new Error(`nothing answers ${url} in ${lab.searcher}`);
  };
  return lab;
}

/* Two connected pseudo-terminals made by socat; `first` and `second` are links to them. */
export async function startPtyPair() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vexo-e2e-pty-'));
  const first = path.join(dir, 'ttyVexo');
  const second = path.join(dir, 'ttyDevice');
  const child = spawn('socat', ['-d', '-d', `pty,raw,echo=0,link=${first}`, `pty,raw,echo=0,link=${second}`], { stdio: 'ignore' });
  const deadline = Date.now() + 10000;
  while (!(fs.existsSync(first) && fs.existsSync(second))) {
    if (Date.now() > deadline || child.exitCode !== null) throw new Error('socat did not make the pseudo-terminals');
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return {
    first,
    second,
    async stop() {
      await stopChild(child);
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

/* Accessibility rules the page breaks right now, as "rule: target" lines (axe-core). */
export async function accessibilityProblems(page) {
  if (!(await page.evaluate(() => Boolean(window.axe)))) {
    await page.addScriptTag({ path: path.join(here, 'node_modules', 'axe-core', 'axe.min.js') });
  }
  const violations = await page.evaluate(async () => {
    const result = await window.axe.run(document, { resultTypes: ['violations'] });
    return result.violations.map((v) => ({ id: v.id, impact: v.impact, targets: v.nodes.map((n) => n.target.join(' ')) }));
  });
  return violations.flatMap((v) => v.targets.map((t) => `${v.id} (${v.impact}): ${t}`));
}

/* A browser showing the interface of `vexo`, ready for use. */
export async function openInterface(vexo, { netns = null, hash = '' } = {}) {
  const browser = await launchBrowser(netns);
  const page = await browser.context.newPage();
  await page.goto(vexo.url('/' + hash));
  await page.waitForSelector('body[data-ready="true"]', { timeout: 15000 });
  return { browser, page };
}

/* Closes the browser and stops vexo, keeping its log among the artifacts. */
export async function closeInterface(browser, vexo, logName) {
  if (browser) await browser.close();
  if (vexo) {
    await vexo.stop();
    keepLog(vexo.log, logName);
    vexo.cleanup();
  }
}
