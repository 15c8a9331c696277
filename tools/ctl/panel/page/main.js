// The Vorlund control panel's page. Everything it shows comes from vorlund-ctl: the field and
// meter tables (/api/fields), the record in force with the stream, the equaliser curve and the
// presets (/api/state, and the answer to every change), and the meters as server-sent events
// (/api/meters). Each module here has one job; this one puts them together.
import { call, panelKey } from './api.js';
import { connect } from './connection.js';
import { buildStages, showRecord } from './controls.js';
import { $, notice } from './dom.js';
import { buildPlot, drawResponse } from './equaliser.js';
import { buildMeters, showMeters } from './meters.js';
import { showPresets, wirePresets } from './presets.js';
import { showStream, sourceText } from './status.js';
import { act, change, failed, onState, panel, refresh } from './store.js';

onState((state) => {
  showRecord(state.record);
  $('action-mute').setAttribute('aria-pressed', String(!!state.record.mute));
  $('action-bypass').setAttribute('aria-pressed', String(!!state.record.bypass));
  $('record-source').textContent = sourceText(state.source);
  $('record-source').title = state.source;
  $('data-folder').textContent = 'data folder: ' + state.dataFolder;
  if (state.problem) notice(state.problem, true);
  else if (state.notices.length) notice(state.notices.join('; '));
  if (state.stream) showStream(state.stream);
  drawResponse(state.response);
  showPresets(state.presets);
  $('preset-save').hidden = !state.userPresets;
});

async function start() {
  panelKey();  // takes the key out of the address bar before anything else
  panel.call = call;  // for the browser's console and the page's tests
  try {
    const tables = await call('/api/fields');
    panel.fields = tables.fields;
    panel.meters = tables.meters;
  } catch (error) { failed(error); return; }
  buildMeters();
  buildStages();
  buildPlot();
  await refresh();
  connect(showMeters);

  $('action-mute').addEventListener('click', () => change('mute', !panel.record.mute));
  $('action-bypass').addEventListener('click', () => change('bypass', !panel.record.bypass));
  $('action-relearn').addEventListener('click', () => act('/api/relearn', {}));
  wirePresets();
}

start();
