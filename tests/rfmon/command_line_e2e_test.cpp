// orvi-rfmon's command line, run as the real program: every failure, the
// usage text byte for byte, repeat rules and the bus value that reaches a
// shell. Runs on a simulated board where bus 3 holds the detector and the
// sensor, bus 7 exists without them and no other bus exists.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "rfmon_rig.h"

namespace {

const char* const BUS_MESSAGE = "Error: -d option requires an integer value.\n";
const char* const TEMP_LINE =
    "Temperature testing enabled. Calibration will stop if temperature exceeds 75.0\xC2\xB0"
    "C\n";
// What i2c-tools' i2cdetect says about a bus that does not exist (the
// presence check does not silence it).
const char* const NO_BUS_9 =
    "Error: Could not open file `/dev/i2c-9' or `/dev/i2c/9': No such file or directory\n";
const char* const OPEN_FAILED = "Failed to open the i2c bus: No such file or directory\n";


std::vector<std::string> repeated(const std::string& option, int count, int first) {
    std::vector<std::string> out;
    for (int i = 0; i < count; i++) {
        out.push_back(option);
        out.push_back(std::to_string(first + i));
    }
    return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

enum class Out { None, Usage };

struct Row {
    std::string name;
    std::vector<std::string> args;
    std::string err;
    Out out;
    int exit_code;
};

}  // namespace

TEST(CommandLine, FailuresAndHelpTable) {
    RfmonRig rig;
    const std::string prog = rig.program();
    const std::vector<std::string> d7{"-d", "7"};  // a bus without the devices
    const std::vector<std::string> d3{"-d", "3"};  // the bus holding them
    const std::vector<Row> rows = {
        // The bus value.
        {"d without value", {"-d"}, BUS_MESSAGE, Out::Usage, 1},
        {"d letter first", {"-d", "x1"}, BUS_MESSAGE, Out::Usage, 1},
        {"d digit then letter", {"-d", "1x"}, BUS_MESSAGE, Out::Usage, 1},
        {"d empty", {"-d", ""}, BUS_MESSAGE, Out::Usage, 1},
        {"d negative", {"-d", "-1"}, BUS_MESSAGE, Out::Usage, 1},
        {"d twelve digits", {"-d", "123456789012"}, BUS_MESSAGE, Out::Usage, 1},
        {"d shell text", {"-d", "1;reboot"}, BUS_MESSAGE, Out::Usage, 1},
        {"d space", {"-d", "1 2"}, BUS_MESSAGE, Out::Usage, 1},
        {"second d without value", {"-d", "7", "-d"}, BUS_MESSAGE, Out::Usage, 1},
        {"d checked before help", {"-help", "-d", "x"}, BUS_MESSAGE, Out::Usage, 1},
        // Calibration requests.
        {"both calibrations", d3 + std::vector<std::string>{"-calibrate", "-fast-calibrate"},
         "Error: -calibrate and -fast-calibrate cannot be used together.\n", Out::None, 1},
        {"both calibrations reversed",
         d3 + std::vector<std::string>{"-fast-calibrate", "-calibrate", "-f", "5180", "-m", "0"},
         "Error: -calibrate and -fast-calibrate cannot be used together.\n", Out::None, 1},
        {"calibrate without vtx", d7 + std::vector<std::string>{"-calibrate", "-f", "1", "-m", "1"},
         "Error: Cannot calibrate - VTX not found on I2C bus 7\n", Out::None, 1},
        {"fast calibrate without vtx", d7 + std::vector<std::string>{"-fast-calibrate"},
         "Error: Cannot fast calibrate - VTX not found on I2C bus 7\n", Out::None, 1},
        {"last d names the bus",
         std::vector<std::string>{"-d", "3", "-calibrate", "-d", "7"},
         "Error: Cannot calibrate - VTX not found on I2C bus 7\n", Out::None, 1},
        {"calibrate without f", d3 + std::vector<std::string>{"-calibrate", "-m", "0"},
         "Error: Calibration requires at least one frequency (-f option).\n", Out::Usage, 1},
        {"calibrate without anything", d3 + std::vector<std::string>{"-calibrate"},
         "Error: Calibration requires at least one frequency (-f option).\n", Out::Usage, 1},
        {"calibrate without m", d3 + std::vector<std::string>{"-calibrate", "-f", "5180"},
         "Error: Calibration requires at least one MCS value (-m option).\n", Out::Usage, 1},
        // Frequencies and MCS values.
        {"f without value", d7 + std::vector<std::string>{"-f"},
         "Error: -f option requires a numeric frequency value.\n", Out::Usage, 1},
        {"f not a number", d7 + std::vector<std::string>{"-f", "abc"},
         "Error: -f option requires a numeric frequency value.\n", Out::Usage, 1},
        {"eleventh f", d3 + repeated("-f", 11, 5170),
         "Error: Maximum number of frequencies (10) exceeded.\n", Out::Usage, 1},
        {"m without value", d7 + std::vector<std::string>{"-m"},
         "Error: -m option requires a numeric MCS value.\n", Out::Usage, 1},
        {"m not a number", d7 + std::vector<std::string>{"-m", "+1"},
         "Error: -m option requires a numeric MCS value.\n", Out::Usage, 1},
        {"eleventh m", d3 + repeated("-m", 11, 0),
         "Error: Maximum number of MCS values (10) exceeded.\n", Out::Usage, 1},
        // Power adjustment.
        {"mW without value", d7 + std::vector<std::string>{"-adjust-mW"},
         "Error: -adjust-mW requires a numeric value.\n", Out::Usage, 1},
        {"mW too low", d7 + std::vector<std::string>{"-adjust-mW", "4.9"},
         "Error: mW value must be between 5 and 1000.\n", Out::None, 1},
        {"mW too high", d7 + std::vector<std::string>{"-adjust-mW", "1000.5"},
         "Error: mW value must be between 5 and 1000.\n", Out::None, 1},
        {"mW not a number", d7 + std::vector<std::string>{"-adjust-mW", "abc"},
         "Error: -adjust-mW requires a numeric value.\n", Out::Usage, 1},
        {"mW nan", d7 + std::vector<std::string>{"-adjust-mW", "nan"},
         "Error: mW value must be between 5 and 1000.\n", Out::None, 1},
        {"dbm without value", d7 + std::vector<std::string>{"-adjust-dbm"},
         "Error: -adjust-dbm requires a numeric value.\n", Out::Usage, 1},
        {"dbm too high", d7 + std::vector<std::string>{"-adjust-dbm", "30.01"},
         "Error: Desired dBm must be between 0 and 30.\n", Out::None, 1},
        {"dbm negative", d7 + std::vector<std::string>{"-adjust-dbm", "-0.5"},
         "Error: Desired dBm must be between 0 and 30.\n", Out::None, 1},
        {"dbm nan", d7 + std::vector<std::string>{"-adjust-dbm", "nan"},
         "Error: Desired dBm must be between 0 and 30.\n", Out::None, 1},
        {"dbm infinite", d7 + std::vector<std::string>{"-adjust-dbm", "inf"},
         "Error: Desired dBm must be between 0 and 30.\n", Out::None, 1},
        // Sampling and pause.
        {"s without value", d7 + std::vector<std::string>{"-s"},
         "Error: -s option requires an integer value.\n", Out::Usage, 1},
        {"s not a number", d7 + std::vector<std::string>{"-s", "x12"},
         "Error: -s option requires an integer value.\n", Out::Usage, 1},
        {"p without value", d7 + std::vector<std::string>{"-p"},
         "Error: -p option requires a numeric value.\n", Out::Usage, 1},
        {"p leading dot", d7 + std::vector<std::string>{"-p", ".5"},
         "Error: -p option requires a numeric value.\n", Out::Usage, 1},
        {"p overflowing", d7 + std::vector<std::string>{"-p", "1e999"},
         "Error: -p option requires a numeric value.\n", Out::Usage, 1},
        // Anything else.
        {"unknown option", d7 + std::vector<std::string>{"-bogus"},
         "Unknown option: -bogus\n", Out::Usage, 1},
        {"double dash help", d7 + std::vector<std::string>{"--help"},
         "Unknown option: --help\n", Out::Usage, 1},
        {"combined short options", d7 + std::vector<std::string>{"-d7"},
         "Unknown option: -d7\n", Out::Usage, 1},
        {"first error ends parsing", d7 + std::vector<std::string>{"-f", "abc", "-bogus"},
         "Error: -f option requires a numeric frequency value.\n", Out::Usage, 1},
        {"unknown before help", d7 + std::vector<std::string>{"-bogus", "-help"},
         "Unknown option: -bogus\n", Out::Usage, 1},
        {"a value swallowed by -f", std::vector<std::string>{"-f", "-d", "7"},
         "Error: -f option requires a numeric frequency value.\n", Out::Usage, 1},
        // Help.
        {"help", d7 + std::vector<std::string>{"-help"}, "", Out::Usage, 0},
        {"plain help word", d7 + std::vector<std::string>{"help"}, "", Out::Usage, 0},
        {"help before an unknown option", d7 + std::vector<std::string>{"help", "-bogus"},
         "", Out::Usage, 0},
        {"help after calibration options",
         d3 + std::vector<std::string>{"-calibrate", "-help"}, "", Out::Usage, 0},
        {"last d is the bus checked",
         std::vector<std::string>{"-d", "7", "-calibrate", "-d", "3", "-help"}, "", Out::Usage, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ProcessResult r = rig.run(row.args);
        EXPECT_EQ(r.term_signal, 0);
        EXPECT_EQ(r.exit_code, row.exit_code);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.out, row.out == Out::Usage ? usage(prog) : std::string());
    }
}

// Values that are not numbers, options that the mode would drop, and the
// exit status a -verify caller reads: 2 for anything that keeps it from
// checking, the command line included.
TEST(CommandLine, ValuesReadWholeAndWhatVerifyTakes) {
    RfmonRig rig;
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string first_err_line;
    };
    const std::string tolerance = "Error: -verify-db requires a tolerance in dB above 0 and up to 10.";
    const std::vector<Case> cases = {
        {{"-d", "3", "-verify", "-f", "9999"}, 2,
         "Error: -verify cannot check 9999 MHz: no calibration band holds it."},
        {{"-d", "3", "-verify", "-f", "5805", "-f", "4900"}, 2,
         "Error: -verify cannot check 4900 MHz: no calibration band holds it."},
        {{"-d", "3", "-verify", "-bogus"}, 2, "Unknown option: -bogus"},
        {{"-d", "3", "-verify", "-adjust-dbm", "20"}, 2, "Error: -verify does not take -adjust-dbm."},
        {{"-d", "3", "-adjust-mW", "100", "-verify"}, 2, "Error: -verify does not take -adjust-mW."},
        {{"-d", "3", "-verify", "-s", "50"}, 2, "Error: -verify does not take -s."},
        {{"-d", "3", "-p", "0.5", "-verify"}, 2, "Error: -verify does not take -p."},
        {{"-d", "3", "-verify", "-calibrate"}, 2,
         "Error: -verify cannot be used with -calibrate or -fast-calibrate."},
        {{"-d", "3", "-verify", "-verify-db", "2abc"}, 2, tolerance},
        {{"-d", "7", "-verify"}, 2, "Error: Cannot verify - VTX not found on I2C bus 7"},
        {{"-d", "x", "-verify"}, 2, "Error: -d option requires an integer value."},
        {{"-d", "3", "-verify", "-help"}, 0, ""},
        {{"-d", "7", "-verify-db", "0x3"}, 1, tolerance},
        {{"-d", "7", "-verify-db", "1e1"}, 1, tolerance},
        {{"-d", "7", "-verify-db", "inf"}, 1, tolerance},
        {{"-d", "7", "-verify-db", " 2"}, 1, tolerance},
        {{"-d", "7", "-verify-db", "."}, 1, tolerance},
        {{"-d", "7", "-verify-db", "0"}, 1, tolerance},
        {{"-d", "7", "-verify-db", "10.5"}, 1, tolerance},
        {{"-d", "7", "-verify-db", std::string(400, '9')}, 1, tolerance},
        {{"-d", "3", "-fast-calibrate", "-verify-db", "2"}, 1,
         "Error: -fast-calibrate does not take -verify-db."},
        {{"-d", "3", "-verify-db", "2", "-calibrate", "-f", "5805", "-m", "0"}, 1,
         "Error: -calibrate does not take -verify-db."},
        {{"-d", "7", "-adjust-dbm", "abc"}, 1, "Error: -adjust-dbm requires a numeric value."},
        {{"-d", "7", "-adjust-dbm", ""}, 1, "Error: -adjust-dbm requires a numeric value."},
        {{"-d", "7", "-adjust-mW", "mW"}, 1, "Error: -adjust-mW requires a numeric value."},
        {{"-d", "7", "-s", "0"}, 1, "Error: -s option requires an integer value."},
        {{"-d", "7", "-s", "0abc"}, 1, "Error: -s option requires an integer value."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProcessResult r = rig.run(c.args);
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.first_err_line);
        EXPECT_EQ(r.err.empty(), c.first_err_line.empty());
    }
}

// The defaults in the usage text are the values current when it prints.
TEST(CommandLine, UsageShowsCurrentSettings) {
    RfmonRig rig;
    const std::string prog = rig.program();
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"-d", "7", "-s", "50", "-help"}, usage(prog, 50)},
        {{"-d", "7", "-s", "12abc", "-help"}, usage(prog, 12)},
        {{"-d", "7", "-s", "50", "-s", "60", "-help"}, usage(prog, 60)},
        {{"-d", "7", "-p", "0.25", "-help"}, usage(prog, 300, "0.250")},
        {{"-d", "7", "-p", "0.5", "-p", "2", "-help"}, usage(prog, 300, "2.000")},
        {{"-d", "7", "-help", "-s", "50"}, usage(prog)},
        {{"-d", "7", "-temp_test", "-help"}, TEMP_LINE + usage(prog)},
        {{"-d", "7", "-temp_test", "-s", "x"}, TEMP_LINE + usage(prog)},
        {{"-d", "7", "-s", "40", "-bogus"}, usage(prog, 40)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 2] + " " + c.args.back());
        ProcessResult r = rig.run(c.args);
        EXPECT_EQ(r.out, c.out);
    }
}

// Options that parse reach the opening of the bus device; bus 9 does not
// exist, which ends the run with the system's reason.
TEST(CommandLine, AcceptedValuesReachTheBusDevice) {
    RfmonRig rig;
    const std::vector<std::vector<std::string>> accepted = {
        {"-d", "9"},
        {"-d", "9", "-adjust-dbm", "30"},
        {"-d", "9", "-adjust-dbm", "0"},
        {"-d", "9", "-adjust-dbm", "12.5dB"},
        {"-d", "9", "-verify-db", "2.5"},
        {"-d", "9", "-verify-db", "+.5"},
        {"-d", "9", "-adjust-mW", "1000"},
        {"-d", "9", "-adjust-mW", "5"},
        {"-d", "9", "-p", "0.5"},
        {"-d", "9", "-s", "1"},
        {"-d", "9", "-f", "5180", "-m", "3"},
        {"-d", "3", "-d", "9"},
    };
    for (const auto& args : accepted) {
        SCOPED_TRACE(args.back());
        ProcessResult r = rig.run(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string(NO_BUS_9) + OPEN_FAILED);
    }
    // Eleven digits are still a bus number.
    ProcessResult r = rig.run({"-d", "12345678901"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    ASSERT_GE(r.err.size(), std::string(OPEN_FAILED).size());
    EXPECT_EQ(r.err.substr(r.err.size() - std::string(OPEN_FAILED).size()), OPEN_FAILED);
    EXPECT_EQ(r.err.find(BUS_MESSAGE), std::string::npos);
}

// The bus value is pasted into the presence check's shell command: anything
// but a plain number is refused before a shell runs.
TEST(CommandLine, BusValueNeverReachesAShell) {
    RfmonRig rig;
    const std::string marker = rig.dir() + "/injected";
    const std::vector<std::string> values = {
        "1;touch " + marker, "1 && touch " + marker, "1|touch " + marker, "$(touch " + marker + ")",
        "1`touch " + marker + "`", "1\ntouch " + marker,
    };
    for (const std::string& value : values) {
        SCOPED_TRACE(value);
        ProcessResult r = rig.run({"-d", value});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, BUS_MESSAGE);
        EXPECT_EQ(r.out, usage(rig.program()));
        struct stat info;
        EXPECT_NE(stat(marker.c_str(), &info), 0) << "a shell ran the injected command";
    }
}
