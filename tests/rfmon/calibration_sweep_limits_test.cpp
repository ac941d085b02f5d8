// The limits of orvi-rfmon on the simulated board, against its truth: the
// power guard within the detector's uncertainty (0.72 dB at 2.4 and 5.8 GHz,
// 0.73 dB at 5.1 GHz), estimates held back within it, old cells cleared
// above a fresh stop, conversion tables checked before the power goes up,
// and the FCC cap of the power search. The board's temperature is held, so
// that its truth after a run is the truth the run measured.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr double kLimitDbm = 31.5;
constexpr double kUncertainty24Db = 0.72;

struct Outcome {
    int status = -1;
    std::string out, err, tools;
    std::map<int, std::string> cells;  // level -> "mV,mW" of the table's first column
    std::map<int, double> truth;       // level -> true dBm, levels 1..60
    double truth_now = 0;              // at the index the transmitter was left at
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

double cell_dbm(const std::string& cells) {
    const double mw = std::strtod(cells.c_str() + cells.find(',') + 1, nullptr);
    return mw > 0 ? 10 * std::log10(mw) : NAN;
}

// The level of the first line of `out` that holds `part`, read after it.
int level_after(const std::string& out, const std::string& part) {
    const size_t at = out.find(part);
    return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + part.size());
}

// Every level written below `stop` (and `stop` itself unless it is an
// anchor that a fast sweep jumped to) is at most 31.5 dBm true, and nothing
// above `stop` has a value.
void expect_nothing_written_above_the_limit(const Outcome& o, int stop) {
    for (const auto& [level, cells] : o.cells) {
        if (level > stop) {
            EXPECT_EQ(cells, "-1,-1") << "level " << level;
        } else if (level == stop) {
            EXPECT_NE(cells, "-1,-1");
            EXPECT_LE(o.truth.at(level), kLimitDbm);
        } else if (cells != "-1,-1") {
            EXPECT_LE(o.truth.at(level), kLimitDbm) << "level " << level;
        }
    }
}

struct LimitCase {
    const char* name;
    std::vector<std::string> board;  // board options
    std::string data;                // a file put in /data/quillon/vtx/ first: "NAME\nTEXT"
    std::string run;                 // shell lines; R runs orvi-rfmon -d 1
    int frequency, mcs;              // the table and the truth asked after the run
    std::function<void(const Outcome&)> expect;
};

class LimitsOnBoard : public testing::Test {
  protected:
    Outcome run(const LimitCase& c) {
        std::vector<std::string> board = {"--temp-rise", "0", "--log", dir_ + "/tools.log"};
        board.insert(board.end(), c.board.begin(), c.board.end());
        const std::string data = dir_ + "/" + std::to_string(++runs_);
        if (!c.data.empty()) {
            make_dirs(data);
            write_file(data + "/" + c.data.substr(0, c.data.find('\n')),
                       c.data.substr(c.data.find('\n') + 1));
            board.insert(board.end(), {"--data", data});
        }
        const std::string token = c.frequency < 4000 ? "2_4" : c.frequency < 5600 ? "5_1" : "5_8";
        const std::string f = std::to_string(c.frequency), m = std::to_string(c.mcs);
        const std::string script = "R() { " + program_shell_words("rfmon/orvi-rfmon") +
                                   " -d 1 \"$@\"; }\nD=" + shell_quote(dir_) +
                                   "\n: > \"$D/tools.log\"\n" + c.run +
                                   "\necho $? > \"$D/status\"\n" +
                                   "orvi-sim-ctl truth > \"$D/now\"\n"
                                   "cp /data/quillon/vtx/calibrated_" +
                                   token +
                                   ".csv \"$D/table\" 2> /dev/null || : > \"$D/table\"\n"
                                   "for p in $(seq 1 60); do orvi-sim-ctl truth " +
                                   f + " " + m + " $p; done > \"$D/truth\"\n";
        RunOptions options;
        options.timeout_ms = 120000;
        const ProcessResult r = run_on_board(board, {"/bin/sh", "-c", script}, options);
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        Outcome o;
        o.status = std::atoi(read_file(dir_ + "/status").c_str());
        o.out = read_file(dir_ + "/out");
        o.err = read_file(dir_ + "/err");
        o.tools = read_file(dir_ + "/tools.log");
        for (const std::string& line : lines_of(read_file(dir_ + "/table"))) {
            std::vector<std::string> fields;
            std::istringstream in(line);
            for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
            if (fields.size() >= 3 && fields[0] != "Power_Level")
                o.cells[std::atoi(fields[0].c_str())] = fields[1] + "," + fields[2];
        }
        for (const std::string& line : lines_of(read_file(dir_ + "/truth"))) {
            const int level = level_after(line, " power=");
            o.truth[level] = std::strtod(line.c_str() + line.find(" dbm=") + 5, nullptr);
        }
        const std::string now = read_file(dir_ + "/now");
        if (has(now, " dbm="))
            o.truth_now = std::strtod(now.c_str() + now.find(" dbm=") + 5, nullptr);
        return o;
    }
    const ScratchDir scratch_{"orvi-limits-test"};
    const std::string dir_ = scratch_.path();
    int runs_ = 0;
};

// The shipped 5.8 GHz table with every dBm shifted by `shift`, or "nan" in
// every row above 900 mV (the first of them on line *nan_line).
std::string shipped_5_8(double shift, bool nan_above_900, int* nan_line = nullptr) {
    std::istringstream in(read_file(source_path("data/5_8_mv_to_dbm.csv")));
    std::string text, line;
    std::getline(in, line);
    text = line + "\n";
    for (int number = 2; std::getline(in, line); ++number) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
        const bool nan = nan_above_900 && std::strtod(fields[0].c_str(), nullptr) > 900;
        if (nan && nan_line && !*nan_line)
            *nan_line = number;
        text += fields[0];
        for (size_t i = 1; i < fields.size(); ++i) {
            char value[32];
            std::snprintf(value, sizeof value, "%.2f",
                          std::strtod(fields[i].c_str(), nullptr) + shift);
            text += std::string(",") + (nan ? "nan" : value);
        }
        text += "\n";
    }
    return text;
}

// A 5.8 GHz MCS 0 table holding 10 to 400 mW at levels 1 to 40 and 410 to
// 600 mW at 41 to 60.
std::string stored_table() {
    std::string text = "calibrated_5_8.csv\nPower_Level,MCS0_mV,MCS0_mW\n";
    char line[64];
    for (int level = 1; level <= 63; ++level) {
        const double mw = level <= 40 ? 10.0 * level : 410.0 + 10 * (level - 41);
        std::snprintf(line, sizeof line, level <= 60 ? "%d,%.2f,%.2f\n" : "%d,-1,-1\n", level,
                      400.0 + 10 * level, mw);
        text += line;
    }
    return text;
}

const std::string kTable58 = "/data/quillon/vtx/5_8_mv_to_dbm.csv";
const std::string kHeaderOnly =
    "5_8_mv_to_dbm.csv\nmV,MCS0_dBm,MCS1_dBm,MCS2_dBm,MCS3_dBm,MCS4_dBm,MCS5_dBm,MCS6_dBm,MCS7_"
    "dBm\n";
const std::string kHeaderOnlyFault =
    kTable58 + " line 1: only a header; at least two rows are needed";
// Monitoring until the search has set its level, then SIGTERM.
const std::string kSearch =
    "R -adjust-mW 1000 > \"$D/out\" 2> \"$D/err\" & m=$!\n"
    "until grep -q '^Optimal power level found' \"$D/out\" || ! kill -0 $m 2> /dev/null; do "
    "env -u LD_PRELOAD sleep 0.05; done\nkill -TERM $m; wait $m";
// The first reading fails, so that the telemetry is in before the search.
const std::vector<std::string> kFcc = {"--publisher",  "",   "--fault",     "buffer-read:nak:at=1",
                                       "--time-scale", "40", "--frequency", "5200",
                                       "--mcs",        "0"};

TEST_F(LimitsOnBoard, LimitsHoldAgainstTheTruth) {
    int nan_line = 0;
    const std::string nan_table = "5_8_mv_to_dbm.csv\n" + shipped_5_8(0, true, &nan_line);
    const std::vector<LimitCase> cases = {
        {"a unit whose detector reads low stops at the guard, before its truth crosses",
         {"--virtual-time", "--unit", "140"},
         "",
         "R -calibrate -f 2412 -m 0 > \"$D/out\" 2> \"$D/err\"",
         2412,
         0,
         [](const Outcome& o) {
             EXPECT_EQ(o.status, 0) << o.err;
             const int stop =
                 level_after(o.out,
                             "is within the detector's uncertainty (0.72 dB) of the safety "
                             "threshold of 31.5 dBm at power level ");
             ASSERT_GT(stop, 40) << o.out;
             EXPECT_GT(o.truth.at(60), kLimitDbm);  // without the guard, the table would go on
             expect_nothing_written_above_the_limit(o, stop);
         }},
        {"a fast sweep steps to the guard, writes no estimate within it and nothing above the stop",
         {"--virtual-time", "--unit", "78"},
         "",
         "R -fast-calibrate -f 2412 -m 3 > \"$D/out\" 2> \"$D/err\"",
         2412,
         3,
         [](const Outcome& o) {
             EXPECT_EQ(o.status, 0) << o.err;
             EXPECT_TRUE(has(o.out, "Power level 45 may come near the safety threshold; measuring "
                                    "levels 36 to 44 one by one\n"));
             const int stop =
                 level_after(o.out,
                             "is within the detector's uncertainty (0.72 dB) of the safety "
                             "threshold of 31.5 dBm at power level ");
             ASSERT_GT(stop, 35) << o.out;
             ASSERT_LT(stop, 45) << o.out;
             EXPECT_FALSE(has(o.out, "Calibrating power level 45 ")) << o.out;
             for (const auto& [level, cells] : o.cells) {
                 if (level < stop && cells != "-1,-1") {
                     EXPECT_LE(cell_dbm(cells) + kUncertainty24Db, kLimitDbm) << level;
                 }
             }
             // Without the steps anchor 45 would have been the stop, at 31.79 dBm true.
             EXPECT_GT(o.truth.at(45), kLimitDbm);
             expect_nothing_written_above_the_limit(o, stop);
         }},
        {"a fresh stop clears the stored cells above it",
         {"--virtual-time", "--over-power", "40:400"},
         stored_table(),
         "R -calibrate -f 5805 -m 0 > \"$D/out\" 2> \"$D/err\"",
         5805,
         0,
         [](const Outcome& o) {
             EXPECT_EQ(o.status, 0) << o.err;
             EXPECT_TRUE(
                 has(o.out, "above the conversion table's range (1076.00 mV) at power level 40\n"));
             EXPECT_NE(o.cells.at(40), "-1,-1");
             for (int level = 41; level <= 63; ++level)
                 EXPECT_EQ(o.cells.at(level), "-1,-1") << level;
             EXPECT_NE(o.cells.at(39), "790.00,390.00");
         }},
        {"a header-only table is refused before the power goes up",
         {"--virtual-time", "--output-loss", "-2"},
         kHeaderOnly,
         "R -calibrate -f 5805 -m 0 > \"$D/out\" 2> \"$D/err\"",
         5805,
         0,
         [](const Outcome& o) {
             EXPECT_EQ(o.status, 1);
             EXPECT_EQ(o.err, "Error: conversion table " + kHeaderOnlyFault +
                                  "; the power is not raised with it\nCalibration failed for "
                                  "Frequency: 5805 MHz, "
                                  "MCS: 0\n");
             EXPECT_FALSE(has(o.tools, "-p ")) << o.tools;
             EXPECT_TRUE(o.cells.empty());
         }},
        {"a table with nan cells is refused, naming its line and column",
         {"--virtual-time", "--output-loss", "-2"},
         nan_table,
         "R -fast-calibrate -f 5805 -m 0 > \"$D/out\" 2> \"$D/err\"",
         5805,
         0,
         [nan_line](const Outcome& o) {
             EXPECT_EQ(o.status, 1);
             EXPECT_EQ(
                 o.err,
                 "Error: conversion table " + kTable58 + " line " + std::to_string(nan_line) +
                     ", column 2 (MCS0): not a finite number; the power is not raised with it\n"
                     "Calibration failed for Frequency: 5805 MHz, MCS: 0\n");
             EXPECT_FALSE(has(o.tools, "-p ")) << o.tools;
         }},
        {"the field check with a refused table could not check",
         {"--virtual-time"},
         kHeaderOnly,
         "R -verify -f 5805 -m 0 > \"$D/out\" 2> \"$D/err\"",
         5805,
         0,
         [](const Outcome& o) {
             EXPECT_EQ(o.status, 2);
             EXPECT_TRUE(
                 has(o.out,
                     "Field check 5805 MHz MCS 0: could not check, the 5.8 GHz conversion table "
                     "failed its check\n"))
                 << o.out;
             EXPECT_FALSE(has(o.tools, "-p ")) << o.tools;
         }},
        {"a search with a refused table sets nothing and exits 1",
         {"--publisher", "", "--time-scale", "40"},
         kHeaderOnly,
         "R -adjust-dbm 20 > \"$D/out\" 2> \"$D/err\"",
         5805,
         0,
         [](const Outcome& o) {
             EXPECT_EQ(o.status, 1);
             EXPECT_EQ(o.err, "Error: conversion table " + kHeaderOnlyFault +
                                  "; its readings are not to be trusted\nError: conversion table " +
                                  kHeaderOnlyFault + "; the power is not raised with it\n");
             EXPECT_EQ(o.tools, "orvi-configure-vtx -p 1\n");
         }},
        {"a table 4 dB low is warned about; the limits cannot see through it",
         {"--virtual-time"},
         "5_8_mv_to_dbm.csv\n" + shipped_5_8(-4, false),
         "R -fast-calibrate -f 5805 -m 0 > \"$D/out\" 2> \"$D/err\"",
         5805,
         0,
         [](const Outcome& o) {
             EXPECT_EQ(o.status, 0) << o.err;
             EXPECT_TRUE(has(o.out, "Warning: conversion table " + kTable58 + " column MCS"))
                 << o.out;
             EXPECT_TRUE(
                 has(o.out,
                     "; 8 of 8 columns more than 3.0 dB off: a table of another board, or a "
                     "shifted column?\n"));
             EXPECT_TRUE(has(o.tools, "orvi-configure-vtx -p 60\n"));
         }},
        {"under FCC rules the search's request is capped within the uncertainty", kFcc, "",
         "printf '{\"regulatory_mode\": \"fcc\"}' > /etc/quillon/orvi-vtx.conf\n" + kSearch, 5200,
         0,
         [](const Outcome& o) {
             EXPECT_TRUE(has(
                 o.out,
                 "Limiting the request at 5200 MHz to 22.25 dBm under FCC rules: its reading plus "
                 "the detector's uncertainty (0.73 dB) stays at or below 200 mW\n"))
                 << o.out;
             EXPECT_TRUE(has(o.out, "Optimal power level found: "));
             EXPECT_LE(o.truth_now, 10 * std::log10(200.0));
         }},
        {"without FCC rules the same request is not capped", kFcc, "", kSearch, 5200, 0,
         [](const Outcome& o) {
             EXPECT_FALSE(has(o.out, "Limiting the request")) << o.out;
             EXPECT_GT(o.truth_now, 10 * std::log10(200.0));
         }},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        c.expect(run(c));
    }
}

}  // namespace
