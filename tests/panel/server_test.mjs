// The panel's server refuses what does not come from its own page: a missing or wrong key,
// a Host other than the loopback address and port, a cross-origin POST, an oversize request;
// and it never answers with CORS headers. It puts a change in force as vorlund-ctl does (typed
// values; nothing saved over a foreign shared.bin; no change, no commit), answers keyed reads
// while another writer holds the lock, and its page is not starved by idle connections. A
// restarted panel keeps its port and key and opens the browser through a private page.
// Usage: node server_test.mjs VORLUND_CTL PANEL_STREAM
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import path from 'node:path';
import { check, eventually, request, sleep, start, startPanel, tempFolder } from './harness.mjs';

const [ctl, lockHolder] = process.argv.slice(2);
const root = tempFolder();
const data = path.join(root, 'Vorlund');
fs.mkdirSync(data);
const env = { XDG_CONFIG_HOME: path.join(root, 'config'), XDG_STATE_HOME: path.join(root, 'state') };
let panel = await startPanel(ctl, ['--data-dir', data], env);
const host = `127.0.0.1:${panel.port}`;
const keyed = { Host: host, 'X-Vorlund-Key': panel.token };
const origin = `http://${host}`;
const json = 'application/json';
const change = JSON.stringify({ changes: { outputGainDb: 3 } });
const post = (headers, body = change) =>
  request(panel.port, { method: 'POST', target: '/api/set', headers: { 'Content-Type': json, ...headers }, body });

try {
  const page = await request(panel.port, { target: '/', headers: { Host: host } });
  check(page.status === 200 && !page.headers['set-cookie'] && !page.body.includes(panel.token), 'the page needs no key and holds none, and no cookie is set');
  check((await request(panel.port, { target: '/api/state', headers: keyed })).status === 200, 'the key header serves the API');
  const state = (headers, target = '/api/state') => request(panel.port, { target, headers: { Host: host, ...headers } });
  const answers = [
    ['no key', await state({})],
    ['an empty key', await state({ 'X-Vorlund-Key': '' })],
    ['a wrong key', await state({ 'X-Vorlund-Key': '0'.repeat(32) })],
    ['the key without its first digit', await state({ 'X-Vorlund-Key': panel.token.slice(1) })],
    ['the key without its last digit', await state({ 'X-Vorlund-Key': panel.token.slice(0, -1) })],
    ['the key as a cookie', await state({ Cookie: `vorlund_panel_${panel.port}=${panel.token}` })],
    ['the key in the query', await state({}, `/api/state?token=${panel.token}&key=${panel.token}`)],
    ['an event stream without the key', await state({}, '/api/meters')],
    ['a rebinding Host name', await state({ ...keyed, Host: `evil.example:${panel.port}` })],
    ['a Host with another port', await state({ ...keyed, Host: '127.0.0.1:1' })],
    ['a cross-origin POST', await post({ ...keyed, Origin: 'http://evil.example' })],
    ['a POST without Origin', await post(keyed)],
    ['a POST with an https Origin', await post({ ...keyed, Origin: `https://${host}` })],
  ];
  for (const [what, answer] of answers) check(answer.status === 403, `${what}: 403 (${answer.body.trim()})`);

  const big = await post({ ...keyed, Origin: origin }, JSON.stringify({ changes: { outputGainDb: 3 }, pad: 'x'.repeat(20000) }));
  check(big.status === 413, 'an oversize body: 413');
  const bigHeader = await request(panel.port, { target: '/api/state', headers: { ...keyed, 'X-Pad': 'y'.repeat(9000) } });
  check(bigHeader.status === 413, 'an oversize header: 413');
  check((await post({ ...keyed, Origin: origin }, '{"changes": {"outputGainDb": }')).status === 400, 'malformed JSON: 400');
  check((await request(panel.port, { method: 'PUT', target: '/api/set', headers: keyed })).status === 405, 'PUT: 405');
  check(!fs.existsSync(path.join(data, 'params.bin')), 'no refused request wrote anything');

  const good = await post({ ...keyed, Origin: origin });
  check(good.status === 200 && JSON.parse(good.body).record.outputGainDb === 3, 'the panel\'s own POST changes the record');
  check(fs.readFileSync(path.join(data, 'params.bin')).readFloatLE(24) === 3, 'params.bin holds the change');
  const headers = Object.keys(good.headers).concat(Object.keys(page.headers));
  check(!headers.some((h) => h.startsWith('access-control-')), 'no CORS headers');

  // One way to put a change in force, shared with vorlund-ctl.
  const params = path.join(data, 'params.bin');
  const saved = fs.statSync(params).mtimeMs;
  const same = await post({ ...keyed, Origin: origin });
  check(same.status === 200 && JSON.parse(same.body).notices.includes('no change') && fs.statSync(params).mtimeMs === saved,
        'the same value again: "no change", nothing saved');
  check((await post({ ...keyed, Origin: origin }, '{"changes": {"outputGainDb": "4"}}')).status === 400, 'a number sent as text: 400');
  fs.writeFileSync(path.join(data, 'shared.bin'), Buffer.alloc(65536, 0x5a));
  const foreign = await post({ ...keyed, Origin: origin }, '{"changes": {"outputGainDb": 5}}');
  const ctlForeign = spawnSync(ctl, ['--data-dir', data, 'set', 'outputGainDb=5'], { encoding: 'utf8' });
  check(foreign.status === 409 && ctlForeign.status === 4 && fs.readFileSync(params).readFloatLE(24) === 3,
        `a foreign shared.bin: the panel 409, vorlund-ctl exit 4, nothing saved (${foreign.body.trim()})`);
  fs.rmSync(path.join(data, 'shared.bin'));

  // The writers' lock: only writers may open it, and whoever holds it, nobody waits long.
  const lockFile = path.join(data, 'ctl.lock');
  check((fs.statSync(lockFile).mode & 0o777) === 0o660, 'ctl.lock is 0660');
  const holder = start(lockHolder, ['--hold-lock', lockFile]);
  try {
    await eventually(() => holder.lines.includes('held'), 'another writer holding ctl.lock');
    const startedAt = Date.now();
    const [busy, read] = await Promise.all([
      post({ ...keyed, Origin: origin }, '{"changes": {"outputGainDb": 5}}'),
      sleep(200).then(() => request(panel.port, { target: '/api/state', headers: keyed })).then((r) => [r, Date.now() - startedAt - 200]),
    ]);
    check(busy.status === 503 && busy.body.includes('ctl.lock'), `a change while another writer holds the lock: 503 (${busy.body.trim()})`);
    check(read[0].status === 200 && read[1] < 2000, `a keyed read meanwhile is answered in ${read[1]} ms`);
    const ctlStart = Date.now();
    const ctlBusy = spawnSync(ctl, ['--data-dir', data, 'set', 'outputGainDb=5'], { encoding: 'utf8', timeout: 20000 });
    const ctlMs = Date.now() - ctlStart;
    check(ctlBusy.status === 16 && ctlMs < 10000 && ctlBusy.stderr.includes('ctl.lock'),
          `vorlund-ctl set gives up after ${ctlMs} ms with exit ${ctlBusy.status}: ${ctlBusy.stderr.trim()}`);
  } finally {
    holder.kill('SIGKILL');
  }

  // Connections: 40 that send nothing or half a request keep out neither the page nor a
  // stream, and each is closed after its read timeout; event streams have their own cap.
  const idle = [];
  for (let i = 0; i < 40; ++i) {
    const socket = net.connect(panel.port, '127.0.0.1');
    socket.on('error', () => {});
    socket.ended = new Promise((resolve) => socket.on('close', resolve));
    if (i % 2) socket.write(`GET /api/state HTTP/1.1\r\nHost: ${host}\r\n`);
    idle.push(socket);
  }
  await sleep(300);
  const before = Date.now();
  const crowded = await request(panel.port, { target: '/api/state', headers: { ...keyed, Connection: 'close' } });
  check(crowded.status === 200 && Date.now() - before < 3000, `with 40 idle connections open, a keyed read answered in ${Date.now() - before} ms`);
  const streams = [];
  const openStream = () => new Promise((resolve) => {
    const req = http.get({ host: '127.0.0.1', port: panel.port, path: '/api/meters', headers: keyed, agent: false }, resolve);
    req.on('error', () => resolve({ statusCode: 0 }));
    streams.push(req);
  });
  const streamStatus = [];
  for (let i = 0; i < 9; ++i) streamStatus.push((await openStream()).statusCode);
  for (const req of streams) req.destroy();
  check(streamStatus.slice(0, 8).every((s) => s === 200) && streamStatus[8] === 503, `eight event streams, the ninth refused (${streamStatus.join(' ')})`);
  const closedAt = Date.now();
  await Promise.race([Promise.all(idle.map((s) => s.ended)), sleep(15000)]);
  check(idle.every((s) => s.destroyed || s.readyState === 'closed'), `every idle connection closed by the panel within ${Date.now() - closedAt} ms`);

  // A restarted panel: the same port and key; the browser opened through a private page, so
  // the key is on no command line.
  panel.child.kill('SIGKILL');
  await eventually(() => panel.child.exitCode !== null || panel.child.signalCode, 'the panel to end');
  const runtime = path.join(root, 'run');
  const bin = path.join(root, 'bin');
  const opened = path.join(root, 'opened');
  fs.mkdirSync(runtime, { mode: 0o700 });
  fs.mkdirSync(bin);
  fs.writeFileSync(path.join(bin, 'xdg-open'), `#!/bin/sh\necho "$@" > '${opened}'\n`, { mode: 0o755 });
  const first = panel;
  panel = await startPanel(ctl, ['--data-dir', data], { ...env, XDG_RUNTIME_DIR: runtime, PATH: `${bin}:${process.env.PATH}` }, []);
  check(panel.port === first.port && panel.token === first.token, `a restarted panel keeps port ${panel.port} and its key`);
  const launch = (await eventually(() => fs.existsSync(opened) && fs.readFileSync(opened, 'utf8'), 'the browser opener')).trim();
  check(!launch.includes(panel.token) && (fs.statSync(launch).mode & 0o777) === 0o600 &&
        fs.readFileSync(launch, 'utf8').includes(`#key=${panel.token}`), `the opener gets the private page ${launch}, not the key`);
  panel.child.kill('SIGKILL');
  await eventually(() => panel.child.exitCode !== null || panel.child.signalCode, 'the panel to end');
  const squatter = net.createServer();
  await new Promise((resolve) => squatter.listen(first.port, '127.0.0.1', resolve));
  panel = await startPanel(ctl, ['--data-dir', data], env);
  squatter.close();
  check(panel.port !== first.port && panel.token === first.token, `its port taken, the panel moves to ${panel.port}`);
} finally {
  panel.child.kill('SIGKILL');
  fs.rmSync(root, { recursive: true, force: true });
}
