// orvi-rfmon on the simulated board (virtual time) under the faults that
// could leave the transmitter high unnoticed: a signal during a sweep or a
// search, a detector that stops answering, an MCS the conversion tables
// cannot take, a configuration tool that refuses, a search whose readings
// fail. Each case ends with the board's power level, the last tool calls,
// the exit status and the table folder checked.
//
// A stand-in orvi-configure-vtx in front of the board's own refuses one
// call line, or signals at the listed ones, so that the signal lands at a
// known step whatever the machine's speed: orvi-rfmon alone after the call,
// or, as Ctrl-C on a terminal does, orvi-rfmon's whole process group (the
// tool included) before it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "board_run_files.h"
#include "test_support.h"

namespace {

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Level 1 as the board's typical unit puts it out at 5805 MHz MCS 0 (about
// 7 dBm), so that monitoring after a search finds no drift to report.
const std::string kStored = "Power_Level,MCS0_mV,MCS0_mW\n1,2.00,5.00\n";
const std::string kConversionTables = "2_4_mv_to_dbm.csv\n5_1_mv_to_dbm.csv\n5_8_mv_to_dbm.csv\n";
const std::string kStopTest = "orvi-send-command vtx_latency stop_test 1\n";
const std::string kInterrupted =
    "Safety measure: Power level set to 1 (minimum) after interruption\n";

// A search waits for the first telemetry record: a publisher, and a clock
// slow enough for its real-time records to come within the wait.
const std::vector<std::string> kSearchBoard = {"--publisher", "", "--time-scale", "40"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string power_calls(const std::vector<int>& levels) {
    std::string text;
    for (int level : levels) text += "orvi-configure-vtx -p " + std::to_string(level) + "\n";
    return text;
}

struct Case {
    const char* name;
    std::vector<std::string> board;  // board options beside virtual time and the tool log
    std::vector<std::string> args;   // after -d 1
    std::string refuse;              // the tool's call line that fails with status 1
    std::string signal_at;           // call lines at which `signal` is sent, "|"-separated
    std::string signal;
    bool to_group;        // to the process group before the call, else orvi-rfmon after it
    std::string stop_on;  // monitoring: SIGTERM once this shell test holds ($OUT: standard output)
    int exit_code;
    std::string tools_tail;  // the tool log ends with this
    std::string out_part;    // standard output holds this
    std::string err_tail;    // standard error ends with this
    int power;               // the board's power level at the end
    // "": the stored calibrated_5_8.csv stays byte for byte; else a part of the new one
    std::string written;
};

class FaultsOnBoard : public testing::Test {
  protected:
    struct Outcome : BoardRunFiles {
        ProcessResult process;
    };

    Outcome run(const Case& c) {
        const std::string& d = scratch_.path();
        make_dirs(d + "/bin");
        make_dirs(d + "/in");
        write_file(d + "/bin/orvi-configure-vtx",
                   "#!/bin/sh\n"
                   "if [ \"$*\" = \"$REFUSE\" ]; then echo \"orvi-configure-vtx $*\" >> "
                   "\"$TOOL_LOG\"; exit 1; fi\n"
                   "case \"|$SIGNAL_BEFORE|\" in *\"|$*|\"*) kill -s \"$SIGNAL\" -- -\"$(cat "
                   "\"$PID_FILE\")\";; esac\n"
                   "\"$REAL_TOOL\" \"$@\" || exit\n"
                   "case \"|$SIGNAL_AFTER|\" in *\"|$*|\"*) kill -s \"$SIGNAL\" \"$(cat "
                   "\"$PID_FILE\")\";; esac\n");
        chmod((d + "/bin/orvi-configure-vtx").c_str(), 0755);
        write_file(d + "/in/calibrated_5_8.csv", kStored);
        std::vector<std::string> board = {"--virtual-time", "--log", d + "/tools.log", "--data",
                                          d + "/in"};
        board.insert(board.end(), c.board.begin(), c.board.end());
        // orvi-rfmon in the background, leading a process group of its own,
        // with SIGINT back to its default (a background job starts with it
        // ignored, which orvi-rfmon keeps).
        const std::string script =
            "export PATH=" + shell_quote(d + "/bin") +
            ":$PATH TOOL_LOG=" + shell_quote(d + "/tools.log") +
            " REAL_TOOL=" + shell_quote(binary_path("sim/bin/orvi-configure-vtx")) +
            " PID_FILE=" + shell_quote(d + "/pid") + " REFUSE=" + shell_quote(c.refuse) +
            (c.to_group ? " SIGNAL_BEFORE=" : " SIGNAL_AFTER=") + shell_quote(c.signal_at) +
            " SIGNAL=" + shell_quote(c.signal) + " OUT=" + shell_quote(d + "/out") +
            "\nsetsid sh -c 'echo $$ > \"$PID_FILE\"; exec env --default-signal=INT \"$0\" \"$@\"' "
            "\"$0\" \"$@\" > " +
            shell_quote(d + "/out") + " 2> " + shell_quote(d + "/err") + " &\nrfmon=$!\n" +
            (c.stop_on.empty()
                 ? ""
                 : "until ! kill -0 $rfmon 2> /dev/null || " + c.stop_on +
                       "; do env -u LD_PRELOAD sleep 0.05; done; kill -TERM $rfmon\n") +
            "wait $rfmon; s=$?\ncd /data/quillon/vtx && ls -A > " + shell_quote(d + "/listing") +
            "; cp calibrated_5_8.csv " + shell_quote(d + "/table") + "; orvi-sim-ctl show > " +
            shell_quote(d + "/state") + "; exit $s";
        std::vector<std::string> command = {"/bin/sh", "-c", script};
        for (const auto& word : program_command("rfmon/orvi-rfmon")) command.push_back(word);
        command.insert(command.end(), {"-d", "1"});
        command.insert(command.end(), c.args.begin(), c.args.end());
        remove_board_run_files(d);
        Outcome o;
        o.process = run_on_board(board, command);
        static_cast<BoardRunFiles&>(o) = read_board_run_files(d);
        return o;
    }

    const ScratchDir scratch_{"orvi-faults-test"};
};

TEST_F(FaultsOnBoard, TransmitterEndsAtPowerOneOrTheRunSaysSo) {
    const std::vector<std::string> full = {"-calibrate", "-f", "5805", "-m", "0"};
    const std::vector<std::string> fast = {"-fast-calibrate", "-f", "5805", "-m", "3"};
    // The detector's 6961st buffer read is the first of level 30 (240 a level).
    const std::vector<std::string> dies_at_30 = {
        "--temp-rise", "80", "--temp-tau", "20", "--fault", "buffer-read:nak:from=6961"};
    std::vector<std::string> hot_at_30 = dies_at_30;  // level 30's eight temperature reads
    hot_at_30.insert(hot_at_30.end(), {"--temp-spike", "80@117x8"});
    const std::vector<std::string> full_temp = {"-calibrate", "-f", "5805",
                                                "-m",         "0",  "-temp_test"};
    const std::string no_readings = "Error: No valid readings at power levels ";
    const std::string no_table = "; stopping calibration without writing the table\n";
    // clang-format off
    const std::vector<Case> cases = {
        {"SIGTERM during a full sweep", {}, full, "", "-p 39", "TERM", false, "",
         143, power_calls({38, 39, 1}) + kStopTest,
         "Calibrating power level 39 (39 of 60)...\n" + kInterrupted, "", 1, ""},
        // Level 45's tool dies of it; the second one comes while the way down
        // sets power 1, whose tool survives it.
        {"SIGINT during a fast sweep, twice", {}, fast, "", "-p 45|-p 1", "INT", true, "",
         130, power_calls({10, 35, 1}) + kStopTest,
         "Calibrating power level 45 (3 of 6)...\n" + kInterrupted, "", 1, ""},
        {"SIGTERM during a search", kSearchBoard, {"-adjust-dbm", "20"}, "", "-p 30", "TERM", false, "",
         143, power_calls({1, 30, 1}) + kStopTest,
         "Taking reading 1 of 3...\n" + kInterrupted, "", 1, ""},
        {"detector dies at level 30, temperature rising", dies_at_30, full_temp, "", "", "",
         false, "", 1, power_calls({29, 30, 31, 1}) + kStopTest,
         "No valid readings for power level 31, skipping in output\n"
         "Safety measure: Power level set to 1 (minimum) after calibration failure\n",
         no_readings + "30 and 31" + no_table +
         "Calibration failed for Frequency: 5805 MHz, MCS: 0\n", 1, ""},
        {"detector dead and too hot at level 30", hot_at_30, full_temp, "", "", "", false, "",
         0, power_calls({29, 30, 1}) + kStopTest,
         "WARNING: Temperature (80.00\xC2\xB0""C) exceeds safety threshold of 75.0\xC2\xB0""C at "
         "power level 30\nStopping calibration for safety reasons\n",
         "Remote I/O error\n", 1, "\n30,TEMP_ERROR_80_0,TEMP_ERROR_80_0\n31,NA,NA\n"},
        {"MCS 8", {}, {"-calibrate", "-f", "2412", "-m", "8"}, "", "", "", false, "",
         1, power_calls({1, 2, 1}) + kStopTest,
         "Failed to read CSV data for channel 0\n",
         "Invalid MCS value: 8. Must be 0-7\n" + no_readings + "1 and 2" + no_table +
         "Calibration failed for Frequency: 2412 MHz, MCS: 8\n", 1, ""},
        {"tool refuses -p 1", {}, {"-fast-calibrate", "-f", "5805", "-m", "0"}, "-p 1", "", "",
         false, "", 1, power_calls({59, 60, 1}) + kStopTest,
         "Calibration complete! Data saved to /data/quillon/vtx/calibrated_5_8.csv\n",
         "Failed to set power level to 1 after calibration: orvi-configure-vtx exited with "
         "status 1; the power may still be high\n"
         "Calibration failed for Frequency: 5805 MHz, MCS: 0\n", 60, "\n63,NA,NA\n"},
        {"tool refuses -F", {"--configure-status", "1"}, {"-calibrate", "-f", "2412", "-m", "0"},
         "", "", "", false, "", 1, "orvi-configure-vtx -F 2412\n" + kStopTest,
         "Setting frequency to 2412 MHz...\nAll calibrations completed!\n",
         "Failed to set frequency using orvi-configure-vtx: orvi-configure-vtx exited with "
         "status 1\n", 20, ""},
        // Six failed buffer reads: index 30's three readings and their retries.
        {"search whose readings fail",
         with(kSearchBoard, {"--fault", "buffer-read:nak:from=301,count=6"}),
         {"-adjust-dbm", "20"}, "", "", "", false,
         // a monitoring line after the search: its signal handling is over
         "sed -n '/after power search failure/,$p' \"$OUT\" | grep -q '^2.4 GHz'",
         143, power_calls({1, 30, 1}),
         "All readings failed or were skipped!\n"
         "Safety measure: Power level set to 1 (minimum) after power search failure\n",
         "Error: No valid reading at power level 30; ending the power search at power level 1\n",
         1, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = run(c);
        EXPECT_EQ(o.process.exit_code, c.exit_code) << o.process.err << o.err;
        EXPECT_TRUE(ends_with(o.tools, c.tools_tail)) << o.tools;
        EXPECT_NE(o.out.find(c.out_part), std::string::npos)
            << o.out.substr(o.out.size() > 3000 ? o.out.size() - 3000 : 0);
        EXPECT_TRUE(ends_with(o.err, c.err_tail)) << o.err.substr(0, 3000);
        if (!c.signal.empty()) {
            EXPECT_TRUE(ends_with(o.out, kInterrupted))
                << o.out.substr(o.out.size() > 500 ? o.out.size() - 500 : 0);
            EXPECT_EQ(o.err, "");
        }
        EXPECT_NE(o.state.find(" power=" + std::to_string(c.power) + " "), std::string::npos)
            << o.state;
        // No temporary file beside the tables, and no table for another band.
        EXPECT_EQ(o.listing, kConversionTables + "calibrated_5_8.csv\n") << o.listing;
        if (c.written.empty()) {
            EXPECT_EQ(o.table, kStored);
        } else {
            EXPECT_NE(o.table.find(c.written), std::string::npos) << o.table;
        }
    }
}

}  // namespace
