// The meters: bars on fixed scales, fed by the server's events 20 times a second.
import { $, element } from './dom.js';
import { panel } from './store.js';
import { showStream } from './status.js';

const scales = {
  level: { from: -60, to: 0, ticks: [-60, -48, -36, -24, -12, 0], unit: 'dB' },
  reduction: { from: 0, to: -30, ticks: [0, -6, -12, -18, -24, -30], unit: 'dB' },
  gain: { from: -30, to: 30, ticks: [-30, -15, 0, 15, 30], unit: 'dB', centred: true },
  load: { from: 0, to: 1, ticks: [0, 0.25, 0.5, 0.75, 1], unit: '%' },
};

function tickText(scale, t) { return scale.unit === '%' ? Math.round(t * 100) + '%' : String(t); }

export function buildMeters() {
  const root = $('meters');
  const groups = [['Levels (dBFS)', ['level']], ['Gain by stage (dB)', ['reduction', 'gain']], ['Processing', ['load']]];
  for (const [title, kinds] of groups) {
    const group = element('div', { className: 'meter-group' }, element('h3', { text: title }));
    let lastScale = null;
    for (const meter of panel.meters.filter((m) => kinds.includes(m.scale))) {
      const scale = scales[meter.scale];
      if (meter.scale !== lastScale) {
        const ticks = element('div', { className: 'ticks', 'aria-hidden': 'true' });
        for (const t of scale.ticks) {
          // Positions through the style object: the page's policy forbids style attributes.
          const tick = element('span', { text: tickText(scale, t) });
          tick.style.left = `${100 * (t - scale.from) / (scale.to - scale.from)}%`;
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

export function showMeters(event) {
  panel.lastMeters = event;
  panel.meterEvents += 1;
  if (panel.online) showStream(event);
  $('voice').classList.toggle('on', !!event.voiceActive);
  for (const meter of panel.meters) {
    const scale = scales[meter.scale];
    const raw = event[meter.key];
    const v = raw === null || raw === undefined ? scale.from : raw;
    const at = Math.min(Math.max((v - scale.from) / (scale.to - scale.from), 0), 1);
    if (scale.centred) {
      meter.fill.style.left = `${100 * Math.min(0.5, at)}%`;
      meter.fill.style.width = `${100 * Math.abs(at - 0.5)}%`;
    } else {
      meter.fill.style.width = `${100 * at}%`;
    }
    meter.fill.classList.toggle('hot', meter.scale === 'level' && v > -3);
    meter.value.textContent = raw === null || raw === undefined ? '–'
      : scale.unit === '%' ? `${Math.round(raw * 100)} %` : (Math.abs(raw) < 0.05 ? 0 : raw).toFixed(1);
  }
}
