// The shipped conversion tables, as installed in /data/quillon/vtx/, against
// the built-in reference curves: a band's reference voltage at a power level,
// and the converter code nearest to it, convert to that level's reference
// power within 0.5 dB, for every MCS.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "conversion_tables.h"
#include "default_power_calibration.h"

namespace {

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        out.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return out;
        start = end + 1;
    }
}

// The reference mW of a level in a built-in table, read from its text.
double reference_mw(std::string_view table, int column_mcs, int level) {
    const auto lines = split(table, '\n');
    const auto header = split(lines.at(0), ',');
    size_t column = 0;
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i] == "MCS" + std::to_string(column_mcs) + "_mW")
            column = i;
    }
    EXPECT_NE(column, 0u);
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto cells = split(lines[i], ',');
        if (std::atoi(cells.at(0).c_str()) == level)
            return std::strtod(cells.at(column).c_str(), nullptr);
    }
    return -1;
}

struct Band {
    const char* key;
    const char* token;
    std::string_view table;
};

TEST(ShippedTables, ReferenceVoltagesConvertToReferencePowerWithinHalfADecibel) {
    const Band bands[] = {{"2.4", "2_4", default_cal::kCalibrated_2_4},
                          {"5.1", "5_1", default_cal::kCalibrated_5_1},
                          {"5.8", "5_8", default_cal::kCalibrated_5_8}};
    const int column_of_mcs[8] = {0, 1, 1, 3, 3, 3, 3, 3};
    int checked = 0;
    for (const auto& band : bands) {
        for (int mcs = 0; mcs <= 7; ++mcs) {
            for (int level = 1; level <= 60; ++level) {
                SCOPED_TRACE(std::string(band.key) + " MCS " + std::to_string(mcs) + " level " +
                             std::to_string(level));
                const double mv = default_cal_get_mv(band.token, mcs, level);
                const double mw = reference_mw(band.table, column_of_mcs[mcs], level);
                ASSERT_GT(mv, 0);
                ASSERT_GT(mw, 0);
                double out_mv = 0, dbm = -100;
                ASSERT_EQ(read_csv_data_cached(&out_mv, &dbm, mcs, band.key, mv), 0);
                EXPECT_NEAR(dbm, 10.0 * std::log10(mw), 0.5);
                // What the 12-bit converter reports at that voltage.
                const double code_mv = std::floor(mv * 4096.0 / 1800.0 + 0.5) * 1800.0 / 4096.0;
                ASSERT_EQ(read_csv_data_cached(&out_mv, &dbm, mcs, band.key, code_mv), 0);
                EXPECT_NEAR(dbm, 10.0 * std::log10(mw), 0.5) << code_mv << " mV";
                ++checked;
            }
        }
        const csv_cache_t* cache = get_csv_cache_for_freq(band.key);
        EXPECT_GT(cache->row_count, 100);
        EXPECT_LE(cache->row_count, CSV_CACHE_MAX_ROWS);
    }
    EXPECT_EQ(checked, 3 * 8 * 60);
}

TEST(ShippedTables, AscendInMillivoltsWithPowerThatNeverFalls) {
    for (const char* key : {"2.4", "5.1", "5.8"}) {
        SCOPED_TRACE(key);
        double mv = 0, dbm = 0;
        ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 0, key, 0), 0);
        EXPECT_EQ(dbm, 0.0);  // no carrier, no power
        const csv_cache_t* cache = get_csv_cache_for_freq(key);
        for (int r = 1; r < cache->row_count; ++r) {
            EXPECT_GT(cache->data[r][0], cache->data[r - 1][0]) << "row " << r;
            for (int c = 1; c < CSV_CACHE_COLUMNS; ++c) {
                EXPECT_GE(cache->data[r][c], cache->data[r - 1][c])
                    << "row " << r << " column " << c;
            }
        }
        // The top of the 5.8 table reaches the transmitter's 30 dBm.
        if (std::string(key) == "5.8") {
            EXPECT_NEAR(cache->data[cache->row_count - 1][1], 30.0, 0.01);
        }
    }
}

}  // namespace
