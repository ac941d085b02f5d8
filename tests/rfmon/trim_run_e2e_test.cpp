// orvi-rfmon -trim on the simulated board: a drawn unit's detector trimmed
// against the board's meter or by the operator at a terminal, the readings
// after it against the truth, and the meters a trim must refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kHeader =
    "Band,Frequency_MHz,MCS,Gain,Offset_mV,Residual_dB,Meter_dB,Levels,Trimmed_At\n";
const std::string kOther24 = "2_4,2412,0,1.010000,-3.000,0.100,0.200,5,2026-01-02T03:04:05Z\n";
const std::string kPowerOneLast =
    "orvi-configure-vtx -p 1\norvi-send-command vtx_latency stop_test 1\n";

struct TrimCase {
    const char* name;
    std::string script;  // R runs orvi-rfmon -d 1, $P is orvi-rfmon; $D a scratch folder
    int status;
    std::string err;       // standard error exactly
    bool written;          // a trim file with a fresh 5_8 line after kOther24
};

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The "Level L: detector ..., meter M dBm" lines: level and meter.
std::vector<std::pair<int, double>> meter_lines(const std::string& out) {
    std::vector<std::pair<int, double>> found;
    for (const std::string& line : lines_of(out)) {
        int level = 0;
        double mv = 0, dbm = 0;
        // After a prompt the line goes on where the operator's entry ended.
        const size_t at = line.find("Level ");
        if (at != std::string::npos &&
            std::sscanf(line.c_str() + at, "Level %d: detector %lf mV, meter %lf dBm", &level, &mv, &dbm) == 3)
            found.push_back({level, dbm});
    }
    return found;
}

// `script` with $P, the program's own words, written out: a terminal's
// command line cannot call the script's shell functions.
std::string with_program(std::string script, const std::string& words) {
    for (size_t at = script.find("$P"); at != std::string::npos; at = script.find("$P", at + words.size()))
        script.replace(at, 2, words);
    return script;
}

class TrimOnBoard : public testing::Test {
  protected:
    ProcessResult on_board(const std::string& script) {
        const std::string rfmon = program_shell_words("rfmon/orvi-rfmon");
        RunOptions options;
        options.timeout_ms = 120000;
        make_dirs(dir_ + "/in");
        write_file(dir_ + "/in/detector_trim.csv", kHeader + kOther24);
        return run_on_board({"--virtual-time", "--unit", "37", "--temp-rise", "0", "--data", dir_ + "/in",
                             "--log", dir_ + "/tools.log"},
                            {"/bin/sh", "-c",
                             "R() { " + rfmon + " -d 1 \"$@\"; }\nD=" + shell_quote(dir_) + "\n" +
                                 with_program(script, rfmon) + "\ncp /data/quillon/vtx/detector_trim.csv \"$D/trim\""},
                            options);
    }
    const ScratchDir scratch_{"orvi-trim-test"};
    const std::string dir_ = scratch_.path();
};

TEST_F(TrimOnBoard, TrimsAgainstAMeterOrRefusesIt) {
    const std::string failed = "Error: The trim of 5_8 at 5805 MHz, MCS 0 failed: ";
    const std::vector<TrimCase> cases = {
        {"the board's meter", "R -trim -f 5805 -meter 'orvi-sim-ctl meter' > \"$D/out\" 2> \"$D/err\"", 0, "",
         true},
        // The operator types what the meter shows: here the truth at the
        // levels the first trim chose, through a terminal.
        {"the operator at a terminal",
         "R -trim -f 5805 -meter 'orvi-sim-ctl meter' > \"$D/first\" 2>&1\n"
         "for L in $(sed -n 's/^Level \\([0-9]*\\): detector.*/\\1/p' \"$D/first\"); do\n"
         "  orvi-sim-ctl truth 5805 0 $L | sed 's/.*dbm=\\([^ ]*\\).*/\\1/'; done > \"$D/entries\"\n"
         ": > \"$D/tools.log\"\n"
         "script -qec \"$P -d 1 -trim -f 5805 2> $D/err\" /dev/null < \"$D/entries\" > \"$D/out\"",
         0, "", true},
        {"a meter that prints more than a number", "R -trim -f 5805 -meter 'echo 17.3 dBm' > /dev/null 2> \"$D/err\"",
         1, failed + "the meter command printed something that is not one number in dBm; nothing was written\n",
         false},
        {"a meter that fails", "R -trim -f 5805 -meter 'exit 3' > /dev/null 2> \"$D/err\"", 1,
         failed + "the meter command exited with status 3; nothing was written\n", false},
        {"a meter 4 dB off", "R -trim -f 5805 -meter \"orvi-sim-ctl meter | awk '{print \\$1 + 4}'\" > /dev/null 2> \"$D/err\"",
         1, failed + "the correction is beyond plausible bounds (more than 3 dB or 20 % of slope); nothing was written\n",
         false},
        {"no meter and no terminal", "R -trim -f 5805 < /dev/null > /dev/null 2> \"$D/err\"", 1,
         "Error: -trim without -meter reads the meter from the terminal, and standard input is not one.\n", false},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove((dir_ + "/tools.log").c_str());
        const ProcessResult r = on_board(c.script + "\necho $? > \"$D/status\"");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(read_file(dir_ + "/status"), std::to_string(c.status) + "\n");
        EXPECT_EQ(read_file(dir_ + "/err"), c.err);
        const std::string trim = read_file(dir_ + "/trim");
        if (!c.written) {
            EXPECT_EQ(trim, kHeader + kOther24);
            continue;
        }
        // The other band's line kept byte for byte, the new one after it.
        ASSERT_EQ(trim.rfind(kHeader + kOther24 + "5_8,5805,0,", 0), 0u) << trim;
        EXPECT_EQ(lines_of(trim).size(), 3u) << trim;
        EXPECT_TRUE(ends_with(read_file(dir_ + "/tools.log"), kPowerOneLast));
        const std::string out = read_file(dir_ + "/out");
        EXPECT_GE(meter_lines(out).size(), 4u) << out;
        EXPECT_NE(out.find("Detector trim saved to /data/quillon/vtx/detector_trim.csv"), std::string::npos);
    }
}

// After a trim the readings follow the truth closely and the guard shrinks to
// the trim's own uncertainty: a full sweep of the trimmed band against the
// board's truth.
TEST_F(TrimOnBoard, TrimmedSweepFollowsTheTruthAndItsGuardShrinks) {
    const ProcessResult r = on_board(
        "R -trim -f 2412 -meter 'orvi-sim-ctl meter' > \"$D/out\" 2>&1 || exit 9\n"
        "R -calibrate -f 2412 -m 0 > \"$D/sweep\" 2>&1 || exit 8\n"
        "cp /data/quillon/vtx/calibrated_2_4.csv \"$D/table\"\n"
        "for L in $(seq 1 60); do orvi-sim-ctl truth 2412 0 $L 35 | sed 's/.*dbm=\\([^ ]*\\).*/\\1/'; done > \"$D/truth\"");
    ASSERT_EQ(r.exit_code, 0) << r.err << read_file(dir_ + "/out") << read_file(dir_ + "/sweep");
    const std::vector<std::string> trim = lines_of(read_file(dir_ + "/trim"));
    ASSERT_EQ(trim.size(), 2u);  // the 2_4 line replaced
    double gain = 0, offset = 0, residual = 0, meter = 0;
    ASSERT_EQ(std::sscanf(trim[1].c_str(), "2_4,2412,0,%lf,%lf,%lf,%lf", &gain, &offset, &residual, &meter), 4)
        << trim[1];
    char guard[128];
    std::snprintf(guard, sizeof guard, "is within the detector's uncertainty (%.2f dB) of the safety threshold",
                  residual + meter + 0.1);
    const std::string sweep = read_file(dir_ + "/sweep");
    EXPECT_NE(sweep.find(guard), std::string::npos) << sweep.substr(sweep.size() > 2000 ? sweep.size() - 2000 : 0);

    const std::vector<std::string> truth = lines_of(read_file(dir_ + "/truth"));
    ASSERT_EQ(truth.size(), 60u);
    int compared = 0;
    for (const std::string& line : lines_of(read_file(dir_ + "/table"))) {
        int level = 0;
        double mv = 0, mw = 0;
        if (std::sscanf(line.c_str(), "%d,%lf,%lf", &level, &mv, &mw) != 3 || level > 60 || mw <= 0) continue;
        const double dbm = 10 * std::log10(mw), true_dbm = std::stod(truth[level - 1]);
        EXPECT_LE(true_dbm, 31.5) << "level " << level;
        EXPECT_NEAR(dbm, true_dbm, residual + meter + 0.1) << "level " << level;
        ++compared;
    }
    EXPECT_GT(compared, 40);
}

}  // namespace
