// The RF model (rf_model): the truth, the drawn units, the drift of a
// running board and the over-power stop a calibration can reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "board_runs.h"

namespace {

struct DriftCase {
    const char* name;
    std::vector<std::string> options;
    const char* change;  // shell commands run between the two looks at the board
    int status;          // of the last command
    double dbm_db;       // expected change of the true output power
    double detector_db;  // expected change of what the detector sees
    const char* err;
};

// One value of "name=value" words in `text` after `from`.
double value_of(const std::string& text, const std::string& name, size_t from = 0) {
    size_t at = text.find(" " + name + "=", from);
    return at == std::string::npos ? -1e9 : std::stod(text.substr(at + name.size() + 2));
}

TEST(SimBoard, TruthFollowsTemperatureRippleAndBackOff) {
    // Worked out by hand from the typical unit's parameters (sim/README.md).
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"5805 0 20 35", "dbm=16.5938 mv=632.053 code=1438"},
        {"5805 0 20 75", "dbm=16.0113 mv=616.325 code=1402"},  // -0.015 dB per degree
        {"5745 7 56 35", "dbm=29.6144 mv=977.005 code=2223"},  // ripple -0.14 dB, back-off 2 dB
        {"5805 3 0 35", "dbm=-100.0000 mv=2.000 code=5"},       // transmitter off: idle channel
    };
    std::string script;
    for (const auto& c : cases) script += "orvi-sim-ctl truth " + c.first + " | cut -d' ' -f5-;";
    ProcessResult r = shell_on_board({"--temp-rise", "0"}, script);
    std::string expected;
    for (const auto& c : cases) expected += c.second + "\n";
    EXPECT_EQ(r.out, expected) << r.err;
}

TEST(SimBoard, TruthLogHoldsWhatEachSequenceUsed) {
    const ScratchDir dir("orvi-sim-test");
    const std::string log = dir / "truth.log";
    ProcessResult r = on_board({"--truth-log", log, "--temp-rise", "0", "--noise-mv", "0"},
                               client_steps("/dev/i2c-1", std::string(kConfigureAdc) +
                                                              " w 08 1e 01 ; w 08 1e 01 ;"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string text = read_file(log), lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines += line.substr(line.find(' ') + 1) + "\n";
    const std::string one =
        "frequency=5805 mcs=3 power=20 temperature=35.000 dbm=17.3515 mv=637.557\n";
    EXPECT_EQ(lines, one + one);
}

TEST(SimBoard, DrawnUnitsStayWithinTheirSpreadsAndAreReproducible) {
    std::string script;
    for (int n = 1; n <= 100; ++n) script += "orvi-sim-ctl unit " + std::to_string(n) + ";";
    ProcessResult all = shell_on_board({}, script + "orvi-sim-ctl unit 37");
    ASSERT_EQ(all.exit_code, 0) << all.err;
    // Each line: "name=value" pairs; check every value against its spread.
    const std::vector<std::pair<std::string, std::pair<double, double>>> bounds = {
        {"tempco_db_per_c", {-0.025, -0.005}}, {"gain_db", {-1.5, 1.5}},
        {"step_scale", {0.95, 1.05}},         {"psat_db", {-1.0, 1.0}},
        {"smoothness_scale", {0.75, 1.25}},   {"ripple_db", {0, 0.5}},
        {"slope_scale", {0.97, 1.03}},        {"offset_mv", {-10, 10}},
    };
    std::map<std::string, std::pair<double, double>> seen;  // smallest, largest
    std::istringstream in(all.out);
    for (std::string word; in >> word;) {
        size_t eq = word.find('=');
        std::string name = word.substr(0, eq);
        if (name == "unit" || name == "band" || name == "detector" || name == "backoff_db" ||
            name == "ripple_phase")
            continue;
        double v = std::stod(word.substr(eq + 1));
        auto& range = seen.emplace(name, std::make_pair(v, v)).first->second;
        range.first = std::min(range.first, v);
        range.second = std::max(range.second, v);
    }
    for (const auto& [name, limits] : bounds) {
        SCOPED_TRACE(name);
        ASSERT_EQ(seen.count(name), 1u) << all.out.substr(0, 400);
        EXPECT_GE(seen[name].first, limits.first);
        EXPECT_LE(seen[name].second, limits.second);
        // A hundred draws cover most of the spread.
        EXPECT_LT(seen[name].first, limits.first + 0.2 * (limits.second - limits.first));
        EXPECT_GT(seen[name].second, limits.second - 0.2 * (limits.second - limits.first));
    }
    const size_t at = all.out.find("unit=37 ");
    const std::string unit37 = all.out.substr(at, all.out.find("unit=38 ") - at);
    EXPECT_EQ(all.out.substr(all.out.rfind("unit=37 ")), unit37);

    // A drawn unit transmits differently from the typical one, the same way each time.
    const std::string truth = "orvi-sim-ctl truth 5805 0 30 35 | cut -d' ' -f5";
    ProcessResult typical = shell_on_board({}, truth);
    ProcessResult a = shell_on_board({"--unit", "37"}, truth), b = shell_on_board({"--unit", "37"}, truth);
    EXPECT_EQ(typical.out, "dbm=21.2353\n");
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, typical.out);
}

TEST(SimBoard, DriftChangesTheTruthAndTheConverterOfARunningBoard) {
    const std::vector<DriftCase> cases = {
        {"ageing amplifier", {}, "orvi-sim-ctl degrade output 3", 0, -3, -3, ""},
        {"damaged coupler", {}, "orvi-sim-ctl degrade detector 3", 0, 0, -3, ""},
        {"gains", {}, "orvi-sim-ctl degrade output -2; orvi-sim-ctl degrade detector 1.5", 0, 2,
         0.5, ""},
        {"losses from the start, then undone", {"--output-loss", "1", "--detector-loss", "2"},
         "orvi-sim-ctl degrade detector 0; orvi-sim-ctl degrade output 0", 0, 1, 3, ""},
        {"not a number", {}, "orvi-sim-ctl degrade output 3dB", 1, 0, 0,
         "orvi-sim-ctl: bad value '3dB' for degrade output (dB, -40..40)\n"},
        {"too large", {}, "orvi-sim-ctl degrade detector 40.5", 1, 0, 0,
         "orvi-sim-ctl: bad value '40.5' for degrade detector (dB, -40..40)\n"},
        {"no such path", {}, "orvi-sim-ctl degrade coupler 3", 1, 0, 0,
         "orvi-sim-ctl: unknown path 'coupler' for degrade (output or detector)\n"},
    };
    // 5_8 MCS 0: 27.000 mV/dB (sim/README.md) times the unit's own slope_scale.
    const double slope_mv = 27.000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--unit", "5", "--frequency", "5805", "--mcs", "0",
                                       "--power", "30", "--noise-mv", "0", "--temp-rise", "0"});
        // One process converts before and after the change, as a monitor would.
        const std::string look = std::string(kConfigureAdc) + " w 08 1e 01 ; w 3b ; r 32";
        std::vector<std::string> argv{client(), "/dev/i2c-1"};
        for (const auto& w : words_of(look)) argv.push_back(w);
        argv.insert(argv.end(), {"run", std::string("orvi-sim-ctl unit 5 | grep detector=1;"
                                                    " orvi-sim-ctl truth; ") +
                                            c.change + "; echo status $?; orvi-sim-ctl truth"});
        for (const auto& w : words_of("w 08 1e 01 ; w 3b ; r 32")) argv.push_back(w);
        ProcessResult r = on_board(options, argv);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_NE(r.out.find("status " + std::to_string(c.status) + "\n"), std::string::npos) << r.out;

        const size_t before = r.out.find("\nfrequency="), after = r.out.find("\nfrequency=", before + 1);
        ASSERT_NE(after, std::string::npos) << r.out;
        const double scale = value_of(r.out, "slope_scale");
        EXPECT_NEAR(value_of(r.out, "dbm", after) - value_of(r.out, "dbm", before), c.dbm_db, 2e-4);
        EXPECT_NEAR(value_of(r.out, "mv", after) - value_of(r.out, "mv", before),
                    c.detector_db * slope_mv * scale, 0.01);
        // The converter follows the truth before and after, in the same process.
        const std::vector<int> codes = channel1_codes(r.out);
        ASSERT_EQ(codes.size(), 16u);
        EXPECT_EQ(codes[0], value_of(r.out, "code", before));
        EXPECT_EQ(codes[8], value_of(r.out, "code", after));
    }
}

TEST(SimBoard, OverPowerStopIsReachableWithATableThatGoesThatHigh) {
    const ScratchDir dir("orvi-sim-test");
    // Level 45 reads about 1256 mV: near the 1300 mV row (32 dBm), inside the table.
    std::ofstream(dir / "5_8_mv_to_dbm.csv")
        << "mV,MCS0_dBm,MCS1_dBm,MCS2_dBm,MCS3_dBm,MCS4_dBm,MCS5_dBm,MCS6_dBm,MCS7_dBm\n"
           "0,0,0,0,0,0,0,0,0\n1000,30,30,30,30,30,30,30,30\n1300,32,32,32,32,32,32,32,32\n";
    ProcessResult r = shell_on_board(
        {"--virtual-time", "--data", dir.path(), "--over-power", "45:340"},
        binary_path("rfmon/orvi-rfmon") + " -calibrate -f 5805 -m 0; echo status $?", 30000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_NE(r.out.find("WARNING: Measured dBm (32.00) exceeds safety threshold of 31.5 dBm at "
                         "power level 45\nStopping calibration for safety reasons\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("status 0\n"), std::string::npos);
}

}  // namespace
