// What monitoring makes of the telemetry, on the simulated board with the
// publisher: records that stop and come back, a power search started before
// the first record, an MCS outside 0..7. The clock is scaled, not skipped,
// so that monitoring keeps pace with the publisher's real-time records.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

size_t count_of(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) n++;
    return n;
}

bool is_monitor_line(const std::string& line) { return line.rfind("2.4 GHz (CH0): ", 0) == 0; }

const std::string kStale =
    "Warning: no telemetry from vtx_latency for 3 s; power index and MCS may be stale";
const std::string kBack =
    "Telemetry from vtx_latency is back; power index and MCS are current again";

class TelemetryOnBoard : public testing::Test {
  protected:
    // `script` in sh on a board with noise and temperature held and the
    // given options; R runs orvi-rfmon -d 1, X as the shell itself (for a
    // background monitor whose pid is $!), w PATTERN waits until $D/all
    // (both streams of that monitor) holds it. $D is a scratch folder.
    ProcessResult on_board(std::vector<std::string> board, const std::string& script) {
        const std::string rfmon = program_shell_words("rfmon/orvi-rfmon") + " -d 1";
        board.insert(board.end(), {"--noise-mv", "0", "--temp-rise", "0", "--log", dir_ + "/tools.log"});
        RunOptions options;
        options.timeout_ms = 120000;
        return run_on_board(
            board, {"/bin/sh", "-c",
                    "R() { " + rfmon + " \"$@\"; }\nX() { exec " + rfmon + " \"$@\"; }\nD=" + shell_quote(dir_) +
                        "\nw() { until grep -q \"$1\" \"$D/all\" || ! kill -0 $m 2> /dev/null; do "
                        "env -u LD_PRELOAD sleep 0.05; done; }\n" + script},
            options);
    }
    std::string all() const { return read_file(dir_ + "/all"); }
    const ScratchDir scratch_{"orvi-telemetry-test"};
    const std::string dir_ = scratch_.path();
};

// The publisher stops after 30 records; the index is then raised to 45,
// whose output the table (every level at index 30's true power) does not
// expect. While the telemetry is stale nothing is compared; a new publisher
// brings it back, and the comparison with it.
TEST_F(TelemetryOnBoard, StaleTelemetryIsSaidOnceAndComparedWithNothing) {
    const ProcessResult r = on_board(
        {"--time-scale", "50", "--power", "30", "--publisher", "--count 30"},
        "mw=$(orvi-sim-ctl truth 5805 3 30 | sed 's/.* dbm=\\([^ ]*\\).*/\\1/' | awk '{printf "
        "\"%.2f\", 10^($1/10)}')\n"
        "{ echo Power_Level,MCS3_mV,MCS3_mW; for l in $(seq 1 63); do echo \"$l,700.00,$mw\"; done; } "
        "> /data/quillon/vtx/calibrated_5_8.csv\n"
        "X > \"$D/all\" 2>&1 & m=$!\n"
        "w 'Power: 30$'; w '^Warning: no telemetry'\n"
        "orvi-configure-vtx -p 45\n"
        "n=$(grep -c 'Power: 30$' \"$D/all\")\n"
        "until [ $(grep -c 'Power: 30$' \"$D/all\") -ge $((n + 8)) ]; do env -u LD_PRELOAD sleep 0.05; done\n" +
            program_shell_words("sim/vtx-telemetry-publisher") +
            " > /dev/null 2>&1 & p=$!\n"
            "w '^Warning: output differs'; kill $m $p; wait $m\n");
    ASSERT_EQ(r.exit_code, 143) << r.out << r.err;
    const std::vector<std::string> lines = lines_of(all());
    size_t stale = lines.size(), back = lines.size(), warning = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == kStale) stale = i;
        if (lines[i] == kBack) back = i;
        if (lines[i].rfind("Warning: output differs", 0) == 0) warning = i;
    }
    const std::string text = all();
    EXPECT_EQ(count_of(text, kStale), 1u) << text;
    EXPECT_EQ(count_of(text, kBack), 1u);
    EXPECT_EQ(count_of(text, "Warning: output differs"), 1u);
    ASSERT_LT(stale, back);
    ASSERT_LT(back, warning);
    // The stale lines keep the format and the last index received.
    size_t stale_lines = 0;
    for (size_t i = stale + 1; i < back; ++i) {
        if (!is_monitor_line(lines[i])) continue;
        ++stale_lines;
        EXPECT_NE(lines[i].find("   Freq: 5805 MHz   MCS: 3   Power: 30"), std::string::npos) << lines[i];
    }
    EXPECT_GE(stale_lines, 8u);
    EXPECT_NE(lines[warning].find("expected at power index 45, MCS 3 (5 readings in a row"), std::string::npos)
        << lines[warning];
}

// A search waits for the first record: found within the wait, it searches
// the published band; without one, nothing is searched and the power stays 1.
TEST_F(TelemetryOnBoard, SearchWaitsForTheFirstRecord) {
    const std::string wait = "Waiting up to 5 s for the first telemetry record from vtx_latency before the power search...\n";
    // Half speed: the 5 s wait lasts 2.5 s, the publisher starts after 1 s.
    ProcessResult r = on_board({"--time-scale", "2", "--frequency", "2412", "--publisher", "--start-delay 1000"},
                               "X -adjust-dbm 20 > \"$D/all\" 2>&1 & m=$!\n"
                               "w '^Optimal power level found'; kill $m; wait $m\n");
    EXPECT_EQ(r.exit_code, 143) << r.out << r.err;
    std::string text = all();
    EXPECT_EQ(text.find("Setting initial power to 1...\n" + wait), 0u) << text.substr(0, 2000);
    EXPECT_EQ(count_of(text, wait), 1u);
    EXPECT_EQ(count_of(text, "to achieve 20.00 dBm at 2.4 GHz...\n"), 1u) << text.substr(0, 2000);
    const std::vector<std::string> lines = lines_of(text);
    for (const std::string& line : lines) {
        if (is_monitor_line(line)) {
            EXPECT_NE(line.find("Freq: 2412 MHz"), std::string::npos) << line;
            break;
        }
    }

    std::remove((dir_ + "/tools.log").c_str());
    r = on_board({"--virtual-time"}, "R -adjust-dbm 20 > \"$D/all\" 2>&1; s=$?; orvi-sim-ctl show; exit $s\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(all(), "Setting initial power to 1...\n" + wait +
                         "Error: no telemetry record from vtx_latency within 5 s; no power search on "
                         "assumed settings, the power stays at 1\n");
    EXPECT_EQ(read_file(dir_ + "/tools.log"), "orvi-configure-vtx -p 1\n");
    EXPECT_NE(r.out.find(" power=1 "), std::string::npos) << r.out;
}

// MCS 8 is said once; the readings go on through the MCS 7 column: the same
// line as with MCS 7 published, on the same board.
TEST_F(TelemetryOnBoard, McsOutsideTheTablesIsSaidOnceAndReadWithTheNearestColumn) {
    std::vector<std::string> ch1;
    for (const char* mcs : {"8", "7"}) {
        const ProcessResult r = on_board({"--time-scale", "50", "--publisher", std::string("--mcs ") + mcs},
                                         "X > \"$D/all\" 2> \"$D/err\" & m=$!\n"
                                         "until [ $(grep -c 'MCS: " + std::string(mcs) +
                                             "   Power: 20$' \"$D/all\") -ge 5 ]; do env -u LD_PRELOAD "
                                             "sleep 0.05; done; kill $m; wait $m\n");
        ASSERT_EQ(r.exit_code, 143) << r.out << r.err;
        const std::string err = read_file(dir_ + "/err");
        EXPECT_EQ(err, std::string(mcs) == "8"
                           ? "Invalid MCS value: 8. Must be 0-7\n"
                             "Readings at MCS 8 use the conversion tables' MCS 7 column, the nearest they hold\n"
                           : "");
        std::string last;
        for (const std::string& line : lines_of(all()))
            if (is_monitor_line(line) && line.find(std::string("MCS: ") + mcs + "   ") != std::string::npos) last = line;
        ASSERT_FALSE(last.empty());
        ch1.push_back(last.substr(last.find("5.8 GHz (CH1): "), last.find("   Temperature") - last.find("5.8 GHz (CH1): ")));
    }
    EXPECT_EQ(ch1[0], ch1[1]);
    EXPECT_NE(ch1[0], "5.8 GHz (CH1): 0.00 dBm (0.00 mV)");
}

}  // namespace
