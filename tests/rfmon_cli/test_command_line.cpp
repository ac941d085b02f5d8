// orvi-rfmon's command line, run as the real program: every failure, the
// usage text byte for byte, repeat rules and the bus value that reaches a
// shell.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "rfmon_rig.h"

namespace {

std::string usage(const std::string& program, int sampling = 300, const char* pause = "0.000") {
    return "Usage: " + program +
           " -d <i2c_device_number> [options]\n"
           "  -d <i2c_device_number> : Specify the I2C device number (e.g., 1 for /dev/i2c-1)\n"
           "  -s sampling_window     : Number of samples to find the maximum before printing "
           "(default: " +
           std::to_string(sampling) +
           ")\n"
           "  -p pause_seconds       : Pause duration between prints in seconds (default: " +
           pause +
           ")\n"
           "  -adjust-dbm <value>    : Enable automatic power adjustment to match desired dBm "
           "(value must be between 0 and 30).\n"
           "  -adjust-mW <value>     : Enable automatic power adjustment using milliwatts (value "
           "must be between 5 and 1000).\n"
           "\n"
           "Calibration Mode:\n"
           "  -calibrate             : Run full calibration (requires at least one -f and one -m "
           "option)\n"
           "  -fast-calibrate        : Fast cal for 2412/5180/5805 MHz and MCS 0/3 (defaults "
           "apply if -f/-m omitted)\n"
           "                           Other frequency/MCS combinations use full calibration with "
           "a warning\n"
           "  -f <frequency>         : Specify a frequency in MHz for calibration (e.g., 5180, "
           "5805, 2412)\n"
           "                           Can be specified multiple times for different "
           "frequencies\n"
           "  -m <mcs>               : Specify an MCS value for calibration (typically 0-7)\n"
           "                           Can be specified multiple times for different MCS values\n"
           "  -temp_test               : Enable temperature testing during calibration (stops if "
           "temperature exceeds 75.0\xC2\xB0"
           "C)\n"
           "  Example: " +
           program +
           " -d 1 -calibrate -f 5180 -f 5800 -m 0 -m 7\n"
           "           This would perform calibration for all combinations: (5180,0), (5180,7), "
           "(5800,0), (5800,7)\n"
           "  Example: " +
           program +
           " -d 1 -fast-calibrate\n"
           "           Fast cal for (2412,0), (2412,3), (5180,0), (5180,3), (5805,0), (5805,3)\n"
           "\n"
           "Other Options:\n"
           "  -help or help          : Display this help message and exit.\n";
}

const char* const BUS_MESSAGE = "Error: -d option requires an integer value.\n";
const char* const TEMP_LINE =
    "Temperature testing enabled. Calibration will stop if temperature exceeds 75.0\xC2\xB0"
    "C\n";
// What i2c-tools' i2cdetect says about a bus that does not exist (the
// presence check does not silence it).
const char* const NO_BUS_7 =
    "Error: Could not open file `/dev/i2c-7' or `/dev/i2c/7': No such file or directory\n";
const char* const OPEN_FAILED = "Failed to open the i2c bus: No such file or directory\n";

const Board NOTHING{"", ""};
const Board EMPTY_7{"7", ""};
const Board VTX_7{"", "7"};

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
    Board board;
    std::string err;
    Out out;
    int exit_code;
};

}  // namespace

TEST(CommandLine, FailuresAndHelpTable) {
    RfmonRig rig;
    const std::string prog = rig.program();
    const std::vector<std::string> d7{"-d", "7"};
    const std::vector<Row> rows = {
        // The bus value.
        {"d without value", {"-d"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"d letter first", {"-d", "x1"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"d digit then letter", {"-d", "1x"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"d empty", {"-d", ""}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"d negative", {"-d", "-1"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"d twelve digits", {"-d", "123456789012"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"d shell text", {"-d", "1;reboot"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"d space", {"-d", "1 2"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"second d without value", {"-d", "7", "-d"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        {"d checked before help", {"-help", "-d", "x"}, EMPTY_7, BUS_MESSAGE, Out::Usage, 1},
        // Calibration requests.
        {"both calibrations", d7 + std::vector<std::string>{"-calibrate", "-fast-calibrate"}, VTX_7,
         "Error: -calibrate and -fast-calibrate cannot be used together.\n", Out::None, 1},
        {"both calibrations reversed",
         d7 + std::vector<std::string>{"-fast-calibrate", "-calibrate", "-f", "5180", "-m", "0"},
         VTX_7, "Error: -calibrate and -fast-calibrate cannot be used together.\n", Out::None, 1},
        {"calibrate without vtx", d7 + std::vector<std::string>{"-calibrate", "-f", "1", "-m", "1"},
         EMPTY_7, "Error: Cannot calibrate - VTX not found on I2C bus 7\n", Out::None, 1},
        {"fast calibrate without vtx", d7 + std::vector<std::string>{"-fast-calibrate"}, EMPTY_7,
         "Error: Cannot fast calibrate - VTX not found on I2C bus 7\n", Out::None, 1},
        {"last d names the bus",
         std::vector<std::string>{"-d", "5", "-calibrate", "-d", "7"}, EMPTY_7,
         "Error: Cannot calibrate - VTX not found on I2C bus 7\n", Out::None, 1},
        {"calibrate without f", d7 + std::vector<std::string>{"-calibrate", "-m", "0"}, VTX_7,
         "Error: Calibration requires at least one frequency (-f option).\n", Out::Usage, 1},
        {"calibrate without anything", d7 + std::vector<std::string>{"-calibrate"}, VTX_7,
         "Error: Calibration requires at least one frequency (-f option).\n", Out::Usage, 1},
        {"calibrate without m", d7 + std::vector<std::string>{"-calibrate", "-f", "5180"}, VTX_7,
         "Error: Calibration requires at least one MCS value (-m option).\n", Out::Usage, 1},
        // Frequencies and MCS values.
        {"f without value", d7 + std::vector<std::string>{"-f"}, EMPTY_7,
         "Error: -f option requires a numeric frequency value.\n", Out::Usage, 1},
        {"f not a number", d7 + std::vector<std::string>{"-f", "abc"}, EMPTY_7,
         "Error: -f option requires a numeric frequency value.\n", Out::Usage, 1},
        {"eleventh f", d7 + repeated("-f", 11, 5170), VTX_7,
         "Error: Maximum number of frequencies (10) exceeded.\n", Out::Usage, 1},
        {"m without value", d7 + std::vector<std::string>{"-m"}, EMPTY_7,
         "Error: -m option requires a numeric MCS value.\n", Out::Usage, 1},
        {"m not a number", d7 + std::vector<std::string>{"-m", "+1"}, EMPTY_7,
         "Error: -m option requires a numeric MCS value.\n", Out::Usage, 1},
        {"eleventh m", d7 + repeated("-m", 11, 0), VTX_7,
         "Error: Maximum number of MCS values (10) exceeded.\n", Out::Usage, 1},
        // Power adjustment.
        {"mW without value", d7 + std::vector<std::string>{"-adjust-mW"}, EMPTY_7,
         "Error: -adjust-mW requires a numeric value.\n", Out::Usage, 1},
        {"mW too low", d7 + std::vector<std::string>{"-adjust-mW", "4.9"}, EMPTY_7,
         "Error: mW value must be between 5 and 1000.\n", Out::None, 1},
        {"mW too high", d7 + std::vector<std::string>{"-adjust-mW", "1000.5"}, EMPTY_7,
         "Error: mW value must be between 5 and 1000.\n", Out::None, 1},
        {"mW not a number reads 0", d7 + std::vector<std::string>{"-adjust-mW", "abc"}, EMPTY_7,
         "Error: mW value must be between 5 and 1000.\n", Out::None, 1},
        {"mW nan", d7 + std::vector<std::string>{"-adjust-mW", "nan"}, EMPTY_7,
         "Error: mW value must be between 5 and 1000.\n", Out::None, 1},
        {"dbm without value", d7 + std::vector<std::string>{"-adjust-dbm"}, EMPTY_7,
         "Error: -adjust-dbm requires a numeric value.\n", Out::Usage, 1},
        {"dbm too high", d7 + std::vector<std::string>{"-adjust-dbm", "30.01"}, EMPTY_7,
         "Error: Desired dBm must be between 0 and 30.\n", Out::None, 1},
        {"dbm negative", d7 + std::vector<std::string>{"-adjust-dbm", "-0.5"}, EMPTY_7,
         "Error: Desired dBm must be between 0 and 30.\n", Out::None, 1},
        {"dbm nan", d7 + std::vector<std::string>{"-adjust-dbm", "nan"}, EMPTY_7,
         "Error: Desired dBm must be between 0 and 30.\n", Out::None, 1},
        {"dbm infinite", d7 + std::vector<std::string>{"-adjust-dbm", "inf"}, EMPTY_7,
         "Error: Desired dBm must be between 0 and 30.\n", Out::None, 1},
        // Sampling and pause.
        {"s without value", d7 + std::vector<std::string>{"-s"}, EMPTY_7,
         "Error: -s option requires an integer value.\n", Out::Usage, 1},
        {"s not a number", d7 + std::vector<std::string>{"-s", "x12"}, EMPTY_7,
         "Error: -s option requires an integer value.\n", Out::Usage, 1},
        {"p without value", d7 + std::vector<std::string>{"-p"}, EMPTY_7,
         "Error: -p option requires a numeric value.\n", Out::Usage, 1},
        {"p leading dot", d7 + std::vector<std::string>{"-p", ".5"}, EMPTY_7,
         "Error: -p option requires a numeric value.\n", Out::Usage, 1},
        // Anything else.
        {"unknown option", d7 + std::vector<std::string>{"-bogus"}, EMPTY_7,
         "Unknown option: -bogus\n", Out::Usage, 1},
        {"double dash help", d7 + std::vector<std::string>{"--help"}, EMPTY_7,
         "Unknown option: --help\n", Out::Usage, 1},
        {"combined short options", d7 + std::vector<std::string>{"-d7"}, EMPTY_7,
         "Unknown option: -d7\n", Out::Usage, 1},
        {"first error ends parsing", d7 + std::vector<std::string>{"-f", "abc", "-bogus"},
         EMPTY_7, "Error: -f option requires a numeric frequency value.\n", Out::Usage, 1},
        {"unknown before help", d7 + std::vector<std::string>{"-bogus", "-help"}, EMPTY_7,
         "Unknown option: -bogus\n", Out::Usage, 1},
        {"a value swallowed by -f", std::vector<std::string>{"-f", "-d", "7"}, EMPTY_7,
         "Error: -f option requires a numeric frequency value.\n", Out::Usage, 1},
        // Help.
        {"help", d7 + std::vector<std::string>{"-help"}, EMPTY_7, "", Out::Usage, 0},
        {"plain help word", d7 + std::vector<std::string>{"help"}, EMPTY_7, "", Out::Usage, 0},
        {"help before an unknown option", d7 + std::vector<std::string>{"help", "-bogus"},
         EMPTY_7, "", Out::Usage, 0},
        {"help after calibration options",
         d7 + std::vector<std::string>{"-calibrate", "-help"}, VTX_7, "", Out::Usage, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ProcessResult r = rig.run(row.args, row.board);
        EXPECT_EQ(r.term_signal, 0);
        EXPECT_EQ(r.exit_code, row.exit_code);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.out, row.out == Out::Usage ? usage(prog) : std::string());
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
        ProcessResult r = rig.run(c.args, EMPTY_7);
        EXPECT_EQ(r.out, c.out);
    }
}

// Options that parse reach the opening of the bus device; here it does not
// exist, which ends the run with the system's reason.
TEST(CommandLine, AcceptedValuesReachTheBusDevice) {
    RfmonRig rig;
    const std::vector<std::vector<std::string>> accepted = {
        {"-d", "7"},
        {"-d", "7", "-adjust-dbm", "30"},
        {"-d", "7", "-adjust-dbm", "0"},
        {"-d", "7", "-adjust-dbm", "abc"},
        {"-d", "7", "-adjust-mW", "1000"},
        {"-d", "7", "-adjust-mW", "5"},
        {"-d", "7", "-p", "0.5"},
        {"-d", "7", "-s", "1"},
        {"-d", "7", "-f", "5180", "-m", "3"},
        {"-d", "3", "-d", "7"},
    };
    for (const auto& args : accepted) {
        SCOPED_TRACE(args.back());
        ProcessResult r = rig.run(args, NOTHING);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string(NO_BUS_7) + OPEN_FAILED);
    }
    // Eleven digits are still a bus number.
    ProcessResult r = rig.run({"-d", "12345678901"}, NOTHING);
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
        ProcessResult r = rig.run({"-d", value}, VTX_7);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, BUS_MESSAGE);
        EXPECT_EQ(r.out, usage(rig.program()));
        struct stat info;
        EXPECT_NE(stat(marker.c_str(), &info), 0) << "a shell ran the injected command";
    }
    EXPECT_EQ(rig.tool_log(), "");
}

// The presence check runs on every start, on the bus text as given.
TEST(CommandLine, PresenceCheckRunsOnTheChosenBus) {
    RfmonRig rig;
    ProcessResult r = rig.run({"-d", "3", "-d", "7", "-help"}, EMPTY_7);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(rig.tool_log(), "i2cdetect -r -y 7\n");
}
