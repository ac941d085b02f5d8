#!/usr/bin/env python3
"""Fits the simulated board's default unit to the built-in reference curves.

Offline helper: the RF model in sim/model/rf_model.cpp carries the fitted numbers
as literals and never reads the reference tables. Run it again only to
re-derive those literals:  python3 sim/model/fit_default_unit.py

Per band and modulation class (the reference columns MCS 0, 1 and 3) it fits
  output dBm = Rapp(offset + step * (level - 1); psat, p)
    Rapp(x) = x - (10 / p) * log10(1 + 10^(p * (x - psat) / 10))
  detector mV = intercept + slope * (dBm - 20)
minimising the squared dBm error of the output power and the squared error of
the detector voltage expressed in dB (mV / slope) over levels 1 to 60, and
prints the literals and the largest and mean errors.
"""

import math
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SOURCE = os.path.join(ROOT, "caltable", "default_power_calibration.cpp")
BANDS = ("2_4", "5_1", "5_8")
CLASSES = (0, 1, 3)
LEVELS = range(1, 61)


def read_tables():
    text = open(SOURCE, encoding="utf-8").read()
    tables = {}
    for band in BANDS:
        m = re.search(r'kCalibrated_%s\s*=\s*R"csv\((.*?)\)csv"' % band, text, re.S)
        lines = m.group(1).split("\n")
        header = lines[0].split(",")
        for mcs in CLASSES:
            mv_col, mw_col = header.index("MCS%d_mV" % mcs), header.index("MCS%d_mW" % mcs)
            points = []
            for line in lines[1:]:
                cells = line.split(",")
                if int(cells[0]) in LEVELS:
                    points.append((int(cells[0]), float(cells[mv_col]),
                                   10 * math.log10(float(cells[mw_col]))))
            tables[band, mcs] = points
    return tables


def rapp(x, psat, p):
    return x - (10.0 / p) * math.log10(1.0 + 10.0 ** (p * (x - psat) / 10.0))


def output_dbm(params, level):
    offset, step, psat, p = params
    return rapp(offset + step * (level - 1), psat, p)


def nelder_mead(f, x0, scale, iterations=4000):
    n = len(x0)
    simplex = [list(x0)]
    for i in range(n):
        x = list(x0)
        x[i] += scale[i]
        simplex.append(x)
    values = [f(x) for x in simplex]
    for _ in range(iterations):
        order = sorted(range(n + 1), key=lambda i: values[i])
        simplex = [simplex[i] for i in order]
        values = [values[i] for i in order]
        centroid = [sum(simplex[i][j] for i in range(n)) / n for j in range(n)]
        worst = simplex[-1]
        reflected = [c + (c - w) for c, w in zip(centroid, worst)]
        fr = f(reflected)
        if fr < values[0]:
            expanded = [c + 2 * (c - w) for c, w in zip(centroid, worst)]
            fe = f(expanded)
            simplex[-1], values[-1] = (expanded, fe) if fe < fr else (reflected, fr)
        elif fr < values[-2]:
            simplex[-1], values[-1] = reflected, fr
        else:
            contracted = [c + 0.5 * (w - c) for c, w in zip(centroid, worst)]
            fc = f(contracted)
            if fc < values[-1]:
                simplex[-1], values[-1] = contracted, fc
            else:
                best = simplex[0]
                simplex = [best] + [[b + 0.5 * (x - b) for b, x in zip(best, s)]
                                    for s in simplex[1:]]
                values = [values[0]] + [f(s) for s in simplex[1:]]
    i = min(range(n + 1), key=lambda i: values[i])
    return simplex[i]


def fit_curve(points):
    first, last = points[0], points[-1]

    def cost(x):
        offset, step, psat, p, intercept, slope = x
        if p <= 0.3 or p > 20 or slope <= 1:
            return 1e9
        total = 0.0
        for level, mv, dbm in points:
            out = output_dbm((offset, step, psat, p), level)
            total += (out - dbm) ** 2 + ((intercept + slope * (out - 20) - mv) / slope) ** 2
        return total

    step0 = (points[30][2] - first[2]) / 30
    x = [first[2], step0, last[2] + 1, 2.0, 600.0, 27.0]
    scale = [0.5, 0.05, 1.0, 0.5, 20.0, 2.0]
    for _ in range(6):
        x = nelder_mead(cost, x, scale)
    return x


def main():
    tables = read_tables()
    worst_all = 0.0
    print("// band, class: offset_dbm, step_db, psat_dbm, smoothness, detector intercept mV"
          " at 20 dBm, slope mV/dB")
    for band in BANDS:
        for mcs in CLASSES:
            points = tables[band, mcs]
            x = fit_curve(points)
            offset, step, psat, p, intercept, slope = x
            dbm_errors, mv_errors = [], []
            for level, mv, dbm in points:
                out = output_dbm(x[:4], level)
                dbm_errors.append(out - dbm)
                mv_errors.append((intercept + slope * (out - 20) - mv) / slope)
            worst = max(max(map(abs, dbm_errors)), max(map(abs, mv_errors)))
            worst_all = max(worst_all, worst)
            print("    {%.3f, %.4f, %.3f, %.3f, %.2f, %.3f},  // %s MCS %d: output power "
                  "largest %.2f dB mean %.2f dB; detector largest %.2f dB (%.1f mV) mean %.2f dB"
                  % (offset, step, psat, p, intercept, slope, band, mcs,
                     max(map(abs, dbm_errors)), sum(map(abs, dbm_errors)) / len(points),
                     max(map(abs, mv_errors)), max(map(abs, mv_errors)) * slope,
                     sum(map(abs, mv_errors)) / len(points)))
            worst_levels = sorted(points, key=lambda pt: -abs(output_dbm(x[:4], pt[0]) - pt[2]))[:3]
            print("    //   worst output levels: " + ", ".join(
                "%d (%+.2f dB)" % (pt[0], output_dbm(x[:4], pt[0]) - pt[2]) for pt in worst_levels))
    print("// largest error of all: %.2f dB" % worst_all)


if __name__ == "__main__":
    sys.exit(main())
