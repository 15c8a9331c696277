// The link to vorlund-ctl. When the panel's program is gone, every control is disabled and a
// banner in view says so; the page asks again every second and comes back by itself, as the
// restarted program keeps its address and key.
import { call, keyedEvents } from './api.js';
import { $ } from './dom.js';
import { applyState, onLost, panel } from './store.js';

const controls = () => document.querySelectorAll(
    'header button, main input, main select, main button, main textarea');

function setOnline(online) {
  panel.online = online;
  document.body.classList.toggle('offline', !online);
  $('offline').hidden = online;
  for (const control of controls()) {
    if (!online) {
      if (!control.disabled) control.dataset.offline = '1';
      control.disabled = true;
    } else if (control.dataset.offline) {
      delete control.dataset.offline;
      control.disabled = false;
    }
  }
  for (const handle of document.querySelectorAll('.handle')) handle.setAttribute('tabindex', online ? '0' : '-1');
  $('stream-pill').textContent = online ? $('stream-pill').textContent : 'offline';
  if (!online) $('stream-pill').className = 'pill stopped';
}

let lastEvent = 0;
let checking = false;

// Asks for the state: an answer means connected, none means the program is gone.
async function check() {
  if (checking) return;
  checking = true;
  try {
    const state = await call('/api/state');
    if (!panel.online) {
      setOnline(true);
      applyState(state);
    }
  } catch {
    if (panel.online) setOnline(false);
  } finally {
    checking = false;
  }
}

export function connect(onMeters) {
  keyedEvents('/api/meters', (event) => {
    lastEvent = Date.now();
    onMeters(event);
  }, check);
  onLost(check);
  setInterval(() => {
    // Meters come 20 times a second; a silence or a lost link means asking.
    if (!panel.online || Date.now() - lastEvent > 1500) check();
  }, 1000);
}
