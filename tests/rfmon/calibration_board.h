// A calibration run of the real orvi-rfmon on a board of its own (virtual
// time), the tables it left and the board's truth for the levels swept:
// shared by the sweep's end-to-end tests and the bands'.
//
// With the board's noise off and its temperature held, every sample of a
// level reads one voltage. The board tells, for every level, the true output
// power and that voltage's converter code (orvi-sim-ctl truth): a measured
// mV cell must be that voltage exactly, and every mW cell must lie within
// kTruthBoundDb of the true power.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

inline std::string lines(int from, int to, const std::string& suffix) {
    std::string text;
    for (int level = from; level <= to; ++level) text += std::to_string(level) + suffix + "\n";
    return text;
}

struct Band {
    const char* token;
    const char* key;
};

inline Band band_of(int frequency) {
    if (frequency < 4000) return {"2_4", "2.4"};
    return frequency / 100 < 56 ? Band{"5_1", "5.1"} : Band{"5_8", "5.8"};
}

// How far a reading of the typical unit may be from its true power: its
// detector law departs from the reference curves by up to 0.6 dB, and at the
// lowest levels of 5.1 GHz the shipped table's extension below its first
// reference row reads up to 1.1 dB under it.
constexpr double kTruthBoundDb = 1.1;

struct Truth {
    double dbm;
    std::string mv;  // the converter's voltage, "%.2f"
};

// "frequency mcs power" -> truth, from the lines of orvi-sim-ctl truth.
using TruthTable = std::map<std::string, Truth>;

inline std::string truth_key(int frequency, int mcs, int level) {
    return std::to_string(frequency) + " " + std::to_string(mcs) + " " + std::to_string(level);
}

inline TruthTable parse_truth(const std::string& text) {
    TruthTable table;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        int f = 0, m = 0, p = 0, code = 0;
        double t = 0, dbm = 0, mv = 0;
        if (std::sscanf(line.c_str(),
                        "frequency=%d mcs=%d power=%d temperature=%lf dbm=%lf mv=%lf code=%d", &f,
                        &m, &p, &t, &dbm, &mv, &code) != 7)
            continue;
        char text_mv[32];
        std::snprintf(text_mv, sizeof text_mv, "%.2f", code * 1800.0 / 4096.0);
        table[truth_key(f, m, p)] = {dbm, text_mv};
    }
    return table;
}

inline std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    return fields;
}

struct BoardRun {
    ProcessResult process;
    std::map<std::string, std::string> tables;  // file name -> content after the run
    std::string tools_log;
    TruthTable truth;

    // The two cells at `mv_column` of `level` in table `name`, checked
    // against the board's truth: the voltage exactly when it was measured
    // with the noise off, the power always within kTruthBoundDb.
    std::string cells(const std::string& name, int frequency, int mcs, int level,
                      size_t mv_column = 1, bool measured = true) const {
        std::istringstream in(tables.count(name) ? tables.at(name) : "");
        std::string line;
        while (std::getline(in, line) && line.rfind(std::to_string(level) + ",", 0) != 0) {
        }
        const std::vector<std::string> fields = split(line);
        EXPECT_GT(fields.size(), mv_column + 1) << name << " level " << level;
        if (fields.size() <= mv_column + 1) return "";
        const auto t = truth.find(truth_key(frequency, mcs, level));
        EXPECT_NE(t, truth.end()) << "no truth for " << truth_key(frequency, mcs, level);
        if (t != truth.end()) {
            if (measured) {
                EXPECT_EQ(fields[mv_column], t->second.mv) << name << " level " << level;
            }
            EXPECT_NEAR(10 * std::log10(std::strtod(fields[mv_column + 1].c_str(), nullptr)),
                        t->second.dbm, kTruthBoundDb)
                << name << " level " << level;
        }
        return fields[mv_column] + "," + fields[mv_column + 1];
    }
};

class CalibrationOnBoard : public testing::Test {
protected:
    void SetUp() override {
        make_dirs(dir_ + "/in");
        make_dirs(dir_ + "/out");
    }

    void store(const std::string& name, const std::string& text) {
        write_file(dir_ + "/in/" + name, text);
        have_stored_ = true;
    }

    // `truth_for`: the "frequency mcs" pairs whose truth the board reports
    // after the run, for levels 1 to 60.
    BoardRun run(const std::vector<std::string>& board, const std::vector<std::string>& args,
                 const std::vector<std::string>& setup = {}, const std::string& noise_mv = "0",
                 const std::vector<std::string>& truth_for = {}) {
        std::remove((dir_ + "/tools.log").c_str());
        std::string truth_pairs;
        for (const std::string& pair : truth_for) truth_pairs += " " + pair;
        std::vector<std::string> argv = {"--virtual-time",
                                         "--noise-mv",
                                         noise_mv,
                                         "--temp-rise",
                                         "0",
                                         "--log",
                                         dir_ + "/tools.log"};
        argv.insert(argv.end(), board.begin(), board.end());
        if (have_stored_) {
            argv.push_back("--data");
            argv.push_back(dir_ + "/in");
        }
        for (const std::string& cmd : setup) {
            argv.push_back("--setup");
            argv.push_back(cmd);
        }
        std::vector<std::string> command = {"/bin/sh", "-c",
                     "\"$0\" \"$@\"; s=$?; for f in /data/quillon/vtx/calibrated_*.csv; do [ -f \"$f\" ] &&"
                         " cp \"$f\" '" + dir_ + "/out/'; done; for fm in " + truth_pairs + "; do for p in $(seq 1 60);"
                         " do orvi-sim-ctl truth ${fm%_*} ${fm#*_} $p; done; done > '" + dir_ +
                         "/truth'; exit $s",
                     };
        for (const auto& word : program_command("rfmon/orvi-rfmon")) command.push_back(word);
        command.insert(command.end(), {"-d", "1"});
        command.insert(command.end(), args.begin(), args.end());
        BoardRun result;
        RunOptions options;
        options.timeout_ms = 120000;
        result.process = run_on_board(argv, command, options);
        for (const char* token : {"2_4", "5_1", "5_8"}) {
            std::string name = std::string("calibrated_") + token + ".csv";
            if (file_exists(dir_ + "/out/" + name)) result.tables[name] = read_file(dir_ + "/out/" + name);
        }
        result.tools_log = read_file(dir_ + "/tools.log");
        result.truth = parse_truth(read_file(dir_ + "/truth"));
        return result;
    }

    const ScratchDir scratch_{"orvi-calibration-test"};
    const std::string dir_ = scratch_.path();
    bool have_stored_ = false;
};

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
