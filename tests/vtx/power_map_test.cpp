#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "default_power_calibration.h"
#include "test_support.h"
#include <orvi/power_map.h>

namespace {

TEST(PowerMapParse, CsvBecomesMcsToMilliwattToIndex) {
    struct Row {
        std::string name;
        std::string csv;
        PowerMap map;
        std::string err;
    };
    const std::vector<Row> rows = {
        {"mW columns by position, mV never read",
         "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW,MCS3_mV,MCS3_mW\n"
         "1,901,10.4,902,20.5,903,-1\n"
         "2,904,12,905,22,906,30.2\n",
         {{0, {{10, 1}, {12, 2}}}, {1, {{21, 1}, {22, 2}}}, {3, {{30, 2}}}},
         ""},
        {"header order decides", "Power_Level,MCS3_mW,MCS3_mV\n5,7.6,400\n", {{3, {{8, 5}}}}, ""},
        {"bad column names reported and ignored",
         "Power_Level,MCS_mW,MCSx_mW,MCS2_mW,MCS,mcs4_mW,MCS5_mV,XMCS6_mW\n4,1,2,3,4,5,6,7\n",
         {{2, {{3, 4}}}},
         "Error extracting MCS index from column name: MCS_mW\n"
         "Error extracting MCS index from column name: MCSx_mW\n"},
        {"power levels", "Power_Level,MCS0_mW\nx,1\n\n 7,5\n8abc,6\n,9\n",
         {{0, {{5, 7}, {6, 8}}}},
         "Error parsing power level: x\nError parsing power level: \n"},
        {"unmeasured and broken cells", "Power_Level,MCS0_mW,MCS1_mW,MCS2_mW\n1,-1,NA,TEMP_ERROR_76_3\n2,-1.5,inf,1e999\n",
         {{1, {}}, {2, {}}},
         ""},
        {"rounding halves away from zero, later rows win",
         "Power_Level,MCS0_mW\n1,24.5\n2,25.4\n3,-0.4\n4,-0.6\n5,0.5\n6,1000.49\n",
         {{0, {{25, 2}, {0, 3}, {-1, 4}, {1, 5}, {1000, 6}}}},
         ""},
        {"short rows", "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW\n5,1,2\n6\n",
         {{0, {{2, 5}}}},
         "Not enough columns in line: 5,1,2\nNot enough columns in line: 6\nNot enough columns in line: 6\n"},
        {"trailing comma, carriage return", "Power_Level,MCS0_mW\r\n3,4.4\r\n4,\n", {{0, {{4, 3}}}},
         "Not enough columns in line: 4,\n"},
        {"empty text", "", {}, ""},
        {"header only", "Power_Level,MCS0_mV,MCS0_mW\n", {}, ""},
    };
    for (const auto& row : rows) {
        PowerMap map;
        Captured c = capture_output([&] { map = loadPowerCalibrationDataFromString(row.csv); });
        EXPECT_EQ(map, row.map) << row.name;
        EXPECT_EQ(c.err, row.err) << row.name;
        EXPECT_EQ(c.out, "") << row.name;
    }
}

TEST(PowerMapParse, FilesAndTheDefaultFallback) {
    const ScratchDir dir("orvi-power-map");
    const std::string table = dir / "calibrated_5_8.csv";
    const std::string empty = dir / "calibrated_5_1.csv";
    const std::string missing = dir / "calibrated_2_4.csv";
    write_file(table, "Power_Level,MCS1_mV,MCS1_mW\n10,500,20\n20,600,40\n");
    write_file(empty, "Power_Level,MCS0_mV,MCS0_mW\n");
    const std::string fallback = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n1,1,5,1,6\n";

    EXPECT_EQ(loadPowerCalibrationData(table), (PowerMap{{1, {{20, 10}, {40, 20}}}}));
    Captured c = capture_output([&] { EXPECT_EQ(loadPowerCalibrationData(missing), PowerMap{}); });
    EXPECT_EQ(c.out + c.err, "");

    PowerMap map;
    c = capture_output([&] { map = loadPowerCalibrationOrDefault(table, fallback, "5.8"); });
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(map, (PowerMap{{1, {{20, 10}, {40, 20}}}, {2, {{20, 10}, {40, 20}}}}));

    const std::map<int, int> mcs0 = {{5, 1}}, mcs3 = {{6, 1}};
    const PowerMap from_default = {{0, mcs0}, {3, mcs3}, {4, mcs3}, {5, mcs3}, {6, mcs3}, {7, mcs3}};
    for (const std::string& path : {missing, empty}) {
        c = capture_output([&] { map = loadPowerCalibrationOrDefault(path, fallback, "2.4"); });
        EXPECT_EQ(c.err, "Calibration file " + path + " missing or empty, using embedded default for 2.4.\n");
        EXPECT_EQ(map, from_default) << path;
    }
}

TEST(PowerMapParse, BuiltInTablesCoverEveryMcs) {
    struct Row {
        const char* band;
        std::string_view csv;
        // Telling points of the table: MCS, rounded mW, level.
        std::vector<std::array<int, 3>> points;
    };
    const std::vector<Row> rows = {
        {"2_4", default_cal::kCalibrated_2_4, {{0, 16, 1}, {0, 35, 10}, {0, 562, 45}, {1, 10, 1}, {1, 485, 45},
                                               {1, 1437, 60}, {3, 15, 1}, {3, 562, 35}, {3, 1189, 60}}},
        {"5_1", default_cal::kCalibrated_5_1, {{0, 5, 1}, {0, 661, 60}, {1, 7, 1}, {1, 454, 45}, {3, 8, 1},
                                               {3, 398, 35}, {3, 891, 60}}},
        {"5_8", default_cal::kCalibrated_5_8, {{0, 224, 35}, {1, 7, 1}, {1, 812, 45}, {1, 1000, 60},
                                               {3, 53, 20}, {3, 1000, 60}}},
    };
    for (const auto& row : rows) {
        PowerMap map;
        Captured c = capture_output(
            [&] { map = loadPowerCalibrationOrDefault("/nonexistent/calibrated.csv", row.csv, row.band); });
        EXPECT_EQ(c.err, std::string("Calibration file /nonexistent/calibrated.csv missing or empty, using embedded "
                                     "default for ") + row.band + ".\n");
        ASSERT_EQ(map.size(), 8u) << row.band;
        for (int mcs = 0; mcs <= 7; ++mcs) ASSERT_EQ(map.count(mcs), 1u) << row.band << " MCS " << mcs;
        EXPECT_EQ(map[2], map[1]) << row.band;
        for (int mcs = 4; mcs <= 7; ++mcs) EXPECT_EQ(map[mcs], map[3]) << row.band;
        for (const auto& [mcs, points] : map) {
            // Levels 61 to 63 carry no calibration.
            for (const auto& [mw, level] : points) {
                EXPECT_GE(level, 1) << row.band;
                EXPECT_LE(level, 60) << row.band;
                EXPECT_GT(mw, 0) << row.band;
            }
        }
        for (const auto& [mcs, mw, level] : row.points) {
            EXPECT_EQ(map[mcs].count(mw), 1u) << row.band << " MCS " << mcs << " " << mw << " mW";
            EXPECT_EQ(map[mcs][mw], level) << row.band << " MCS " << mcs << " " << mw << " mW";
            int request = mw;
            EXPECT_EQ(findClosestPowerIndex(map, mcs, &request, 5805, REGULATORY_DOMAIN_NONE, true), level);
        }
    }
}

TEST(PowerMapNormalize, FillsFromNeighboursOnlyUpward) {
    const std::map<int, int> a = {{10, 1}}, b = {{20, 2}}, c = {{30, 3}};
    struct Row {
        PowerMap in;
        PowerMap out;
    };
    const std::vector<Row> rows = {
        {{{0, a}, {1, b}, {3, c}}, {{0, a}, {1, b}, {2, b}, {3, c}, {4, c}, {5, c}, {6, c}, {7, c}}},
        {{{5, a}}, {{5, a}}},
        {{{0, a}}, {{0, a}}},
        {{{1, a}, {2, b}}, {{1, a}, {2, b}}},
        {{{3, a}, {5, b}}, {{3, a}, {4, a}, {5, b}, {6, a}, {7, a}}},
        {{{2, a}, {3, b}}, {{2, a}, {3, b}, {4, b}, {5, b}, {6, b}, {7, b}}},
        {{}, {}},
    };
    for (auto row : rows) {
        normalizeMcsCoverage(row.in);
        EXPECT_EQ(row.in, row.out);
    }
}

TEST(PowerMapLookup, NearestPointLowerWinsTies) {
    const PowerMap map = {{0, {{20, 30}, {30, 35}}}};
    struct Row {
        int mw;
        int index;
    };
    for (const Row& row : std::vector<Row>{{25, 30}, {26, 35}, {24, 30}, {10, 30}, {100, 35}, {20, 30}, {30, 35},
                                          {-50, 30}}) {
        int mw = row.mw;
        Captured c = capture_output(
            [&] { EXPECT_EQ(findClosestPowerIndex(map, 0, &mw, 2437, REGULATORY_DOMAIN_FCC, true), row.index) << row.mw; });
        EXPECT_EQ(mw, row.mw);
        EXPECT_EQ(c.out + c.err, "");
    }

    // Points below 0 mW (a detector reading under its floor) never give an index.
    const PowerMap negative = {{0, {{-3, 2}}}, {1, {{-1, 4}, {5, 9}}}};
    struct NegRow {
        int mcs;
        int mw;
        int index;
    };
    for (const NegRow& row : std::vector<NegRow>{{0, 10, 1}, {0, -10, 1}, {1, -5, 1}, {1, 0, 4}, {1, 3, 9}}) {
        int mw = row.mw;
        EXPECT_EQ(findClosestPowerIndex(negative, row.mcs, &mw, 2437, REGULATORY_DOMAIN_NONE, true), row.index)
            << row.mcs << " " << row.mw;
    }
}

TEST(PowerMapLookup, NeighbouringMcs) {
    const std::map<int, int> low = {{10, 1}}, high = {{10, 7}}, mid = {{10, 4}};
    struct Row {
        PowerMap map;
        int mcs;
        int index;
        std::string err;
    };
    const std::vector<Row> rows = {
        {{{0, low}, {7, high}}, 6, 1, ""},
        {{{0, low}, {7, high}}, 7, 7, ""},
        {{{5, mid}}, 2, 4, ""},
        {{{2, low}, {4, high}}, 3, 1, ""},
        {{{7, high}}, 9, 7, ""},
        {{{9, high}}, 3, 1, "Power calibration data for MCS3 not found and no neighboring MCS available.\n"},
        {{{8, high}}, -1, 1, "Power calibration data for MCS-1 not found and no neighboring MCS available.\n"},
        {{{2, {}}, {1, low}}, 2, 1, "Power calibration data for MCS2 holds no usable points.\n"},
        {{{2, {}}}, 3, 1, "Power calibration data for MCS2 holds no usable points.\n"},
        {{}, 3, 1, "Power calibration data for MCS3 not found and no neighboring MCS available.\n"},
    };
    int index = 0;
    Captured none = capture_output([&] {
        index = findClosestPowerIndex({{0, low}}, 0, nullptr, 5805, REGULATORY_DOMAIN_FCC, true);
    });
    EXPECT_EQ(index, 1);
    EXPECT_EQ(none.err, "findClosestPowerIndex: no requested power given\n");
    EXPECT_EQ(none.out, "");
    for (const auto& row : rows) {
        int mw = 10;
        int index = 0;
        Captured c = capture_output(
            [&] { index = findClosestPowerIndex(row.map, row.mcs, &mw, 5805, REGULATORY_DOMAIN_NONE, true); });
        EXPECT_EQ(index, row.index) << "MCS " << row.mcs;
        EXPECT_EQ(c.err, row.err) << "MCS " << row.mcs;
    }
}

TEST(PowerMapLookup, FccCapsTheLowerFiveGigahertzBand) {
    const PowerMap map = {{0, {{100, 10}, {200, 20}, {500, 40}}}};
    const std::string limit = "Limiting power for frequency %d to max of 200mw (23dBm).\n";
    struct Row {
        int frequency;
        RegulatoryDomain domain;
        int mw;
        int index;
        int mw_after;
        bool capped_message;
    };
    const std::vector<Row> rows = {
        {5200, REGULATORY_DOMAIN_FCC, 500, 20, 200, true},  {5200, REGULATORY_DOMAIN_FCC, 25, 10, 25, true},
        {5180, REGULATORY_DOMAIN_FCC, 900, 20, 200, true},  {5320, REGULATORY_DOMAIN_FCC, 201, 20, 200, true},
        {5321, REGULATORY_DOMAIN_FCC, 500, 40, 500, false}, {5179, REGULATORY_DOMAIN_FCC, 500, 40, 500, false},
        {5745, REGULATORY_DOMAIN_FCC, 500, 40, 500, false}, {5200, REGULATORY_DOMAIN_NONE, 500, 40, 500, false},
    };
    for (const auto& row : rows) {
        int mw = row.mw;
        int index = 0;
        Captured c = capture_output([&] { index = findClosestPowerIndex(map, 0, &mw, row.frequency, row.domain, false); });
        EXPECT_EQ(index, row.index) << row.frequency << " " << row.mw;
        EXPECT_EQ(mw, row.mw_after) << row.frequency << " " << row.mw;
        EXPECT_EQ(c.out, row.capped_message ? "Limiting power for frequency " + std::to_string(row.frequency) +
                                                  " to max of 200mw (23dBm).\n"
                                            : "")
            << row.frequency;
    }
    // Under the cap the nearest point may lie above the request: never picked.
    const PowerMap above = {{0, {{150, 15}, {205, 21}, {500, 40}}}};
    const PowerMap all_above = {{0, {{250, 25}, {300, 30}}}};
    const struct {
        const PowerMap& map;
        int mw;
        int index;
    } capped[] = {{above, 500, 15}, {above, 190, 15}, {above, 205, 15}, {above, 140, 15}, {all_above, 500, 25}};
    for (const auto& row : capped) {
        int mw = row.mw;
        int index = 0;
        capture_output([&] { index = findClosestPowerIndex(row.map, 0, &mw, 5180, REGULATORY_DOMAIN_FCC, true); });
        EXPECT_EQ(index, row.index) << row.mw;
    }
}

TEST(PowerMapLookup, FixedIndicesWithoutCalibration) {
    struct Row {
        int frequency;
        int mcs;
        RegulatoryDomain domain;
        int index;
    };
    const std::vector<Row> rows = {
        {2437, 3, REGULATORY_DOMAIN_NONE, 45}, {2437, 2, REGULATORY_DOMAIN_NONE, 39}, {2484, 0, REGULATORY_DOMAIN_FCC, 39},
        {2412, 7, REGULATORY_DOMAIN_FCC, 45},  {5200, 3, REGULATORY_DOMAIN_FCC, 30},  {5200, 3, REGULATORY_DOMAIN_NONE, 58},
        {5340, 0, REGULATORY_DOMAIN_FCC, 30},  {5341, 0, REGULATORY_DOMAIN_FCC, 58},  {2485, 0, REGULATORY_DOMAIN_FCC, 30},
        {5745, 1, REGULATORY_DOMAIN_FCC, 58},
    };
    for (const auto& row : rows) {
        int mw = 1000;
        int index = 0;
        Captured c = capture_output(
            [&] { index = findClosestPowerIndex(PowerMap{}, row.mcs, &mw, row.frequency, row.domain, false); });
        EXPECT_EQ(index, row.index) << row.frequency << " MCS " << row.mcs;
        EXPECT_EQ(c.err, "Calibration file missing and ADC unavailable. Defaulting to max power idx for " +
                             std::to_string(row.frequency) + "MHz --> " + std::to_string(row.index) + "\n");
        EXPECT_EQ(mw, 1000);
    }
}

TEST(PowerMapPrint, WritesEveryPointToStderr) {
    const PowerMap map = {{0, {{10, 1}, {20, 5}}}, {3, {}}};
    Captured c = capture_output([&] { printPowerMap(map); });
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err,
              "MCS Index: 0\n"
              "  Output Power (mW): 10 -> Power Index: 1\n"
              "  Output Power (mW): 20 -> Power Index: 5\n"
              "\n"
              "MCS Index: 3\n"
              "\n");
}

}  // namespace
