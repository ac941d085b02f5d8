#!/usr/bin/env python3
"""Builds the detector conversion tables data/<token>_mv_to_dbm.csv.

The detector curves come from the built-in reference calibration tables in
rfmon/default_power_calibration.cpp: for every power level 1..60 they give the
detector voltage (mV) and the output power (mW) for MCS 0, 1 and 3. MCS 2 uses
the MCS 1 curve and MCS 4..7 the MCS 3 curve, as the reference lookup does.

The reference voltages are not strictly monotonic (a level can read a little
less than the one below it) and saturate near the top, so each curve is first
made monotone with a minimax isotonic fit (dBm never falls as mV rises), then
sampled on the reference voltages themselves, on the converter voltages
nearest to them (a 12-bit code is 1800/4096 mV; a reading at a reference level
then hits a row instead of falling between two, where the lookup rounds the
mean of the neighbours to 0.5 dB), and on a 1 mV grid between them. A row at
0 mV holds 0 dBm: a detector that reads nothing means no carrier.

Before writing, every reference voltage is converted back with the monitor's
own lookup rule (nearest key, mean of the neighbours rounded to 0.5 dB in the
middle half of an interval) and must land within 0.5 dB of its reference power
for every MCS; otherwise nothing is written and the script exits with status 1.

Run by hand from anywhere:  python3 data/generate_conversion_tables.py
"""

import math
import os
import re
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "rfmon", "default_power_calibration.cpp")
OUT_DIR = os.path.join(ROOT, "data")
BANDS = ("2_4", "5_1", "5_8")
COLUMN_OF_MCS = {0: 0, 1: 1, 2: 1, 3: 3, 4: 3, 5: 3, 6: 3, 7: 3}
MAX_ROWS = 1000
TOLERANCE_DB = 0.5
GRID_MV = 1.0
CODE_MV = 1800.0 / 4096.0  # exact in binary, as the monitor computes it
LEVELS = range(1, 61)


def fail(message):
    sys.stderr.write("generate_conversion_tables: " + message + "\n")
    sys.exit(1)


def read_reference_tables():
    """{band: {mcs: [(level, mV, dBm)]}} from the built-in tables' text."""
    try:
        with open(SOURCE, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        fail("cannot read %s: %s" % (SOURCE, e))
    tables = {}
    for band in BANDS:
        m = re.search(r'kCalibrated_%s\s*=\s*R"csv\((.*?)\)csv"' % band, text, re.S)
        if not m:
            fail("no table kCalibrated_%s in %s" % (band, SOURCE))
        lines = m.group(1).split("\n")
        header = lines[0].split(",")
        curves = {}
        for mcs in (0, 1, 3):
            try:
                mv_col = header.index("MCS%d_mV" % mcs)
                mw_col = header.index("MCS%d_mW" % mcs)
            except ValueError:
                fail("table %s has no MCS %d columns" % (band, mcs))
            points = []
            for line in lines[1:]:
                cells = line.split(",")
                level = int(cells[0])
                if level not in LEVELS:
                    continue
                mv, mw = float(cells[mv_col]), float(cells[mw_col])
                if mv < 0 or mw <= 0:
                    fail("table %s level %d MCS %d has no value" % (band, level, mcs))
                points.append((level, mv, 10.0 * math.log10(mw)))
            if [p[0] for p in points] != list(LEVELS):
                fail("table %s MCS %d does not cover levels 1..60" % (band, mcs))
            curves[mcs] = points
        tables[band] = curves
    return tables


def monotone_fit(points):
    """Minimax isotonic fit: [(mV, dBm)] ascending in mV, one value per mV.

    With the voltages sorted and equal voltages pooled, the best non-decreasing
    fit in the maximum norm is the mean of the running maximum from the left
    and the running minimum from the right.
    """
    groups = {}
    for _, mv, dbm in points:
        lo, hi = groups.get(mv, (dbm, dbm))
        groups[mv] = (min(lo, dbm), max(hi, dbm))
    keys = sorted(groups)
    prefix_max, running = [], -math.inf
    for k in keys:
        running = max(running, groups[k][1])
        prefix_max.append(running)
    suffix_min, running = [0.0] * len(keys), math.inf
    for i in range(len(keys) - 1, -1, -1):
        running = min(running, groups[keys[i]][0])
        suffix_min[i] = running
    return [(k, (a + b) / 2.0) for k, a, b in zip(keys, prefix_max, suffix_min)]


def interpolate(fit, mv):
    if mv <= fit[0][0]:
        return fit[0][1]
    if mv >= fit[-1][0]:
        return fit[-1][1]
    for (k0, v0), (k1, v1) in zip(fit, fit[1:]):
        if k0 <= mv <= k1:
            return v0 + (v1 - v0) * (mv - k0) / (k1 - k0)
    raise AssertionError("unreachable")


def round_half_away(x):
    return math.copysign(math.floor(abs(x) + 0.5), x)


def lookup(rows, column, x):
    """The monitor's cached lookup rule, on rows of floats."""
    best_distance, best_value = math.inf, 0.0
    previous = None
    for row in rows:
        k, v = row[0], row[column]
        midpoint = False
        if previous is not None and previous[0] <= x <= k:
            m = (previous[0] + k) / 2.0
            to_mid = abs(x - m)
            if to_mid < abs(x - k) and to_mid < abs(x - previous[0]):
                best_distance, best_value = to_mid, round_half_away(previous[1] + v) / 2.0
                midpoint = True
        if not midpoint and abs(x - k) < best_distance:
            best_distance, best_value = abs(x - k), v
        previous = (k, v)
    return best_value


def format_mv(mv):
    # Shortest text that reads back as the same double.
    return "%d" % mv if mv == int(mv) else repr(mv)


def build_band(curves):
    fits = {mcs: monotone_fit(points) for mcs, points in curves.items()}
    reference_keys = sorted({mv for points in curves.values() for _, mv, _ in points})
    low, high = reference_keys[0], reference_keys[-1]
    keys = set(reference_keys)
    code_keys = {math.floor(k / CODE_MV + 0.5) * CODE_MV for k in reference_keys}
    keys |= code_keys
    mv = math.ceil(low / GRID_MV) * GRID_MV
    while mv <= high:
        if all(abs(mv - k) >= 0.25 for k in keys):
            keys.add(mv)
        mv += GRID_MV
    text_rows = [["0"] + ["0.00"] * 8]
    for key in sorted(keys):
        cells = [format_mv(key)]
        for mcs in range(8):
            cells.append("%.2f" % interpolate(fits[COLUMN_OF_MCS[mcs]], key))
        text_rows.append(cells)
    if len(text_rows) > MAX_ROWS:
        fail("%d rows, more than the monitor reads (%d)" % (len(text_rows), MAX_ROWS))
    return text_rows


def check_band(band, curves, text_rows):
    """Largest errors at the reference voltages, at their nearest converter
    codes, and at the codes within 1.5 mV of them (noise)."""
    rows = [[float(c) for c in r] for r in text_rows]
    worst, worst_code, worst_near, failures = 0.0, 0.0, 0.0, []
    for mcs in range(8):
        for level, mv, dbm in curves[COLUMN_OF_MCS[mcs]]:
            code = math.floor(mv / CODE_MV + 0.5)
            for x, kind in [(mv, "reference"), (code * CODE_MV, "code")]:
                error = abs(lookup(rows, mcs + 1, x) - dbm)
                if kind == "reference":
                    worst = max(worst, error)
                else:
                    worst_code = max(worst_code, error)
                if error > TOLERANCE_DB:
                    failures.append("%s MCS %d level %d: %s %.3f mV gives %.2f dBm, reference %.2f"
                                    % (band, mcs, level, kind, x, lookup(rows, mcs + 1, x), dbm))
            for step in range(-3, 4):
                x = (code + step) * CODE_MV
                worst_near = max(worst_near, abs(lookup(rows, mcs + 1, x) - dbm))
    return worst, worst_code, worst_near, failures


def write_atomically(path, text):
    fd, temporary = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".tmp-")
    try:
        with os.fdopen(fd, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def main():
    tables = read_reference_tables()
    outputs, failures = {}, []
    header = "mV," + ",".join("MCS%d_dBm" % m for m in range(8))
    for band in BANDS:
        text_rows = build_band(tables[band])
        worst, worst_code, worst_near, band_failures = check_band(band, tables[band], text_rows)
        failures += band_failures
        print("%s: %d rows, worst error %.3f dB at the reference voltages, %.3f dB at their "
              "nearest codes, %.3f dB within 3 codes of them"
              % (band, len(text_rows), worst, worst_code, worst_near))
        outputs[band] = header + "\n" + "".join(",".join(r) + "\n" for r in text_rows)
    if failures:
        fail("tables not written, %d reference points off by more than %.1f dB:\n  %s"
             % (len(failures), TOLERANCE_DB, "\n  ".join(failures)))
    for band, text in outputs.items():
        write_atomically(os.path.join(OUT_DIR, "%s_mv_to_dbm.csv" % band), text)


if __name__ == "__main__":
    main()
