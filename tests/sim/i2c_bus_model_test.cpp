// The devices on the simulated buses (i2c_bus_model): detection through
// Debian's i2cdetect, the ADS7142's registers, sequences and data buffer, the
// temperature word, scripted converter words and the I2C log.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "board_runs.h"

namespace {

std::string no_bus(int bus) {
    return "Error: Could not open file `/dev/i2c-" + std::to_string(bus) + "' or `/dev/i2c/" +
           std::to_string(bus) + "': No such file or directory\n";
}

const char* kConfiguredOut =
    "select 0x1d ok\nwrite 3\nwrite 3\nwrite 3\nwrite 3\nwrite 3\nwrite 3\nwrite 3\n";

struct BusCase {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::pair<int, std::vector<int>>> buses;  // bus, devices; {-1} = no such bus
};

struct BufferCase {
    const char* name;
    std::vector<std::string> options;
    const char* configure;  // fake tool arguments
    unsigned ch0, ch1;      // expected words
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
