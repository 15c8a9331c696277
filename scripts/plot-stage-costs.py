#!/usr/bin/env python3
"""Draws the per-stage costs from a Google Benchmark JSON report of vorlund-bench as an SVG bar
chart: CPU nanoseconds per sample for each stage class alone, at 8000, 48000 and 384000 Hz
(per sample, so the three rates share one scale; times the rate it is the CPU time per
second of audio).

    python3 scripts/plot-stage-costs.py results.json docs/stage-costs.svg
"""
import json
import sys
from xml.sax.saxutils import escape

STAGES = [
    ("BM_DcBlocker", "DC blocker"),
    ("BM_HighPass4", "high-pass, 4th order"),
    ("BM_HumNotches", "hum notches (4)"),
    ("BM_NoiseSuppressor", "noise suppressor"),
    ("BM_LevelTracker", "level tracker"),
    ("BM_PlosiveSuppressor", "plosive suppressor"),
    ("BM_NoiseGate", "noise gate"),
    ("BM_Equalizer13", "equaliser, 10 bands + 3 tone"),
    ("BM_DeEsser", "de-esser"),
    ("BM_LoudnessAgc", "loudness AGC"),
    ("BM_Compressor", "compressor"),
    ("BM_Limiter", "look-ahead limiter"),
] + [("BM_VoiceEffect/{rate}/%d" % m, "voice effect, mode %d" % m) for m in range(1, 7)]
RATES = [(8000, "#9ecae1"), (48000, "#3182bd"), (384000, "#08306b")]
NANOSECONDS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
BLOCK_SECONDS = 0.01  # every benchmark iteration is one 10 ms block


def ns_per_sample(entry, rate):
    """CPU ns per sample from one benchmark entry (one iteration = one 10 ms block)."""
    ns = entry["cpu_time"] * NANOSECONDS[entry.get("time_unit", "ns")]
    return ns / (rate * BLOCK_SECONDS)


def main(report_path, svg_path):
    with open(report_path) as f:
        report = json.load(f)
    # The median of repetitions where the report has one, else the single run.
    by_name = {}
    for entry in report["benchmarks"]:
        name = entry.get("run_name", entry["name"])
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") == "median":
                by_name[name] = entry
        else:
            by_name.setdefault(name, entry)

    rows = []
    for key, label in STAGES:
        values = []
        for rate, _ in RATES:
            name = key.format(rate=rate) if "{rate}" in key else "%s/%d" % (key, rate)
            entry = by_name.get(name)
            values.append(ns_per_sample(entry, rate) if entry else None)
        rows.append((label, values))
    present = [v for _, values in rows for v in values if v is not None]
    if not present:
        sys.exit("no stage benchmarks in %s" % report_path)
    largest = max(present)

    label_width, bar_area, bar, gap, top = 210, 560, 9, 10, 60
    height = top + len(rows) * (len(RATES) * bar + gap) + 50
    width = label_width + bar_area + 90
    scale = bar_area / largest
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
           'font-family="sans-serif" font-size="11">' % (width, height),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="10" y="20" font-size="14" font-weight="bold">Cost of each stage alone: '
           'CPU nanoseconds per sample</text>',
           '<text x="10" y="38" fill="#555">10 ms blocks of generated speech over noise, one '
           'core, %s</text>' % escape(report.get("context", {}).get("vector code path", ""))]
    for i, (rate, colour) in enumerate(RATES):
        x = label_width + i * 130
        out.append('<rect x="%d" y="46" width="10" height="10" fill="%s"/>' % (x, colour))
        out.append('<text x="%d" y="55">%d Hz</text>' % (x + 14, rate))
    y = top
    for label, values in rows:
        out.append('<text x="%d" y="%d" text-anchor="end">%s</text>'
                   % (label_width - 8, y + len(RATES) * bar / 2 + 4, escape(label)))
        for (rate, colour), value in zip(RATES, values):
            if value is not None:
                length = max(1.0, value * scale)
                out.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"/>'
                           % (label_width, y, length, bar - 1, colour))
                out.append('<text x="%.1f" y="%d" font-size="9" fill="#333">%.3g</text>'
                           % (label_width + length + 4, y + bar - 2, value))
            y += bar
        y += gap
    axis_y = y + 4
    out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="#999"/>'
               % (label_width, top - 4, label_width, axis_y))
    for tick in range(0, int(largest) + 2, max(1, int(largest // 8) or 1)):
        x = label_width + tick * scale
        if x > label_width + bar_area + 1:
            break
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ccc"/>'
                   % (x, axis_y, x, axis_y + 4))
        out.append('<text x="%.1f" y="%d" text-anchor="middle" fill="#555">%d</text>'
                   % (x, axis_y + 16, tick))
    out.append('<text x="%d" y="%d" fill="#555">ns of CPU per sample (x rate = CPU time per '
               'second of audio)</text>' % (label_width, axis_y + 32))
    out.append('</svg>')
    with open(svg_path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
