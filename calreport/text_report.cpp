#include "text_report.h"

#include <fmt/format.h>

#include <vector>

#include "power_units.h"

namespace {

const char* const DEFECT = "  << defect";

// "3, 12-15, 20"
std::string level_list(const std::vector<int>& levels) {
    std::string text;
    for (size_t i = 0; i < levels.size();) {
        size_t j = i;
        while (j + 1 < levels.size() && levels[j + 1] == levels[j] + 1) ++j;
        if (!text.empty()) text += ", ";
        text += j == i ? std::to_string(levels[i]) : fmt::format("{}-{}", levels[i], levels[j]);
        i = j + 1;
    }
    return text;
}

std::string output_at(const power_pick_t& pick) {
    if (!pick.measured) return fmt::format("power index {}, no measured output there", pick.index);
    std::string text = fmt::format("power index {}, measured {:.2f} mW ({:.2f} dBm)", pick.index,
                                   pick.measured_mw, mW_to_dBm(pick.measured_mw));
    // Under the cap the reading's uncertainty is the operator's margin.
    if (pick.fcc) text += fmt::format(", at most {:.2f} mW within the detector's uncertainty", pick.most_mw);
    return text;
}

std::string stop_text(const column_report_t& column) {
    switch (column.stop_reason) {
        case STOP_TEMPERATURE:
            return fmt::format("level {}, temperature ({:.1f} °C above the {:.1f} °C limit)", column.stop_level,
                               column.stop_temperature, TEMPERATURE_LIMIT_C);
        case STOP_STALE_TEMPERATURE:
            return fmt::format("level {}, temperature (no fresh temperature reading; nothing measured above it)",
                               column.stop_level);
        case STOP_OVER_RANGE:
            return fmt::format("level {}, power (detector voltage above the conversion table's range)",
                               column.stop_level);
        case STOP_POWER:
            return fmt::format("level {}, power (output above {:.1f} dBm)", column.stop_level, POWER_LIMIT_DBM);
        case STOP_UNCERTAINTY:
            return fmt::format("level {}, power (output within the detector's uncertainty ({:.2f} dB) of {:.1f} dBm)",
                               column.stop_level, column.uncertainty_db, POWER_LIMIT_DBM);
        case STOP_NONE:
            break;
    }
    return "none";
}

// The levels a deploy must not pass: above a power stop, or beyond any
// reading of this transmitter.
void append_level_defects(std::string& out, const column_report_t& column) {
    if (!column.above_stop_levels.empty()) {
        out += fmt::format("    above:    {} (values above the stop, which a sweep clears){}\n",
                           level_list(column.above_stop_levels), DEFECT);
    }
    if (!column.impossible_levels.empty()) {
        out += fmt::format("    too high: {} (above {:.1f} dBm: no reading of this transmitter){}\n",
                           level_list(column.impossible_levels), POWER_LIMIT_DBM + IMPOSSIBLE_POWER_MARGIN_DB,
                           DEFECT);
    }
    if (!column.held_back_levels.empty()) {
        out += fmt::format("    held back: {} (-1 below the stop: within the detector's uncertainty of the limit)\n",
                           level_list(column.held_back_levels));
    }
}

void append_column(std::string& out, const column_report_t& column, const table_report_t& table) {
    if (column.levels_in_table == 0) {
        out += fmt::format("  MCS {}: no level in the table\n", column.mcs);
    } else {
        out += fmt::format("  MCS {}: {} levels in the table, {:.2f} to {:.2f} dBm ({:.2f} to {:.2f} mW)\n",
                           column.mcs, column.levels_in_table, mW_to_dBm(column.min_mw),
                           mW_to_dBm(column.max_mw), column.min_mw, column.max_mw);
    }
    out += fmt::format("    stop:     {}\n", stop_text(column));
    append_level_defects(out, column);
    const int last = column.stop_level ? column.stop_level : POWER_LEVEL_MAX;
    if (column.missing_levels.empty() && column.na_levels.empty()) {
        out += fmt::format("    missing:  none in 1-{}\n", last);
    } else {
        if (!column.missing_levels.empty()) {
            out += fmt::format("    missing:  {} (no value){}\n", level_list(column.missing_levels), DEFECT);
        }
        if (!column.na_levels.empty()) {
            out += fmt::format("    NA:       {}{}\n", level_list(column.na_levels), DEFECT);
        }
    }
    if (column.knee_level) {
        double dbm = 0;
        for (const curve_point_t& p : column.curve) {
            if (p.level == column.knee_level) dbm = p.dbm;
        }
        out += fmt::format("    knee:     level {} ({:.2f} dBm)\n", column.knee_level, dbm);
    } else {
        out += "    knee:     none\n";
    }
    if (column.drops.empty()) {
        out += fmt::format("    drops:    none over {:.1f} dB\n", DROP_DEFECT_DB);
    } else {
        for (const drop_t& drop : column.drops) {
            out += fmt::format("    drop:     level {} reads {:.2f} dB below the level before it{}\n", drop.level,
                               drop.db, DEFECT);
        }
    }
    out += fmt::format("    requests at {} MHz{}:\n", table.frequency,
                       table.domain == REGULATORY_DOMAIN_FCC ? " under FCC rules" : "");
    for (const request_report_t& r : column.requests) {
        std::string line = fmt::format("      {:>4} mW -> ", r.pick.request_mw);
        if (r.pick.capped_mw != r.pick.request_mw) line += fmt::format("capped at {} mW, ", r.pick.capped_mw);
        line += output_at(r.pick);
        if (r.off_target) line += DEFECT;
        out += line + "\n";
        if (r.has_fcc && r.fcc_pick.capped_mw != r.fcc_pick.request_mw) {
            out += fmt::format("              FCC, 5180-5320 MHz: capped at {} mW, {}\n", r.fcc_pick.capped_mw,
                               output_at(r.fcc_pick));
        }
    }
}

// The band's conversion table, when it is one a sweep refuses or one that
// lies far from the reference curves.
std::string conversion_text(const conversion_table_t& conversion) {
    if (!conversion.read) return "";
    if (!conversion.fault.empty()) {
        return fmt::format("  conversion table {}: {}; a sweep refuses it{}\n", file_name(conversion.path),
                           conversion.fault, DEFECT);
    }
    const reference_deviation_t& d = conversion.deviation;
    if (d.columns_off == 0) return "";
    return fmt::format(
        "  conversion table {}: column MCS{} lies {:+.2f} dB from the built-in reference curve at {:.2f} mV "
        "(power level {}); {} of {} columns more than {:.1f} dB off{}\n",
        file_name(conversion.path), d.mcs, d.db, d.mv, d.level, d.columns_off, CSV_MAX_MCS + 1,
        REFERENCE_DEVIATION_DB, DEFECT);
}

// How far the table's readings can be trusted: the band's detector trim
// that applied when it was written, or none.
std::string detector_text(const table_report_t& table) {
    const detector_trim_t& trim = table.detector.trim;
    if (!trim.trimmed) {
        return fmt::format("  detector: untrimmed, readings within {:.2f} dB\n",
                           table.detector.uncertainty_db);
    }
    return fmt::format(
        "  detector: trimmed {} at {} MHz, MCS {} ({} levels), readings at MCS {} within {:.2f} dB, "
        "the other MCS within {:.2f} dB\n",
        modification_time(static_cast<time_t>(trim.trimmed_at)), trim.frequency, trim.mcs, trim.levels, trim.mcs,
        table.detector.uncertainty_db, untrimmed_reading_uncertainty_db(table.band_key));
}

}  // namespace

std::string modification_time(time_t modified) {
    struct tm local;
    char text[64];
    if (!localtime_r(&modified, &local) || !strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local)) {
        return "unknown";
    }
    return text;
}

std::string file_name(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string text_report(const calibration_report_t& report) {
    std::string out = fmt::format("Calibration tables in {}\n", report.dir);
    if (report.trim_state == TRIM_FILE_UNUSABLE)
        out += fmt::format("detector trim: {}; every band taken as untrimmed\n", report.trim_problem);
    int defects = 0;
    for (const table_report_t& table : report.tables) {
        out += fmt::format("\n{}: {} GHz band, modified {}\n", file_name(table.path), table.band_key,
                           modification_time(table.modified));
        out += detector_text(table);
        out += conversion_text(table.conversion);
        if (table.bad_lines) {
            out += fmt::format("  {} line{} left out (messages on standard error){}\n", table.bad_lines,
                               table.bad_lines == 1 ? "" : "s", DEFECT);
        }
        for (const column_report_t& column : table.columns) append_column(out, column, table);
        defects += table.defects;
    }
    out += "\n";
    if (report.unreadable_tables) {
        out += fmt::format("{} table{} could not be read{}\n", report.unreadable_tables,
                           report.unreadable_tables == 1 ? "" : "s", DEFECT);
    }
    out += fmt::format("status: {}", status_name(report.status));
    if (report.status == REPORT_DEFECTS) {
        out += fmt::format(" ({} defect{} the transmitter would act on{})", defects + report.unreadable_tables,
                           defects + report.unreadable_tables == 1 ? "" : "s",
                           report.unreadable_tables ? ", unreadable tables included" : "");
    }
    if (report.status == REPORT_ERROR) out += " (no table could be read)";
    return out + "\n";
}

std::string text_query(const power_pick_t& pick) {
    std::string line = output_at(pick);
    line += fmt::format(" for a request of {} mW", pick.capped_mw);
    if (pick.capped_mw != pick.request_mw) line += fmt::format(" (capped from {} mW under FCC rules)", pick.request_mw);
    if (pick_off_target(pick)) line += fmt::format(", more than {:.0f} dB off", REQUEST_TOLERANCE_DB);
    return line + "\n";
}
