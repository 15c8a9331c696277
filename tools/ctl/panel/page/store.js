// What the page knows: the field and meter tables, the record in force and the last state, and
// the one way a change goes out. Changes go one request at a time; a newer value of a field
// replaces a waiting one; the answer carries the record as the effect will use it.
import { call, Unreachable } from './api.js';
import { notice } from './dom.js';

export const panel = { fields: [], meters: [], record: {}, controls: new Map(), state: null,
                       lastMeters: null, meterEvents: 0, online: true };
window.vorlundPanel = panel;  // for people poking around with the browser's console

const stateListeners = [];
const lostListeners = [];
export const onState = (listener) => stateListeners.push(listener);
export const onLost = (listener) => lostListeners.push(listener);

export function applyState(state) {
  panel.state = state;
  panel.record = state.record;
  // Changes still on their way are what the user sees; the next answer carries them.
  for (const [name, value] of pending) panel.record[name] = value;
  for (const listener of stateListeners) listener(state);
}

// A failed request: a program that has gone is the connection's business, anything else is shown.
export function failed(error) {
  if (error instanceof Unreachable) for (const listener of lostListeners) listener();
  else notice(error.message, true);
}

export const fieldNamed = (name) => panel.fields.find((f) => f.name === name);

const pending = new Map();
let sending = false;

export function change(name, value) {
  if (!panel.online) return;
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
    if (!(error instanceof Unreachable)) refresh();
  } finally {
    sending = false;
    if (pending.size) flush();
  }
}

export async function refresh() {
  try { applyState(await call('/api/state')); } catch (error) { failed(error); }
}

// Runs a request whose answer is a state, showing a refusal.
export async function act(path, body) {
  try {
    applyState(await call(path, body));
    return true;
  } catch (error) {
    failed(error);
    return false;
  }
}
