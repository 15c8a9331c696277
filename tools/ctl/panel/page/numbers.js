// Numbers as people read and type them, one way per field, from the field table's unit and
// range: how a value shows, how typed text reads back, the grid a value snaps to and the step
// one arrow key makes. Every place that shows or reads a field's value goes through here, so
// the text shown always parses back to the value in force.

// Frequencies, and times and ratios whose range spans decades, move by a ratio; others by a
// fixed amount.
function isLogarithmic(field) {
  if (field.kind !== 'float' || field.minimum <= 0) return false;
  return field.unit === 'Hz' ||
         ((field.unit === 'ms' || field.unit === '') && field.maximum / field.minimum >= 10);
}

// The finest difference worth showing at this value.
function resolution(field, value) {
  if (field.kind !== 'float') return 1;
  const span = field.maximum - field.minimum;
  if (field.unit === 'Hz') return 1;
  if (field.unit === 'ms') return Math.abs(value) < 10 ? 0.1 : 1;
  if (field.unit === 'dB' || field.unit === 'dBFS') return 0.1;
  if (isLogarithmic(field)) return Math.abs(value) < 1 ? 0.01 : 0.1;
  return span <= 2 ? 0.01 : 0.1;
}

const decimalsOf = (step) => Math.max(0, -Math.floor(Math.log10(step) + 1e-9));

// The value rounded to what is shown, within the field's range.
export function snap(field, value) {
  const step = resolution(field, value);
  const rounded = Number((Math.round(value / step) * step).toFixed(decimalsOf(step)));
  return Math.min(field.maximum, Math.max(field.minimum, rounded));
}

// The value as text without unit: "6500", "0.35", "-22.5". Never drops a whole number's zeros.
export function numberText(field, value) {
  if (value === null || value === undefined || Number.isNaN(value)) return '–';
  const text = value.toFixed(decimalsOf(resolution(field, value)));
  const trimmed = text.includes('.') ? text.replace(/0+$/, '').replace(/\.$/, '') : text;
  return trimmed === '-0' ? '0' : trimmed;
}

// A choice's name in words: "lowShelf" as "low shelf", "12dBPerOctave" as "12 dB per octave".
export function choiceText(name) {
  return name.replace(/(\d)([A-Za-z])/g, '$1 $2').replace(/([A-Za-z])(?=[A-Z][a-z])/g, '$1 ')
             .split(' ').map((w) => (w === 'dB' || w === 'Hz' ? w : w.toLowerCase())).join(' ');
}

// The value as shown beside a control: "6500 Hz", "on", "low shelf".
export function display(field, value) {
  if (field.kind === 'flag') return value ? 'on' : 'off';
  const label = field.labels.find((l) => l.value === value);
  if (label) return choiceText(label.name);
  return numberText(field, value) + (field.unit ? ' ' + field.unit : '');
}

// Typed or shown text back to a value (unit and spaces allowed), or null when it is no number.
export function parse(field, text) {
  if (field.kind === 'flag') return /^(on|1|true)$/i.test(text.trim()) ? 1 : 0;
  const typed = text.trim().toLowerCase();
  const label = field.labels.find((l) => l.name.toLowerCase() === typed || choiceText(l.name).toLowerCase() === typed);
  if (label) return label.value;
  const value = Number.parseFloat(String(text).replace(',', '.'));
  return Number.isFinite(value) ? value : null;
}

// The value one step up (direction 1) or down (-1): always a different value as shown, unless
// at the end of the range. `big` makes ten steps (Page Up/Down).
export function stepFrom(field, value, direction, big = false) {
  let next = value;
  for (let i = 0; i < (big ? 10 : 1); ++i) {
    let candidate;
    if (isLogarithmic(field)) {
      const ratio = field.unit === 'Hz' ? Math.pow(2, 1 / 12) : 1.05;
      candidate = snap(field, direction > 0 ? next * ratio : next / ratio);
    } else {
      const step = field.kind === 'float' && field.maximum - field.minimum > 2 &&
                   (field.unit === 'dB' || field.unit === 'dBFS') ? 0.5 : resolution(field, next);
      candidate = snap(field, next + direction * step);
    }
    if (candidate === next) candidate = snap(field, next + direction * resolution(field, next));
    next = candidate;
  }
  return next;
}

// A slider position 0..1000 for a value and back: linear, or by ratio for logarithmic fields.
export function sliderScale(field) {
  if (isLogarithmic(field)) {
    const ratio = Math.log(field.maximum / field.minimum);
    return { toPosition: (v) => Math.round(1000 * Math.log(v / field.minimum) / ratio),
             toValue: (p) => snap(field, field.minimum * Math.exp(ratio * p / 1000)) };
  }
  const span = field.maximum - field.minimum;
  return { toPosition: (v) => Math.round(1000 * (v - field.minimum) / span),
           toValue: (p) => snap(field, field.minimum + span * p / 1000) };
}
