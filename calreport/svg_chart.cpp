#include "svg_chart.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "text_report.h"

namespace {

constexpr double WIDTH = 960;
constexpr double CHART_HEIGHT = 480;  // one table, title to axis label
constexpr double PAGE_TOP = 44;
constexpr double LEFT = 72, RIGHT = 84, TOP = 62, BOTTOM = 54;
constexpr int LAST_LEVEL = 63;
constexpr const char* COLOURS[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e",
                                   "#9467bd", "#8c564b", "#e377c2", "#17becf"};
constexpr double MW_TICKS[] = {1, 2, 5, 10, 25, 50, 100, 200, 400, 1000, 2000, 5000};

// Text content and attribute values: markup characters escaped, anything
// outside printable ASCII replaced, so any file name gives well-formed XML.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += (c >= 0x20 && c < 0x7f) ? c : '?';
        }
    }
    return out;
}

const char* colour_of(int mcs) { return COLOURS[static_cast<unsigned>(mcs) % 8]; }

struct frame_t {
    double top;  // of the plot area
    double left, width, height;
    double low_dbm, high_dbm;
    double x(double level) const { return left + level / LAST_LEVEL * width; }
    double y(double dbm) const { return top + (high_dbm - dbm) / (high_dbm - low_dbm) * height; }
};

void axes(std::string& svg, const frame_t& f) {
    const double bottom = f.top + f.height, right = f.left + f.width;
    for (double dbm = f.low_dbm; dbm <= f.high_dbm + 1e-9; dbm += 5) {
        svg += fmt::format(R"(<line x1="{:.1f}" y1="{:.1f}" x2="{:.1f}" y2="{:.1f}" class="grid"/>)"
                           R"(<text x="{:.1f}" y="{:.1f}" class="tick" text-anchor="end">{:.0f}</text>)"
                           "\n",
                           f.left, f.y(dbm), right, f.y(dbm), f.left - 6, f.y(dbm) + 4, dbm);
    }
    for (int level : {1, 10, 20, 30, 40, 50, 60, 63}) {
        svg += fmt::format(R"(<line x1="{0:.1f}" y1="{1:.1f}" x2="{0:.1f}" y2="{2:.1f}" class="grid"/>)"
                           R"(<text x="{0:.1f}" y="{3:.1f}" class="tick" text-anchor="middle">{4}</text>)"
                           "\n",
                           f.x(level), f.top, bottom, bottom + 16, level);
    }
    for (double mw : MW_TICKS) {
        const double dbm = 10 * std::log10(mw);
        if (dbm < f.low_dbm || dbm > f.high_dbm) continue;
        svg += fmt::format(R"(<line x1="{0:.1f}" y1="{1:.1f}" x2="{2:.1f}" y2="{1:.1f}" class="axis"/>)"
                           R"(<text x="{3:.1f}" y="{4:.1f}" class="tick">{5:g}</text>)"
                           "\n",
                           right, f.y(dbm), right + 5, right + 8, f.y(dbm) + 4, mw);
    }
    svg += fmt::format(R"(<rect x="{:.1f}" y="{:.1f}" width="{:.1f}" height="{:.1f}" class="frame"/>)"
                       "\n",
                       f.left, f.top, f.width, f.height);
    svg += fmt::format(R"(<text x="{:.1f}" y="{:.1f}" class="label" text-anchor="middle">power index</text>)"
                       "\n",
                       f.left + f.width / 2, bottom + 36);
    const double middle = f.top + f.height / 2;
    svg += fmt::format(R"~(<text transform="translate({:.1f},{:.1f}) rotate(-90)" class="label" )~"
                       R"(text-anchor="middle">output (dBm)</text>)"
                       "\n",
                       f.left - 44, middle);
    svg += fmt::format(R"~(<text transform="translate({:.1f},{:.1f}) rotate(90)" class="label" )~"
                       R"(text-anchor="middle">output (mW)</text>)"
                       "\n",
                       right + 62, middle);
}

void limit_line(std::string& svg, const frame_t& f, double dbm, const char* css, const char* colour,
                const std::string& label) {
    svg += fmt::format(R"(<line x1="{:.1f}" y1="{:.1f}" x2="{:.1f}" y2="{:.1f}" class="{}" stroke="{}"/>)"
                       R"(<text x="{:.1f}" y="{:.1f}" class="note" style="fill:{}" text-anchor="end">{}</text>)"
                       "\n",
                       f.left, f.y(dbm), f.left + f.width, f.y(dbm), css, colour, f.left + f.width - 4, f.y(dbm) - 4,
                       colour, escaped(label));
}

double dbm_at(const column_report_t& column, int level, bool* found) {
    for (const curve_point_t& p : column.curve) {
        if (p.level == level) {
            *found = true;
            return p.dbm;
        }
    }
    *found = false;
    return 0;
}

void column_marks(std::string& svg, const frame_t& f, const column_report_t& column, int order) {
    const char* colour = colour_of(column.mcs);
    // One polyline per run of consecutive measured levels: a gap stays a gap.
    std::string points;
    for (size_t i = 0; i < column.curve.size(); ++i) {
        const curve_point_t& p = column.curve[i];
        if (i && p.level != column.curve[i - 1].level + 1 && !points.empty()) {
            svg += fmt::format(R"(<polyline points="{}" class="curve" stroke="{}"/>)"
                               "\n",
                               points, colour);
            points.clear();
        }
        points += fmt::format("{}{:.1f},{:.1f}", points.empty() ? "" : " ", f.x(p.level), f.y(p.dbm));
    }
    if (!points.empty()) {
        svg += fmt::format(R"(<polyline points="{}" class="curve" stroke="{}"/>)"
                           "\n",
                           points, colour);
    }
    bool found;
    if (column.stop_level) {
        const double x = f.x(column.stop_level);
        const char* reason = is_power_stop(column.stop_reason) ? "power" : "temperature";
        svg += fmt::format(R"(<line x1="{0:.1f}" y1="{1:.1f}" x2="{0:.1f}" y2="{2:.1f}" class="stop" stroke="{3}"/>)"
                           R"(<text x="{4:.1f}" y="{5:.1f}" class="note" style="fill:{3}" text-anchor="end">)"
                           R"(MCS {6} stop at {7}: {8}</text>)"
                           "\n",
                           x, f.top, f.top + f.height, colour, x - 4, f.top + f.height - 8 - 14 * order,
                           column.mcs, column.stop_level, reason);
        const double y = dbm_at(column, column.stop_level, &found);
        if (found) {
            svg += fmt::format(R"(<path d="M{0:.1f},{1:.1f} l8,8 m0,-8 l-8,8" )"
                               R"(class="cross" stroke="{2}"/>)"
                               "\n",
                               x - 4, f.y(y) - 4, colour);
        }
    }
    // Missing levels as rings just above the axis, a row per column.
    std::vector<int> gaps = column.missing_levels;
    gaps.insert(gaps.end(), column.na_levels.begin(), column.na_levels.end());
    for (int level : gaps) {
        svg += fmt::format(R"(<circle cx="{:.1f}" cy="{:.1f}" r="3.5" class="missing" stroke="{}"/>)"
                           "\n",
                           f.x(level), f.top + f.height - 8 - 9 * order, colour);
    }
    for (const drop_t& drop : column.drops) {
        const double y = dbm_at(column, drop.level, &found);
        svg += fmt::format(R"(<path d="M{:.1f},{:.1f} l-5,-9 h10 z" class="drop"/>)"
                           "\n",
                           f.x(drop.level), f.y(y) - 4);
    }
    if (column.knee_level) {
        const double y = f.y(dbm_at(column, column.knee_level, &found));
        const double x = f.x(column.knee_level);
        svg += fmt::format(R"(<path d="M{0:.1f},{1:.1f} l6,6 l-6,6 l-6,-6 z" class="knee" stroke="{2}"/>)"
                           R"(<text x="{3:.1f}" y="{4:.1f}" class="note" style="fill:{2}" text-anchor="end">knee {5}</text>)"
                           "\n",
                           x, y - 6, colour, x - 8, y + 18 + 13 * order, column.knee_level);
    }
}

void legend(std::string& svg, const frame_t& f, const table_report_t& table) {
    const double x = f.left + 10, top = f.top + 10;
    const size_t rows = table.columns.size() + 4;
    svg += fmt::format(R"(<rect x="{:.1f}" y="{:.1f}" width="170" height="{:.1f}" class="legend"/>)"
                       "\n",
                       x, top, rows * 16.0 + 8);
    double y = top + 16;
    for (const column_report_t& column : table.columns) {
        svg += fmt::format(R"(<line x1="{:.1f}" y1="{:.1f}" x2="{:.1f}" y2="{:.1f}" class="curve" stroke="{}"/>)"
                           R"(<text x="{:.1f}" y="{:.1f}" class="tick">MCS {}{}</text>)"
                           "\n",
                           x + 8, y - 4, x + 32, y - 4, colour_of(column.mcs), x + 40, y, column.mcs,
                           column.levels_in_table ? "" : " (no value)");
        y += 16;
    }
    svg += fmt::format(R"(<path d="M{:.1f},{:.1f} l6,6 l-6,6 l-6,-6 z" class="knee" stroke="#333"/>)"
                       R"(<text x="{:.1f}" y="{:.1f}" class="tick">knee (rise &lt; 0.5 dB over 5 levels)</text>)"
                       "\n",
                       x + 20, y - 10, x + 40, y);
    y += 16;
    svg += fmt::format(R"(<line x1="{0:.1f}" y1="{1:.1f}" x2="{0:.1f}" y2="{2:.1f}" class="stop" stroke="#333"/>)"
                       R"(<text x="{3:.1f}" y="{4:.1f}" class="tick">safety stop</text>)"
                       "\n",
                       x + 20, y - 14, y + 2, x + 40, y);
    y += 16;
    svg += fmt::format(R"(<path d="M{:.1f},{:.1f} l-5,-9 h10 z" class="drop"/>)"
                       R"(<text x="{:.1f}" y="{:.1f}" class="tick">drop over 1 dB</text>)"
                       "\n",
                       x + 20, y, x + 40, y);
    y += 16;
    svg += fmt::format(R"(<circle cx="{:.1f}" cy="{:.1f}" r="3.5" class="missing" stroke="#333"/>)"
                       R"(<text x="{:.1f}" y="{:.1f}" class="tick">missing level</text>)"
                       "\n",
                       x + 20, y - 4, x + 40, y);
}

void chart(std::string& svg, const table_report_t& table, double top) {
    double low = 0, high = 35;
    for (const column_report_t& column : table.columns) {
        for (const curve_point_t& p : column.curve) {
            low = std::min(low, std::floor(p.dbm / 5) * 5);
            high = std::max(high, std::ceil(p.dbm / 5) * 5);
        }
    }
    const frame_t f = {top + TOP, LEFT, WIDTH - LEFT - RIGHT, CHART_HEIGHT - TOP - BOTTOM, low, high};
    svg += fmt::format(R"(<text x="{:.1f}" y="{:.1f}" class="title">{}: {} GHz band</text>)"
                       "\n",
                       LEFT, top + 24, escaped(file_name(table.path)), table.band_key);
    svg += fmt::format(R"(<text x="{:.1f}" y="{:.1f}" class="subtitle">modified {}; {}</text>)"
                       "\n",
                       LEFT, top + 44, escaped(modification_time(table.modified)),
                       table.defects ? fmt::format("{} defect{} (see the text report)", table.defects,
                                                   table.defects == 1 ? "" : "s")
                                     : std::string("no defect"));
    axes(svg, f);
    limit_line(svg, f, POWER_LIMIT_DBM, "limit", "#c00", "31.5 dBm: sweep safety stop");
    if (table.band == "5_1") limit_line(svg, f, 10 * std::log10(FCC_CAP_MW), "fcc", "#6a3d9a", "FCC 200 mW cap (5180-5320 MHz)");
    for (size_t i = 0; i < table.columns.size(); ++i) column_marks(svg, f, table.columns[i], static_cast<int>(i));
    legend(svg, f, table);
}

}  // namespace

std::string svg_chart(const calibration_report_t& report) {
    const double height = PAGE_TOP + CHART_HEIGHT * static_cast<double>(std::max<size_t>(report.tables.size(), 1));
    std::string svg = fmt::format(
        R"(<?xml version="1.0" encoding="UTF-8"?>)"
        "\n"
        R"(<svg xmlns="http://www.w3.org/2000/svg" width="{0:.0f}" height="{1:.0f}" viewBox="0 0 {0:.0f} {1:.0f}">)"
        "\n<title>Calibration tables in {2}</title>\n"
        "<style>\n"
        "text {{ font-family: DejaVu Sans, Verdana, sans-serif; fill: #222; }}\n"
        ".title {{ font-size: 17px; font-weight: bold; }}\n"
        ".subtitle {{ font-size: 12px; fill: #555; }}\n"
        ".heading {{ font-size: 14px; fill: #444; }}\n"
        ".tick {{ font-size: 11px; }}\n"
        ".label {{ font-size: 12px; fill: #444; }}\n"
        ".note {{ font-size: 11px; paint-order: stroke; stroke: #fff; stroke-width: 3px; stroke-linejoin: round; }}\n"
        ".grid {{ stroke: #e4e4e4; stroke-width: 1; }}\n"
        ".axis {{ stroke: #888; stroke-width: 1; }}\n"
        ".frame {{ fill: none; stroke: #888; stroke-width: 1; }}\n"
        ".curve {{ fill: none; stroke-width: 2; stroke-linejoin: round; }}\n"
        ".stop {{ stroke-width: 1.5; stroke-dasharray: 6 4; }}\n"
        ".cross {{ fill: none; stroke-width: 2.5; }}\n"
        ".knee {{ fill: #fff; stroke-width: 2; }}\n"
        ".drop {{ fill: #c00; }}\n"
        ".missing {{ fill: #fff; stroke-width: 1.5; }}\n"
        ".limit {{ stroke-width: 1; stroke-dasharray: 2 3; }}\n"
        ".fcc {{ stroke-width: 1.5; stroke-dasharray: 8 4; }}\n"
        ".legend {{ fill: #fff; fill-opacity: 0.9; stroke: #ccc; }}\n"
        "</style>\n"
        R"(<rect width="100%" height="100%" fill="#fff"/>)"
        "\n"
        R"(<text x="{3:.1f}" y="28" class="heading">Calibration tables in {2}, status: )"
        R"(<tspan style="fill:{5}; font-weight:bold">{4}</tspan></text>)"
        "\n",
        WIDTH, height, escaped(report.dir), LEFT, status_name(report.status),
        report.status == REPORT_OK ? "#2a7d2a" : "#c00");
    for (size_t i = 0; i < report.tables.size(); ++i) {
        chart(svg, report.tables[i], PAGE_TOP + CHART_HEIGHT * static_cast<double>(i));
    }
    return svg + "</svg>\n";
}
