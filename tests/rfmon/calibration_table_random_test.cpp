// Merges of many generated tables: whatever the stored cells, a merge keeps
// every column in its place, every line as wide as the header, every level
// present, and the other columns' cells as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "calibration_table.h"

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

class Quiet {
public:
    Quiet() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    ~Quiet() {
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
    }
};

TEST(CalibrationMerge, GeneratedTablesKeepTheirShape) {
    std::mt19937 rng(20261208);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* kinds[] = {"", "NA", "-1", "TEMP_ERROR_76_3", "812.40", "5"};
    for (int round = 0; round < 800; ++round) {
        std::vector<int> pairs = {0, 1, 2, 3, 4, 5, 6, 7};
        std::shuffle(pairs.begin(), pairs.end(), rng);
        pairs.resize(pick(4));
        std::string header = "Power_Level";
        for (int mcs : pairs) header += ",MCS" + std::to_string(mcs) + "_mV,MCS" + std::to_string(mcs) + "_mW";
        const int stored_fields = 1 + 2 * static_cast<int>(pairs.size());

        stored_table_t stored;
        stored.header = header + "\n";
        std::vector<std::string> level_texts;
        for (int level = 1; level <= 63; ++level) {
            if (pick(5) != 0) level_texts.push_back(std::to_string(level));
        }
        if (pick(3) == 0) level_texts.push_back(std::to_string(1 + pick(63)));  // a duplicate
        if (pick(3) == 0) level_texts.push_back(pick(2) ? "abc" : "99");         // no level
        std::shuffle(level_texts.begin(), level_texts.end(), rng);
        for (const std::string& level : level_texts) {
            std::string row = level;
            for (int i = 1; i < stored_fields; ++i) row += std::string(",") + kinds[pick(6)];
            stored.rows.push_back(row);
        }

        sweep_results_t results = {};
        for (int level = 1; level <= 63; ++level) {
            int kind = pick(4);
            if (kind == 1) results.level[level] = {true, 300.0 + pick(70000) / 100.0, pick(100000) / 100.0};
            if (kind == 2 && pick(8) == 0) results.level[level] = {true, TEMPERATURE_STOP_MV, 75.0 + pick(100) / 10.0};
        }
        const int mcs = pick(8);
        const bool update = std::find(pairs.begin(), pairs.end(), mcs) != pairs.end();

        std::string merged;
        int status;
        {
            Quiet quiet;
            status = merge_table_text(stored, results, mcs, "t.csv", &merged);
        }
        ASSERT_EQ(status, 0) << "round " << round;
        ASSERT_FALSE(merged.empty());
        ASSERT_EQ(merged.back(), '\n');
        std::vector<std::string> out = split_lines(merged);
        const std::string mcs_text = std::to_string(mcs);
        const std::string expected_header =
            update ? header : header + ",MCS" + mcs_text + "_mV,MCS" + mcs_text + "_mW";
        ASSERT_EQ(out[0], expected_header);
        std::vector<std::string> header_fields = split(expected_header);
        const int mv_pos = static_cast<int>(std::find(header_fields.begin(), header_fields.end(),
                                                      "MCS" + mcs_text + "_mV") - header_fields.begin());
        const int mw_pos = mv_pos + 1;

        std::set<int> levels_seen;
        ASSERT_GE(out.size(), 1 + stored.rows.size());
        for (size_t i = 1; i < out.size(); ++i) {
            std::vector<std::string> fields = split(out[i]);
            ASSERT_EQ(fields.size(), header_fields.size()) << "round " << round << ": " << out[i];
            int level = std::atoi(fields[0].c_str());
            levels_seen.insert(level);
            if (i <= stored.rows.size()) {
                // Stored lines keep their order and every cell outside the target pair.
                std::vector<std::string> before = split(stored.rows[i - 1]);
                for (size_t c = 0; c < before.size(); ++c) {
                    if (static_cast<int>(c) == mv_pos || static_cast<int>(c) == mw_pos) continue;
                    EXPECT_EQ(fields[c], before[c]) << "round " << round;
                }
            }
            if (level >= 1 && level <= 63 && results.level[level].valid) {
                std::string mv, mw;
                level_cells(results.level[level], "-1", &mv, &mw);
                EXPECT_EQ(fields[mv_pos], mv) << "round " << round;
                EXPECT_EQ(fields[mw_pos], mw) << "round " << round;
            }
        }
        for (int level = 1; level <= 63; ++level) {
            EXPECT_EQ(levels_seen.count(level), 1u) << "round " << round << " level " << level;
        }
    }
}

// Arbitrary bytes as a stored file: parsing and merging either refuse with a
// result of -1 or produce complete lines, never anything else.
TEST(CalibrationMerge, ArbitraryBytesNeverBreakTheMerge) {
    std::mt19937 rng(7);
    const std::string alphabet = "0123456789,,,\n\nNAMCS_mVW-.x\r ";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int length = static_cast<int>(rng() % 400);
        for (int i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
        if (rng() % 4 == 0) text = "Power_Level,MCS3_mV,MCS3_mW\n" + text;
        sweep_results_t results = {};
        results.level[1 + rng() % 63] = {true, 500.0, 20.0};
        results.level[1 + rng() % 63] = {true, TEMPERATURE_STOP_MV, 80.25};
        stored_table_t stored;
        std::string merged;
        int status;
        {
            Quiet quiet;
            status = parse_stored_table(text, "t.csv", &stored);
            if (status == 0) status = merge_table_text(stored, results, static_cast<int>(rng() % 8), "t.csv", &merged);
        }
        if (status != 0) {
            EXPECT_TRUE(merged.empty());
            continue;
        }
        ASSERT_FALSE(merged.empty());
        EXPECT_EQ(merged.back(), '\n');
        EXPECT_EQ(merged.find("\n\n"), std::string::npos) << "round " << round;
    }
}

}  // namespace
