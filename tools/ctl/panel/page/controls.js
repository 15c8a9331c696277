// A control per field of the field table, grouped by stage in the order people reach for them.
// A control never takes the server's echo while the user is moving it, by pointer or keys;
// the value in force shows once they stop.
import { $, element } from './dom.js';
import { choiceText, display, numberText, parse, sliderScale, snap, stepFrom } from './numbers.js';
import { change, panel } from './store.js';

// Noise suppression and the equaliser first; the groups few people need start folded.
const stageOrder = ['noiseSuppressor', 'equaliser', 'levels', 'agc', 'compressor', 'gate', 'cleanUp',
                    'deEsser', 'plosive', 'limiter', 'voiceEffect'];
const folded = new Set(['cleanUp', 'deEsser', 'plosive', 'limiter', 'voiceEffect']);

const keySteps = { ArrowRight: 1, ArrowUp: 1, ArrowLeft: -1, ArrowDown: -1, PageUp: 10, PageDown: -10 };

// Keeps the server's echo off a control for a moment after the user's last touch.
function userGuard(input, release) {
  let until = 0;
  let pointer = false;
  let timer = 0;
  const touched = (ms) => {
    until = Math.max(until, Date.now() + ms);
    clearTimeout(timer);
    timer = setTimeout(() => { if (!busy()) release(); }, ms + 20);
  };
  const busy = () => pointer || Date.now() < until;
  input.addEventListener('pointerdown', () => { pointer = true; });
  for (const end of ['pointerup', 'pointercancel']) {
    input.addEventListener(end, () => { pointer = false; touched(400); });
  }
  return { busy, touched };
}

// Arrow keys move one visible step from the value shown; Home and End go to the ends.
export function stepKeys(field, current, event) {
  if (event.key === 'Home') return field.minimum;
  if (event.key === 'End') return field.maximum;
  const steps = keySteps[event.key];
  if (!steps) return null;
  return stepFrom(field, current, Math.sign(steps), Math.abs(steps) > 1);
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
    for (const label of field.labels) input.append(element('option', { value: label.name, text: choiceText(label.name) }));
    input.addEventListener('change', () => change(field.name, input.value));
    set = (v) => {
      const label = field.labels.find((l) => l.value === v);
      if (label) input.value = label.name;
    };
  } else if (compact) {
    input = element('input', { type: 'text', inputmode: 'decimal', className: 'number' });
    const guard = userGuard(input, () => control.set(panel.record[field.name]));
    input.addEventListener('change', () => {
      const value = parse(field, input.value);
      if (value !== null) change(field.name, snap(field, value));
    });
    input.addEventListener('keydown', (event) => {
      if (!['ArrowUp', 'ArrowDown', 'PageUp', 'PageDown'].includes(event.key)) return;
      const value = stepKeys(field, panel.record[field.name], event);
      event.preventDefault();
      guard.touched(600);
      input.value = numberText(field, value);
      panel.record[field.name] = value;
      change(field.name, value);
    });
    input.addEventListener('input', () => guard.touched(1500));
    set = (v) => {
      if (guard.busy() || document.activeElement === input) return false;
      input.value = numberText(field, v);
      return true;
    };
    input.addEventListener('blur', () => set(panel.record[field.name]));
  } else {
    const scale = sliderScale(field);
    input = element('input', { type: 'range', min: 0, max: 1000, step: 1 });
    const guard = userGuard(input, () => control.set(panel.record[field.name]));
    const send = (value) => {
      shown.textContent = display(field, value);
      panel.record[field.name] = value;
      change(field.name, value);
    };
    input.addEventListener('input', () => { guard.touched(600); send(scale.toValue(Number(input.value))); });
    input.addEventListener('keydown', (event) => {
      const value = stepKeys(field, panel.record[field.name], event);
      if (value === null) return;
      event.preventDefault();
      guard.touched(600);
      input.value = scale.toPosition(value);
      send(value);
    });
    set = (v) => {
      if (guard.busy()) return false;
      input.value = scale.toPosition(v);
      return true;
    };
  }
  input.id = 'field-' + field.name;
  input.dataset.field = field.name;
  const control = {
    field, input, shown,
    set(v) { if (set(v) !== false) shown.textContent = display(field, v); },
  };
  panel.controls.set(field.name, control);
  return control;
}

function fieldRow(field) {
  const control = makeControl(field, false);
  const row = element('div', { className: 'field' });
  const label = element('label', { for: control.input.id }, field.label + ' ',
                        element('code', { className: 'code', text: field.name }));
  const help = element('span', { className: 'help', id: 'help-' + field.name, text: field.meaning });
  control.input.setAttribute('aria-describedby', help.id);
  if (field.kind === 'flag') {
    row.append(label, element('span', { className: 'control' }, control.input));
  } else {
    row.append(label, control.shown, element('span', { className: 'control' }, control.input));
    if (!field.labels.length)
      help.textContent += ` (${display(field, field.minimum)} to ${display(field, field.maximum)})`;
  }
  row.append(help);
  return row;
}

// The equaliser's bands: a row per band; on a narrow screen the table scrolls inside its card.
function bandTable(bandFields) {
  const members = [];
  const bands = new Map();
  for (const field of bandFields) {
    const [, band, member] = field.name.match(/^eqBands\[(\d+)\]\.(\w+)$/);
    if (!members.includes(member)) members.push(member);
    if (!bands.has(band)) bands.set(band, []);
    bands.get(band).push(field);
  }
  const headings = { enabled: 'On', type: 'Shape', freqHz: 'Frequency (Hz)', gainDb: 'Gain (dB)', q: 'Q' };
  const head = element('tr', {}, element('th', { text: 'Band' }));
  for (const member of members) head.append(element('th', { scope: 'col', text: headings[member] ?? member }));
  const table = element('table', { className: 'bands' }, element('thead', {}, head));
  const body = element('tbody');
  for (const [band, fields] of bands) {
    const row = element('tr', {}, element('th', { scope: 'row', text: String(Number(band) + 1) }));
    for (const field of fields) {
      const control = makeControl(field, true);
      control.input.setAttribute('aria-label', field.label);
      control.input.title = `${field.label} (${field.name}): ${field.meaning}`;
      row.append(element('td', {}, control.input));
    }
    body.append(row);
  }
  table.append(body);
  return element('div', { className: 'band-scroll', tabindex: '0', role: 'region', 'aria-label': 'Equaliser bands' }, table);
}

export function buildStages() {
  const stages = $('stages');
  const groups = new Map();
  for (const field of panel.fields) {
    if (!groups.has(field.stage)) groups.set(field.stage, { title: field.stageTitle, fields: [] });
    groups.get(field.stage).fields.push(field);
  }
  const order = [...groups.keys()].sort((a, b) => {
    const rank = (s) => (stageOrder.indexOf(s) + stageOrder.length + 1) % (stageOrder.length + 1);
    return rank(a) - rank(b);
  });
  for (const stage of order) {
    const group = groups.get(stage);
    const box = element('details', { className: 'stage', id: 'stage-' + stage },
                        element('summary', {}, element('h3', { text: group.title })));
    if (!folded.has(stage)) box.open = true;
    const bandFields = group.fields.filter((f) => f.name.startsWith('eqBands['));
    for (const field of group.fields) if (!bandFields.includes(field)) box.append(fieldRow(field));
    if (bandFields.length) box.append(bandTable(bandFields));
    stages.append(box);
  }
}

export function showRecord(record) {
  for (const [name, control] of panel.controls) {
    if (name in record) control.set(record[name]);
  }
}
