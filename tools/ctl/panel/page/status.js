// The header's status in plain words: "Live · 48 kHz mono · 12.1 ms".
import { $ } from './dom.js';

const words = { live: 'Live', stale: 'Stalled', stopped: 'Stopped', none: 'No stream' };

export function showStream(stream) {
  const pill = $('stream-pill');
  const state = stream.stream || 'none';
  pill.textContent = words[state] ?? state;
  pill.className = 'pill ' + state;
  // The long sentence only when something is wrong; a live stream says enough in its facts.
  $('stream-sentence').textContent = state === 'live' ? '' : stream.sentence || '';
  pill.title = stream.sentence || '';
  const facts = [];
  if (stream.sampleRate > 0) {
    const channels = stream.channels === 1 ? 'mono' : stream.channels === 2 ? 'stereo' : `${stream.channels} channels`;
    facts.push(`${stream.sampleRate / 1000} kHz ${channels}`);
  }
  if (typeof stream.latencyMs === 'number') facts.push(`${stream.latencyMs.toFixed(1)} ms`);
  $('stream-facts').textContent = facts.length ? '· ' + facts.join(' · ') : '';
}

// Where the record in force comes from, as a person would put it.
export function sourceText(source) {
  if (source.startsWith('shared.bin')) return 'in force on the running microphone';
  if (source.startsWith('params.bin')) return 'saved; the microphone uses them when it starts';
  return 'factory settings';
}
