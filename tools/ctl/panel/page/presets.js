// Presets: the list opens on the preset in force (or "custom"); a preview shows what applying
// one would change, in rounded values with units; apply, save the record in force, delete.
import { call } from './api.js';
import { $, element, notice } from './dom.js';
import { display, parse } from './numbers.js';
import { act, failed, fieldNamed, panel } from './store.js';

const custom = 'custom';
const presetKey = (p) => (p.user ? 'user:' : 'shipped:') + p.name;

function selectedPreset() {
  const key = $('preset-list').value;
  return panel.state?.presets.find((p) => presetKey(p) === key);
}

let shownCurrent = null;

export function showPresets(presets) {
  const list = $('preset-list');
  const current = presets.find((p) => p.current);
  const currentKey = current ? presetKey(current) : custom;
  // The list follows the record in force, unless the user picked another to look at.
  const keep = list.value && list.value !== shownCurrent ? list.value : currentKey;
  shownCurrent = currentKey;
  list.replaceChildren();
  if (!current) list.append(element('option', { value: custom, text: 'custom (no preset)' }));
  const shipped = element('optgroup', { label: 'Shipped' });
  const user = element('optgroup', { label: 'Your presets' });
  for (const p of presets) {
    (p.user ? user : shipped).append(element('option', { value: presetKey(p), text: p.name + (p.current ? '  (in force)' : '') }));
  }
  if (shipped.children.length) list.append(shipped);
  if (user.children.length) list.append(user);
  list.value = [...list.options].some((o) => o.value === keep) ? keep : currentKey;
  previewPreset();
}

// A preview's value as the controls show it.
function valueText(name, text) {
  const field = fieldNamed(name);
  if (!field) return text;
  const value = parse(field, text);
  return value === null ? text : display(field, value);
}

// Answers may come back out of order; only the newest preview is shown.
let previewSerial = 0;

export async function previewPreset() {
  const serial = ++previewSerial;
  const preset = selectedPreset();
  $('preset-delete').disabled = !preset || !preset.user || !panel.online;
  $('preset-apply').disabled = !preset || !panel.online;
  $('preset-description').textContent = preset ? preset.description : 'The settings in force match no preset.';
  const box = $('preset-preview');
  if (!preset) { box.replaceChildren(); return; }
  try {
    const preview = await call(`/api/preview?name=${encodeURIComponent(preset.name)}&user=${preset.user ? 1 : 0}`);
    if (serial !== previewSerial) return;
    if (!preview.changes.length) { box.replaceChildren(element('span', { className: 'sub', text: 'the settings in force already' })); return; }
    const table = element('table');
    for (const c of preview.changes) {
      const field = fieldNamed(c.name);
      table.append(element('tr', {}, element('td', { text: field ? field.label : c.name, title: c.name }),
                           element('td', { text: valueText(c.name, c.before) }), element('td', { text: '→' }),
                           element('td', { className: 'to', text: valueText(c.name, c.after) })));
    }
    box.replaceChildren(table);
  } catch (error) { failed(error); }
}

export function wirePresets() {
  $('preset-list').addEventListener('change', previewPreset);
  $('preset-apply').addEventListener('click', async () => {
    const p = selectedPreset();
    if (p && await act('/api/preset', { name: p.name, user: p.user })) notice(`preset ${p.name} in force`);
  });
  $('preset-delete').addEventListener('click', () => {
    const p = selectedPreset();
    if (p?.user) act('/api/preset/delete', { name: p.name });
  });
  $('preset-save').addEventListener('submit', async (event) => {
    event.preventDefault();
    const name = $('preset-name').value.trim();
    if (!await act('/api/preset/save', { name, description: $('preset-text').value.trim() })) return;
    $('preset-name').value = '';
    $('preset-text').value = '';
    $('preset-list').value = 'user:' + name;
    previewPreset();
  });
}
