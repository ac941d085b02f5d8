#!/usr/bin/env python3
"""Builds the detector conversion tables data/<token>_mv_to_dbm.csv.

The detector curves come from the built-in reference calibration tables in
caltable/default_power_calibration.cpp: for every power level 1..60 they give the
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

The reference curves stop at level 1 and level 60, and their tops flatten into
caps (the recorded power stops rising while the detector voltage still does),
but a transmitter can put out less at level 1 and more at level 60. The detector
is linear in dBm, so each column goes on along straight lines, least-squares
fits of dBm over mV to its own rows (those between its first and last reference
voltage, as this script writes them) next to each end (see data/README.md):
- bottom: the rows within 6 dB of the column's lowest power; the line holds
  below the column's first reference voltage;
- top: the rows from 7 to 1 dB under the column's highest power (the top 1 dB
  is the cap); the line holds above the last of those rows.
A line never takes a column under its own rows next to the top, nor over its
first row next to the bottom, so every column stays monotone.
The table grows by rows on a 2 mV grid until every column reaches 5 dBm or less
at the bottom (above the 0 mV row) and 33 dBm or more at the top.

Before writing, every reference voltage is converted back with the monitor's
own lookup rule (nearest key, mean of the neighbours rounded to 0.5 dB in the
middle half of an interval) and must land within 0.5 dB of its reference power
for every MCS, or, where the reference power lies in its column's top 1 dB (the
cap), no lower than 0.5 dB under it; the rows must ascend in mV with powers that
never fall, and reach the two ends. Otherwise nothing is written and the script
exits with status 1.

Run by hand from anywhere:  python3 data/generate_conversion_tables.py
"""

import math
import os
import re
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "caltable", "default_power_calibration.cpp")
OUT_DIR = os.path.join(ROOT, "data")
BANDS = ("2_4", "5_1", "5_8")
COLUMN_OF_MCS = {0: 0, 1: 1, 2: 1, 3: 3, 4: 3, 5: 3, 6: 3, 7: 3}
MAX_ROWS = 1000
TOLERANCE_DB = 0.5
GRID_MV = 1.0
CAP_DB = 1.0         # the top of a column's reference curve that is its cap
FIT_DB = 6.0         # the span of rows fitted next to each end
EXTENSION_MV = 2.0   # key step of the rows beyond the reference voltages
BOTTOM_DBM = 5.0     # every column reaches this or less at the bottom
TOP_DBM = 33.0       # and this or more at the top
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


def least_squares(points):
    """(intercept, slope) of the least-squares line of dBm over mV through
    [(mV, dBm)]."""
    n = len(points)
    mean_mv = sum(p[0] for p in points) / n
    mean_dbm = sum(p[1] for p in points) / n
    sxx = sum((p[0] - mean_mv) ** 2 for p in points)
    sxy = sum((p[0] - mean_mv) * (p[1] - mean_dbm) for p in points)
    return mean_dbm - sxy / sxx * mean_mv, sxy / sxx


class EndLine:
    """A straight line fitted to a column's rows next to one end, and the key
    beyond which it continues the column."""

    def __init__(self, rows, join_mv):
        self.rows, self.join_mv = rows, join_mv
        self.intercept, self.slope = least_squares(rows)
        if self.slope <= 0:
            fail("a column's rows fall next to an end")

    def at(self, mv):
        return self.intercept + self.slope * mv

    def reaches(self, dbm):
        return (dbm - self.intercept) / self.slope


def end_lines(keys, values, own_low, own_high):
    """The bottom and top lines of one column, fitted to its own rows (keys
    within its reference voltages): at the bottom those within FIT_DB of its
    lowest power, at the top those from CAP_DB + FIT_DB to CAP_DB under its
    highest."""
    own = [(k, v) for k, v in zip(keys, values) if own_low <= k <= own_high]
    lowest, highest = own[0][1], max(v for _, v in own)
    bottom = [(k, v) for k, v in own if v <= lowest + FIT_DB]
    top = [(k, v) for k, v in own if highest - CAP_DB - FIT_DB <= v <= highest - CAP_DB]
    if len(bottom) < 10 or len(top) < 10:
        fail("too few rows to fit next to an end (%d, %d)" % (len(bottom), len(top)))
    return EndLine(bottom, own[0][0]), EndLine(top, top[-1][0])


def extended_value(lines, own, mv):
    """A column's power at `mv`: its own row's, except below its first own
    row, where the bottom line holds unless above the row, and above its
    top fitted row, where the top line holds unless below the row (so the
    column stays monotone)."""
    bottom, top = lines
    if mv < bottom.join_mv:
        return min(bottom.at(mv), own)
    if mv > top.join_mv:
        return max(top.at(mv), own)
    return own


def extension_keys(lines_of, low, high):
    """Keys on the extension grid below `low` down to where every column is at
    most BOTTOM_DBM, and above `high` up to where every column is at least
    TOP_DBM."""
    columns = [lines_of[COLUMN_OF_MCS[mcs]] for mcs in range(8)]
    floor_mv = min(bottom.reaches(BOTTOM_DBM) for bottom, _ in columns)
    ceiling_mv = max(top.reaches(TOP_DBM) for _, top in columns)
    first = math.floor(floor_mv / EXTENSION_MV) * EXTENSION_MV
    last = math.ceil(ceiling_mv / EXTENSION_MV) * EXTENSION_MV
    # At least a grid step from the reference voltages' rows.
    below = [first + i * EXTENSION_MV
             for i in range(int((low - first) / EXTENSION_MV) + 1)
             if first + i * EXTENSION_MV <= low - GRID_MV]
    above = [last - i * EXTENSION_MV
             for i in range(int((last - high) / EXTENSION_MV) + 1)
             if last - i * EXTENSION_MV >= high + GRID_MV]
    return below, sorted(above)


def build_band(curves):
    """The rows as text, and the lines that continue each curve."""
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
    keys = sorted(keys)
    # The interior rows as the table holds them (two decimals) are what the
    # lines are fitted to.
    interior, lines_of = {}, {}
    for curve, fit in fits.items():
        interior[curve] = [float("%.2f" % interpolate(fit, k)) for k in keys]
        lines_of[curve] = end_lines(keys, interior[curve], fit[0][0], fit[-1][0])
    below, above = extension_keys(lines_of, keys[0], keys[-1])
    text_rows = [["0"] + ["0.00"] * 8]
    for key in below + keys + above:
        cells = [format_mv(key)]
        for mcs in range(8):
            curve = COLUMN_OF_MCS[mcs]
            own = float("%.2f" % interpolate(fits[curve], key))
            cells.append("%.2f" % extended_value(lines_of[curve], own, key))
        text_rows.append(cells)
    if len(text_rows) > MAX_ROWS:
        fail("%d rows, more than the monitor reads (%d)" % (len(text_rows), MAX_ROWS))
    return text_rows, lines_of


def check_band(band, curves, text_rows):
    """Largest errors at the reference voltages, at their nearest converter
    codes, and at the codes within 3 codes of them (noise), outside the caps;
    and every way the rows fail the lookup or the ends."""
    rows = [[float(c) for c in r] for r in text_rows]
    worst, worst_code, worst_near, failures = 0.0, 0.0, 0.0, []
    for mcs in range(8):
        curve = curves[COLUMN_OF_MCS[mcs]]
        cap = max(dbm for _, _, dbm in curve) - CAP_DB
        for level, mv, dbm in curve:
            code = math.floor(mv / CODE_MV + 0.5)
            for x, kind in [(mv, "reference"), (code * CODE_MV, "code")]:
                got = lookup(rows, mcs + 1, x)
                if dbm > cap:
                    if got < dbm - TOLERANCE_DB:
                        failures.append("%s MCS %d level %d: %s %.3f mV gives %.2f dBm, under "
                                        "the capped reference %.2f"
                                        % (band, mcs, level, kind, x, got, dbm))
                    continue
                error = abs(got - dbm)
                if kind == "reference":
                    worst = max(worst, error)
                else:
                    worst_code = max(worst_code, error)
                if error > TOLERANCE_DB:
                    failures.append("%s MCS %d level %d: %s %.3f mV gives %.2f dBm, reference %.2f"
                                    % (band, mcs, level, kind, x, got, dbm))
            if dbm <= cap:
                for step in range(-3, 4):
                    x = (code + step) * CODE_MV
                    worst_near = max(worst_near, abs(lookup(rows, mcs + 1, x) - dbm))
    failures += check_shape(band, rows)
    return worst, worst_code, worst_near, failures


def check_shape(band, rows):
    """Keys ascend from the 0 mV row, no power falls or is negative, and every
    column reaches both ends."""
    failures = []
    if rows[0] != [0.0] * 9:
        failures.append("%s: the first row is not 0 mV, 0 dBm" % band)
    for previous, row in zip(rows, rows[1:]):
        if row[0] <= previous[0]:
            failures.append("%s: key %s does not ascend" % (band, format_mv(row[0])))
        if any(v < p or v < 0 for v, p in zip(row[1:], previous[1:])):
            failures.append("%s: a power falls or is negative at %s mV"
                            % (band, format_mv(row[0])))
    if max(rows[1][1:]) > BOTTOM_DBM or min(rows[-1][1:]) < TOP_DBM:
        failures.append("%s: the rows do not reach %.0f and %.0f dBm in every column"
                        % (band, BOTTOM_DBM, TOP_DBM))
    return failures


def describe_lines(band, lines_of):
    for curve, (bottom, top) in sorted(lines_of.items()):
        mcs_list = ",".join(str(m) for m in range(8) if COLUMN_OF_MCS[m] == curve)
        for end, line, reaches in (("bottom", bottom, "5 dBm at %.0f mV" % bottom.reaches(5)),
                                   ("top", top, "31.5 dBm at %.0f mV, 33 at %.0f"
                                    % (top.reaches(31.5), top.reaches(33)))):
            worst = max(abs(v - line.at(k)) for k, v in line.rows)
            print("  %s MCS %s %s: %d rows %.2f..%.2f mV (%.2f..%.2f dBm), dBm = %.3f + %.5f mV "
                  "(%.2f mV/dB), rows within %.2f dB of it; %s"
                  % (band, mcs_list, end, len(line.rows), line.rows[0][0], line.rows[-1][0],
                     line.rows[0][1], line.rows[-1][1], line.intercept, line.slope,
                     1.0 / line.slope, worst, reaches))


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
        text_rows, lines_of = build_band(tables[band])
        worst, worst_code, worst_near, band_failures = check_band(band, tables[band], text_rows)
        failures += band_failures
        print("%s: %d rows, worst error %.3f dB at the reference voltages, %.3f dB at their "
              "nearest codes, %.3f dB within 3 codes of them"
              % (band, len(text_rows), worst, worst_code, worst_near))
        describe_lines(band, lines_of)
        outputs[band] = header + "\n" + "".join(",".join(r) + "\n" for r in text_rows)
    if failures:
        fail("tables not written, %d faults:\n  %s" % (len(failures), "\n  ".join(failures)))
    for band, text in outputs.items():
        write_atomically(os.path.join(OUT_DIR, "%s_mv_to_dbm.csv" % band), text)


if __name__ == "__main__":
    main()
