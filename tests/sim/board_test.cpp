// The simulated board as the programs under test meet it: every case runs
// real programs through sim/orvi-sim-board and checks their exact output.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <orvi/pipe_records.h>
#include "test_support.h"

namespace {

ProcessResult on_board(const std::vector<std::string>& options,
                       const std::vector<std::string>& command, int timeout_ms = 60000) {
    RunOptions run;
    run.timeout_ms = timeout_ms;
    return run_on_board(options, command, run);
}

ProcessResult shell_on_board(const std::vector<std::string>& options, const std::string& script,
                             int timeout_ms = 60000) {
    return on_board(options, {"sh", "-c", script}, timeout_ms);
}

std::string client() { return binary_path("tests/sim/sim_i2c_client"); }

std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

std::vector<std::string> client_steps(const std::string& device, const std::string& steps) {
    std::vector<std::string> argv{client(), device};
    for (const auto& w : words_of(steps)) argv.push_back(w);
    return argv;
}

// The table Debian's i2cdetect -r prints for a bus holding `present`
// (every row ends in a blank).
std::string i2cdetect_table(const std::vector<int>& present) {
    std::string out = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
    char cell[8];
    for (int row = 0; row < 0x80; row += 16) {
        std::snprintf(cell, sizeof cell, "%02x:", row);
        out += cell;
        for (int col = 0; col < 16; ++col) {
            int addr = row + col;
            bool here = false;
            for (int p : present) here = here || p == addr;
            if (addr < 0x08 || addr > 0x77) out += "   ";
            else if (here) std::snprintf(cell, sizeof cell, " %02x", addr), out += cell;
            else out += " --";
        }
        out += " \n";
    }
    return out;
}

std::string no_bus(int bus) {
    return "Error: Could not open file `/dev/i2c-" + std::to_string(bus) + "' or `/dev/i2c/" +
           std::to_string(bus) + "': No such file or directory\n";
}

std::string words(unsigned ch0, unsigned ch1) {
    std::string out = "read 32";
    char b[40];
    for (int i = 0; i < 8; ++i) {
        std::snprintf(b, sizeof b, " %02x %02x %02x %02x", ch0 >> 8, ch0 & 0xFF, ch1 >> 8,
                      ch1 & 0xFF);
        out += b;
    }
    return out + "\n";
}

const char* kConfigureAdc =
    "select 0x1d w 08 17 0a ; w 08 14 01 ; w 08 17 00 ; w 08 28 02 ; w 08 24 00 ; w 08 1c 06 ; "
    "w 08 20 03 ;";
const char* kConfiguredOut =
    "select 0x1d ok\nwrite 3\nwrite 3\nwrite 3\nwrite 3\nwrite 3\nwrite 3\nwrite 3\n";

// ---- buses and detection ----

struct BusCase {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::pair<int, std::vector<int>>> buses;  // bus, devices; {-1} = no such bus
};

TEST(SimBoard, RealI2cdetectSeesTheDevicesOnlyWhereConfigured) {
    const std::vector<BusCase> cases = {
        {"default", {}, {{0, {}}, {1, {0x1d, 0x48}}, {2, {-1}}, {15, {-1}}}},
        {"moved", {"--buses", "0,2", "--vtx-buses", "5"},
         {{0, {}}, {1, {-1}}, {2, {}}, {5, {0x1d, 0x48}}}},
        {"split", {"--buses", "", "--adc-buses", "3", "--temp-buses", "4", "--vtx-buses", ""},
         {{0, {-1}}, {3, {0x1d}}, {4, {0x48}}}},
        {"no sensor", {"--no-temp-sensor"}, {{1, {0x1d}}}},
        {"failing selects of absent devices", {"--select-absent-fails"}, {{1, {0x1d, 0x48}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script, expected;
        for (const auto& [bus, devices] : c.buses) {
            std::string b = std::to_string(bus);
            script += "echo bus " + b + "; [ -e /dev/i2c-" + b + " ] && echo exists || echo absent;" +
                      " i2cdetect -r -y " + b + " 2>&1; echo status $?;";
            bool exists = devices.empty() || devices[0] != -1;
            expected += "bus " + b + "\n" + (exists ? "exists\n" : "absent\n");
            expected += exists ? i2cdetect_table(devices) + "status 0\n" : no_bus(bus) + "status 1\n";
        }
        ProcessResult r = shell_on_board(c.options, script);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, expected);
    }
}

TEST(SimBoard, DetectionPipelineCountsBothDevices) {
    // The scan command orvi-rfmon runs through the shell, minus its redirection.
    const std::string scan = "timeout 1.5 i2cdetect -r -y %s | grep -E \" 48 | 1d \" | wc -l | "
                             "awk '{if($1==2) {print \"0\"; exit 0} else {print \"9\"; exit 9}}'";
    std::string script;
    for (const char* bus : {"0", "1", "7"}) {
        std::string cmd = scan;
        cmd.replace(cmd.find("%s"), 2, bus);
        script += cmd + " 2>/dev/null; echo $?;";
    }
    ProcessResult r = shell_on_board({"--buses", "0,1,7", "--vtx-buses", "1,7", "--temp-buses", "1"},
                                     script);
    EXPECT_EQ(r.out, "9\n9\n0\n0\n9\n9\n");
}

// ---- the ADS7142 ----

TEST(SimBoard, RegisterWriteReadRoundTripAndKeyedReset) {
    ProcessResult r = on_board(
        {}, client_steps("/dev/i2c-1",
                         "select 0x1d w 08 24 5a ; w 10 24 ; r 1 "
                         "w 08 14 01 ; w 10 24 ; r 1 "                          // no key: no reset
                         "w 08 17 0a ; w 08 14 01 ; w 08 17 00 ; w 10 24 ; r 1 "  // keyed reset
                         "w 08 1c 06 ; w 10 1c ; r 2"));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "select 0x1d ok\nwrite 3\nwrite 2\nread 1 5a\n"
              "write 3\nwrite 2\nread 1 5a\n"
              "write 3\nwrite 3\nwrite 3\nwrite 2\nread 1 00\n"
              "write 3\nwrite 2\nread 2 06 00\n");
}

struct BufferCase {
    const char* name;
    std::vector<std::string> options;
    const char* configure;  // fake tool arguments
    unsigned ch0, ch1;      // expected words
};

TEST(SimBoard, DataBufferFollowsTheTransmitterThroughTheConfigureTool) {
    // Expected voltages: the typical unit's output power and detector law at
    // 35 C, worked out by hand from its parameters (sim/README.md).
    const std::vector<BufferCase> cases = {
        {"5.8 MCS3 idx10 499.017 mV", {}, "-F 5805 -m 3 -p 10", 0x0050, 0x4701},
        {"2.4 MCS0 idx45 812.922 mV", {}, "-F 2412 -m 0 -p 45", 0x73a0, 0x0051},
        {"5.1 MCS3 idx50 911.455 mV", {}, "-F 5180 -m 3 -p 50", 0x0050, 0x81a1},
        {"MCS5 backs off 1 dB, idx56 986.667 mV", {}, "-F 5805 -m 5 -p 56", 0x0050, 0x8c51},
        {"unit offset +10 mV on 677.595", {"--offset-mv", "10"}, "-F 5805 -m 1 -p 20", 0x0050,
         0x61d1},
        {"band offset only on 2_4", {"--offset-mv", "2_4=10"}, "-F 5805 -m 3 -p 10", 0x0050, 0x4701},
        {"over-power +200 mV from 50 on 954.372", {"--over-power", "50:200"}, "-F 5805 -m 0 -p 50",
         0x0050, 0xa431},
        {"saturation at 800 mV", {"--saturate-mv", "800"}, "-F 2412 -m 0 -p 45", 0x71c0, 0x0051},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--noise-mv", "0", "--temp-rise", "0"});
        std::vector<std::string> argv{client(), "/dev/i2c-1", "run",
                                      std::string("orvi-configure-vtx ") + c.configure};
        for (const auto& w : words_of(std::string(kConfigureAdc) + " w 08 1e 01 ; w 3b ; r 32"))
            argv.push_back(w);
        ProcessResult r = on_board(options, argv);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, std::string("run 0\n") + kConfiguredOut + "write 3\nwrite 1\n" +
                             words(c.ch0, c.ch1));
    }
}

TEST(SimBoard, SequenceNeedsTheOperatingModeAndFollowsTheEnabledChannels) {
    ProcessResult r = on_board(
        {"--noise-mv", "0", "--temp-rise", "0", "--frequency", "5805", "--mcs", "3", "--power", "10"},
        client_steps("/dev/i2c-1",
                     "select 0x1d w 3b ; r 32 "                                      // never started
                     "w 08 20 03 ; w 08 1e 01 ; w 3b ; r 32 "                         // no OPMODE
                     "w 08 1c 06 ; w 08 20 02 ; w 08 28 00 ; w 08 1e 01 ; w 3b ; r 4"));  // ch1 only, no id
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "select 0x1d ok\nwrite 1\n" + words(0, 0) + "write 3\nwrite 3\nwrite 1\n" +
                         words(0, 0) + "write 3\nwrite 3\nwrite 3\nwrite 3\nwrite 1\nread 4 47 00 47 00\n");
}

std::vector<int> channel1_codes(const std::string& out) {
    std::vector<int> codes;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("read 32 ", 0) != 0) continue;
        std::istringstream bytes(line.substr(8));
        std::vector<unsigned> b;
        for (std::string h; bytes >> h;) b.push_back(std::stoul(h, nullptr, 16));
        for (size_t w = 1; w < 16; w += 2) codes.push_back(static_cast<int>((b[2 * w] << 8 | b[2 * w + 1]) >> 4));
    }
    return codes;
}

TEST(SimBoard, NoiseIsReproducibleFromTheSeedAndBoundedByItsAmplitude) {
    std::string steps = std::string(kConfigureAdc);
    for (int i = 0; i < 6; ++i) steps += " w 08 1e 01 ; w 3b ; r 32";
    auto run = [&](const char* seed) {
        return on_board({"--noise-mv", "3", "--seed", seed, "--power", "10", "--temp-rise", "0"},
                        client_steps("/dev/i2c-1", steps));
    };
    ProcessResult a = run("7"), b = run("7"), c = run("8");
    ASSERT_EQ(a.exit_code, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, c.out);
    std::vector<int> codes = channel1_codes(a.out);
    ASSERT_EQ(codes.size(), 48u);
    bool varied = false;
    for (int code : codes) {
        // 499.017 mV +- 3 mV is codes 1129..1142.
        EXPECT_GE(code, 1129);
        EXPECT_LE(code, 1142);
        varied = varied || code != codes[0];
    }
    EXPECT_TRUE(varied);
}

// ---- the RF model's truth and its units ----

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

// The bench meter reads the truth at the board's own settings, off by at
// most 0.1 dB, and the same twice for the same settings; it follows an
// output loss, not a detector loss.
TEST(SimBoard, MeterReadsTheTruthWithinItsOwnError) {
    const std::string look =
        "orvi-configure-vtx -F 2412 -m 3 -p 44; orvi-sim-ctl truth | cut -d' ' -f5; "
        "orvi-sim-ctl meter; orvi-sim-ctl meter; orvi-sim-ctl degrade detector 2; orvi-sim-ctl meter;"
        "orvi-sim-ctl degrade output 2; orvi-sim-ctl truth | cut -d' ' -f5; orvi-sim-ctl meter";
    for (const char* unit : {"0", "12", "140"}) {
        SCOPED_TRACE(unit);
        ProcessResult r = shell_on_board({"--unit", unit, "--temp-rise", "0"}, look);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(r.out.substr(at, end - at));
        ASSERT_EQ(lines.size(), 6u) << r.out;
        const double truth = std::stod(lines[0].substr(4)), meter = std::stod(lines[1]);
        EXPECT_NEAR(meter, truth, 0.1 + 0.005);
        EXPECT_EQ(lines[2], lines[1]);
        EXPECT_EQ(lines[3], lines[1]);
        EXPECT_NEAR(std::stod(lines[5]), std::stod(lines[4].substr(4)), 0.1 + 0.005);
        EXPECT_NEAR(std::stod(lines[4].substr(4)), truth - 2, 1e-3);
    }
}

// ---- a unit that drifts after calibration ----

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

// ---- temperature sensor ----

TEST(SimBoard, TemperatureWordIsTwelveBitTwosComplement) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"25", "19 00"}, {"-0.0625", "ff f0"}, {"-25", "e7 00"}, {"127.9375", "7f f0"}};
    for (const auto& [celsius, word] : cases) {
        SCOPED_TRACE(celsius);
        ProcessResult r = on_board({"--temp-start", celsius, "--temp-rise", "0"},
                                   client_steps("/dev/i2c-1", "select 0x48 w 00 ; r 2"));
        EXPECT_EQ(r.out, std::string("select 0x48 ok\nwrite 1\nread 2 ") + word + "\n");
    }
}

TEST(SimBoard, TemperatureRisesWithPowerOverTheBoardsVirtualTime) {
    // 30 C start, 60 C rise at index 60, 100 s time constant: after 1000 s of
    // (virtual) transmission 90 - 60 e^-10 = 89.997 C, word 0x5A00. The board
    // clock also moves with real time, so the first read, a moment after the
    // start, is only bounded: at 0.6 C/s at most it still reads 30.x C (0x1E).
    // "sleep 1000" is the shell tool: its virtual sleep moves the whole board.
    std::vector<std::string> argv{client(), "/dev/i2c-1", "select", "0x48", "w", "00", ";", "r",
                                  "2", "run", "sleep 1000", "w", "00", ";", "r", "2"};
    ProcessResult r = on_board({"--virtual-time", "--temp-start", "30", "--temp-rise", "60",
                                "--temp-tau", "100", "--power", "60"},
                               argv, 20000);
    EXPECT_FALSE(r.timed_out);
    const std::string before = "select 0x48 ok\nwrite 1\nread 2 1e ";
    const std::string after = "0\nrun 0\nwrite 1\nread 2 5a 00\n";
    ASSERT_EQ(r.out.size(), before.size() + 1 + after.size()) << r.out;
    EXPECT_EQ(r.out.substr(0, before.size()), before) << r.out;
    EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(r.out[before.size()]))) << r.out;
    EXPECT_EQ(r.out.substr(before.size() + 1), after) << r.out;
}

// ---- faults ----

struct FaultCase {
    const char* name;
    std::vector<std::string> options;
    const char* steps;
    std::string expected;
};

std::string zeros(int n) {
    std::string out = "read " + std::to_string(n);
    for (int i = 0; i < n; ++i) out += " 00";
    return out + "\n";
}

TEST(SimBoard, FaultsStrikeWhereAsked) {
    const std::vector<FaultCase> cases = {
        {"short buffer read at 2", {"--fault", "buffer-read:short:at=2"},
         "select 0x1d w 3b ; r 32 w 3b ; r 32 w 3b ; r 32",
         "select 0x1d ok\nwrite 1\n" + zeros(32) + "write 1\n" + zeros(31) + "write 1\n" + zeros(32)},
        {"nak on first sequence start", {"--fault", "seq-start:nak:at=1"},
         "select 0x1d w 08 1e 01 ; w 08 1e 01 ; w 08 24 00 ;",
         "select 0x1d ok\nwrite error EREMOTEIO\nwrite 3\nwrite 3\n"},
        {"every second register write", {"--fault", "reg-write:nak:every=2"},
         "select 0x1d w 08 24 00 ; w 08 24 00 ; w 3b ; w 08 24 00 ; w 08 24 00 ;",
         "select 0x1d ok\nwrite 3\nwrite error EREMOTEIO\nwrite 1\nwrite 3\nwrite error EREMOTEIO\n"},
        {"short write", {"--fault", "write@0x1d:short:at=1"},
         "select 0x1d w 08 24 33 ; w 10 24 ; r 1",
         "select 0x1d ok\nwrite 2\nwrite 2\nread 1 00\n"},
        {"temperature reads short from 2", {"--fault", "temp-read:short:from=2", "--temp-rise", "0"},
         "select 0x48 w 00 ; r 2 r 2 r 2",
         "select 0x48 ok\nwrite 1\nread 2 23 00\nread 1 23\nread 1 23\n"},
        {"sensor vanishes", {"--fault", "any@0x48:enxio"}, "select 0x48 select 0x1d w 3b ;",
         "select error ENXIO\nselect 0x1d ok\nwrite 1\n"},
        {"transfer counts plain reads and writes, not selects",
         {"--fault", "transfer:nak:at=2", "--temp-start", "25", "--temp-rise", "0"},
         "select 0x1d w 3b ; select 0x48 w 00 ; r 2",
         "select 0x1d ok\nwrite 1\nselect 0x48 ok\nwrite error EREMOTEIO\nread 2 19 00\n"},
        {"count limits a certain fault", {"--fault", "write:nak:rate=1,count=2"},
         "select 0x1d w 3b ; w 3b ; w 3b ; w 3b ;",
         "select 0x1d ok\nwrite error EREMOTEIO\nwrite error EREMOTEIO\nwrite 1\nwrite 1\n"},
        {"absent sensor: select succeeds, transfers fail", {"--no-temp-sensor"},
         "select 0x48 w 00 ; r 2", "select 0x48 ok\nwrite error ENXIO\nread error ENXIO\n"},
        {"absent sensor with failing select", {"--no-temp-sensor", "--select-absent-fails"},
         "select 0x48 select 0x1d select 0x50", "select error ENXIO\nselect 0x1d ok\nselect 0x50 ok\n"},
        {"temperature spike on reads 2 and 3",
         {"--temp-spike", "80@2x2", "--temp-start", "25", "--temp-rise", "0"},
         "select 0x48 w 00 ; r 2 r 2 r 2 r 2",
         "select 0x48 ok\nwrite 1\nread 2 19 00\nread 2 50 00\nread 2 50 00\nread 2 19 00\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult r = on_board(c.options, client_steps("/dev/i2c-1", c.steps));
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, c.expected);
    }
}

// Scripted converter words replace the model's at each data-buffer read.
TEST(SimBoard, AdcScriptsHandOutTheirBuffers) {
    const ScratchDir dir("sim-adc-script");
    write_file(dir / "order",
               "# two buffers, the last repeats\n1230 4560\n"
               "0001 0002 0003 0004 0005 0006 0007 0008 0009 000a 000b 000c 000d 000e 000f 0010\n");
    write_file(dir / "power", "20 0aa0 0bb0\n");
    write_file(dir / "bad", "1230 4560\n1230 4560 789\n");
    const std::string read = "select 0x1d w 3b ; r 6";
    const std::vector<FaultCase> cases = {
        {"in order", {"--adc-script", dir / "order"}, "select 0x1d w 3b ; r 6 r 6 w 3b ; r 6",
         "select 0x1d ok\nwrite 1\nread 6 12 30 45 60 12 30\nread 6 00 01 00 02 00 03\n"
         "write 1\nread 6 00 01 00 02 00 03\n"},
        {"by power index", {"--adc-script-power", dir / "power"}, read.c_str(),
         "select 0x1d ok\nwrite 1\nread 6 0a a0 0b b0 0a a0\n"},
        {"an index not listed reads the model",
         {"--adc-script-power", dir / "power", "--power", "21"}, read.c_str(), "select 0x1d ok\nwrite 1\n" + zeros(6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult r = on_board(c.options, client_steps("/dev/i2c-1", c.steps));
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, c.expected);
    }
    ProcessResult r = on_board({"--adc-script", dir / "bad"}, {"true"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err,
              "orvi-sim-board: " + dir / "bad" + ":2: expected 2 or 16 hex words (0..ffff)\n");
}

// Only reads and writes can be short: a short fault of kind any leaves the
// selects and the SMBus probes of i2cdetect alone, and does not count them.
TEST(SimBoard, ShortFaultsStrikeOnlyReadsAndWrites) {
    const std::string script = "'" + client() + "' /dev/i2c-1 select 0x48 w 00 ';' r 2 r 2;"
                               " i2cdetect -r -y 1 2>&1; echo status $?";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"any:short", "select 0x48 ok\nwrite 0\nread 1 23\nread 1 23\n"},
        {"any:short:at=2", "select 0x48 ok\nwrite 1\nread 1 23\nread 2 23 00\n"},
    };
    for (const auto& [fault, transfers] : cases) {
        SCOPED_TRACE(fault);
        ProcessResult r = shell_on_board({"--fault", fault, "--temp-rise", "0"}, script);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, transfers + i2cdetect_table({0x1d, 0x48}) + "status 0\n");
    }
}

TEST(SimBoard, RateFaultsAreReproducibleFromTheSeed) {
    std::string steps = "select 0x1d";
    for (int i = 0; i < 40; ++i) steps += " w 3b ;";
    auto run = [&](const char* seed) {
        return on_board({"--fault", "buffer-cmd:nak:rate=0.3", "--seed", seed},
                        client_steps("/dev/i2c-1", steps));
    };
    ProcessResult a = run("3"), b = run("3"), c = run("4");
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, c.out);
    size_t failures = 0;
    for (size_t pos = 0; (pos = a.out.find("error EREMOTEIO", pos)) != std::string::npos; ++pos)
        ++failures;
    EXPECT_GT(failures, 2u);
    EXPECT_LT(failures, 25u);
}

TEST(SimBoard, BadBoardOptionsAreRefusedBeforeAnythingRuns) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--fault", "bogus:nak"}, "orvi-sim-board: bad fault 'bogus:nak' (KIND[@ADDR]:ACTION[:WHEN])\n"},
        {{"--buses", "0,300"}, "orvi-sim-board: bad bus number '300' (0..255)\n"},
        {{"--power", "x"}, "orvi-sim-board: bad value 'x' for --power (0..63)\n"},
        {{"--unit", "-1"}, "orvi-sim-board: bad value '-1' for --unit (0..1000000)\n"},
        {{"--output-loss", "-41"}, "orvi-sim-board: bad value '-41' for --output-loss (dB, -40..40)\n"},
        {{"--wobble", "1"}, "orvi-sim-board: unknown board option --wobble\n"},
    };
    for (const auto& [options, message] : cases) {
        ProcessResult r = on_board(options, {"sh", "-c", "echo ran"});
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, message);
    }
}

// ---- the transmitter tools ----

TEST(SimBoard, FakeToolsChangeTheTransmitterAndLogEveryCall) {
    const ScratchDir dir("orvi-sim-test");
    const std::string log = dir / "tools.log";
    ProcessResult r = shell_on_board(
        {"--log", log},
        "orvi-configure-vtx -F 2412; orvi-configure-vtx -m 1 -p 33; orvi-configure-vtx -p 99;"
        " echo status $?; orvi-send-command vtx_latency stop_test 1; echo status $?;"
        " orvi-sim-ctl show");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Everything but the temperature, which rises while the test runs.
    std::string out = r.out;
    size_t t = out.find("temperature="), sp = out.find(' ', t);
    ASSERT_NE(t, std::string::npos) << out;
    out.erase(t, sp - t + 1);
    EXPECT_EQ(out, "status 1\nstatus 0\nfrequency=2412 mcs=1 power=33 stop_test=1 virtual_ns=0\n");
    EXPECT_EQ(r.err, "orvi-configure-vtx: -p needs a value in 0..63\n");
    EXPECT_EQ(read_file(log),
              "orvi-configure-vtx -F 2412\norvi-configure-vtx -m 1 -p 33\norvi-configure-vtx -p 99\n"
              "orvi-send-command vtx_latency stop_test 1\n");
}

TEST(SimBoard, FakeToolsCanBeMadeToFail) {
    const ScratchDir dir("orvi-sim-test");
    const std::string log = dir / "tools.log";
    ProcessResult r = shell_on_board(
        {"--log", log, "--configure-status", "3", "--send-command-status", "1"},
        "orvi-configure-vtx -p 40; echo status $?; orvi-send-command vtx_latency stop_test 1;"
        " echo status $?; orvi-sim-ctl show | cut -d' ' -f3,5");
    EXPECT_EQ(r.out, "status 3\nstatus 1\npower=20 stop_test=0\n");
    EXPECT_EQ(read_file(log), "orvi-configure-vtx -p 40\norvi-send-command vtx_latency stop_test 1\n");
}

// ---- virtual time ----

struct Sleep {
    std::string name;
    long long asked, elapsed;
};

std::vector<Sleep> parse_sleeps(const std::string& out, long long* virtual_ns) {
    std::vector<Sleep> sleeps;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t v = line.find("virtual_ns=");
        if (v != std::string::npos) {
            *virtual_ns = std::stoll(line.substr(v + 11));
            continue;
        }
        std::istringstream f(line);
        Sleep s;
        if (f >> s.name >> s.asked >> s.elapsed) sleeps.push_back(s);
    }
    return sleeps;
}

TEST(SimBoard, VirtualTimeAdvancesTheSharedMonotonicClock) {
    // 21 s of sleeps on the main thread; the run would time out if they were real.
    // The probe may be another architecture's build under emulation.
    const std::string probe = program_shell_words("tests/sim/sim_clock_probe");
    ProcessResult r = shell_on_board({"--virtual-time"}, probe + " 1000; orvi-sim-ctl show", 15000);
    ASSERT_FALSE(r.timed_out);
    long long virtual_ns = -1;
    std::vector<Sleep> sleeps = parse_sleeps(r.out, &virtual_ns);
    ASSERT_EQ(sleeps.size(), 7u) << r.out << r.err;
    for (const auto& s : sleeps) {
        SCOPED_TRACE(s.name);
        EXPECT_GE(s.elapsed, s.asked);
        // Each virtual second shows once on the clock, not twice (as it would
        // if an emulator's own clock reads were shifted too).
        if (s.name != "thread-usleep") {
            EXPECT_LT(s.elapsed, s.asked + s.asked / 2);
        }
    }
    // Every main-thread sleep moved the board clock by what it asked (the
    // absolute one by what was left of it); the thread's real sleep did not.
    EXPECT_LE(virtual_ns, 21000000000LL);
    EXPECT_GT(virtual_ns, 20000000000LL);
}

TEST(SimBoard, SleepLogHoldsEachVirtualSleep) {
    const std::string probe = binary_path("tests/sim/sim_clock_probe");
    ProcessResult r =
        shell_on_board({"--virtual-time", "--sleep-log", "/run/orvi-sim/sleeps"},
                       probe + " 1000 >/dev/null; cut -d' ' -f2- /run/orvi-sim/sleeps");
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    // The absolute sleep asks for what is left of its 5 s.
    EXPECT_EQ(lines[3].substr(0, 17), "clock_nanosleep 4") << lines[3];
    lines[3] = "absolute";
    EXPECT_EQ(lines, (std::vector<std::string>{"usleep 3000000000", "nanosleep 2000000000",
                                               "clock_nanosleep 4000000000", "absolute",
                                               "nanosleep 6000000000", "sleep 1000000000"}));
}

TEST(SimBoard, WithoutVirtualTimeSleepsAreReal) {
    const std::string probe = binary_path("tests/sim/sim_clock_probe");
    ProcessResult r = shell_on_board({}, probe + " 10; orvi-sim-ctl show");
    long long virtual_ns = -1;
    std::vector<Sleep> sleeps = parse_sleeps(r.out, &virtual_ns);
    ASSERT_EQ(sleeps.size(), 6u) << r.out;
    for (const auto& s : sleeps) EXPECT_GE(s.elapsed, s.asked) << s.name;
    EXPECT_EQ(virtual_ns, 0);
}

// ---- the telemetry publisher ----

struct Record {
    unsigned magic;
    int id, frequency, mcs, power, frame;
};

struct Delivery {
    int bytes;
    std::vector<Record> records;
};

std::vector<Delivery> parse_deliveries(const std::string& out) {
    std::vector<Delivery> d;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        int bytes = 0;
        Record rec{};
        if (std::sscanf(line.c_str(), "delivery %d", &bytes) == 1) {
            d.push_back({bytes, {}});
        } else if (std::sscanf(line.c_str(), "magic=%x id=%d frequency=%d mcs=%d power=%d frame=%d",
                               &rec.magic, &rec.id, &rec.frequency, &rec.mcs, &rec.power,
                               &rec.frame) == 6 &&
                   !d.empty()) {
            d.back().records.push_back(rec);
        }
    }
    return d;
}

std::string telemetry_probe() { return binary_path("tests/sim/sim_telemetry_probe"); }

TEST(SimBoard, PublisherRecordsFollowTheTransmitter) {
    ProcessResult r = on_board({"--publisher", "--rate 200", "--frequency", "5180", "--mcs", "3"},
                               {telemetry_probe(), "vtx_latency", "60", "10000",
                                "orvi-configure-vtx -p 33 -m 1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<Delivery> d = parse_deliveries(r.out);
    ASSERT_EQ(d.size(), 60u);
    int first = d[0].records.at(0).id;
    for (size_t i = 0; i < d.size(); ++i) {
        ASSERT_EQ(d[i].bytes, 81);
        ASSERT_EQ(d[i].records.size(), 1u);
        const Record& rec = d[i].records[0];
        EXPECT_EQ(rec.magic, PIPE_RECORD_MAGIC);
        EXPECT_EQ(rec.id, first + static_cast<int>(i));
        EXPECT_EQ(rec.frequency, 5180);
        EXPECT_EQ(rec.frame, (rec.id - 1) % 30 == 0 ? 19 : 1);
    }
    EXPECT_EQ(d[0].records[0].power, 20);
    EXPECT_EQ(d[0].records[0].mcs, 3);
    EXPECT_EQ(d.back().records[0].power, 33);
    EXPECT_EQ(d.back().records[0].mcs, 1);
}

TEST(SimBoard, PublisherBatchesAndBadBatches) {
    struct Case {
        const char* args;
        std::vector<int> sizes;
        std::vector<std::vector<int>> ids;
        std::vector<unsigned> first_magic;
    };
    const unsigned M = PIPE_RECORD_MAGIC;
    const std::vector<Case> cases = {
        {"--wait-clients 1 --batch 3 --count 7 --hold", {243, 243, 81},
         {{1, 2, 3}, {4, 5, 6}, {7}}, {M, M, M}},
        {"--wait-clients 1 --count 4 --bad-every 2:partial --hold --h264", {81, 80, 81, 80},
         {{1}, {}, {3}, {}}, {M, 0, M, 0}},
        {"--wait-clients 1 --count 3 --bad-every 3:magic --hold --id-start 100", {81, 81, 81},
         {{100}, {101}, {102}}, {M, M, 0xDEADBEEF}},
        {"--wait-clients 1 --count 4 --restart-every 2:300 --hold", {81, 81, 81, 81},
         {{1}, {2}, {3}, {4}}, {M, M, M, M}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ProcessResult r = on_board(
            {"--publisher", c.args},
            {telemetry_probe(), "vtx_latency", std::to_string(c.sizes.size()), "10000"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::vector<Delivery> d = parse_deliveries(r.out);
        ASSERT_EQ(d.size(), c.sizes.size());
        for (size_t i = 0; i < d.size(); ++i) {
            EXPECT_EQ(d[i].bytes, c.sizes[i]);
            std::vector<int> ids;
            for (const auto& rec : d[i].records) ids.push_back(rec.id);
            if (c.sizes[i] % 81 == 0) {
                EXPECT_EQ(ids, c.ids[i]);
                EXPECT_EQ(d[i].records.at(0).magic, c.first_magic[i]);
            }
        }
    }
}

TEST(SimBoard, PublisherPlaysARecordsFileByteForByte) {
    const ScratchDir dir("orvi-sim-test");
    std::string file = dir / "records.bin";
    std::string bytes;
    for (int id : {7, 8, 9}) {
        vtx_data_t rec;
        std::memset(&rec, 0, sizeof rec);
        rec.magic_number = id == 8 ? 0x11223344u : PIPE_RECORD_MAGIC;
        rec.id = id;
        rec.frequency = 2412;
        rec.mcs = 2;
        rec.power_idx = id;
        rec.frame_type = 65;
        bytes.append(reinterpret_cast<const char*>(&rec), sizeof rec);
    }
    bytes.append(40, 'x');
    std::ofstream(file, std::ios::binary) << bytes;
    ProcessResult r = on_board(
        {"--publisher", "--records " + file + " --batches 2,1 --wait-clients 1 --hold"},
        {telemetry_probe(), "vtx_latency", "3", "10000"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "delivery 162\n"
              "magic=4f525649 id=7 frequency=2412 mcs=2 power=7 frame=65 fec=0 in=0.00 out=0.00\n"
              "magic=11223344 id=8 frequency=2412 mcs=2 power=8 frame=65 fec=0 in=0.00 out=0.00\n"
              "delivery 81\n"
              "magic=4f525649 id=9 frequency=2412 mcs=2 power=9 frame=65 fec=0 in=0.00 out=0.00\n"
              "delivery 40\n");
}

TEST(SimBoard, ClientsMeetAPublisherThatStartsLate) {
    ProcessResult r = on_board({"--publisher", "--start-delay 400 --rate 100"},
                               {telemetry_probe(), "vtx_latency", "5", "10000"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(parse_deliveries(r.out).size(), 5u);
}

}  // namespace

// ---- the safety stops of a calibration, reached on purpose ----

namespace {

TEST(SimBoard, OverTemperatureStopIsReachableInVirtualTime) {
    // 35 C start, up to 115 C at index 60 with a 20 s time constant: a full
    // sweep (about 80 s of mandated waits) heats the board past 75 C.
    ProcessResult r = shell_on_board(
        {"--virtual-time", "--temp-rise", "80", "--temp-tau", "20"},
        binary_path("rfmon/orvi-rfmon") +
            " -temp_test -calibrate -f 5805 -m 0; echo status $?; cat /data/quillon/vtx/calibrated_5_8.csv",
        30000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_NE(r.out.find("exceeds safety threshold of 75.0°C at power level"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Stopping calibration for safety reasons\n"), std::string::npos);
    // The stop level carries the marker in both cells: TEMP_ERROR_75_x or above.
    size_t marker = r.out.find(",TEMP_ERROR_");
    ASSERT_NE(marker, std::string::npos);
    std::string cells = r.out.substr(marker + 1, r.out.find('\n', marker) - marker - 1);
    int whole = 0, tenth = 0;
    ASSERT_EQ(std::sscanf(cells.c_str(), "TEMP_ERROR_%d_%d", &whole, &tenth), 2) << cells;
    EXPECT_GE(whole, 75);
    EXPECT_EQ(cells, "TEMP_ERROR_" + std::to_string(whole) + "_" + std::to_string(tenth) + "," + cells.substr(0, cells.find(',')));
    EXPECT_NE(r.out.find("status 0\n"), std::string::npos);
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

namespace {

TEST(SimBoard, PublisherStartedByHandKeepsRealTimeOnAVirtualTimeBoard) {
    ProcessResult r = shell_on_board(
        {"--virtual-time"},
        binary_path("sim/vtx-telemetry-publisher") + " --count 20 --rate 200; echo status $?;"
        " orvi-sim-ctl show | cut -d' ' -f6");
    EXPECT_EQ(r.out, "status 0\nvirtual_ns=0\n") << r.err;
}

}  // namespace

namespace {

TEST(SimBoard, I2cLogRecordsEveryTransaction) {
    const ScratchDir dir("orvi-sim-test");
    const std::string log = dir / "i2c.log";
    ProcessResult r = on_board(
        {"--i2c-log", log, "--no-temp-sensor", "--fault", "buffer-cmd:nak:at=1"},
        client_steps("/dev/i2c-1", "select 0x1d w 08 24 5a ; w 3b ; w 10 24 ; r 1 select 0x48 w 00 ;"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Drop the pid in front of each line.
    std::string text = read_file(log), lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines += line.substr(line.find(' ') + 1) + "\n";
    EXPECT_EQ(lines,
              "i2c-1 select 0x1d ok\n"
              "i2c-1 write 0x1d 08 24 5a ok\n"
              "i2c-1 write 0x1d 3b nak\n"
              "i2c-1 write 0x1d 10 24 ok\n"
              "i2c-1 read 0x1d 1 ok\n"
              "i2c-1 select 0x48 ok\n"
              "i2c-1 write 0x48 00 enxio\n");
}

}  // namespace

namespace {

TEST(SimBoard, TimeScaleSleepsATenthAndMovesTheClockByTheRest) {
    // 2 s of main-thread sleeps at a speed-up of 10: 0.2 s real, 1.8 s virtual
    // (the absolute sleep counts what was left of it when it began).
    const std::string probe = binary_path("tests/sim/sim_clock_probe");
    ProcessResult r = shell_on_board({"--time-scale", "10"}, probe + " 100; orvi-sim-ctl show");
    long long virtual_ns = -1;
    std::vector<Sleep> sleeps = parse_sleeps(r.out, &virtual_ns);
    ASSERT_EQ(sleeps.size(), 6u) << r.out;
    for (const auto& s : sleeps) EXPECT_GE(s.elapsed, s.asked) << s.name;
    EXPECT_LE(virtual_ns, 1800000000LL);
    EXPECT_GT(virtual_ns, 1700000000LL);
}

TEST(SimBoard, PublisherRefusesBadOptions) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--rate", "0"}, "bad value for --rate (0 < HZ <= 10000)"},
        {{"--bad-every", "2:garbled"}, "bad value for --bad-every (N:partial or N:magic)"},
        {{"--batches", "1,,2"}, "bad value for --batches (a list of 1..400)"},
        {{"--count"}, "option --count needs a value"},
        {{"--louder", "1"}, "unknown option --louder"},
    };
    for (const auto& [args, message] : cases) {
        std::vector<std::string> argv{binary_path("sim/vtx-telemetry-publisher")};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessResult r = run_process(argv);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "vtx-telemetry-publisher: " + message);
    }
}

}  // namespace

namespace {

TEST(SimBoard, ABusClosedBehindTheBoardsBackLeavesItsNumberToPlainFiles) {
    const ScratchDir dir("orvi-sim-test");
    const std::string file = dir / "plain.txt";
    std::ofstream(file) << "hello";
    for (const char* close_step : {"fclose", "closerange"}) {
        SCOPED_TRACE(close_step);
        ProcessResult r = on_board(
            {}, client_steps("/dev/i2c-1", std::string("select 0x1d ") + close_step + " cat " + file));
        EXPECT_EQ(r.out, std::string("select 0x1d ok\n") + close_step + " 0\ncat hello\n") << r.err;
    }
}

}  // namespace

namespace {

TEST(SimBoard, AHangingBusIsCutOffByTheScansTimeLimit) {
    // The scan's time limit is the only way out of a stuck bus.
    ProcessResult r = shell_on_board({"--fault", "smbus@0x30:hang"},
                                     "timeout 1.5 i2cdetect -r -y 1 >/dev/null; echo status $?;"
                                     " timeout 1.5 i2cdetect -r -y 0 >/dev/null; echo status $?",
                                     20000);
    EXPECT_EQ(r.out, "status 124\nstatus 124\n") << r.err;
}

TEST(SimBoard, BoardLockExcludesAcrossProcessesAndOutlivesAHolderThatDies) {
    // Three processes add to one unguarded counter under the board lock; then
    // a holder is killed inside the lock, and the next process still gets it.
    // N is native; e runs our build of the probe, which may be another
    // architecture's under emulation, so the lock also works across the two.
    const std::string script = "N=" + shell_quote(binary_path("tests/sim/sim_lock_probe")) +
                               "; e() { " + program_shell_words("tests/sim/sim_lock_probe") +
                               " \"$@\"; }; e add 20000 & $N add 20000 & e add 20000 & wait;"
                               " e die; $N add 1; $N die; e add 1; $N read";
    ProcessResult r = shell_on_board({}, script, 120000);
    ASSERT_FALSE(r.timed_out) << r.err;
    EXPECT_EQ(r.out, "60002\n") << r.err;
}

}  // namespace
