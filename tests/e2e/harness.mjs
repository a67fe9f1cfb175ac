// The real pieces for the browser tests, listening on 127.0.0.1 or inside namespaces made here: a
// private vexo, the device simulator, socat serial pairs, the update server, headless Chromium.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const SOURCE_DIR = process.env.VEXO_SOURCE_DIR || path.resolve(here, '..', '..');
export const BUILD_DIR = process.env.VEXO_BUILD_DIR || path.join(SOURCE_DIR, 'build');
const ARTIFACTS_DIR = process.env.VEXO_E2E_ARTIFACTS || path.join(BUILD_DIR, 'e2e-artifacts');
const CHROMIUM = process.env.VEXO_CHROMIUM || '/usr/bin/chromium';
fs.mkdirSync(ARTIFACTS_DIR, { recursive: true });
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
export const tempDir = (name) => fs.mkdtempSync(path.join(os.tmpdir(), name));

export const freePort = () => new Promise((resolve, reject) => {
  const server = net.createServer().once('error', reject);
  server.listen(0, '127.0.0.1', () => {
    const { port } = server.address();
    server.close(() => resolve(port));
  });
});

// Waits until `probe` holds, failing early when `child` ends.
async function waitUntil(probe, child, what) {
  for (const deadline = Date.now() + 10000; Date.now() < deadline; await sleep(50)) {
    if (child.exitCode !== null) throw new Error(`${child.spawnfile} ended with ${child.exitCode} before ${what}`);
    if (await probe()) return;
  }
  throw new Error(`timed out waiting until ${what}`);
}
const portOpen = (port) => new Promise((resolve) => {
  const socket = net.connect({ host: '127.0.0.1', port }, () => {
    socket.end();
    resolve(true);
  }).once('error', () => resolve(false));
});

async function stopChild(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
  await new Promise((resolve) => child.once('exit', resolve).kill('SIGTERM'));
  clearTimeout(timer);
}

// Starts argv[0] with both output streams going to the file `log`.
function start(argv, log, options = {}) {
  const fd = fs.openSync(log, 'w');
  const child = spawn(argv[0], argv.slice(1), { stdio: ['ignore', fd, fd], ...options });
  fs.closeSync(fd);
  return child;
}

/* A private copy of the build: the executables beside their own config.ini (plus `extraConfig`
 * groups) and www, and the environment for a private HOME, settings store and TMPDIR. */
export function privateBuild(port, extraConfig = {}) {
  const dir = tempDir('vexo-e2e-');
  // Not dir/tmp: that is where module updates are unpacked, and they clear it first.
  for (const sub of ['home', 'systmp']) fs.mkdirSync(path.join(dir, sub));
  fs.cpSync(path.join(SOURCE_DIR, 'www'), path.join(dir, 'www'), { recursive: true });
  for (const exe of ['vexo', 'vexo-devsim']) {
    fs.copyFileSync(path.join(BUILD_DIR, exe), path.join(dir, exe));
    fs.chmodSync(path.join(dir, exe), 0o755);
  }
  const groups = { listener: { host: '127.0.0.1', port, readTimeout: 10000 }, docroot: { path: 'www', cacheTime: 1000 }, ...extraConfig };
  fs.writeFileSync(path.join(dir, 'config.ini'), Object.entries(groups)
    .map(([group, keys]) => `[${group}]\n` + Object.entries(keys).map(([k, v]) => `${k}=${v}\n`).join('')).join('\n'));
  const env = { ...process.env, HOME: path.join(dir, 'home'), XDG_CONFIG_HOME: path.join(dir, 'home', '.config'), TMPDIR: path.join(dir, 'systmp'), QT_QPA_PLATFORM: 'offscreen' };
  return { dir, env };
}

/* One private vexo. */
export async function startVexo(extraConfig = {}) {
  const port = await freePort();
  const { dir, env } = privateBuild(port, extraConfig);
  const exe = path.join(dir, 'vexo');
  const log = path.join(dir, 'vexo.log');
  const child = start([exe, '-r'], log, { cwd: dir, env });
  await waitUntil(() => portOpen(port), child, 'vexo serves');
  return { dir, port, log, url: (p = '/') => `http://127.0.0.1:${port}${p}`, stop: () => stopChild(child) };
}

/* The simulator over Modbus TCP on a free loopback port (or `tcpPort`, to bring it back), or over RTU
 * on `rtuDevice`. With --log-requests, requests('6|16') counts the requests answered (of all without). */
export async function startDevsim(args = [], rtuDevice = null, tcpPort = null) {
  const port = rtuDevice ? null : tcpPort || (await freePort());
  const where = rtuDevice ? ['--rtu', rtuDevice] : ['--tcp', `127.0.0.1:${port}`];
  const log = path.join(os.tmpdir(), `vexo-devsim-e2e-${process.pid}-${port || 'rtu'}.log`);
  const child = start([path.join(BUILD_DIR, 'vexo-devsim'), ...where, ...args], log);
  // A serial line gives no sign of readiness: the simulator opens it at once.
  await waitUntil(() => (rtuDevice ? sleep(300).then(() => true) : portOpen(port)), child, 'vexo-devsim listens');
  const requests = (functions = '\\d+') => (fs.readFileSync(log, 'utf8').match(new RegExp(`request function=(${functions}) `, 'g')) || []).length;
  return { port, requests, stop: () => stopChild(child) };
}

/* A real headless Chromium with a fresh profile. */
export async function launchBrowser() {
  const profile = tempDir('vexo-e2e-profile-');
  const context = await chromium.launchPersistentContext(path.join(profile, 'profile'), {
    executablePath: CHROMIUM, headless: true, acceptDownloads: true, viewport: { width: 1280, height: 900 }, locale: 'en-US',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update', '--no-first-run', '--disable-sync'],
  });
  return { context, close: async () => { await context.close(); fs.rmSync(profile, { recursive: true, force: true }); } };
}

/* A browser showing the interface of `vexo`, ready for use. */
export async function openInterface(vexo, { hash = '' } = {}) {
  const browser = await launchBrowser();
  const page = await browser.context.newPage();
  await page.goto(vexo.url('/' + hash));
  await page.waitForSelector('body[data-ready="true"]', { timeout: 15000 });
  return { browser, page };
}

/* Closes the browser and stops vexo, keeping its log among the artifacts. */
export async function closeInterface(browser, vexo, logName) {
  await browser?.close();
  if (!vexo) return;
  await vexo.stop();
  fs.copyFileSync(vexo.log, path.join(ARTIFACTS_DIR, logName));
  fs.rmSync(vexo.dir, { recursive: true, force: true });
}

/* Keeps a screenshot among the artifacts and fails on the accessibility rules (axe-core) the
 * page breaks right now. */
export async function looksRight(page, name) {
  await page.screenshot({ path: path.join(ARTIFACTS_DIR, name + '.png'), fullPage: true });
  if (!(await page.evaluate(() => Boolean(window.axe)))) await page.addScriptTag({ path: path.join(here, 'node_modules', 'axe-core', 'axe.min.js') });
  const problems = await page.evaluate(async () => (await window.axe.run(document, { resultTypes: ['violations'] })).violations
    .flatMap((v) => v.nodes.map((n) => `${v.id} (${v.impact}): ${n.target.join(' ')}`)));
  if (problems.length) throw new Error(`${name}: ${problems.join('\n')}`);
}

/* The project's small update server, serving the folder `root` on a free loopback port. */
export async function startUpdateServer(root) {
  const port = await freePort();
  const script = path.join(SOURCE_DIR, 'tools', 'updateserver', 'updateserver.py');
  const child = start(['/usr/bin/python3', script, '--root', root, '--host', '127.0.0.1', '--port', String(port)], path.join(ARTIFACTS_DIR, 'updateserver.log'));
  await waitUntil(() => portOpen(port), child, 'the update server listens');
  return { url: `http://127.0.0.1:${port}/`, stop: () => stopChild(child) };
}

/* Two connected pseudo-terminals made by socat; `first` and `second` are links to them. */
export async function startPtyPair() {
  const dir = tempDir('vexo-e2e-pty-');
  const [first, second] = [path.join(dir, 'ttyVexo'), path.join(dir, 'ttyDevice')];
  const child = spawn('socat', [`pty,raw,echo=0,link=${first}`, `pty,raw,echo=0,link=${second}`], { stdio: 'ignore' });
  await waitUntil(() => fs.existsSync(first) && fs.existsSync(second), child, 'socat makes the pseudo-terminals');
  return { first, second, stop: async () => { await stopChild(child); fs.rmSync(dir, { recursive: true, force: true }); } };
}
