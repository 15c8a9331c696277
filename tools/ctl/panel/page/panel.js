// The Vorlund control panel's page. Everything it shows comes from vorlund-ctl: the field
// and meter tables (/api/fields), the record in force with the stream, the equaliser curve and
// the presets (/api/state, and the answer to every change), and the meters as server-sent
// events (/api/meters). Changes go out as small JSON posts; the answer carries the record as
// the effect will use it, so every control shows the value in force, clamped where needed.
'use strict';

const panel = { fields: [], meters: [], record: {}, controls: new Map(), state: null,
                lastMeters: null, meterEvents: 0 };
window.vorlundPanel = panel;  // for people poking around with the browser's console

const $ = (id) => document.getElementById(id);
const svgNs = 'http://www.w3.org/2000/svg';

function element(tag, attributes = {}, ...children) {
  const node = tag.startsWith('svg:') ? document.createElementNS(svgNs, tag.slice(4))
                                      : document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'text') node.textContent = value;
    else if (name === 'className') node.setAttribute('class', value);
    else node.setAttribute(name, value);
  }
  for (const child of children) node.append(child);
  return node;
}

// ---------- the panel's key
// vorlund-ctl hands the key over once in the address's fragment, which no browser sends to any
// server; the tab keeps it in sessionStorage (this origin only, port included) and sends it in a
// header with every API call. No cookie carries it: cookies ignore ports, so another local
// server would receive it.

const keyHeader = 'X-Vorlund-Key';

function panelKey() {
  const given = /[#&]key=([0-9a-f]+)/.exec(location.hash);
  if (given) {
    sessionStorage.setItem('vorlundKey', given[1]);
    history.replaceState(null, '', location.pathname);
  }
  return sessionStorage.getItem('vorlundKey') || '';
}

function keyedFetch(path, options = {}) {
  return fetch(path, { ...options, cache: 'no-store',
                       headers: { ...options.headers, [keyHeader]: panelKey() } });
}

// A GET, or a POST of `body` as JSON; resolves with the parsed answer, rejects with the
// server's reason.
async function call(path, body) {
  const options = body === undefined ? {} : {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) };
  const response = await keyedFetch(path, options);
  const text = await response.text();
  if (!response.ok) throw new Error(text.trim() || response.statusText);
  return JSON.parse(text);
}
panel.call = call;

// Server-sent events read through fetch, since EventSource cannot send the key's header. Calls
// onEvent with each event's parsed data; onLost when the stream ends or cannot start, then
// tries again every two seconds.
async function keyedEvents(path, onEvent, onLost) {
  for (;;) {
    try {
      const response = await keyedFetch(path);
      if (!response.ok) throw new Error(response.statusText);
      const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
      let rest = '';
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        rest += value;
        let end;
        while ((end = rest.indexOf('\n\n')) >= 0) {
          const data = rest.slice(0, end).split('\n').filter((l) => l.startsWith('data:'))
                           .map((l) => l.slice(5)).join('\n');
          rest = rest.slice(end + 2);
          if (data) onEvent(JSON.parse(data));
        }
      }
    } catch { /* reported below */ }
    onLost();
    await new Promise((resolve) => setTimeout(resolve, 2000));
  }
}

let noticeTimer = 0;
function notice(text, isError = false) {
  const box = $('notice');
  box.textContent = text;
  box.classList.toggle('error', isError);
  box.hidden = !text;
  clearTimeout(noticeTimer);
  if (text) noticeTimer = setTimeout(() => { box.hidden = true; }, isError ? 9000 : 5000);
}

function failed(error) { notice(error.message, true); }

// ---------- numbers as people read them

function formatNumber(value, field) {
  if (value === null || value === undefined) return '–';
  if (field && field.kind === 'int') return String(Math.round(value));
  const magnitude = Math.abs(value);
  const digits = magnitude >= 1000 ? 0 : magnitude >= 100 ? 1 : magnitude >= 10 ? 1 : 2;
  return value.toFixed(digits).replace(/\.?0+$/, '') || '0';
}

function shownValue(field, value) {
  if (field.kind === 'flag') return value ? 'on' : 'off';
  const label = field.labels.find((l) => l.value === value);
  if (label) return label.name;
  return formatNumber(value, field) + (field.unit ? ' ' + field.unit : '');
}

// ---------- changes, one request at a time; a newer value of a field replaces a waiting one

const pending = new Map();
let sending = false;

function change(name, value) {
  pending.set(name, value);
  if (!sending) flush();
}

async function flush() {
  if (pending.size === 0) return;
  const changes = Object.fromEntries(pending);
  pending.clear();
  sending = true;
  try {
    applyState(await call('/api/set', { changes }));
  } catch (error) {
    failed(error);
    refresh();
  } finally {
    sending = false;
    if (pending.size) flush();
  }
}

// ---------- controls from the field table

// A slider position 0..1000 for a value, and back; frequencies spanning decades move on a log scale.
function sliderScale(field) {
  const log = field.unit === 'Hz' && field.minimum > 0 && field.maximum / field.minimum >= 50;
  const span = field.maximum - field.minimum;
  if (log) {
    const ratio = Math.log(field.maximum / field.minimum);
    return { toPosition: (v) => Math.round(1000 * Math.log(v / field.minimum) / ratio),
             toValue: (p) => field.minimum * Math.exp(ratio * p / 1000) };
  }
  if (field.kind === 'int') return { toPosition: (v) => v, toValue: (p) => Number(p), integer: true };
  return { toPosition: (v) => Math.round(1000 * (v - field.minimum) / span),
           toValue: (p) => field.minimum + span * p / 1000 };
}

function roundForField(field, value) {
  const span = field.maximum - field.minimum;
  const step = span > 200 ? 1 : span > 20 ? 0.1 : span > 2 ? 0.01 : 0.001;
  return Math.round(value / step) * step;
}

function makeControl(field, compact) {
  const shown = element('span', { className: 'shown' });
  let input;
  let set;
  if (field.kind === 'flag') {
    input = element('input', { type: 'checkbox', className: 'switch' });
    input.addEventListener('change', () => change(field.name, input.checked));
    set = (v) => { input.checked = !!v; };
  } else if (field.labels.length) {
    input = element('select');
    for (const label of field.labels) input.append(element('option', { value: label.name, text: label.name }));
    input.addEventListener('change', () => change(field.name, input.value));
    set = (v) => {
      const label = field.labels.find((l) => l.value === v);
      if (label) input.value = label.name;
    };
  } else if (compact) {
    input = element('input', { type: 'number', min: field.minimum, max: field.maximum,
                               step: field.kind === 'int' ? 1 : 'any' });
    input.addEventListener('change', () => change(field.name, Number(input.value)));
    set = (v) => { if (document.activeElement !== input) input.value = formatNumber(v, field); };
  } else {
    const scale = sliderScale(field);
    input = element('input', { type: 'range' });
    if (scale.integer) { input.min = field.minimum; input.max = field.maximum; input.step = 1; }
    else { input.min = 0; input.max = 1000; input.step = 1; }
    let dragging = false;
    input.addEventListener('pointerdown', () => { dragging = true; });
    input.addEventListener('pointerup', () => { dragging = false; });
    const value = () => roundForField(field, scale.toValue(Number(input.value)));
    input.addEventListener('input', () => {
      shown.textContent = shownValue(field, value());
      change(field.name, value());
    });
    set = (v) => { if (!dragging) input.value = scale.toPosition(v); };
  }
  input.id = 'field-' + field.name;
  input.dataset.field = field.name;
  input.title = field.meaning;
  const control = {
    field, input, shown,
    set(v) { set(v); shown.textContent = shownValue(field, v); },
  };
  panel.controls.set(field.name, control);
  return control;
}

function fieldRow(field) {
  const control = makeControl(field, false);
  const row = element('div', { className: 'field' });
  const label = element('label', { for: control.input.id, text: field.name });
  if (field.kind === 'flag') {
    row.append(label, element('span', { className: 'control' }, control.input));
  } else {
    const range = field.labels.length ? '' : ` (${formatNumber(field.minimum, field)} to ${formatNumber(field.maximum, field)}${field.unit ? ' ' + field.unit : ''})`;
    row.append(label, control.shown, element('span', { className: 'control' }, control.input));
    control.input.title = field.meaning + range;
  }
  row.append(element('span', { className: 'help', text: field.meaning }));
  return row;
}

// The equaliser's bands as one table: a row per band, a column per member.
function bandTable(bandFields) {
  const members = [];
  const bands = new Map();
  for (const field of bandFields) {
    const [, band, member] = field.name.match(/^eqBands\[(\d+)\]\.(\w+)$/);
    if (!members.includes(member)) members.push(member);
    if (!bands.has(band)) bands.set(band, []);
    bands.get(band).push(field);
  }
  const head = element('tr', {}, element('th', { text: 'band' }));
  for (const member of members) {
    const sample = bandFields.find((f) => f.name.endsWith('.' + member));
    head.append(element('th', { text: member + (sample.unit ? ` (${sample.unit})` : ''), title: sample.meaning }));
  }
  const table = element('table', { className: 'bands' }, element('thead', {}, head));
  const body = element('tbody');
  for (const [band, fields] of bands) {
    const row = element('tr', {}, element('td', { text: String(Number(band) + 1) }));
    for (const field of fields) row.append(element('td', {}, makeControl(field, true).input));
    body.append(row);
  }
  table.append(body);
  return table;
}

function buildStages() {
  const stages = $('stages');
  const groups = new Map();
  for (const field of panel.fields) {
    if (!groups.has(field.stage)) groups.set(field.stage, { title: field.stageTitle, fields: [] });
    groups.get(field.stage).fields.push(field);
  }
  for (const [stage, group] of groups) {
    const box = element('section', { className: 'stage', id: 'stage-' + stage },
                        element('h3', { text: group.title }));
    const bandFields = group.fields.filter((f) => f.name.startsWith('eqBands['));
    for (const field of group.fields) if (!bandFields.includes(field)) box.append(fieldRow(field));
    if (bandFields.length) box.append(bandTable(bandFields));
    stages.append(box);
  }
}

// ---------- meters

const scales = {
  level: { from: -60, to: 0, ticks: [-60, -48, -36, -24, -12, 0], unit: 'dB' },
  reduction: { from: 0, to: -30, ticks: [0, -6, -12, -18, -24, -30], unit: 'dB' },
  gain: { from: -30, to: 30, ticks: [-30, -15, 0, 15, 30], unit: 'dB', centred: true },
  load: { from: 0, to: 1, ticks: [0, 0.25, 0.5, 0.75, 1], unit: '%' },
};

function tickText(scale, t) { return scale.unit === '%' ? Math.round(t * 100) + '%' : String(t); }

function buildMeters() {
  const root = $('meters');
  const groups = [['Levels (dBFS)', ['level']], ['Gain by stage (dB)', ['reduction', 'gain']], ['Processing', ['load']]];
  for (const [title, kinds] of groups) {
    const group = element('div', { className: 'meter-group' }, element('h3', { text: title }));
    let lastScale = null;
    for (const meter of panel.meters.filter((m) => kinds.includes(m.scale))) {
      const scale = scales[meter.scale];
      if (meter.scale !== lastScale) {
        const ticks = element('div', { className: 'ticks' });
        for (const t of scale.ticks) {
          const at = 100 * (t - scale.from) / (scale.to - scale.from);
          // Positions through the style object: the page's policy forbids style attributes.
          const tick = element('span', { text: tickText(scale, t) });
          tick.style.left = `${at}%`;
          ticks.append(tick);
        }
        group.append(element('div', { className: 'scale' }, element('span'), ticks, element('span')));
        lastScale = meter.scale;
      }
      const fill = element('div', { className: 'fill' });
      const value = element('span', { className: 'value', text: '–' });
      group.append(element('div', { className: 'meter', id: 'meter-' + meter.key },
                           element('span', { className: 'name', text: meter.label }),
                           element('div', { className: 'bar ' + meter.scale }, fill), value));
      meter.fill = fill;
      meter.value = value;
    }
    root.append(group);
  }
}

function showMeters(event) {
  panel.lastMeters = event;
  panel.meterEvents += 1;
  showStream(event);
  $('voice').classList.toggle('on', !!event.voiceActive);
  for (const meter of panel.meters) {
    const scale = scales[meter.scale];
    const raw = event[meter.key];
    const v = raw === null || raw === undefined ? scale.from : raw;
    const clamped = Math.min(Math.max((v - scale.from) / (scale.to - scale.from), 0), 1);
    if (scale.centred) {
      const centre = 0.5, at = clamped;
      meter.fill.style.left = `${100 * Math.min(centre, at)}%`;
      meter.fill.style.width = `${100 * Math.abs(at - centre)}%`;
    } else {
      meter.fill.style.width = `${100 * clamped}%`;
    }
    meter.fill.classList.toggle('hot', meter.scale === 'level' && v > -3);
    meter.value.textContent = raw === null || raw === undefined ? '–'
      : scale.unit === '%' ? `${Math.round(raw * 100)} %` : (Math.abs(raw) < 0.05 ? 0 : raw).toFixed(1);
  }
}

function showStream(stream) {
  const pill = $('stream-pill');
  const state = stream.stream || 'none';
  pill.textContent = state === 'none' ? 'no stream' : state;
  pill.className = 'pill ' + state;
  $('stream-sentence').textContent = stream.sentence || '';
  $('stream-sentence').title = stream.sentence || '';
  const facts = [];
  if (stream.sampleRate > 0) facts.push(`${stream.sampleRate} Hz`, `${stream.channels} ch`);
  if (typeof stream.latencyMs === 'number') facts.push(`latency ${stream.latencyMs.toFixed(1)} ms`);
  if (state === 'live' && typeof stream.processingLoad === 'number') facts.push(`load ${(stream.processingLoad * 100).toFixed(1)} %`);
  $('stream-facts').textContent = facts.join(' · ');
}

function startMeters() {
  keyedEvents('/api/meters', showMeters, () => {
    $('stream-pill').textContent = 'offline';
    $('stream-pill').className = 'pill stopped';
    $('stream-sentence').textContent = 'lost vorlund-ctl; is the panel still running?';
  });
}

// ---------- equaliser plot

const plot = { width: 640, height: 260, left: 40, right: 12, top: 12, bottom: 24, lowHz: 20, highHz: 20000 };

function drawResponse(response) {
  const svg = $('eq-plot');
  const points = response.points;
  const peak = Math.max(12, ...points.map((p) => Math.abs(p[1])));
  const range = Math.min(60, Math.ceil(peak / 6) * 6);
  const w = plot.width - plot.left - plot.right;
  const h = plot.height - plot.top - plot.bottom;
  const x = (f) => plot.left + w * Math.log(f / plot.lowHz) / Math.log(plot.highHz / plot.lowHz);
  const y = (db) => plot.top + h * (range - Math.max(-range, Math.min(range, db))) / (2 * range);
  svg.replaceChildren();
  svg.dataset.range = range;
  for (const f of [20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000]) {
    svg.append(element('svg:line', { x1: x(f), x2: x(f), y1: plot.top, y2: plot.top + h, className: 'grid' }));
    svg.append(element('svg:text', { x: x(f), y: plot.height - 8, 'text-anchor': 'middle', className: 'label',
                                     text: f >= 1000 ? `${f / 1000}k` : String(f) }));
  }
  const step = range > 24 ? 12 : 6;
  for (let db = -range; db <= range; db += step) {
    svg.append(element('svg:line', { x1: plot.left, x2: plot.left + w, y1: y(db), y2: y(db),
                                     className: db === 0 ? 'zero' : 'grid' }));
    svg.append(element('svg:text', { x: plot.left - 6, y: y(db) + 3, 'text-anchor': 'end', className: 'label',
                                     text: db > 0 ? `+${db}` : String(db) }));
  }
  const line = points.map((p, i) => `${i ? 'L' : 'M'}${x(p[0]).toFixed(2)},${y(p[1]).toFixed(2)}`).join('');
  svg.append(element('svg:path', { d: `${line}L${x(plot.highHz)},${y(0)}L${x(plot.lowHz)},${y(0)}Z`, className: 'area' }));
  svg.append(element('svg:path', { d: line, className: 'curve', id: 'eq-curve' }));
  $('eq-rate').textContent = `at ${response.sampleRate / 1000} kHz, as the effect computes it`;
}

// ---------- presets

function presetKey(p) { return (p.user ? 'user:' : 'shipped:') + p.name; }

function selectedPreset() {
  const key = $('preset-list').value;
  return panel.state && panel.state.presets.find((p) => presetKey(p) === key);
}

function showPresets(presets) {
  const list = $('preset-list');
  const keep = list.value;
  list.replaceChildren();
  const shipped = element('optgroup', { label: 'Shipped' });
  const user = element('optgroup', { label: 'Your presets' });
  for (const p of presets) {
    (p.user ? user : shipped).append(element('option', { value: presetKey(p), text: p.name + (p.current ? '  (in force)' : '') }));
  }
  if (shipped.children.length) list.append(shipped);
  if (user.children.length) list.append(user);
  if ([...list.options].some((o) => o.value === keep)) list.value = keep;
  previewPreset();
}

// Answers may come back out of order; only the newest preview is shown.
let previewSerial = 0;

async function previewPreset() {
  const serial = ++previewSerial;
  const preset = selectedPreset();
  $('preset-delete').disabled = !preset || !preset.user;
  $('preset-description').textContent = preset ? preset.description : '';
  const box = $('preset-preview');
  if (!preset) { box.replaceChildren(); return; }
  try {
    const preview = await call(`/api/preview?name=${encodeURIComponent(preset.name)}&user=${preset.user ? 1 : 0}`);
    if (serial !== previewSerial) return;
    if (!preview.changes.length) { box.replaceChildren(element('span', { className: 'sub', text: 'the record in force already' })); return; }
    const table = element('table');
    for (const c of preview.changes) {
      table.append(element('tr', {}, element('td', { text: c.name }), element('td', { text: c.before }),
                           element('td', { text: '→' }), element('td', { className: 'to', text: c.after })));
    }
    box.replaceChildren(table);
  } catch (error) { failed(error); }
}

// ---------- the state

function applyState(state) {
  panel.state = state;
  panel.record = state.record;
  for (const [name, control] of panel.controls) {
    if (name in state.record) control.set(state.record[name]);
  }
  $('action-mute').setAttribute('aria-pressed', String(!!state.record.mute));
  $('action-bypass').setAttribute('aria-pressed', String(!!state.record.bypass));
  $('record-source').textContent = 'in force: ' + state.source;
  $('data-folder').textContent = 'data folder: ' + state.dataFolder;
  if (state.problem) notice(state.problem, true);
  else if (state.notices.length) notice(state.notices.join('; '));
  if (state.stream) showStream(state.stream);
  drawResponse(state.response);
  showPresets(state.presets);
  $('preset-save').hidden = !state.userPresets;
}

async function refresh() {
  try { applyState(await call('/api/state')); } catch (error) { failed(error); }
}

async function start() {
  panelKey();  // takes the key out of the address bar before anything else
  try {
    const tables = await call('/api/fields');
    panel.fields = tables.fields;
    panel.meters = tables.meters;
  } catch (error) { failed(error); return; }
  buildMeters();
  buildStages();
  await refresh();
  startMeters();

  $('action-mute').addEventListener('click', () => change('mute', !panel.record.mute));
  $('action-bypass').addEventListener('click', () => change('bypass', !panel.record.bypass));
  $('action-relearn').addEventListener('click', async () => {
    try { applyState(await call('/api/relearn', {})); } catch (error) { failed(error); }
  });
  $('preset-list').addEventListener('change', previewPreset);
  $('preset-apply').addEventListener('click', async () => {
    const p = selectedPreset();
    if (!p) return;
    try {
      applyState(await call('/api/preset', { name: p.name, user: p.user }));
      notice(`preset ${p.name} in force`);
    } catch (error) { failed(error); }
  });
  $('preset-delete').addEventListener('click', async () => {
    const p = selectedPreset();
    if (!p || !p.user) return;
    try { applyState(await call('/api/preset/delete', { name: p.name })); } catch (error) { failed(error); }
  });
  $('preset-save').addEventListener('submit', async (event) => {
    event.preventDefault();
    const name = $('preset-name').value.trim();
    try {
      applyState(await call('/api/preset/save', { name, description: $('preset-text').value.trim() }));
      $('preset-name').value = '';
      $('preset-text').value = '';
      $('preset-list').value = 'user:' + name;
      previewPreset();
    } catch (error) { failed(error); }
  });
}

start();
