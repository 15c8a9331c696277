// The control panel in Debian's headless chromium, against a stream running in real time:
// the page builds itself, the meters move, a slider and a switch change the record in
// shared.bin, the plotted equaliser curve is the server's, presets apply, a user preset saves
// and comes back, mute and relearn act on the stream. A screenshot of the result is written
// where the README shows it. With --wine, vorlund-ctl.exe serves the page under Wine and the
// test loads it and changes a field (no stream: the change lands in params.bin).
// Usage: node browser_test.mjs --ctl PROGRAM [--stream PROGRAM] [--screenshot FILE] [--wine WRAPPER]
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { Browser, check, eventually, readField, start, startPanel, tempFolder } from './harness.mjs';

const { values: options } = parseArgs({ options: {
  ctl: { type: 'string' }, stream: { type: 'string' }, screenshot: { type: 'string' }, wine: { type: 'string' } } });

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
  const env = { ProgramData: programData, XDG_CONFIG_HOME: userConfig };
  if (options.stream) {
    stream = start(options.stream, [], { env });
    await eventually(() => stream.lines.includes('ready'), 'the stream');
  }
  panel = options.wine
    ? await startPanel(options.wine, [options.ctl, '--data-dir', `Z:${data}`], env)
    : await startPanel(options.ctl, ['--data-dir', data], env);
  browser = await Browser.launch(path.join(root, 'chromium'));
  await browser.go(panel.url);

  // The page: one box per stage of the field table, one control per field.
  const tables = await browser.wait("return (await fetch('/api/fields')).json();");
  const field = (name) => tables.fields.find((f) => f.name === name);
  await eventually(() => browser.run('return document.querySelectorAll("[data-field]").length'), 'the controls');
  const built = await browser.run(`return { stages: document.querySelectorAll('#stages .stage').length,
                                            controls: document.querySelectorAll('[data-field]').length,
                                            address: location.href }`);
  check(built.stages === new Set(tables.fields.map((f) => f.stage)).size, `a box per stage (${built.stages})`);
  check(built.controls === tables.fields.length, `a control per field (${built.controls})`);
  check(!built.address.includes('token'), 'the token left the address bar');

  if (options.wine) {
    await browser.click('#field-gateEnabled');
    await eventually(() => fs.existsSync(paramsBin) && readField(paramsBin, field('gateEnabled')) === 1,
                     'gateEnabled = 1 in params.bin');
    check(true, 'a switch flipped under Wine lands in params.bin');
    process.exitCode = 0;
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
    await browser.wait("await fetch('/api/set', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ changes: { 'eqBands[1].q': 1000 } }) });");
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
        const state = await (await fetch('/api/state')).json();
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
    const applyPreset = async (key) => {
      await browser.run(`const list = document.getElementById('preset-list'); list.value = arguments[0];
                         list.dispatchEvent(new Event('change'));`, key);
      await eventually(() => browser.run("return document.querySelectorAll('#preset-preview tr').length > 0"), 'a preview');
      await browser.click('#preset-apply');
      await eventually(() => browser.run("return document.querySelector('#preset-preview .sub') !== null"), `${key} in force`);
    };
    await applyPreset('shipped:podcast');
    const podcast = await browser.wait("return (await fetch('/api/preview?name=podcast')).json();");
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

    // The picture for the README: a lively state with a shaped curve, the preview showing.
    if (options.screenshot) {
      await browser.wait(`
        const set = (id, v) => { const e = document.getElementById(id); e.value = v; e.dispatchEvent(new Event('change')); };
        set('field-eqBands[2].gainDb', '-4');
        await new Promise((r) => setTimeout(r, 300));
        const list = document.getElementById('preset-list'); list.value = 'shipped:podcast';
        list.dispatchEvent(new Event('change'));
        await new Promise((r) => setTimeout(r, 600));`);
      await browser.run("window.scrollTo(0, 0); document.getElementById('notice').hidden = true;");
      await eventually(() => browser.run('return window.vorlundPanel.lastMeters.inputPeakDb > -15'), 'a loud phase');
      fs.mkdirSync(path.dirname(options.screenshot), { recursive: true });
      await browser.screenshot(options.screenshot);
      check(true, `screenshot written to ${options.screenshot}`);
    }
  }
} finally {
  if (browser) await browser.quit();
  panel?.child.kill('SIGKILL');
  stream?.kill('SIGKILL');
  fs.rmSync(root, { recursive: true, force: true });
}
