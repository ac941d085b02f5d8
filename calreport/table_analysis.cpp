#include "table_analysis.h"

#include <algorithm>

#include "conversion_range.h"
#include "frequency_bands.h"
#include "power_units.h"
#include "safety_limits.h"
#include "table_files.h"

namespace {

// The first level with a value that a sweep's power rule stops at, as the
// sweep decided it: its stored voltage beyond the conversion table, its
// stored output above the limit or within the uncertainty of it.
stop_reason_t power_stop_at(const table_column_t& column, int level,
                            const band_detector_t& detector) {
    const detector_trim_t& trim = detector.trim;
    const double mv = column.level_mv[level];
    if (detector.top_mv > 0 &&
        detector_over_range(trim_corrected_mv(trim, mv), detector.top_mv))
        return STOP_OVER_RANGE;
    switch (stored_power_verdict(column.level[level].value, detector.uncertainty_db)) {
    case POWER_ABOVE_LIMIT:
        return STOP_POWER;
    case POWER_WITHIN_UNCERTAINTY:
        return STOP_UNCERTAINTY;
    case POWER_WITHIN_LIMIT:
        break;
    }
    return STOP_NONE;
}

// A sweep that found no fresh temperature stops after a measured level and
// writes nothing above it: the only stop that leaves "-1" from there to 60.
int stale_temperature_stop(const table_column_t& column, const std::vector<curve_point_t>& curve) {
    if (curve.empty() || curve.back().level >= POWER_LEVEL_MAX) return 0;
    for (int level = curve.back().level + 1; level <= POWER_LEVEL_MAX; ++level) {
        if (column.level[level].kind != CELL_NOT_MEASURED) return 0;
    }
    return curve.back().level;
}

void find_stop(const table_column_t& column, const std::vector<curve_point_t>& curve,
               const band_detector_t& detector, column_report_t* report) {
    int temperature_level = 0;
    for (int level = 1; level <= CALIBRATION_TABLE_LEVELS && !temperature_level; ++level) {
        if (column.level[level].kind == CELL_TEMPERATURE_STOP) temperature_level = level;
    }
    // A sweep stops at the first level its power rule meets and writes it;
    // values above it are what an older table kept, so the "-1" cells alone
    // would not show that stop.
    int power_level = 0;
    stop_reason_t power_reason = STOP_NONE;
    for (const curve_point_t& point : curve) {
        power_reason = power_stop_at(column, point.level, detector);
        if (power_reason != STOP_NONE) {
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
        report->stop_reason = power_reason;
    } else if (const int stale = stale_temperature_stop(column, curve)) {
        report->stop_level = stale;
        report->stop_reason = STOP_STALE_TEMPERATURE;
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

// "-1" levels in a run that ends just below a power stop: the estimates a
// fast sweep withheld as within the uncertainty of the limit. The first
// of them, or beyond every level when there are none.
int held_back_from(const table_column_t& column, const column_report_t& report) {
    if (!is_power_stop(report.stop_reason)) return CALIBRATION_TABLE_LEVELS + 1;
    int first = report.stop_level;
    while (first > 1 && column.level[first - 1].kind == CELL_NOT_MEASURED) --first;
    return first;
}

// Below the stop (or up to 60): missing, NA and held-back levels; above a
// power stop: values a sweep would have cleared; anywhere: outputs too high
// for any reading of this transmitter.
void classify_levels(const table_column_t& column, column_report_t* report) {
    const int last_expected = report->stop_level ? report->stop_level : POWER_LEVEL_MAX;
    const int held_back = held_back_from(column, *report);
    for (int level = 1; level <= CALIBRATION_TABLE_LEVELS; ++level) {
        const level_cell_t& cell = column.level[level];
        if (cell.kind == CELL_MEASURED && stored_power_impossible(cell.value))
            report->impossible_levels.push_back(level);
        if (level > last_expected) {
            if (cell.kind == CELL_MEASURED && is_power_stop(report->stop_reason))
                report->above_stop_levels.push_back(level);
            continue;
        }
        if (cell.kind == CELL_NA) report->na_levels.push_back(level);
        if (cell.kind == CELL_NOT_MEASURED && level >= held_back) {
            report->held_back_levels.push_back(level);
        } else if (cell.kind == CELL_ABSENT || cell.kind == CELL_NOT_MEASURED) {
            report->missing_levels.push_back(level);
        }
    }
}

}  // namespace

band_detector_t band_detector(const calibration_table_t& table, const detector_trims_t& trims,
                              double top_mv) {
    band_detector_t detector = {top_mv, {}, 0.0};
    const int b = sweep_band_index_of_token(table.band.c_str());
    if (b >= 0 && trims.band[b].trimmed && table.modified >= trims.band[b].trimmed_at)
        detector.trim = trims.band[b];
    const char* key = b >= 0 ? SWEEP_BANDS[b].key : nullptr;
    detector.uncertainty_db = detector.trim.trimmed ? trim_uncertainty_db(detector.trim)
                                                    : untrimmed_reading_uncertainty_db(key);
    return detector;
}

double column_uncertainty_db(const band_detector_t& detector, const calibration_table_t& table,
                             int mcs) {
    const sweep_band_t* band = sweep_band_of_token(table.band.c_str());
    return trim_reading_uncertainty_db(detector.trim, band ? band->key : nullptr, mcs);
}

bool is_power_stop(stop_reason_t reason) {
    return reason == STOP_POWER || reason == STOP_UNCERTAINTY || reason == STOP_OVER_RANGE;
}

column_report_t analyse_column(const table_column_t& column, const calibration_table_t& table,
                               const PowerMap& map, int frequency, RegulatoryDomain domain,
                               const band_detector_t& band_wide) {
    column_report_t report = {};
    report.mcs = column.mcs;
    band_detector_t detector = band_wide;
    detector.uncertainty_db = column_uncertainty_db(band_wide, table, column.mcs);
    report.uncertainty_db = detector.uncertainty_db;
    for (int level = 1; level <= CALIBRATION_TABLE_LEVELS; ++level) {
        const level_cell_t& cell = column.level[level];
        if (cell.kind != CELL_MEASURED) continue;
        report.curve.push_back({level, mW_to_dBm(cell.value)});
        if (report.levels_in_table == 0 || cell.value < report.min_mw) report.min_mw = cell.value;
        if (report.levels_in_table == 0 || cell.value > report.max_mw) report.max_mw = cell.value;
        ++report.levels_in_table;
    }
    find_stop(column, report.curve, detector, &report);
    classify_levels(column, &report);
    report.knee_level = find_knee(report.curve);
    for (size_t i = 1; i < report.curve.size(); ++i) {
        const double fall = report.curve[i - 1].dbm - report.curve[i].dbm;
        if (fall > DROP_DEFECT_DB) report.drops.push_back({report.curve[i].level, fall});
    }

    const bool show_fcc = table.band == "5_1" && domain != REGULATORY_DOMAIN_FCC;
    for (int request : REPORT_REQUESTS_MW) {
        request_report_t r = {};
        r.pick = pick_power_index(table, map, column.mcs, request, frequency, domain,
                                  detector.uncertainty_db);
        r.off_target = pick_off_target(r.pick);
        if (show_fcc) {
            r.has_fcc = true;
            r.fcc_pick = pick_power_index(table, map, column.mcs, request, frequency, REGULATORY_DOMAIN_FCC,
                                          detector.uncertainty_db);
        }
        report.requests.push_back(r);
        if (r.off_target) ++report.defects;
    }
    report.defects += static_cast<int>(report.drops.size() + report.missing_levels.size() +
                                       report.na_levels.size() + report.above_stop_levels.size() +
                                       report.impossible_levels.size());
    return report;
}

table_report_t analyse_table(const calibration_table_t& table, RegulatoryDomain domain,
                             const conversion_table_t& conversion, const detector_trims_t& trims) {
    table_report_t report = {};
    report.path = table.path;
    report.band = table.band;
    report.modified = table.modified;
    const sweep_band_t* band = sweep_band_of_token(table.band.c_str());
    report.band_key = band ? band->key : "?";
    report.frequency = band ? band->anchor_frequency : 0;
    report.domain = domain;
    report.conversion = conversion;
    report.detector = band_detector(table, trims, conversion.top_mv);
    report.bad_lines = table.bad_lines;
    report.defects = table.bad_lines + (conversion_table_defective(conversion) ? 1 : 0);
    const PowerMap map = transmitter_power_map(table);
    for (const table_column_t& column : table.columns) {
        report.columns.push_back(
            analyse_column(column, table, map, report.frequency, domain, report.detector));
        report.defects += report.columns.back().defects;
    }
    return report;
}

band_detector_t query_band_detector(const std::string& dir, const calibration_table_t& table) {
    detector_trims_t trims;
    std::string why;
    read_detector_trims(dir, &trims, &why);
    return band_detector(table, trims, 0.0);
}

calibration_report_t build_report(const std::string& dir, RegulatoryDomain domain) {
    calibration_report_t report = {};
    report.dir = dir;
    detector_trims_t trims;
    report.trim_state = read_detector_trims(dir, &trims, &report.trim_problem);
    bool defects = false;
    for (const sweep_band_t& sweep : SWEEP_BANDS) {
        const char* band = sweep.token;
        calibration_table_t table = {};
        switch (read_calibration_table(calibration_table_file(dir, band), band, &table)) {
            case TABLE_READ:
                report.tables.push_back(
                    analyse_table(table, domain, read_conversion_table(dir, band), trims));
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
        case STOP_UNCERTAINTY: return "uncertainty";
        case STOP_OVER_RANGE: return "over_range";
        case STOP_TEMPERATURE: return "temperature";
        case STOP_STALE_TEMPERATURE: return "stale_temperature";
        case STOP_NONE: break;
    }
    return nullptr;
}
