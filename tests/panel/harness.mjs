// What the control panel's tests share: vorlund-ctl panel started as a separate process,
// plain HTTP requests with any headers, records read from shared.bin and params.bin, and a
// small WebDriver client for Debian's chromium through chromedriver.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const SKIP = 77;  // CTest's SKIP_RETURN_CODE

export function skip(reason) {
  console.log(`skipped: ${reason}`);
  process.exit(SKIP);
}

export function check(condition, what) {
  if (!condition) throw new Error(`failed: ${what}`);
  console.log(`ok: ${what}`);
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls `probe` until it returns something truthy; running out of time is a fault.
export async function eventually(probe, what, ms = 15000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(50);
  }
}

export function tempFolder() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'vorlund-panel-'));
}

const children = [];
function stopChildren() {
  for (const child of children) {
    if (child.exitCode === null) child.kill('SIGKILL');
  }
}
process.on('exit', stopChildren);
for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => process.exit(1));

// Starts a program; its output lines go to `lines` (and to this test's log when `echo`).
export function start(command, args, options = {}) {
  const child = spawn(command, args, { env: { ...process.env, ...options.env }, stdio: ['ignore', 'pipe', 'pipe'] });
  children.push(child);
  child.lines = [];
  for (const stream of [child.stdout, child.stderr]) {
    let rest = '';
    stream.on('data', (chunk) => {
      rest += chunk.toString();
      const parts = rest.split(/\r?\n/);
      rest = parts.pop();
      for (const line of parts) {
        child.lines.push(line);
        if (options.echo) console.log(`[${path.basename(command)}] ${line}`);
      }
    });
  }
  return child;
}

// vorlund-ctl panel (`command` may be a wrapper such as Wine); resolves with its address.
export async function startPanel(command, args, env = {}, panelArgs = ['--no-browser']) {
  const child = start(command, [...args, 'panel', ...panelArgs], { env, echo: true });
  const line = await eventually(() => {
    if (child.exitCode !== null) throw new Error(`vorlund-ctl panel ended with ${child.exitCode}`);
    return child.lines.find((l) => l.includes('http://127.0.0.1:'));
  }, 'the panel address', 60000);
  const url = new URL(line.slice(line.indexOf('http://')).trim());
  return { child, url: url.href, port: Number(url.port), token: new URLSearchParams(url.hash.slice(1)).get('key') };
}

// One request with exactly these headers (Host included); resolves with status, headers, body.
export function request(port, { method = 'GET', target = '/', headers = {}, body } = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, method, path: target, headers, setHost: false });
    req.on('response', (res) => {
      let text = '';
      res.on('data', (c) => { text += c; });
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: text }));
    });
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

// A field of the record as stored in params.bin (at 0) or shared.bin (its parameter area at 16).
export function readField(file, field) {
  const base = path.basename(file) === 'shared.bin' ? 16 : 0;
  const bytes = fs.readFileSync(file);
  const at = base + field.offset;
  if (field.kind === 'float') return bytes.readFloatLE(at);
  return bytes.readInt32LE(at);
}

// axe-core's script, installed by scripts/setup-deps.sh with npm.
export function axeSource() {
  const root = spawnSync('npm', ['root', '-g'], { encoding: 'utf8' }).stdout?.trim();
  const file = root && path.join(root, 'axe-core', 'axe.min.js');
  if (!file || !fs.existsSync(file)) throw new Error('axe-core is missing: scripts/setup-deps.sh installs it');
  return fs.readFileSync(file, 'utf8');
}

export function findProgram(name) {
  const found = spawnSync('sh', ['-c', `command -v ${name}`], { encoding: 'utf8' });
  return found.status === 0 ? found.stdout.trim() : null;
}

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// The W3C WebDriver protocol over chromedriver, enough for these tests.
export class Browser {
  static async launch(userDataDir) {
    const chromedriver = findProgram('chromedriver');
    const chromium = fs.existsSync('/usr/bin/chromium') ? '/usr/bin/chromium' : null;
    if (!chromedriver || !chromium) skip('needs Debian\'s chromium and chromium-driver');
    const port = await freePort();
    const driver = start(chromedriver, [`--port=${port}`]);
    const browser = new Browser(`http://127.0.0.1:${port}`, driver);
    await eventually(async () => {
      try { return (await browser.call('GET', '/status')).ready; } catch { return false; }
    }, 'chromedriver');
    const args = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
                  '--disable-component-update', '--disable-sync', '--no-first-run',
                  '--disable-dev-shm-usage', '--hide-scrollbars', `--user-data-dir=${userDataDir}`,
                  '--window-size=1400,1200'];
    const session = await browser.call('POST', '/session', {
      capabilities: { alwaysMatch: { browserName: 'chrome', 'goog:chromeOptions': { binary: chromium, args } } } });
    browser.session = `/session/${session.sessionId}`;
    return browser;
  }

  constructor(base, driver) { this.base = base; this.driver = driver; }

  async call(method, route, body) {
    const response = await fetch(this.base + route, {
      method, headers: { 'Content-Type': 'application/json' }, body: body && JSON.stringify(body) });
    const answer = await response.json();
    if (!response.ok) throw new Error(`WebDriver ${route}: ${JSON.stringify(answer.value).slice(0, 400)}`);
    return answer.value;
  }

  go(url) { return this.call('POST', `${this.session}/url`, { url }); }
  // Runs `script` (a function body; `arguments` holds args) in the page and returns its result.
  run(script, ...args) { return this.call('POST', `${this.session}/execute/sync`, { script, args }); }
  // The same for a script that returns a promise.
  wait(script, ...args) {
    return this.call('POST', `${this.session}/execute/async`,
                     { script: `const done = arguments[arguments.length - 1];
                                Promise.resolve((async () => { ${script} })()).then(done, (e) => done('error: ' + e));`, args });
  }
  async element(selector) {
    const found = await this.call('POST', `${this.session}/element`, { using: 'css selector', value: selector });
    return Object.values(found)[0];
  }
  async click(selector) {
    await this.call('POST', `${this.session}/element/${await this.element(selector)}/click`, {});
  }
  async keys(selector, text) {
    await this.call('POST', `${this.session}/element/${await this.element(selector)}/value`, { text });
  }
  // A Chrome DevTools command (device size, colour scheme).
  cdp(cmd, params = {}) { return this.call('POST', `${this.session}/goog/cdp/execute`, { cmd, params }); }
  // The page as a 390 x 844 phone, or the desktop window again.
  async phone(on) {
    if (on) await this.cdp('Emulation.setDeviceMetricsOverride', { width: 390, height: 844, deviceScaleFactor: 1, mobile: true });
    else await this.cdp('Emulation.clearDeviceMetricsOverride');
  }
  scheme(value) {
    return this.cdp('Emulation.setEmulatedMedia', { features: [{ name: 'prefers-color-scheme', value }] });
  }
  // Presses a pointer on the element's centre, moves it by (dx, dy) in steps, and lets go.
  async drag(selector, dx, dy) {
    const origin = { 'element-6066-11e4-a52e-4f735466cecf': await this.element(selector) };
    const moves = Array.from({ length: 4 }, () => ({ type: 'pointerMove', duration: 50, origin: 'pointer',
                                              x: Math.round(dx / 4), y: Math.round(dy / 4) }));
    await this.call('POST', `${this.session}/actions`, { actions: [{ type: 'pointer', id: 'mouse',
      parameters: { pointerType: 'mouse' }, actions: [{ type: 'pointerMove', duration: 0, origin, x: 0, y: 0 },
        { type: 'pointerDown', button: 0 }, ...moves, { type: 'pointerUp', button: 0 }] }] });
  }
  async screenshot(file) {
    fs.writeFileSync(file, Buffer.from(await this.call('GET', `${this.session}/screenshot`), 'base64'));
  }
  async quit() {
    try { await this.call('DELETE', this.session); } catch { /* the browser is gone already */ }
    this.driver.kill('SIGKILL');
  }
}
