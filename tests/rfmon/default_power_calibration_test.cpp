// The built-in reference tables and their lookup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "default_power_calibration.h"

namespace {

struct Lookup {
    const char* band;
    int mcs;
    int level;
    double expected;
};

TEST(DefaultCalibration, LookupFollowsTablesAndRules) {
    const std::vector<Lookup> cases = {
        // telling values
        {"2_4", 0, 45, 812.4},
        {"5_1", 3, 50, 917.43},
        {"5_8", 1, 60, 1017.63},
        {"2_4", 0, 1, 355.96},
        {"2_4", 0, 27, 645.85},
        {"2_4", 0, 28, 638.82},
        {"5_8", 3, 10, 496.585},
        {"5_8", 0, 35, 816.8},
        {"5_1", 1, 20, 662.70},
        // MCS mapping onto the held columns
        {"5_8", 2, 10, 535.99},
        {"2_4", 7, 56, 844.78},
        {"2_4", 4, 35, 738.28},
        {"5_1", 5, 1, 378.37},
        {"5_1", 6, 60, 949.95},
        // no column
        {"2_4", 8, 10, -1},
        {"2_4", -1, 10, -1},
        {"5_8", 100, 10, -1},
        // levels: table cells of 61..63, range check outside 1..63
        {"2_4", 0, 61, -1},
        {"5_1", 3, 62, -1},
        {"5_8", 1, 63, -1},
        {"2_4", 0, 0, -1},
        {"2_4", 0, 64, -1},
        {"2_4", 0, -5, -1},
        // tokens match exactly
        {"2.4", 0, 10, -1},
        {"5.8", 0, 10, -1},
        {"2_4 ", 0, 10, -1},
        {"", 0, 10, -1},
        {"5_2", 0, 10, -1},
    };
    for (const Lookup& c : cases) {
        EXPECT_EQ(default_cal_get_mv(c.band, c.mcs, c.level), c.expected)
            << c.band << " MCS " << c.mcs << " level " << c.level;
    }
    EXPECT_EQ(default_cal_get_mv(nullptr, 0, 10), -1);
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// Every table: the fixed header, 63 lines for levels 1..63 without a blank
// line, numbers in all cells up to 60, "-1" above, and every lookup agreeing
// with the cell it reads.
TEST(DefaultCalibration, TablesHaveTheFormat) {
    const struct {
        const char* token;
        std::string_view text;
    } tables[] = {{"2_4", default_cal::kCalibrated_2_4},
                  {"5_1", default_cal::kCalibrated_5_1},
                  {"5_8", default_cal::kCalibrated_5_8}};
    for (const auto& table : tables) {
        SCOPED_TRACE(table.token);
        std::vector<std::string> lines = split(table.text, '\n');
        ASSERT_EQ(lines.size(), 64u);
        EXPECT_EQ(lines[0], "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW,MCS3_mV,MCS3_mW");
        const int mcs_of_column[] = {0, 1, 3};
        for (int level = 1; level <= 63; ++level) {
            std::vector<std::string> cells = split(lines[level], ',');
            ASSERT_EQ(cells.size(), 7u) << lines[level];
            EXPECT_EQ(cells[0], std::to_string(level));
            for (int c = 1; c <= 6; ++c) {
                if (level > 60) {
                    EXPECT_EQ(cells[c], "-1");
                    continue;
                }
                char* end = nullptr;
                double value = std::strtod(cells[c].c_str(), &end);
                EXPECT_EQ(*end, '\0') << cells[c];
                EXPECT_GT(value, 0) << cells[c];
            }
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(default_cal_get_mv(table.token, mcs_of_column[k], level),
                          std::strtod(cells[1 + 2 * k].c_str(), nullptr));
            }
        }
    }
}

// Shapes the fast calibration relies on: saturation plateaus and the ceiling.
TEST(DefaultCalibration, CurvesSaturateWhereMeasured) {
    std::vector<std::string> lines_2_4 = split(default_cal::kCalibrated_2_4, '\n');
    for (int level = 45; level <= 60; ++level) {
        std::vector<std::string> cells = split(lines_2_4[level], ',');
        EXPECT_EQ(cells[5], "844.78") << level;
        EXPECT_EQ(cells[6], "1188.50") << level;
    }
    std::vector<std::string> lines_5_8 = split(default_cal::kCalibrated_5_8, '\n');
    for (int level = 1; level <= 60; ++level) {
        std::vector<std::string> cells = split(lines_5_8[level], ',');
        for (int c : {2, 4, 6}) EXPECT_LE(std::strtod(cells[c].c_str(), nullptr), 1000.0);
    }
    EXPECT_EQ(split(lines_5_8[50], ',')[4], "1000.00");
}

}  // namespace
