// The panel's server refuses what does not come from its own page: a missing or wrong token,
// a Host other than the loopback address and port, a cross-origin POST, an oversize request;
// and it never answers with CORS headers. Usage: node server_test.mjs VORLUND_CTL
import fs from 'node:fs';
import path from 'node:path';
import { check, request, startPanel, tempFolder } from './harness.mjs';

const [ctl] = process.argv.slice(2);
const root = tempFolder();
const data = path.join(root, 'Vorlund');
fs.mkdirSync(data);
const panel = await startPanel(ctl, ['--data-dir', data], { XDG_CONFIG_HOME: path.join(root, 'config') });
const host = `127.0.0.1:${panel.port}`;
const cookie = `vorlund_panel_${panel.port}=${panel.token}`;
const origin = `http://${host}`;
const json = 'application/json';
const change = JSON.stringify({ changes: { outputGainDb: 3 } });
const post = (headers, body = change) =>
  request(panel.port, { method: 'POST', target: '/api/set', headers: { 'Content-Type': json, ...headers }, body });

try {
  const page = await request(panel.port, { target: `/?token=${panel.token}`, headers: { Host: host } });
  check(page.status === 200 && page.headers['set-cookie'][0].startsWith(cookie), 'the token in the address opens the page and sets the cookie');
  check((await request(panel.port, { target: '/api/state', headers: { Host: host, Cookie: cookie } })).status === 200, 'the cookie alone serves later requests');
  const answers = [
    ['no token', await request(panel.port, { target: '/api/state', headers: { Host: host } })],
    ['a wrong token', await request(panel.port, { target: `/?token=${'0'.repeat(32)}`, headers: { Host: host } })],
    ['a token one digit short', await request(panel.port, { target: `/?token=${panel.token.slice(1)}`, headers: { Host: host } })],
    ['another panel\'s cookie', await request(panel.port, { target: '/api/state', headers: { Host: host, Cookie: `vorlund_panel_1=${panel.token}` } })],
    ['a rebinding Host name', await request(panel.port, { target: `/?token=${panel.token}`, headers: { Host: `evil.example:${panel.port}` } })],
    ['a Host with another port', await request(panel.port, { target: `/?token=${panel.token}`, headers: { Host: '127.0.0.1:1' } })],
    ['a cross-origin POST', await post({ Host: host, Cookie: cookie, Origin: 'http://evil.example' })],
    ['a POST without Origin', await post({ Host: host, Cookie: cookie })],
    ['a POST with an https Origin', await post({ Host: host, Cookie: cookie, Origin: `https://${host}` })],
  ];
  for (const [what, answer] of answers) check(answer.status === 403, `${what}: 403 (${answer.body.trim()})`);

  const big = await post({ Host: host, Cookie: cookie, Origin: origin }, JSON.stringify({ changes: { outputGainDb: 3 }, pad: 'x'.repeat(20000) }));
  check(big.status === 413, 'an oversize body: 413');
  const bigHeader = await request(panel.port, { target: '/api/state', headers: { Host: host, Cookie: cookie, 'X-Pad': 'y'.repeat(9000) } });
  check(bigHeader.status === 413, 'an oversize header: 413');
  check((await post({ Host: host, Cookie: cookie, Origin: origin }, '{"changes": {"outputGainDb": }')).status === 400, 'malformed JSON: 400');
  check((await request(panel.port, { method: 'PUT', target: '/api/set', headers: { Host: host, Cookie: cookie } })).status === 405, 'PUT: 405');
  check(!fs.existsSync(path.join(data, 'params.bin')), 'no refused request wrote anything');

  const good = await post({ Host: host, Cookie: cookie, Origin: origin });
  check(good.status === 200 && JSON.parse(good.body).record.outputGainDb === 3, 'the panel\'s own POST changes the record');
  check(fs.readFileSync(path.join(data, 'params.bin')).readFloatLE(24) === 3, 'params.bin holds the change');
  const headers = Object.keys(good.headers).concat(Object.keys(page.headers));
  check(!headers.some((h) => h.startsWith('access-control-')), 'no CORS headers');
} finally {
  panel.child.kill('SIGKILL');
  fs.rmSync(root, { recursive: true, force: true });
}
