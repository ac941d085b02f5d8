#!/usr/bin/env python3
"""Generates the built-in reference calibration tables of orvi-rfmon.

The tables are reference curves of the target transmitter: per band, the
detector voltage (mV) and output power (mW) at each power level for MCS 0,
1 and 3. A few levels per column are bench measurements kept verbatim
(levels 1, 10, 20 and the fast-calibration anchors 35, 45, 50, 56, 60, plus
some spot readings); the levels between them follow the measured shape:

  * mV rises with the level (monotone piecewise-cubic through the measured
    levels) plus a little seeded measurement scatter, so neighbouring levels
    near the flat top may read out of order;
  * the mW of a level is taken from the detector response of that column,
    a monotone curve through the measured (mV, dBm) pairs, so every
    (mV, mW) pair of a column lies on one detector curve;
  * saturated stretches (equal mV or equal mW at both ends) stay flat.

Spot readings (a measured mV without its mW) replace the trend at their
level; their mW comes from the detector curve like any other level's.

Run by hand; the output is committed. Nothing calls it at build time.

  generate_default_calibration.py --cpp caltable/default_power_calibration.cpp
  generate_default_calibration.py --csv-dir DIR   # calibrated_<token>.csv files
  generate_default_calibration.py                 # tables to standard output
"""

import argparse
import math
import os
import random
import sys

SEED = 20261207
SCATTER_MV = 1.0  # standard deviation of the level-to-level scatter
LEVELS = 63
MEASURED_TOP = 60
COLUMNS = ("MCS0", "MCS1", "MCS3")
HEADER = "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW,MCS3_mV,MCS3_mW"

# Bench measurements kept verbatim: level -> (mV text, mW text) per column.
MEASURED = {
    "2_4": {
        "MCS0": {1: ("355.96", "16.22"), 10: ("458.5", "35.48"), 20: ("569.68", "86.70"),
                 27: ("645.85", None), 28: ("638.82", None), 35: ("714.55", "268.53"),
                 42: ("779", None),
                 45: ("812.4", "562.34"), 50: ("858.84", "831.76"), 56: ("907.62", "1258.93"),
                 60: ("913.04", "1258.93")},
        "MCS1": {1: ("303.08", "10.00"), 10: ("407.81", "22.39"), 20: ("526.46", "56.23"),
                 35: ("683.79", "208.42"), 45: ("790.43", "484.95"), 50: ("840.23", "725.14"),
                 56: ("898.39", "1119.23"), 60: ("926.22", "1437.12")},
        "MCS3": {1: ("350.83", "14.52"), 10: ("461.72", "44.67"), 20: ("579.05", "125.89"),
                 35: ("738.28", "562.34"), 45: ("844.78", "1188.50"), 50: ("844.78", "1188.50"),
                 56: ("844.78", "1188.50"), 60: ("844.78", "1188.50")},
    },
    "5_1": {
        "MCS0": {1: ("385.55", "5.25"), 10: ("492.48", "12.59"), 20: ("614.06", "38.19"),
                 35: ("786.33", "177.83"), 45: ("871.73", "354.81"), 50: ("905.13", "467.74"),
                 56: ("934.57", "606.74"), 60: ("944.82", "660.69")},
        "MCS1": {1: ("416.75", "7.08"), 10: ("537.16", "19.95"), 20: ("662.70", "63.10"),
                 35: ("814.60", "234.92"), 45: ("889.89", "453.66"), 50: ("912.01", "561.84"),
                 56: ("927.54", "630.28"), 60: ("932.81", "630.28")},
        "MCS3": {1: ("378.37", "7.94"), 10: ("494.09", "24.77"), 20: ("623.58", "89.13"),
                 35: ("801.27", "398.11"), 45: ("886.23", "698.23"), 50: ("917.43", "891.25"),
                 56: ("941.75", "891.25"), 60: ("949.95", "891.25")},
    },
    "5_8": {
        "MCS0": {1: ("386.43", "5.62"), 10: ("499.66", "14.93"), 20: ("632.67", "44.67"),
                 35: ("816.8", "223.87"), 45: ("912.45", "501.19"), 50: ("954.35", "721.11"),
                 56: ("990.53", "972.75"), 60: ("1002.1", "1000.00")},
        "MCS1": {1: ("408.54", "7.08"), 10: ("535.99", "22.18"), 20: ("681.59", "79.43"),
                 35: ("857.23", "354.67"), 45: ("955.08", "811.55"), 50: ("986.87", "1000.00"),
                 56: ("1011.47", "1000.00"), 60: ("1017.63", "1000.00")},
        "MCS3": {1: ("377.34", "5.62"), 2: ("388.695", None), 10: ("496.585", "17.78"),
                 20: ("639.035", "53.09"), 35: ("831.52", "281.84"), 45: ("930.105", "613.76"),
                 50: ("968.92", "981.75"), 56: ("997.56", "1000.00"),
                 60: ("1005.545", "1000.00")},
    },
}

# How each column writes its mV: (quantum, strip trailing zeros). Columns
# averaged from two detector passes carry half-hundredths.
MV_STYLE = {
    ("2_4", "MCS0"): (0.01, True), ("2_4", "MCS1"): (0.01, False), ("2_4", "MCS3"): (0.01, False),
    ("5_1", "MCS0"): (0.01, False), ("5_1", "MCS1"): (0.01, False), ("5_1", "MCS3"): (0.01, False),
    ("5_8", "MCS0"): (0.01, True), ("5_8", "MCS1"): (0.01, False), ("5_8", "MCS3"): (0.005, True),
}


def end_slope(h0, h1, d0, d1):
    s = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1)
    if d0 == 0 or (s > 0) != (d0 > 0):
        return 0.0
    if (d0 > 0) != (d1 > 0) and abs(s) > abs(3 * d0):
        return 3 * d0
    return s


def pchip_slopes(xs, ys):
    """Fritsch-Carlson derivatives: monotone between knots, flat at extrema."""
    n = len(xs)
    h = [xs[i + 1] - xs[i] for i in range(n - 1)]
    d = [(ys[i + 1] - ys[i]) / h[i] for i in range(n - 1)]
    if n == 2:
        return [d[0], d[0]]
    m = [0.0] * n
    for i in range(1, n - 1):
        if d[i - 1] == 0 or d[i] == 0 or (d[i - 1] > 0) != (d[i] > 0):
            continue
        w1 = 2 * h[i] + h[i - 1]
        w2 = h[i] + 2 * h[i - 1]
        m[i] = (w1 + w2) / (w1 / d[i - 1] + w2 / d[i])
    m[0] = end_slope(h[0], h[1], d[0], d[1])
    m[-1] = end_slope(h[-1], h[-2], d[-1], d[-2])
    return m


def pchip(xs, ys):
    m = pchip_slopes(xs, ys)

    def f(x):
        if x <= xs[0]:
            return ys[0]
        if x >= xs[-1]:
            return ys[-1]
        i = 0
        while xs[i + 1] < x:
            i += 1
        h = xs[i + 1] - xs[i]
        t = (x - xs[i]) / h
        h00 = 2 * t ** 3 - 3 * t ** 2 + 1
        h10 = t ** 3 - 2 * t ** 2 + t
        h01 = -2 * t ** 3 + 3 * t ** 2
        h11 = t ** 3 - t ** 2
        return h00 * ys[i] + h10 * h * m[i] + h01 * ys[i + 1] + h11 * h * m[i + 1]

    return f


def detector_curve(points):
    """dBm as a function of mV through the measured pairs of one column."""
    pairs = {}
    for mv_text, mw_text in points.values():
        if mw_text is None:
            continue
        pairs[float(mv_text)] = 10 * math.log10(float(mw_text))
    xs = sorted(pairs)
    return pchip(xs, [pairs[x] for x in xs])


def format_mv(value, quantum, strip):
    steps = round(value / quantum)
    if quantum == 0.005:
        text = "%.3f" % (steps * 0.005)
    else:
        text = "%.2f" % (steps * 0.01)
    if strip and "." in text:
        text = text.rstrip("0").rstrip(".")
    return text


def build_column(band, column, rng):
    points = MEASURED[band][column]
    quantum, strip = MV_STYLE[(band, column)]
    # Spot readings (no mW of their own) are scatter, not part of the trend.
    levels = sorted(x for x in points if points[x][1] is not None)
    level_curve = pchip([float(x) for x in levels], [float(points[x][0]) for x in levels])
    dbm_of_mv = detector_curve(points)
    cells = {}
    for level in range(1, MEASURED_TOP + 1):
        if level in points:
            mv_text, mw_text = points[level]
        else:
            lower = max(x for x in levels if x < level)
            upper = min(x for x in levels if x > level)
            flat = points[lower][0] == points[upper][0]
            mv = level_curve(float(level))
            if not flat:
                mv += rng.gauss(0.0, SCATTER_MV)
            mv_text = format_mv(mv, quantum, strip)
            mw_text = None
        if mw_text is None:
            mw_text = "%.2f" % (10 ** (dbm_of_mv(float(mv_text)) / 10))
        cells[level] = (mv_text, mw_text)
    return cells


def build_tables():
    rng = random.Random(SEED)
    tables = {}
    for band in ("2_4", "5_1", "5_8"):
        columns = [build_column(band, column, rng) for column in COLUMNS]
        lines = [HEADER]
        for level in range(1, LEVELS + 1):
            if level > MEASURED_TOP:
                lines.append("%d,-1,-1,-1,-1,-1,-1" % level)
            else:
                cells = []
                for column in columns:
                    cells.extend(column[level])
                lines.append("%d,%s" % (level, ",".join(cells)))
        tables[band] = lines
    return tables


CPP_HEAD = """\
// Built-in reference calibration tables. Generated by
// caltable/tools/generate_default_calibration.py; edit the script, not the tables.
#include "default_power_calibration.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace default_cal {
"""


def cpp_table(band, lines):
    body = "\n".join(lines)
    return ('const std::string_view kCalibrated_%s = R"csv(%s)csv";\n' % (band, body))


def write_cpp(path, tables):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    begin = text.find("namespace default_cal {")
    end = text.find("}  // namespace default_cal")
    if begin < 0 or end < 0:
        sys.exit("%s: no default_cal namespace to fill" % path)
    tables_text = "\n".join(cpp_table(band, tables[band]) for band in ("2_4", "5_1", "5_8"))
    new_text = text[:begin] + "namespace default_cal {\n" + tables_text + text[end:]
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(new_text)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cpp", help="rewrite the tables inside this source file")
    parser.add_argument("--csv-dir", help="write calibrated_<token>.csv files here")
    args = parser.parse_args()
    tables = build_tables()
    if args.cpp:
        write_cpp(args.cpp, tables)
    if args.csv_dir:
        os.makedirs(args.csv_dir, exist_ok=True)
        for band, lines in tables.items():
            with open(os.path.join(args.csv_dir, "calibrated_%s.csv" % band), "w",
                      encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
    if not args.cpp and not args.csv_dir:
        for band, lines in tables.items():
            print("# %s" % band)
            print("\n".join(lines))


if __name__ == "__main__":
    main()
