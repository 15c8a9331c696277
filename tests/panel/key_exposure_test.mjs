// The panel's key stays with its user: while vorlund-ctl panel runs as one unprivileged user
// and its browser opener is alive, a second unprivileged user finds the key in no
// /proc/*/cmdline or /proc/*/environ it can read. Needs root, to run as those two users.
// Usage: node key_exposure_test.mjs VORLUND_CTL
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { check, eventually, findProgram, skip, startPanel, tempFolder } from './harness.mjs';

if (process.getuid() !== 0) skip('runs only as root, which can start the panel and the reader as two other users');
for (const program of ['setpriv', 'setsid']) if (!findProgram(program)) skip(`needs ${program} (util-linux)`);

// Two ids no account on the machine is likely to use.
const owner = 61721;
const stranger = 61722;
const as = (uid) => ['setpriv', `--reuid=${uid}`, `--regid=${uid}`, '--clear-groups', '--'];

// Everything the panel's user touches lives in a folder of its own, outside the source tree;
// vorlund-ctl is copied there, as the build folder may not be open to that user.
const root = tempFolder();
const ctl = path.join(root, 'vorlund-ctl');
const opened = path.join(root, 'opened');
fs.copyFileSync(process.argv[2], ctl);
for (const folder of ['Vorlund', 'config', 'state', 'run', 'bin']) fs.mkdirSync(path.join(root, folder), { mode: 0o700 });
// A stand-in browser opener that stays alive with the command line it was given.
fs.writeFileSync(path.join(root, 'bin', 'xdg-open'), `#!/bin/sh\necho $$ > '${opened}'\nsleep 600\n`, { mode: 0o755 });
spawnSync('chown', ['-R', `${owner}:${owner}`, root]);
fs.chmodSync(ctl, 0o755);

const env = {
  HOME: root, XDG_CONFIG_HOME: path.join(root, 'config'), XDG_STATE_HOME: path.join(root, 'state'),
  XDG_RUNTIME_DIR: path.join(root, 'run'), PATH: `${path.join(root, 'bin')}:/usr/bin:/bin`,
};
// In a session of its own, so the panel, the opener and what it started end together.
const panel = await startPanel('setsid', [...as(owner), ctl, '--data-dir', path.join(root, 'Vorlund')], env, []);
try {
  const opener = Number(await eventually(() => fs.existsSync(opened) && fs.readFileSync(opened, 'utf8').trim(), 'the browser opener'));
  check(fs.existsSync(`/proc/${opener}`), `the browser opener (pid ${opener}) is alive`);
  // The reader gets the key on its input, so that its own command line and environment hold none.
  const reader = `
    const fs = require('fs');
    const key = fs.readFileSync(0, 'utf8');
    const found = [], read = [];
    for (const pid of fs.readdirSync('/proc').filter((name) => /^\\d+$/.test(name)))
      for (const file of ['cmdline', 'environ']) {
        let text;
        try { text = fs.readFileSync('/proc/' + pid + '/' + file, 'latin1'); } catch { continue; }
        read.push(pid + '/' + file);
        if (text.includes(key)) found.push(pid + '/' + file + ': ' + text.replace(/\\0/g, ' '));
      }
    console.log(JSON.stringify({ found, read }));`;
  const scan = spawnSync(as(stranger)[0], [...as(stranger).slice(1), process.execPath, '-e', reader], { input: panel.token, encoding: 'utf8' });
  check(scan.status === 0, `the second user read /proc (${scan.stderr.trim()})`);
  const { found, read } = JSON.parse(scan.stdout);
  check(panel.token.length >= 32 && read.includes(`${opener}/cmdline`) && !read.includes(`${opener}/environ`),
        `the second user read ${read.length} files, the opener's command line among them, not its environment`);
  check(found.length === 0, `the key is in none of them${found.length ? `; found in ${found.join('; ')}` : ''}`);
} finally {
  process.kill(-panel.child.pid, 'SIGKILL');
  fs.rmSync(root, { recursive: true, force: true });
}
