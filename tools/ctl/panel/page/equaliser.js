// The equaliser plot: the server's response curve, and a handle per enabled band to drag
// (sideways for frequency, up and down for gain, the wheel for Q). A focused handle takes the
// same from the arrow keys (Page Up/Down for Q). Changes go through the same path as every
// other control, and the curve follows the answer.
import { $, element } from './dom.js';
import { display, snap, stepFrom } from './numbers.js';
import { change, fieldNamed, panel } from './store.js';

const plot = { width: 640, height: 260, left: 40, right: 12, top: 12, bottom: 24, lowHz: 20, highHz: 20000 };
const w = plot.width - plot.left - plot.right;
const h = plot.height - plot.top - plot.bottom;
const span = Math.log(plot.highHz / plot.lowHz);
let range = 12;
const x = (f) => plot.left + w * Math.log(f / plot.lowHz) / span;
const y = (db) => plot.top + h * (range - Math.max(-range, Math.min(range, db))) / (2 * range);
const hzAt = (px) => plot.lowHz * Math.exp(span * (px - plot.left) / w);
const dbAt = (py) => range - 2 * range * (py - plot.top) / h;

const hasGain = (type) => type <= 2;  // peaking and the shelves
const bandKey = (band, member) => `eqBands[${band}].${member}`;
let dragging = null;  // the band being dragged, whose handle ignores the server's echo

function band(index) {
  const value = (member) => panel.record[bandKey(index, member)];
  return { enabled: value('enabled'), type: value('type'), freq: value('freqHz'), gain: value('gainDb'), q: value('q') };
}

function setBand(index, member, value) {
  const field = fieldNamed(bandKey(index, member));
  const snapped = snap(field, value);
  if (snapped === panel.record[field.name]) return;
  panel.record[field.name] = snapped;
  change(field.name, snapped);
}

function placeHandle(handle, index) {
  const b = band(index);
  handle.setAttribute('cx', x(b.freq).toFixed(1));
  handle.setAttribute('cy', y(hasGain(b.type) ? b.gain : 0).toFixed(1));
  const text = `${display(fieldNamed(bandKey(index, 'freqHz')), b.freq)}` +
               (hasGain(b.type) ? `, ${display(fieldNamed(bandKey(index, 'gainDb')), b.gain)}` : '') +
               `, Q ${display(fieldNamed(bandKey(index, 'q')), b.q)}`;
  handle.setAttribute('aria-valuenow', String(b.freq));
  handle.setAttribute('aria-valuetext', text);
  handle.querySelector('title').textContent = `Band ${index + 1}: ${text}`;
}

function pointAt(svg, event) {
  const point = new DOMPoint(event.clientX, event.clientY).matrixTransform(svg.getScreenCTM().inverse());
  return { freq: hzAt(point.x), gain: dbAt(point.y) };
}

function makeHandle(svg, index) {
  const handle = element('svg:circle', { className: 'handle', r: 7, tabindex: '0', role: 'slider',
                                         'aria-label': `Band ${index + 1}`, 'aria-valuemin': '20',
                                         'aria-valuemax': '20000', 'data-band': String(index) },
                         element('svg:title'));
  handle.addEventListener('pointerdown', (event) => {
    if (!panel.online) return;
    event.preventDefault();
    handle.setPointerCapture(event.pointerId);
    handle.focus();
    dragging = index;
  });
  handle.addEventListener('pointermove', (event) => {
    if (dragging !== index) return;
    const at = pointAt(svg, event);
    setBand(index, 'freqHz', at.freq);
    if (hasGain(band(index).type)) setBand(index, 'gainDb', at.gain);
    placeHandle(handle, index);
  });
  const release = () => { dragging = null; };
  handle.addEventListener('pointerup', release);
  handle.addEventListener('pointercancel', release);
  handle.addEventListener('wheel', (event) => {
    if (!panel.online) return;
    event.preventDefault();
    const q = fieldNamed(bandKey(index, 'q'));
    setBand(index, 'q', stepFrom(q, band(index).q, event.deltaY < 0 ? 1 : -1));
    placeHandle(handle, index);
  }, { passive: false });
  handle.addEventListener('keydown', (event) => {
    if (!panel.online) return;
    const b = band(index);
    const step = (member, value, direction) => setBand(index, member, stepFrom(fieldNamed(bandKey(index, member)), value, direction));
    const keys = {
      ArrowRight: () => step('freqHz', b.freq, 1), ArrowLeft: () => step('freqHz', b.freq, -1),
      ArrowUp: () => hasGain(b.type) && step('gainDb', b.gain, 1),
      ArrowDown: () => hasGain(b.type) && step('gainDb', b.gain, -1),
      PageUp: () => step('q', b.q, 1), PageDown: () => step('q', b.q, -1),
    };
    if (!keys[event.key]) return;
    event.preventDefault();
    keys[event.key]();
    placeHandle(handle, index);
  });
  return handle;
}

export function buildPlot() {
  const svg = $('eq-plot');
  svg.replaceChildren(element('svg:g', { id: 'eq-drawing' }), element('svg:g', { id: 'eq-handles' }));
}

export function drawResponse(response) {
  const svg = $('eq-plot');
  const drawing = $('eq-drawing');
  const points = response.points;
  const peak = Math.max(12, ...points.map((p) => Math.abs(p[1])));
  range = Math.min(60, Math.ceil(peak / 6) * 6);
  svg.dataset.range = range;
  const parts = [];
  for (const f of [20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000]) {
    parts.push(element('svg:line', { x1: x(f), x2: x(f), y1: plot.top, y2: plot.top + h, className: 'grid' }));
    parts.push(element('svg:text', { x: x(f), y: plot.height - 8, 'text-anchor': 'middle', className: 'label',
                                     text: f >= 1000 ? `${f / 1000}k` : String(f) }));
  }
  const step = range > 24 ? 12 : 6;
  for (let db = -range; db <= range; db += step) {
    parts.push(element('svg:line', { x1: plot.left, x2: plot.left + w, y1: y(db), y2: y(db),
                                     className: db === 0 ? 'zero' : 'grid' }));
    parts.push(element('svg:text', { x: plot.left - 6, y: y(db) + 3, 'text-anchor': 'end', className: 'label',
                                     text: db > 0 ? `+${db}` : String(db) }));
  }
  const line = points.map((p, i) => `${i ? 'L' : 'M'}${x(p[0]).toFixed(2)},${y(p[1]).toFixed(2)}`).join('');
  parts.push(element('svg:path', { d: `${line}L${x(plot.highHz)},${y(0)}L${x(plot.lowHz)},${y(0)}Z`, className: 'area' }));
  parts.push(element('svg:path', { d: line, className: 'curve', id: 'eq-curve' }));
  drawing.replaceChildren(...parts);
  $('eq-rate').textContent = `at ${response.sampleRate / 1000} kHz, as the effect computes it`;
  drawHandles(svg);
}

// Handles stay the same elements across redraws, so a drag in progress keeps its pointer.
function drawHandles(svg) {
  const group = $('eq-handles');
  for (let index = 0; bandKey(index, 'enabled') in panel.record; ++index) {
    let handle = group.querySelector(`[data-band="${index}"]`);
    if (!band(index).enabled) { handle?.remove(); continue; }
    if (!handle) {
      handle = makeHandle(svg, index);
      const next = [...group.children].find((c) => Number(c.dataset.band) > index);
      group.insertBefore(handle, next ?? null);
    }
    handle.setAttribute('tabindex', panel.online ? '0' : '-1');
    if (dragging !== index) placeHandle(handle, index);
  }
}
