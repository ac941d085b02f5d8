// The knee and stop rules of one column, on columns built in memory.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "table_analysis.h"

namespace {

struct Level {
    int level;
    double dbm;   // NAN: "-1"
    double mv;
};

column_report_t analyse(const std::vector<Level>& levels, double detector_top_mv,
                        int temperature_level = 0) {
    calibration_table_t table = {};
    table.band = "5_8";
    table_column_t column = {};
    for (const Level& l : levels) {
        column.level[l.level] = std::isnan(l.dbm) ? level_cell_t{CELL_NOT_MEASURED, 0}
                                                  : level_cell_t{CELL_MEASURED, std::pow(10, l.dbm / 10)};
        column.level_mv[l.level] = l.mv;
    }
    if (temperature_level) column.level[temperature_level] = {CELL_TEMPERATURE_STOP, 76.3};
    return analyse_column(column, table, PowerMap{}, 5805, REGULATORY_DOMAIN_NONE,
                          band_detector(table, detector_trims_t{}, detector_top_mv));
}

// Levels 1..n rising `rise` dB a level from 20 dBm, 500 mV + 10 mV a level.
std::vector<Level> rising(int n, double rise) {
    std::vector<Level> levels;
    for (int level = 1; level <= n; ++level) levels.push_back({level, 20 + rise * (level - 1), 500.0 + 10 * level});
    return levels;
}

TEST(TableAnalysis, KneeAndStopRules) {
    std::vector<Level> flat_from_20 = rising(20, 0.5);
    for (int level = 21; level <= 30; ++level) flat_from_20.push_back({level, 29.5 + 0.05 * (level - 20), 800});
    // Level 22 is 30.5 dBm, 23 is 31.0: within the 5.8 GHz uncertainty
    // (0.72 dB) of 31.5 dBm.
    std::vector<Level> limit = rising(30, 0.5);
    std::vector<Level> jump = rising(22, 0.5);
    jump.push_back({23, 31.51, 800.0});  // 30.5 dBm, then above 31.5 at once
    std::vector<Level> cut = rising(10, 0.5);
    cut.push_back({11, 25.0, 901.0});  // beyond a 900 mV table
    for (int level = 12; level <= 63; ++level) cut.push_back({level, NAN, 0});
    const struct {
        const char* name;
        column_report_t report;
        int knee, stop;
        stop_reason_t reason;
    } rows[] = {
        {"knee where five levels rise less than 0.5 dB", analyse(flat_from_20, 0), 20, 0, STOP_NONE},
        {"no knee while it rises; the guard stops within the uncertainty", analyse(limit, 0), 0, 23,
         STOP_UNCERTAINTY},
        {"above the limit itself", analyse(jump, 0), 0, 23, STOP_POWER},
        {"beyond the conversion table", analyse(cut, 900.0), 0, 11, STOP_OVER_RANGE},
        {"without the conversion table nothing after level 11: no fresh temperature",
         analyse(cut, 0), 0, 11, STOP_STALE_TEMPERATURE},
        {"temperature before power", analyse(limit, 0, 22), 0, 22, STOP_TEMPERATURE},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.report.knee_level, row.knee) << row.name;
        EXPECT_EQ(row.report.stop_level, row.stop) << row.name;
        EXPECT_EQ(row.report.stop_reason, row.reason) << row.name;
    }
}

}  // namespace
