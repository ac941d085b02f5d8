// Finding the bus and checking the devices on it, through the real
// i2cdetect and shell pipelines on simulated boards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rfmon_rig.h"

namespace {

const char* const NOT_FOUND = "ERROR: No VTX found after scanning I2C buses 0-15 (16 ports total)\n";

struct Case {
    const char* name;
    std::vector<std::string> board;
    std::vector<std::string> args;
    int exit_code;
    std::string out_before_usage;  // what precedes the usage text on stdout
    std::string err;
};

}  // namespace

TEST(BusDetection, FirstBusHoldingBothDevices) {
    RfmonRig rig;
    const std::vector<Case> cases = {
        {"no bus at all", {"--buses", "", "--vtx-buses", ""}, {"-help"}, 1, "", NOT_FOUND},
        {"buses without the devices", {"--buses", "0,1,2,3", "--vtx-buses", ""}, {"-help"}, 1, "",
         NOT_FOUND},
        {"detection even with no arguments", {"--buses", "0", "--vtx-buses", ""}, {}, 1, "",
         NOT_FOUND},
        {"the devices on different buses",
         {"--buses", "0,1,2", "--vtx-buses", "", "--adc-buses", "1", "--temp-buses", "2"},
         {"-help"}, 1, "", NOT_FOUND},
        {"only the detector", {"--buses", "0,1", "--vtx-buses", "", "--adc-buses", "1"}, {"-help"},
         1, "", NOT_FOUND},
        {"beyond bus 15", {"--buses", "0", "--vtx-buses", "16"}, {"-help"}, 1, "", NOT_FOUND},
        {"bus 0", {"--buses", "", "--vtx-buses", "0"}, {"-help"}, 0, "Found VTX on I2C bus 0\n",
         ""},
        {"bus 15", {"--buses", "0,1", "--vtx-buses", "15"}, {"-help"}, 0,
         "Found VTX on I2C bus 15\n", ""},
        {"the lowest of two", {"--buses", "0,1,2", "--vtx-buses", "5,3"}, {"-help"}, 0,
         "Found VTX on I2C bus 3\n", ""},
        {"empty buses before it", {"--buses", "0,1,2", "--vtx-buses", "2"}, {"-help"}, 0,
         "Found VTX on I2C bus 2\n", ""},
        // The detected bus feeds the presence check.
        {"detected bus is present", {"--buses", "0", "--vtx-buses", "4"},
         {"-calibrate", "-help"}, 0, "Found VTX on I2C bus 4\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult r = rig.run_on_board({c.board, c.args});
        EXPECT_EQ(r.term_signal, 0);
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_EQ(r.out, c.out_before_usage + usage(rig.program()));
        EXPECT_EQ(r.err, c.err);
    }
}

// Options parsed before the help option show in the usage text, after the
// detection line.
TEST(BusDetection, HelpAfterDetectionShowsParsedValues) {
    RfmonRig rig;
    ProcessResult r = rig.run_on_board({{"--vtx-buses", "1"}, {"-s", "50", "-help"}});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Found VTX on I2C bus 1\n" + usage(rig.program(), 50));
}

// A bus named with -d is not searched for; its presence only gates
// calibration.
TEST(BusDetection, NamedBusIsCheckedNotSearched) {
    RfmonRig rig;
    ProcessResult r = rig.run_on_board(
        {{"--buses", "3", "--vtx-buses", "1"}, {"-d", "3", "-calibrate", "-f", "5180", "-m", "0"}});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Cannot calibrate - VTX not found on I2C bus 3\n");

    r = rig.run_on_board({{"--buses", "3", "--vtx-buses", "1"},
                          {"-d", "3", "-fast-calibrate", "-help"}});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Cannot fast calibrate - VTX not found on I2C bus 3\n");

    r = rig.run_on_board({{"--buses", "3", "--vtx-buses", "1"}, {"-d", "1", "-calibrate", "-help"}});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, usage(rig.program()));
}
