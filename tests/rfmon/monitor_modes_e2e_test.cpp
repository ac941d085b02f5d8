// The monitoring loop and the calibration driver of the real orvi-rfmon on
// simulated boards, with virtual time so that the waits cost nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "rfmon_rig.h"

namespace {

struct MonitorLine {
    std::string label, temperature;
    int frequency, mcs, power;
};

bool is_monitor_line(const std::string& line) { return line.rfind("2.4 GHz (CH0): ", 0) == 0; }

const char* const MONITOR_FORMAT =
    "2.4 GHz (CH0): %.2f dBm (%.2f mV)   %s GHz (CH1): %.2f dBm (%.2f mV)   Temperature (C): "
    "%.2f   Freq: %d MHz   MCS: %d   Power: %d";

// Every monitoring line of the output. Each is parsed and printed again
// with the program's format: any difference in layout shows.
std::vector<MonitorLine> monitor_lines(const std::string& out) {
    std::vector<MonitorLine> found;
    for (const std::string& line : lines_of(out)) {
        if (!is_monitor_line(line)) continue;
        double ch0_dbm = 0, ch0_mv = 0, ch1_dbm = 0, ch1_mv = 0, temperature = 0;
        char label[4] = {};
        MonitorLine parsed{};
        int fields = std::sscanf(line.c_str(),
                                 "2.4 GHz (CH0): %lf dBm (%lf mV)   %3s GHz (CH1): %lf dBm (%lf "
                                 "mV)   Temperature (C): %lf   Freq: %d MHz   MCS: %d   Power: %d",
                                 &ch0_dbm, &ch0_mv, label, &ch1_dbm, &ch1_mv, &temperature,
                                 &parsed.frequency, &parsed.mcs, &parsed.power);
        EXPECT_EQ(fields, 9) << line;
        if (fields != 9) continue;
        char again[512];
        std::snprintf(again, sizeof again, MONITOR_FORMAT, ch0_dbm, ch0_mv, label, ch1_dbm,
                      ch1_mv, temperature, parsed.frequency, parsed.mcs, parsed.power);
        EXPECT_EQ(line, again);
        char temperature_text[32];
        std::snprintf(temperature_text, sizeof temperature_text, "%.2f", temperature);
        parsed.label = label;
        parsed.temperature = temperature_text;
        found.push_back(parsed);
    }
    return found;
}

size_t count_of(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) n++;
    return n;
}

// Sleeps are scaled down rather than skipped so that an endless loop does
// not spin.
const std::vector<std::string> SLOW_BOARD = {"--vtx-buses", "1", "--time-scale", "50"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Stops the run once its output so far satisfies `done`; the time limit only
// ends a run that never gets there.
RunOptions stop_when(std::function<bool(const ProcessResult&)> done) {
    RunOptions options;
    options.stop_when = std::move(done);
    options.stop_after_ms = 100000;
    options.timeout_ms = 150000;
    return options;
}

// Whole monitoring lines of the output so far.
size_t monitor_line_count(const std::string& out) {
    size_t n = 0;
    for (const std::string& line : lines_of(out.substr(0, out.rfind('\n') + 1)))
        n += is_monitor_line(line);
    return n;
}

}  // namespace

// Until a record arrives the monitor works with 5800 MHz, MCS 0, index 1;
// a temperature never read shows as -9999.00; a failed reading is reported
// and the loop goes on with the next cycle.
TEST(Monitoring, KeepsTheInitialValuesAndSurvivesAFailedReading) {
    RfmonRig rig;
    ProcessResult r = rig.run_on_board(
        {with(SLOW_BOARD, {"--no-temp-sensor", "--fault", "seq-start:nak:at=1"}), {"-d", "1"}, true},
        stop_when([](const ProcessResult& so_far) { return monitor_line_count(so_far.out) >= 2; }));
    std::vector<MonitorLine> lines = monitor_lines(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out << r.err;
    for (const MonitorLine& line : lines) {
        EXPECT_EQ(line.label, "5.8");
        EXPECT_EQ(line.frequency, 5800);
        EXPECT_EQ(line.mcs, 0);
        EXPECT_EQ(line.power, 1);
        EXPECT_EQ(line.temperature, "-9999.00");
    }
    EXPECT_EQ(count_of(r.err, "Error processing sensor data\n"), 1u) << r.err;
    EXPECT_EQ(rig.tool_log(), "");
}

// With no arguments the bus is found and monitoring starts; a named bus
// without the devices still monitors (presence gates only calibration), and
// its readings fail.
TEST(Monitoring, StartsWithoutArgumentsAndOnABusWithoutDevices) {
    RfmonRig rig;
    ProcessResult r = rig.run_on_board(
        {SLOW_BOARD, {}, true},
        stop_when([](const ProcessResult& so_far) { return count_of(so_far.out, "\n") >= 2; }));
    std::vector<std::string> out = lines_of(r.out);
    ASSERT_GE(out.size(), 2u) << r.err;
    EXPECT_EQ(out[0], "Found VTX on I2C bus 1");
    EXPECT_TRUE(is_monitor_line(out[1])) << out[1];

    r = rig.run_on_board(
        {with(SLOW_BOARD, {"--buses", "3"}), {"-d", "3"}, true},
        stop_when([](const ProcessResult& so_far) {
            return count_of(so_far.err, "Error processing sensor data\n") >= 3;
        }));
    EXPECT_TRUE(monitor_lines(r.out).empty()) << r.out;
    EXPECT_GE(count_of(r.err, "Error processing sensor data\n"), 1u) << r.err;
}

// The published frequency, MCS and index reach the printed line; 2412 MHz
// is labelled "5.1".
TEST(Monitoring, ShowsThePublishedTelemetry) {
    RfmonRig rig;
    ProcessResult r = rig.run_on_board(
        {with(SLOW_BOARD, {"--frequency", "2412", "--mcs", "1", "--power", "7", "--publisher", ""}),
         {"-d", "1"}, true},
        stop_when([](const ProcessResult& so_far) {
            return count_of(so_far.out, "   Freq: 2412 MHz   MCS: 1   Power: 7\n") >= 1;
        }));
    std::vector<std::string> out = lines_of(r.out);
    ASSERT_FALSE(out.empty()) << r.err;
    EXPECT_EQ(count_of(r.out, "Connected to VTX Latency pipe\n"), 1u) << r.out;
    std::vector<MonitorLine> lines = monitor_lines(r.out);
    ASSERT_FALSE(lines.empty());
    const MonitorLine& last = lines.back();
    EXPECT_EQ(last.label, "5.1");
    EXPECT_EQ(last.frequency, 2412);
    EXPECT_EQ(last.mcs, 1);
    EXPECT_EQ(last.power, 7);
    for (const MonitorLine& line : lines) {
        // Either the initial values or the published ones, never a mixture
        // with anything else.
        bool initial = line.frequency == 5800 && line.mcs == 0 && line.power == 1;
        bool published = line.frequency == 2412 && line.mcs == 1 && line.power == 7;
        EXPECT_TRUE(initial || published) << line.frequency;
    }
}

// The adjustment sets index 1 first, then searches once, after the first
// printed line, and never again.
TEST(Monitoring, PowerSearchRunsOnceAfterTheFirstLine) {
    RfmonRig rig;
    // A few cycles after the search, to see that it does not come back.
    ProcessResult r = rig.run_on_board(
        {with(SLOW_BOARD, {"--publisher", ""}), {"-d", "1", "-adjust-dbm", "20"}, true},
        stop_when([](const ProcessResult& so_far) {
            const size_t search = so_far.out.find("Searching for optimal power level");
            return search != std::string::npos &&
                   monitor_line_count(so_far.out.substr(search)) >= 5;
        }));
    // The pipe's line comes from its own thread, and the wait for the first
    // record only when none has come yet.
    std::vector<std::string> out;
    for (const std::string& line : lines_of(r.out)) {
        if (line != "Connected to VTX Latency pipe" && line.rfind("Waiting up to 5 s ", 0) != 0)
            out.push_back(line);
    }
    ASSERT_GE(out.size(), 2u) << r.err;
    EXPECT_EQ(out[0], "Setting initial power to 1...");
    EXPECT_TRUE(is_monitor_line(out[1])) << out[1];
    EXPECT_EQ(count_of(r.out, "Searching for optimal power level"), 1u);
    const size_t search = r.out.find("Searching for optimal power level");
    ASSERT_NE(search, std::string::npos);
    EXPECT_LT(r.out.find("2.4 GHz (CH0): "), search);
    // The loop goes on after the search.
    EXPECT_NE(r.out.find("2.4 GHz (CH0): ", search), std::string::npos) << r.out;

    std::vector<std::string> tools = lines_of(rig.tool_log());
    ASSERT_FALSE(tools.empty());
    EXPECT_EQ(tools[0], "orvi-configure-vtx -p 1");
}

namespace {

// The driver's own lines, in order, out of everything the sweeps print too.
std::vector<std::string> driver_lines(const std::string& out) {
    static const char* const prefixes[] = {
        "Running in calibration mode", "Fast calibration supported", "Will perform calibration",
        "Frequency: ", "========", "Starting full calibration for Frequency",
        "Starting fast calibration for Frequency", "Setting frequency to", "Setting MCS to",
        "All calibrations completed!", "Warning: Fast calibration is not supported",
        "Calibration failed for", "Warning: Failed to stop",
        // which sweep ran
        "Starting calibration for frequency", "Starting fast calibration for frequency",
    };
    std::vector<std::string> kept;
    for (const std::string& line : lines_of(out)) {
        for (const char* prefix : prefixes) {
            if (line.rfind(prefix, 0) == 0) {
                kept.push_back(line);
                break;
            }
        }
    }
    return kept;
}

// The transmitter commands that tune (frequency and MCS) and the stop.
std::vector<std::string> tuning_calls(const std::string& log) {
    std::vector<std::string> kept;
    for (const std::string& line : lines_of(log)) {
        if (line.rfind("orvi-configure-vtx -F", 0) == 0 ||
            line.rfind("orvi-configure-vtx -m", 0) == 0 || line.rfind("orvi-send-command", 0) == 0) {
            kept.push_back(line);
        }
    }
    return kept;
}

struct Combination {
    int frequency, mcs;
    bool fast;
};

std::vector<std::string> expected_driver(bool fast_mode, int frequencies, int mcs_values,
                                         const std::vector<Combination>& combos) {
    std::vector<std::string> lines{"Running in calibration mode with " +
                                   std::to_string(frequencies) + " frequencies and " +
                                   std::to_string(mcs_values) + " MCS values"};
    if (fast_mode) {
        lines.push_back(
            "Fast calibration supported for: 2412/5180/5805 MHz and MCS 0/3 (anchors: 10, 35, 45, "
            "50, 56, 60)");
    }
    lines.push_back("Will perform calibration for the following combinations:");
    for (const Combination& c : combos) {
        lines.push_back("Frequency: " + std::to_string(c.frequency) + " MHz, MCS: " +
                        std::to_string(c.mcs) + (c.fast ? " (fast)" : " (full)"));
    }
    const std::string bar(40, '=');
    for (const Combination& c : combos) {
        const std::string f = std::to_string(c.frequency), m = std::to_string(c.mcs);
        lines.push_back(bar);
        if (!c.fast && fast_mode) {
            lines.push_back("Warning: Fast calibration is not supported for " + f + " MHz MCS " + m +
                            "; using full calibration instead.");
        }
        lines.push_back(std::string("Starting ") + (c.fast ? "fast" : "full") +
                        " calibration for Frequency: " + f + " MHz, MCS: " + m);
        lines.push_back(bar);
        lines.push_back("Setting frequency to " + f + " MHz...");
        lines.push_back("Setting MCS to " + m + "...");
        lines.push_back(std::string("Starting ") + (c.fast ? "fast " : "") +
                        "calibration for frequency " + f + " MHz and MCS " + m);
    }
    lines.push_back("All calibrations completed!");
    return lines;
}

std::vector<std::string> expected_tuning(const std::vector<Combination>& combos) {
    std::vector<std::string> calls;
    for (const Combination& c : combos) {
        calls.push_back("orvi-configure-vtx -F " + std::to_string(c.frequency));
        calls.push_back("orvi-configure-vtx -m " + std::to_string(c.mcs));
        // The sweep tunes the frequency once more itself.
        calls.push_back("orvi-configure-vtx -F " + std::to_string(c.frequency));
    }
    calls.push_back("orvi-send-command vtx_latency stop_test 1");
    return calls;
}

const std::vector<std::string> FAST_BOARD = {"--vtx-buses", "1", "--virtual-time"};

}  // namespace

TEST(CalibrationDriver, OrderAndClassification) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool fast_mode;
        int frequencies, mcs_values;
        std::vector<Combination> combos;
    };
    const std::vector<Case> cases = {
        {"fast calibration alone",
         {"-d", "1", "-fast-calibrate"},
         true, 3, 2,
         {{2412, 0, true}, {2412, 3, true}, {5180, 0, true}, {5180, 3, true}, {5805, 0, true},
          {5805, 3, true}}},
        {"fast calibration off the anchors",
         {"-d", "1", "-fast-calibrate", "-f", "5500", "-f", "5805", "-m", "3", "-m", "1"},
         true, 2, 2,
         {{5500, 3, false}, {5500, 1, false}, {5805, 3, true}, {5805, 1, false}}},
        {"full calibration",
         {"-d", "1", "-calibrate", "-f", "5180", "-f", "5800", "-m", "0", "-m", "7"},
         false, 2, 2,
         {{5180, 0, false}, {5180, 7, false}, {5800, 0, false}, {5800, 7, false}}},
        {"full calibration at fast anchors",
         {"-d", "1", "-calibrate", "-f", "2412", "-m", "3"},
         false, 1, 1,
         {{2412, 3, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RfmonRig rig;
        ProcessResult r = rig.run_on_board({FAST_BOARD, c.args, true, true});
        EXPECT_EQ(r.term_signal, 0);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(driver_lines(r.out),
                  expected_driver(c.fast_mode, c.frequencies, c.mcs_values, c.combos));
        // Each header opens with a blank line.
        EXPECT_EQ(count_of(r.out, "\n\n" + std::string(40, '=') + "\nStarting "),
                  c.combos.size() - count_of(r.out, "\nWarning: Fast calibration is not"));
        EXPECT_EQ(tuning_calls(rig.tool_log()), expected_tuning(c.combos));
        EXPECT_EQ(lines_of(r.out).back(), "All calibrations completed!");
    }
}

// A failed stop command is a warning; the run still ends with status 0.
TEST(CalibrationDriver, FailedStopCommandWarns) {
    RfmonRig rig;
    ProcessResult r = rig.run_on_board({with(FAST_BOARD, {"--send-command-status", "3"}),
                                        {"-d", "1", "-fast-calibrate", "-f", "5180", "-m", "0"}});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.err.find("Warning: Failed to stop vtx_latency test\n"), std::string::npos) << r.err;
    EXPECT_EQ(lines_of(r.out).back(), "All calibrations completed!");
    EXPECT_EQ(tuning_calls(rig.tool_log()).back(), "orvi-send-command vtx_latency stop_test 1");

    r = rig.run_on_board({FAST_BOARD, {"-d", "1", "-fast-calibrate", "-f", "5180", "-m", "0"}});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err.find("Warning: Failed to stop"), std::string::npos) << r.err;
}

// A sweep that fails is reported, the next combination runs, the run fails.
TEST(CalibrationDriver, FailedSweepIsReportedAndTheRunGoesOn) {
    RfmonRig rig;
    ProcessResult r = rig.run_on_board(
        {FAST_BOARD, {"-d", "1", "-calibrate", "-f", "3000", "-f", "5180", "-m", "0"}});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("Calibration failed for Frequency: 3000 MHz, MCS: 0\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Calibration failed for Frequency: 5180"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Starting calibration for frequency 5180 MHz and MCS 0"),
              std::string::npos);
    EXPECT_EQ(lines_of(r.out).back(), "All calibrations completed!");
}
