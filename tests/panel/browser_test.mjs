// The control panel in Debian's headless chromium, against a stream running in real time:
// the page builds itself, the meters move, a slider and a switch change the record in
// shared.bin, the plotted equaliser curve is the server's, presets apply, a user preset saves
// and comes back, mute and relearn act on the stream; numbers of 1000 and more show as they
// are, every slider steps by arrow key and back, a band handle drags, the phone layout fits,
// axe-core finds nothing serious in either colour scheme, and the page goes disabled when the
// panel's program ends and comes back when it restarts. Pictures of the page (desktop and
// phone, dark and light) go to --pictures (the build tree; the README's come from the
// readme-pictures target). With --wine, vorlund-ctl.exe serves the page under Wine, without a
// stream: the checks that need none run the same, with changes landing in params.bin.
// Usage: node browser_test.mjs --ctl PROGRAM [--stream PROGRAM] [--pictures DIR] [--wine WRAPPER]
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { Browser, axeSource, check, eventually, readField, start, startPanel, tempFolder } from './harness.mjs';

const { values: options } = parseArgs({ options: {
  ctl: { type: 'string' }, stream: { type: 'string' }, pictures: { type: 'string' }, wine: { type: 'string' } } });

const root = tempFolder();
const programData = path.join(root, 'ProgramData');
const data = path.join(programData, 'Vorlund');
const userConfig = path.join(root, 'config');
fs.mkdirSync(data, { recursive: true });
const sharedBin = path.join(data, 'shared.bin');
const paramsBin = path.join(data, 'params.bin');

let browser;
let stream;
let panel;
try {
  const env = { ProgramData: programData, XDG_CONFIG_HOME: userConfig, XDG_STATE_HOME: path.join(root, 'state') };
  if (options.stream) {
    stream = start(options.stream, [], { env });
    await eventually(() => stream.lines.includes('ready'), 'the stream');
  }
  // Natively with a stream changes land in shared.bin; under Wine, without one, in params.bin.
  const startAgain = () => (options.wine
    ? startPanel(options.wine, [options.ctl, '--data-dir', `Z:${data}`], env)
    : startPanel(options.ctl, ['--data-dir', data], env));
  const inForce = options.wine ? paramsBin : sharedBin;
  panel = await startAgain();
  browser = await Browser.launch(path.join(root, 'chromium'));
  await browser.go(panel.url);

  // The page: one box per stage of the field table, one control per field.
  const tables = await browser.wait("return window.vorlundPanel.call('/api/fields');");
  const field = (name) => tables.fields.find((f) => f.name === name);
  await eventually(() => browser.run('return document.querySelectorAll("[data-field]").length'), 'the controls');
  const built = await browser.run(`return { stages: document.querySelectorAll('#stages .stage').length,
                                            controls: document.querySelectorAll('[data-field]').length,
                                            address: location.href }`);
  check(built.stages === new Set(tables.fields.map((f) => f.stage)).size, `a box per stage (${built.stages})`);
  check(built.controls === tables.fields.length, `a control per field (${built.controls})`);
  check(!built.address.includes(panel.token), 'the key left the address bar');

  const applyPreset = async (key) => {
    await browser.run(`const list = document.getElementById('preset-list'); list.value = arguments[0];
                       list.dispatchEvent(new Event('change'));`, key);
    await eventually(() => browser.run("return document.querySelectorAll('#preset-preview tr').length > 0"), 'a preview');
    await browser.click('#preset-apply');
    await eventually(() => browser.run("return document.querySelector('#preset-preview .sub') !== null"), `${key} in force`);
  };
  if (options.wine) {
    await browser.click('#field-gateEnabled');
    await eventually(() => fs.existsSync(paramsBin) && readField(paramsBin, field('gateEnabled')) === 1,
                     'gateEnabled = 1 in params.bin');
    check(true, 'a switch flipped under Wine lands in params.bin');
  } else {
    await eventually(() => browser.run("return window.vorlundPanel.lastMeters?.stream === 'live'"), 'a live stream');

    // Meters: the tone alternates between -10 and -40 dBFS every half second.
    // Sampled until both phases have shown and 20 events came, however slowly the machine runs.
    const levels = [];
    const firstEvents = await browser.run('return window.vorlundPanel.meterEvents');
    let events = 0;
    await eventually(async () => {
      levels.push(await browser.run('return window.vorlundPanel.lastMeters.inputPeakDb'));
      events = (await browser.run('return window.vorlundPanel.meterEvents')) - firstEvents;
      return Math.max(...levels) - Math.min(...levels) > 20 && events >= 20;
    }, 'the input meter to move and 20 meter events');
    check(Math.max(...levels) - Math.min(...levels) > 20, `the input meter moves (${Math.min(...levels).toFixed(1)} to ${Math.max(...levels).toFixed(1)} dBFS)`);
    check(events >= 20, `meter events keep coming (${events})`);
    const bar = await browser.run("return document.querySelector('#meter-inputPeakDb .fill').style.width");
    check(parseFloat(bar) > 0, `the input bar is drawn (${bar})`);

    // A slider moved by keyboard to its lowest end, and a switch clicked.
    await browser.keys('#field-inputGainDb', '\uE011');  // Home
    await eventually(() => readField(sharedBin, field('inputGainDb')) === -20, 'inputGainDb = -20 in shared.bin');
    check(true, 'the slider put inputGainDb = -20 dB into shared.bin');
    await browser.click('#field-gateEnabled');
    await eventually(() => readField(sharedBin, field('gateEnabled')) === 1, 'gateEnabled = 1 in shared.bin');
    check(true, 'the switch put gateEnabled = on into shared.bin');
    // A value beyond the range comes back clamped, and the control shows the clamped one.
    await browser.wait("await window.vorlundPanel.call('/api/set', { changes: { 'eqBands[1].q': 1000 } });");
    await browser.run('location.reload()');
    await eventually(() => browser.run("return document.getElementById('field-eqBands[1].q')?.value"), 'the reloaded page');
    const q = await browser.run("return Number(document.getElementById('field-eqBands[1].q').value)");
    check(q === field('eqBands[1].q').maximum && readField(sharedBin, field('eqBands[1].q')) === q, `an out-of-range Q shows and stores as ${q}`);

    // The equaliser curve: a band and a tone knob set from the page, then the drawn path read
    // back through the plot's axes and compared with the server's response.
    await browser.wait(`
      const set = (id, v) => { const e = document.getElementById(id); e.value = v; e.dispatchEvent(new Event('change')); };
      set('field-eqBands[2].gainDb', '9'); set('field-eqBands[2].freqHz', '700');`);
    await eventually(() => readField(sharedBin, field('eqBands[2].freqHz')) === 700, 'the band in shared.bin');
    const at = (points, f) => {
      const i = points.findIndex((p) => p[0] >= f);
      const [f0, g0] = points[i - 1];
      const [f1, g1] = points[i];
      return g0 + (g1 - g0) * Math.log(f / f0) / Math.log(f1 / f0);
    };
    const frequencies = [100, 700, 3000, 12000];
    let plot, curve;
    // The page redraws once per answer: wait for the drawing of the last one.
    await eventually(async () => {
      plot = await browser.wait(`
        const state = await window.vorlundPanel.call('/api/state');
        const svg = document.getElementById('eq-plot');
        const d = document.getElementById('eq-curve').getAttribute('d');
        return { points: state.response.points, range: Number(svg.dataset.range), d };`);
      const drawn = plot.d.slice(1).split('L').map((p) => p.split(',').map(Number));
      // The axes as the page draws them: 640 x 260 with margins 40, 12, 12, 24.
      const toHz = (x) => 20 * Math.pow(1000, (x - 40) / (640 - 52));
      const toDb = (y) => plot.range - 2 * plot.range * (y - 12) / (260 - 36);
      curve = drawn.map(([x, y]) => [toHz(x), toDb(y)]);
      return frequencies.every((f) => Math.abs(at(plot.points, f) - at(curve, f)) < 0.25);
    }, 'the plotted curve to follow the server\'s');
    for (const f of frequencies) {
      const server = at(plot.points, f);
      const shown = at(curve, f);
      check(Math.abs(server - shown) < 0.25, `the plotted curve at ${f} Hz: ${shown.toFixed(2)} dB, the server's ${server.toFixed(2)} dB`);
    }
    check(Math.abs(at(plot.points, 700) - 9) < 0.3, 'the band peaks at +9 dB at 700 Hz');

    // Presets: preview, apply; then the record saved as a user preset, changed, and reloaded.
    await applyPreset('shipped:podcast');
    const podcast = await browser.wait("return window.vorlundPanel.call('/api/preview?name=podcast');");
    check(podcast.changes.length === 0, 'the podcast preset is the record in force');
    await browser.keys('#field-outputGainDb', '\uE010');  // End
    await eventually(() => readField(sharedBin, field('outputGainDb')) === 20, 'outputGainDb = 20');
    await browser.run("document.getElementById('preset-name').value = 'mine'; document.getElementById('preset-text').value = 'loud and clear';");
    await browser.click('#preset-save button');
    const saved = path.join(userConfig, 'vorlund', 'presets', 'mine.vrl');
    await eventually(() => browser.run("return document.getElementById('preset-list').value === 'user:mine'"),
                     'the saved preset listed and picked');
    check(fs.readFileSync(saved, 'utf8').startsWith('# loud and clear\n'), 'the user preset is saved with its description');
    await applyPreset('shipped:meeting');
    check(readField(sharedBin, field('outputGainDb')) !== 20, 'another preset replaced the record');
    await applyPreset('user:mine');
    check(readField(sharedBin, field('outputGainDb')) === 20, 'the user preset brings its record back');

    // Mute and relearn act on the stream.
    await browser.click('#action-mute');
    await eventually(() => browser.run(`const m = window.vorlundPanel.lastMeters;
                                        return m.inputPeakDb > -50 && (m.outputPeakDb === null || m.outputPeakDb < -90);`),
                     'a silent output while muted');
    check(true, 'mute silences the stream\'s output');
    await browser.click('#action-mute');
    await eventually(() => browser.run('return window.vorlundPanel.lastMeters.outputPeakDb > -60'), 'the output back');
    check(true, 'unmuting brings the output back');
    const before = stream.lines.filter((l) => l.startsWith('relearn')).length;
    await browser.click('#action-relearn');
    await eventually(() => stream.lines.filter((l) => l.startsWith('relearn')).length > before, 'the stream to relearn');
    check(true, 'relearn restarts the stream\'s noise learning');
  }

  // Numbers of 1000 and more, as the controls show them, are the values in force.
  await browser.wait("await window.vorlundPanel.call('/api/set', { changes: { gateHoldMs: 1000, compReleaseMs: 1500, 'eqBands[4].freqHz': 12000 } });");
  await browser.run('location.reload()');
  await eventually(() => browser.run("return window.vorlundPanel?.state?.record?.gateHoldMs === 1000 && document.querySelectorAll('[data-field]').length"), 'the reloaded page');
  const big = await browser.run(`const p = window.vorlundPanel; const wrong = []; let count = 0;
    for (const [name, c] of p.controls) {
      const v = p.record[name];
      if (typeof v !== 'number' || Math.abs(v) < 1000) continue;
      count += 1;
      const text = c.input.type === 'range' ? c.shown.textContent : c.input.value;
      if (parseFloat(text) !== v) wrong.push(name + ' shows ' + text + ' for ' + v);
    }
    return { count, wrong };`);
  check(big.count >= 8 && big.wrong.length === 0, `${big.count} values of 1000 and more shown as in force ${big.wrong.join('; ')}`);

  // Every number over its whole range: the text shown reads back as the value in force.
  const unread = await browser.wait(`const n = await import('/numbers.js'); const bad = [];
    for (const f of window.vorlundPanel.fields.filter((f) => f.kind !== 'flag' && !f.labels.length)) {
      for (let i = 0; i <= 400; ++i) {
        const held = Math.fround(n.snap(f, f.minimum + (f.maximum - f.minimum) * i / 400));
        if (Math.fround(n.parse(f, n.display(f, held))) !== held) bad.push(f.name + ' ' + held);
      }
    }
    return bad;`);
  check(Array.isArray(unread) && unread.length === 0, `every shown number reads back as the value in force ${unread.slice(0, 5)}`);

  // Every slider: ArrowRight then ArrowLeft change the value in force and bring it back.
  await browser.run("for (const d of document.querySelectorAll('details')) d.open = true;");
  const sliders = tables.fields.filter((f) => f.kind !== 'flag' && !f.labels.length && !f.name.startsWith('eqBands['));
  const stuck = [];
  for (const f of sliders) {
    const before = readField(inForce, f);
    const [there, back] = before >= f.maximum ? ['\uE012', '\uE014'] : ['\uE014', '\uE012'];
    const moved = async (key, test) => {
      await browser.keys(`#field-${f.name}`, key);
      try { return await eventually(() => test(readField(inForce, f)), f.name, 3000); } catch { return false; }
    };
    if (!await moved(there, (v) => v !== before) || !await moved(back, (v) => v === before)) stuck.push(f.name);
  }
  check(sliders.length >= 29 && stuck.length === 0, `${sliders.length} sliders step by arrow key and back ${stuck.join(' ')}`);
  await browser.keys('#field-eqBands\\[4\\]\\.freqHz', '\uE013');  // ArrowUp in band 5's frequency box
  await eventually(() => readField(inForce, field('eqBands[4].freqHz')) > 12000, 'band 5 one step above 12000 Hz');
  check(true, `ArrowUp in band 5's box: ${readField(inForce, field('eqBands[4].freqHz'))} Hz in force`);

  // A band's handle on the curve, dragged right and up, moves that band's frequency and gain.
  const band = await browser.run("return Number(document.querySelector('#eq-plot .handle').dataset.band)");
  const freq = field(`eqBands[${band}].freqHz`);
  const gain = field(`eqBands[${band}].gainDb`);
  const [freq0, gain0] = [readField(inForce, freq), readField(inForce, gain)];
  await browser.run("document.getElementById('eq-plot').scrollIntoView()");
  await browser.drag(`#eq-plot .handle[data-band="${band}"]`, 60, -25);
  await eventually(() => readField(inForce, freq) > freq0 && readField(inForce, gain) > gain0, 'the dragged band');
  check(true, `dragging band ${band + 1} moved it from ${freq0.toFixed(0)} Hz ${gain0.toFixed(1)} dB to ${readField(inForce, freq).toFixed(0)} Hz ${readField(inForce, gain).toFixed(1)} dB`);

  // Both colour schemes, desktop and phone: the layout fits, axe-core finds nothing serious.
  const axe = axeSource();
  const background = {};
  for (const scheme of ['dark', 'light']) {
    await browser.scheme(scheme);
    background[scheme] = await browser.run('return getComputedStyle(document.body).backgroundColor');
    await browser.run(`${axe}; return true;`);
    const found = await browser.wait(`const r = await axe.run(document);
      return { passed: r.passes.length, serious: r.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
                         .map((v) => v.id + ' ' + v.nodes.length + ' ' + v.nodes[0].target.join(' ')) };`);
    check(found.passed > 20 && found.serious?.length === 0,
          `axe-core, ${scheme}: ${found.passed} rules pass, no serious or critical violation ${JSON.stringify(found.serious)}`);
    await browser.phone(true);
    // The page has the phone's size once a frame has been drawn at 390 px.
    await eventually(() => browser.wait(`await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
      return innerWidth === 390;`), 'the page at the phone\'s width');
    const layout = await browser.run(`const boxes = [...document.querySelectorAll('.actions button, #stream-pill')]
        .map((e) => e.getBoundingClientRect());
      const overlaps = boxes.some((a, i) => boxes.some((b, j) => i < j && a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom));
      const cut = boxes.some((b) => b.right > innerWidth || b.left < 0);
      return { width: document.scrollingElement.scrollWidth, view: innerWidth, overlaps, cut };`);
    check(layout.width <= layout.view && !layout.overlaps && !layout.cut,
          `phone, ${scheme}: ${layout.width} px wide in a ${layout.view} px view, header buttons apart and whole`);
    await browser.phone(false);
  }
  check(background.dark !== background.light, `the light scheme differs (${background.dark} / ${background.light})`);

  if (options.pictures && !options.wine) {
    // A lively state: the podcast preset with a shaped curve, another preset's preview
    // showing, the stages folded as they start.
    await applyPreset('shipped:podcast');
    await browser.wait("await window.vorlundPanel.call('/api/set', { changes: { 'eqBands[2].gainDb': -4, 'eqBands[6].gainDb': 3 } });");
    await browser.run('location.reload()');
    await eventually(() => browser.run("return window.vorlundPanel?.state?.record['eqBands[6].gainDb'] === 3"), 'the shaped curve');
    await browser.wait(`
      const list = document.getElementById('preset-list'); list.value = 'shipped:meeting';
      list.dispatchEvent(new Event('change'));
      await new Promise((r) => setTimeout(r, 600));`);
    fs.mkdirSync(options.pictures, { recursive: true });
    for (const [name, scheme, phone] of [['control-panel', 'dark', false], ['control-panel-light', 'light', false],
                                         ['control-panel-phone', 'dark', true], ['control-panel-phone-light', 'light', true]]) {
      await browser.scheme(scheme);
      await browser.phone(phone);
      await browser.run("window.scrollTo(0, 0); document.getElementById('notice').hidden = true; document.activeElement?.blur();");
      await eventually(() => browser.run('return window.vorlundPanel.lastMeters.inputPeakDb > -15'), 'a loud phase');
      await browser.screenshot(path.join(options.pictures, `${name}.png`));
    }
    await browser.phone(false);
    await browser.scheme('dark');
    check(true, `pictures written to ${options.pictures}`);
  }

  // The panel's program ends: within 3 s every setting is disabled and a banner in view says
  // so; started again on its port, the page comes back by itself.
  panel.child.kill('SIGKILL');
  const lostAt = Date.now();
  const offline = () => browser.run(`const banner = document.getElementById('offline').getBoundingClientRect();
    return [...document.querySelectorAll('[data-field]')].every((e) => e.disabled)
      && banner.height > 0 && banner.top >= 0 && banner.bottom <= innerHeight;`);
  await eventually(offline, 'the page disabled', 3000);
  check(true, `every control disabled, the banner in view, ${Date.now() - lostAt} ms after the panel ended`);
  const port = panel.port;
  panel = await startAgain();
  check(panel.port === port, `the panel restarted on its port ${port}`);
  await eventually(() => browser.run(`return document.getElementById('offline').hidden
    && ![...document.querySelectorAll('[data-field]')].some((e) => e.disabled)`), 'the page back', 10000);
  await browser.keys('#field-inputGainDb', '\uE010');  // End
  await eventually(() => readField(inForce, field('inputGainDb')) === 30, 'inputGainDb = 30 after the restart');
  check(true, 'the page came back by itself and changes the record again');

  // Another server on the loopback address: the browser that holds the panel's key sends it
  // nothing of it, neither by cookie nor otherwise, and its page finds none.
  const seen = [];
  const other = http.createServer((req, res) => {
    seen.push(JSON.stringify([req.url, req.headers]));
    res.setHeader('Content-Type', 'text/html');
    res.end('<!doctype html><title>elsewhere</title>');
  });
  await new Promise((resolve) => other.listen(0, '127.0.0.1', resolve));
  await browser.go(`http://127.0.0.1:${other.address().port}/`);
  const found = await browser.wait(`
    const answer = await fetch('http://127.0.0.1:${panel.port}/api/state', { credentials: 'include' }).catch(() => null);
    return document.cookie + JSON.stringify(sessionStorage) + (answer ? answer.status : 'refused');`);
  other.close();
  check(seen.length > 0 && !seen.some((r) => r.includes(panel.token)) && !found.includes(panel.token),
        `a page on another local port receives no key (${seen.length} requests seen, panel answers it: ${found.slice(-8)})`);
} finally {
  if (browser) await browser.quit();
  panel?.child.kill('SIGKILL');
  stream?.kill('SIGKILL');
  fs.rmSync(root, { recursive: true, force: true });
}
