#include "table_analysis.h"

#include <algorithm>

#include "conversion_range.h"
#include "frequency_bands.h"
#include "power_units.h"

namespace {

// A level stops a sweep as the sweep decided it: its stored output above
// the limit, or its stored voltage beyond the conversion table.
bool is_power_stop(const table_column_t& column, int level, double detector_top_mv, bool* over_range) {
    *over_range = detector_top_mv > 0 && detector_over_range(column.level_mv[level], detector_top_mv);
    return *over_range || stored_power_above_limit(column.level[level].value);
}

void find_stop(const table_column_t& column, const std::vector<curve_point_t>& curve,
               double detector_top_mv, column_report_t* report) {
    int temperature_level = 0;
    for (int level = 1; level <= CALIBRATION_TABLE_LEVELS && !temperature_level; ++level) {
        if (column.level[level].kind == CELL_TEMPERATURE_STOP) temperature_level = level;
    }
    // A sweep stops at the first level above the limit and writes it; an
    // update merge may keep older cells above it, so the "-1" cells alone
    // would miss that stop.
    int power_level = 0;
    bool over_range = false;
    for (const curve_point_t& point : curve) {
        if (is_power_stop(column, point.level, detector_top_mv, &over_range)) {
            power_level = point.level;
            break;
        }
    }
    if (temperature_level && (!power_level || temperature_level < power_level)) {
        report->stop_level = temperature_level;
        report->stop_reason = STOP_TEMPERATURE;
        report->stop_temperature = column.level[temperature_level].value;
    } else if (power_level) {
        report->stop_level = power_level;
        report->stop_reason = STOP_POWER;
        report->stop_over_range = over_range;
    }
}

int find_knee(const std::vector<curve_point_t>& curve) {
    for (size_t i = 0; i + KNEE_SPAN_LEVELS < curve.size(); ++i) {
        double highest_next = curve[i + 1].dbm;
        for (size_t k = i + 2; k <= i + KNEE_SPAN_LEVELS; ++k) highest_next = std::max(highest_next, curve[k].dbm);
        if (highest_next - curve[i].dbm < KNEE_RISE_DB) return curve[i].level;
    }
    return 0;
}

}  // namespace

column_report_t analyse_column(const table_column_t& column, const calibration_table_t& table,
                               const PowerMap& map, int frequency, RegulatoryDomain domain,
                               double detector_top_mv) {
    column_report_t report = {};
    report.mcs = column.mcs;
    for (int level = 1; level <= CALIBRATION_TABLE_LEVELS; ++level) {
        const level_cell_t& cell = column.level[level];
        if (cell.kind != CELL_MEASURED) continue;
        report.curve.push_back({level, mW_to_dBm(cell.value)});
        if (report.levels_measured == 0 || cell.value < report.min_mw) report.min_mw = cell.value;
        if (report.levels_measured == 0 || cell.value > report.max_mw) report.max_mw = cell.value;
        ++report.levels_measured;
    }
    find_stop(column, report.curve, detector_top_mv, &report);

    const int last_expected = report.stop_level ? report.stop_level : POWER_LEVEL_MAX;
    for (int level = 1; level <= last_expected; ++level) {
        const cell_kind_t kind = column.level[level].kind;
        if (kind == CELL_NA) report.na_levels.push_back(level);
        if (kind == CELL_ABSENT || kind == CELL_NOT_MEASURED) report.missing_levels.push_back(level);
    }
    report.knee_level = find_knee(report.curve);
    for (size_t i = 1; i < report.curve.size(); ++i) {
        const double fall = report.curve[i - 1].dbm - report.curve[i].dbm;
        if (fall > DROP_DEFECT_DB) report.drops.push_back({report.curve[i].level, fall});
    }

    const bool show_fcc = table.band == "5_1" && domain != REGULATORY_DOMAIN_FCC;
    for (int request : REPORT_REQUESTS_MW) {
        request_report_t r = {};
        r.pick = pick_power_index(table, map, column.mcs, request, frequency, domain);
        r.off_target = pick_off_target(r.pick);
        if (show_fcc) {
            r.has_fcc = true;
            r.fcc_pick = pick_power_index(table, map, column.mcs, request, frequency, REGULATORY_DOMAIN_FCC);
        }
        report.requests.push_back(r);
        if (r.off_target) ++report.defects;
    }
    report.defects += static_cast<int>(report.drops.size() + report.missing_levels.size() +
                                       report.na_levels.size());
    return report;
}

table_report_t analyse_table(const calibration_table_t& table, RegulatoryDomain domain,
                             double detector_top_mv) {
    table_report_t report = {};
    report.path = table.path;
    report.band = table.band;
    report.modified = table.modified;
    const sweep_band_t* band = sweep_band_of_token(table.band.c_str());
    report.band_key = band ? band->key : "?";
    report.frequency = band ? band->anchor_frequency : 0;
    report.domain = domain;
    report.bad_lines = table.bad_lines;
    report.defects = table.bad_lines;
    const PowerMap map = transmitter_power_map(table);
    for (const table_column_t& column : table.columns) {
        report.columns.push_back(
            analyse_column(column, table, map, report.frequency, domain, detector_top_mv));
        report.defects += report.columns.back().defects;
    }
    return report;
}

std::string table_path(const std::string& dir, const char* band) {
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + "calibrated_" + band + ".csv";
}

calibration_report_t build_report(const std::string& dir, RegulatoryDomain domain) {
    calibration_report_t report = {};
    report.dir = dir;
    bool defects = false;
    for (const sweep_band_t& sweep : SWEEP_BANDS) {
        const char* band = sweep.token;
        calibration_table_t table = {};
        switch (read_calibration_table(table_path(dir, band), band, &table)) {
            case TABLE_READ:
                report.tables.push_back(
                    analyse_table(table, domain, conversion_table_top_mv(dir, band)));
                defects = defects || report.tables.back().defects > 0;
                break;
            case TABLE_UNREADABLE:
                ++report.unreadable_tables;
                defects = true;
                break;
            case TABLE_MISSING:
                break;
        }
    }
    if (report.tables.empty()) {
        report.status = REPORT_ERROR;
    } else {
        report.status = defects ? REPORT_DEFECTS : REPORT_OK;
    }
    return report;
}

const char* status_name(report_status_t status) {
    switch (status) {
        case REPORT_OK: return "ok";
        case REPORT_DEFECTS: return "defects";
        case REPORT_ERROR: break;
    }
    return "error";
}

const char* stop_reason_name(stop_reason_t reason) {
    switch (reason) {
        case STOP_POWER: return "power";
        case STOP_TEMPERATURE: return "temperature";
        case STOP_NONE: break;
    }
    return nullptr;
}
