// The real orvi-rfmon in monitoring mode on the simulated board, in virtual
// time: the printed powers against the board's RF model, a missing
// temperature sensor, bus failures and their 5 s wait, and the power search.
//
// With the board's noise off, the detector reads the band's reference
// voltage quantised by the 12-bit converter, so every expected figure
// follows from the built-in reference tables and the shipped conversion
// tables (loaded here from the checkout).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "conversion_tables.h"
#include "default_power_calibration.h"
#include "test_support.h"

namespace {

constexpr double kCycleNs = (300 * 100e-6 + 0.5) * 1e9;  // samples and pause of one cycle

// The numbers that follow each occurrence of `key` in `text`.
std::vector<double> numbers_after(const std::string& text, const std::string& key) {
    std::vector<double> out;
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        out.push_back(std::strtod(text.c_str() + at + key.size(), nullptr));
    }
    return out;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct Band {
    const char* token;  // the board's curve
    const char* key;    // the table that converts channel 1
};

// The board's detector voltage: the reference curve, plus an offset, at the
// nearest converter code.
double board_mv(const char* token, int mcs, int level, double offset_mv = 0) {
    double mv = default_cal_get_mv(token, mcs, level) + offset_mv;
    double code = std::floor(mv * 4096.0 / 1800.0 + 0.5);
    code = std::min(std::max(code, 0.0), 4095.0);
    return code * 1800.0 / 4096.0;
}

// 10 log10 of the reference mW of a level, read from the built-in text.
double reference_dbm(const char* token, int mcs, int level) {
    std::string_view table = token[0] == '2'   ? default_cal::kCalibrated_2_4
                             : token[2] == '1' ? default_cal::kCalibrated_5_1
                                               : default_cal::kCalibrated_5_8;
    const int column_mcs = mcs == 2 ? 1 : mcs >= 4 ? 3 : mcs;
    const std::vector<std::string> rows = lines_of(std::string(table));
    const std::string name = "MCS" + std::to_string(column_mcs) + "_mW";
    std::vector<std::string> header;
    std::stringstream h(rows.at(0));
    for (std::string cell; std::getline(h, cell, ',');) header.push_back(cell);
    const size_t column = std::find(header.begin(), header.end(), name) - header.begin();
    std::stringstream row(rows.at(level));
    std::string cell;
    for (size_t i = 0; i <= column; ++i) std::getline(row, cell, ',');
    return 10.0 * std::log10(std::strtod(cell.c_str(), nullptr));
}

double table_dbm(const char* key, int mcs, double mv) {
    double mv_out = 0, dbm = -100;
    EXPECT_EQ(read_csv_data_cached(&mv_out, &dbm, mcs, key, mv), 0);
    return dbm;
}

std::string fixed2(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

struct BoardRun {
    ProcessResult process;  // the board wrapper; its stdout ends with the board state line
    std::string out;        // orvi-rfmon's stdout alone
    std::string err;        // and its stderr
    std::string tools_log;
    double virtual_ns = 0;
};

class MonitorOnBoard : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (const char* token : {"2_4", "5_1", "5_8"}) {
            std::string key = token;
            key[1] = '.';
            const std::string path = source_path("data/" + std::string(token) + "_mv_to_dbm.csv");
            ASSERT_EQ(load_csv_cache(get_csv_cache_for_freq(key.c_str()), path.c_str()), 0) << path;
        }
    }

    // orvi-rfmon -d 1 ARGS for `seconds` of real time, then SIGTERM.
    BoardRun run(const std::vector<std::string>& board, const std::vector<std::string>& args,
                 double seconds = 1.0) {
        std::vector<std::string> options = {"--noise-mv", "0", "--log", dir_ + "/tools.log",
                                            "--publisher", ""};
        bool scaled = false;
        for (const auto& a : board) scaled = scaled || a == "--time-scale";
        if (!scaled)
            options.push_back("--virtual-time");
        options.insert(options.end(), board.begin(), board.end());
        char limit[32];
        std::snprintf(limit, sizeof limit, "%.2f", seconds);
        std::vector<std::string> command = {
            "/bin/sh", "-c",
            std::string("timeout -s TERM ") + limit + " stdbuf -oL -eL \"$0\" \"$@\" > '" + dir_ +
                "/out' 2> '" + dir_ + "/err'; orvi-sim-ctl show",
            binary_path("rfmon/orvi-rfmon"), "-d", "1"};
        command.insert(command.end(), args.begin(), args.end());
        for (const char* f : {"/tools.log", "/out", "/err"}) std::remove((dir_ + f).c_str());
        BoardRun r;
        RunOptions limits;
        limits.timeout_ms = 60000;
        r.process = run_on_board(options, command, limits);
        r.out = read_file(dir_ + "/out");
        r.err = read_file(dir_ + "/err");
        r.tools_log = read_file(dir_ + "/tools.log");
        const auto ns = numbers_after(r.process.out, "virtual_ns=");
        if (!ns.empty())
            r.virtual_ns = ns.back();
        return r;
    }

    const ScratchDir scratch_{"measurement-e2e"};
    const std::string& dir_ = scratch_.path();
};

// The monitoring lines of one telemetry state, with the temperature cut out.
std::vector<std::string> monitoring_lines(const std::string& out, int frequency, int mcs,
                                          int power) {
    const std::string tail = "   Freq: " + std::to_string(frequency) +
                             " MHz   MCS: " + std::to_string(mcs) +
                             "   Power: " + std::to_string(power);
    const std::string temperature = "Temperature (C): ";
    std::vector<std::string> found;
    for (const auto& line : lines_of(out)) {
        if (line.rfind("2.4 GHz (CH0): ", 0) == 0 && line.size() > tail.size() &&
            line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
            const size_t from = line.find(temperature);
            const size_t to = line.size() - tail.size();
            if (from == std::string::npos)
                continue;
            found.push_back(line.substr(0, from) + temperature + "T" + line.substr(to));
        }
    }
    return found;
}

TEST_F(MonitorOnBoard, PrintsThePowerOfTheBoardsModel) {
    struct Case {
        int frequency, mcs, power;
        Band ch1;           // curve answering on channel 1, table converting it
        const char* label;  // channel 1 label of the line
    };
    const std::vector<Case> cases = {
        {5805, 3, 20, {"5_8", "5.8"}, "5.8"},
        {5180, 1, 45, {"5_1", "5.1"}, "5.1"},
        {5500, 3, 20, {"5_1", "5.1"}, "5.8"},  // read with "5.1", labelled 5.8
        {5745, 7, 56, {"5_8", "5.8"}, "5.8"},
        {2412, 0, 35, {nullptr, "2.4"}, "5.1"},  // channel 0 answers
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frequency);
        const BoardRun r = run({"--frequency", std::to_string(c.frequency), "--mcs",
                                std::to_string(c.mcs), "--power", std::to_string(c.power)},
                               {}, 0.6);
        const std::string idle_mv = "2.20";  // the board's 2 mV idle channel, quantised
        double ch0_mv = 2.197265625, ch1_mv = 2.197265625;
        if (c.ch1.token) {
            ch1_mv = board_mv(c.ch1.token, c.mcs, c.power);
            EXPECT_NEAR(table_dbm(c.ch1.key, c.mcs, ch1_mv),
                        reference_dbm(c.ch1.token, c.mcs, c.power), 0.5);
        } else {
            ch0_mv = board_mv("2_4", c.mcs, c.power);
            EXPECT_NEAR(table_dbm("2.4", c.mcs, ch0_mv), reference_dbm("2_4", c.mcs, c.power), 0.5);
        }
        const std::string expected =
            "2.4 GHz (CH0): " + fixed2(table_dbm("2.4", c.mcs, ch0_mv)) + " dBm (" +
            fixed2(ch0_mv) + " mV)   " + c.label +
            " GHz (CH1): " + fixed2(table_dbm(c.ch1.key, c.mcs, ch1_mv)) + " dBm (" +
            fixed2(ch1_mv) + " mV)   Temperature (C): T   Freq: " + std::to_string(c.frequency) +
            " MHz   MCS: " + std::to_string(c.mcs) + "   Power: " + std::to_string(c.power);
        const auto lines = monitoring_lines(r.out, c.frequency, c.mcs, c.power);
        ASSERT_GE(lines.size(), 5u) << r.out.substr(0, 2000);
        for (const auto& line : lines) EXPECT_EQ(line, expected);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.tools_log, "");  // monitoring alone never touches the transmitter
    }
}

TEST_F(MonitorOnBoard, TemperatureRisesAndIsShownWithTwoDecimals) {
    const BoardRun r = run({"--temp-start", "40.5", "--temp-rise", "20"}, {});
    std::vector<double> temperatures;
    const std::string key = "Temperature (C): ";
    for (const auto& line : lines_of(r.out)) {
        const size_t at = line.find(key);
        if (line.find("Freq: 5805 MHz   MCS: 3   Power: 20") == std::string::npos ||
            at == std::string::npos)
            continue;
        const std::string value =
            line.substr(at + key.size(), line.find("   Freq") - at - key.size());
        EXPECT_EQ(value.size() - value.find('.'), 3u) << value;  // two decimals
        temperatures.push_back(std::strtod(value.c_str(), nullptr));
    }
    ASSERT_GE(temperatures.size(), 5u);
    EXPECT_GE(temperatures.front(), 40.5);
    EXPECT_LE(temperatures.back(), 40.5 + 20 * 20 / 60.0 + 0.1);  // index 20 of 60
    EXPECT_GT(temperatures.back(), temperatures.front());
}

TEST_F(MonitorOnBoard, WithoutTemperatureSensorEveryReadingStillSucceeds) {
    struct Case {
        const char* name;
        std::vector<std::string> board;
        std::string out_notice;  // before every monitoring line
        std::string err_notice;  // once per reading
    };
    const std::vector<Case> cases = {
        // The kernel accepts any address; the pointer write then finds nobody.
        {"as the kernel does",
         {"--no-temp-sensor"},
         "Failed to read temperature data.\n",
         "Failed to write to the i2c bus: No such device or address\n"},
        {"selecting the address fails",
         {"--no-temp-sensor", "--select-absent-fails"},
         "Temperature sensor not found, setting temperature to NA.\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const BoardRun r = run(c.board, {}, 0.6);
        ASSERT_GE(monitoring_lines(r.out, 5805, 3, 20).size(), 5u);
        const size_t cycles = count(r.out, "2.4 GHz (CH0): ");
        // One notice per reading; the last reading may have been cut short.
        EXPECT_GE(count(r.out, c.out_notice), cycles);
        EXPECT_LE(count(r.out, c.out_notice), cycles + 1);
        // (the first one may be split by the pipe's "Connected" line)
        EXPECT_GE(count(r.out, c.out_notice + "2.4 GHz (CH0): ") + 1, cycles);
        EXPECT_EQ(count(r.out, "Temperature (C): -9999.00   Freq: "), cycles);
        if (c.err_notice.empty()) {
            EXPECT_EQ(count(r.err, "Failed"), 0u) << r.err.substr(0, 500);
        } else {
            EXPECT_GE(count(r.err, c.err_notice), cycles);
            EXPECT_EQ(r.err.size() % c.err_notice.size(), 0u) << r.err.substr(0, 500);
        }
    }
}

TEST_F(MonitorOnBoard, FailedReadingWaitsFiveSecondsAndTheLoopCarriesOn) {
    const BoardRun r = run({"--fault", "buffer-read:nak:at=3"}, {});
    EXPECT_EQ(r.err,
              "Failed to read from the i2c bus: Remote I/O error\nError processing sensor data\n");
    // The pipe's "Connected" line comes from another thread, at any point.
    std::string out = r.out;
    const std::string connected = "Connected to VTX Latency pipe\n";
    if (out.find(connected) != std::string::npos)
        out.erase(out.find(connected), connected.size());
    EXPECT_EQ(out.find("Failed to read data buffer entries, retrying in 5 seconds...\n2.4 GHz"), 0u)
        << out.substr(0, 500);
    const double cycles = static_cast<double>(count(r.out, "2.4 GHz (CH0): "));
    ASSERT_GE(cycles, 5);
    // Virtual time: the 5 s wait, the failed reading's two samples, then
    // whole cycles; the kill may land anywhere in the last one.
    const double rest = r.virtual_ns - cycles * kCycleNs;
    EXPECT_GE(rest, 5e9 + 2 * 100e3 - 0.5e9);
    EXPECT_LE(rest, 5e9 + kCycleNs + 1e6);
}

TEST_F(MonitorOnBoard, BusThatKeepsFailingIsRetriedEveryFiveSeconds) {
    const BoardRun r = run({"--fault", "seq-start:enxio:from=1"}, {}, 0.5);
    EXPECT_EQ(count(r.out, "2.4 GHz (CH0): "), 0u);
    const size_t failures =
        count(r.out, "Failed to start the conversion sequence, retrying in 5 seconds...\n");
    ASSERT_GE(failures, 3u);
    const size_t reported = count(r.err,
                                  "Failed to write to the i2c bus: No such device or address\n"
                                  "Error processing sensor data\n");
    EXPECT_LE(reported, failures);
    EXPECT_GE(reported + 1, failures);  // the kill may fall between the two streams
    EXPECT_GE(r.virtual_ns, (failures - 1) * 5e9);
    EXPECT_LE(r.virtual_ns, failures * 5e9 + 1e6);
}

// The search's index and its measured power, from its closing lines.
int chosen_level(const std::string& out) {
    const auto found = numbers_after(out, "Optimal power level found: ");
    return found.size() == 1 ? static_cast<int>(found.front()) : -1;
}

// A first reading that fails (and a scaled clock for its 5 s wait) lets the
// telemetry arrive before the cycle that starts the search.
const std::vector<std::string> kTelemetryFirst = {"--fault", "buffer-read:nak:at=1", "--time-scale",
                                                  "40"};

TEST_F(MonitorOnBoard, SearchSettlesOnTheModelsPower) {
    struct Case {
        int frequency, mcs;
        const char* token;
        const char* key;
        double target;
        bool reachable;  // some index on the search's path lands within 0.25 dB
    };
    const std::vector<Case> cases = {
        {5805, 3, "5_8", "5.8", 20, true},
        {5180, 0, "5_1", "5.1", 17.75, true},
        {2412, 1, "2_4", "2.4", 21, true},
        {5180, 0, "5_1", "5.1", 18, false},  // index 25 gives 18.26 dBm: the closest
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frequency);
        std::vector<std::string> board = kTelemetryFirst;
        board.insert(board.end(),
                     {"--frequency", std::to_string(c.frequency), "--mcs", std::to_string(c.mcs)});
        char target[16];
        std::snprintf(target, sizeof target, "%.2f", c.target);
        const BoardRun r = run(board, {"-adjust-dbm", target}, 2.0);
        const int level = chosen_level(r.out);
        ASSERT_GT(level, 0) << r.out.substr(0, 4000);
        const double measured = table_dbm(c.key, c.mcs, board_mv(c.token, c.mcs, level));
        EXPECT_LE(std::fabs(reference_dbm(c.token, c.mcs, level) - measured), 0.5);
        if (c.reachable) {
            EXPECT_LE(std::fabs(measured - c.target), 0.25);
            EXPECT_EQ(count(r.out, "Found power level within tolerance!\n"), 1u);
        } else {
            // Every index tried is farther from the target than the chosen one.
            EXPECT_EQ(count(r.out, "Binary search complete. Best power level found: " +
                                       std::to_string(level) + "\n"),
                      1u);
            const auto tried = numbers_after(r.out, "Testing power level ");
            for (double other : tried) {
                const double m =
                    table_dbm(c.key, c.mcs, board_mv(c.token, c.mcs, static_cast<int>(other)));
                EXPECT_GE(std::fabs(m - c.target), std::fabs(measured - c.target)) << other;
            }
            EXPECT_GE(tried.size(), 5u);
        }
        // Every index it tried was applied, then the chosen one, and nothing after.
        const auto calls = lines_of(r.tools_log);
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls.front(), "orvi-configure-vtx -p 1");
        EXPECT_EQ(calls.back(), "orvi-configure-vtx -p " + std::to_string(level));
        EXPECT_LE(calls.size(), 1u + 6u + 1u);
        EXPECT_NE(r.out.find("at " + std::string(c.key) + " GHz...\n"), std::string::npos);
        EXPECT_EQ(count(r.out, "Starting binary search for power level..."), 1u);
        // The transmitter stays there: later cycles show the index and its power.
        const auto after = monitoring_lines(r.out, c.frequency, c.mcs, level);
        EXPECT_GE(after.size(), 1u);
    }
}

TEST_F(MonitorOnBoard, ZeroReadingAtIndexThirtySelectsTheMinimum) {
    std::vector<std::string> board = kTelemetryFirst;
    board.insert(board.end(), {"--offset-mv", "-2000"});
    const BoardRun r = run(board, {"-adjust-dbm", "20"}, 1.5);
    EXPECT_NE(r.out.find("Testing power level 30 -> 0.0 dBm\n"
                         "Detected 0 dBm reading at high power level 30\n"
                         "This indicates potential signal issues - using minimum power for safety\n"
                         "Binary search complete. Best power level found: 1 (selecting minimum "
                         "power due to zero readings at high power)\n"
                         "Optimal power level found: 1\n"),
              std::string::npos)
        << r.out.substr(0, 3000);
    EXPECT_EQ(r.tools_log,
              "orvi-configure-vtx -p 1\norvi-configure-vtx -p 30\norvi-configure-vtx -p 1\n");
    EXPECT_NE(r.out.find("5.8 GHz (CH1): 0.00 dBm (0.00 mV)"), std::string::npos);
}

TEST_F(MonitorOnBoard, FiveFiveHundredIsReadButNotSearched) {
    std::vector<std::string> board = kTelemetryFirst;
    board.insert(board.end(), {"--frequency", "5500", "--mcs", "3"});
    const BoardRun r = run(board, {"-adjust-dbm", "20"}, 1.0);
    EXPECT_EQ(r.tools_log, "orvi-configure-vtx -p 1\n");  // the initial index, no search
    EXPECT_EQ(r.err,
              "Failed to read from the i2c bus: Remote I/O error\n"
              "Error processing sensor data\n"
              "Error: Invalid frequency band. Must be 2.4, 5.1, or 5.8 GHz band.\n");
    EXPECT_EQ(count(r.out, "Searching for optimal power level"), 0u);
    const double mv = board_mv("5_1", 3, 1);
    const auto lines = monitoring_lines(r.out, 5500, 3, 1);
    ASSERT_GE(lines.size(), 3u) << r.out.substr(0, 3000);
    EXPECT_NE(lines.front().find("5.8 GHz (CH1): " + fixed2(table_dbm("5.1", 3, mv)) + " dBm (" +
                                 fixed2(mv) + " mV)"),
              std::string::npos)
        << lines.front();
}

}  // namespace
