#include "rfmon_rig.h"

std::string RfmonRig::program() const { return program_command("rfmon/orvi-rfmon").back(); }

ProcessResult RfmonRig::run(const std::vector<std::string>& args, RunOptions options) const {
    std::vector<std::string> argv = program_command("rfmon/orvi-rfmon");
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, options);
}

ProcessResult RfmonRig::run_on_board(const BoardRun& run, RunOptions options) const {
    std::vector<std::string> board{"--log", dir_ / "tools.log"};
    board.insert(board.end(), run.board.begin(), run.board.end());
    std::vector<std::string> command;
    if (run.merge_stderr) command = {"sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    if (run.line_buffered) command.insert(command.end(), {"stdbuf", "-oL", "-eL"});
    for (const auto& word : program_command("rfmon/orvi-rfmon")) command.push_back(word);
    command.insert(command.end(), run.args.begin(), run.args.end());
    return ::run_on_board(board, command, options);
}

std::string RfmonRig::tool_log() const { return read_file(dir_ / "tools.log"); }

std::string usage(const std::string& program, int sampling, const char* pause) {
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
           "  -help or help          : Display this help message and exit.\n"
           "\n"
           "Field Check:\n"
           "  -verify                : Measure levels 10, 35, 45, 50, 56 and 60 and compare them "
           "with the stored calibration tables; -f/-m as for calibration (default: the fast "
           "calibration's combinations); takes -d, -f, -m, -verify-db and -temp_test only. Exit "
           "0: every combination matches, at least 3 levels compared in each; 1: a compared level "
           "does not match; 2: could not check (command line, no table, a failed reading or step, "
           "fewer than 3 levels compared)\n"
           "  -verify-db <dB>        : Tolerance of -verify and of the drift warning while "
           "monitoring, a plain decimal number above 0 and up to 10 (default: 1.50)\n"
           "\n"
           "Detector Trim:\n"
           "  -trim                  : Trim the detector of each band against a reference power meter at "
           "five levels up to just under the power limit and write /data/quillon/vtx/detector_trim.csv; "
           "one -f per band (default: 2412, 5180, 5805 MHz), one -m (default 0); takes -d, -f, -m, "
           "-meter, -meter-db and -temp_test only. Exit 0: written; 1: nothing written\n"
           "  -meter <command>       : The meter: run through the shell at each level with "
           "ORVI_TRIM_FREQUENCY, ORVI_TRIM_MCS and ORVI_TRIM_LEVEL set, it prints one number in dBm "
           "(without -meter the readings are typed at the terminal)\n"
           "  -meter-db <dB>         : The meter's stated accuracy, a plain decimal number above 0 and "
           "up to 3 (default: 0.20)\n";
}

