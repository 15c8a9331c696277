// The panel's server refuses what does not come from its own page: a missing or wrong key,
// a Host other than the loopback address and port, a cross-origin POST, an oversize request;
// and it never answers with CORS headers. Usage: node server_test.mjs VORLUND_CTL
import fs from 'node:fs';
import path from 'node:path';
import { check, request, startPanel, tempFolder } from './harness.mjs';

const [ctl] = process.argv.slice(2);
const root = tempFolder();
const data = path.join(root, 'Vorlund');
fs.mkdirSync(data);
const panel = await startPanel(ctl, ['--data-dir', data], { XDG_CONFIG_HOME: path.join(root, 'config'), XDG_STATE_HOME: path.join(root, 'state') });
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
} finally {
  panel.child.kill('SIGKILL');
  fs.rmSync(root, { recursive: true, force: true });
}
