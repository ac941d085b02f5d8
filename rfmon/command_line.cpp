#include "command_line.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calibration_sweep.h"
#include "monitor_state.h"
#include "safety_limits.h"
#include "tool_runner.h"

namespace {

// The bus number as text: the -d value, or the detected bus in decimal.
char bus_text[BUS_TEXT_MAX + 1] = {};

const int FAST_DEFAULT_FREQUENCIES[] = {2412, 5180, 5805};
const int FAST_DEFAULT_MCS[] = {0, 3};

bool starts_with_digit(const char* text) { return text[0] >= '0' && text[0] <= '9'; }

// Base-10 value of the leading digits; saturates instead of overflowing.
int leading_int(const char* text) {
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Decimal floating point; text that is no number reads as 0.
double decimal_value(const char* text) { return std::strtod(text, nullptr); }

// Range tests written so that NaN ("nan" parses) is out of every range.
bool within(double value, double low, double high) { return value >= low && value <= high; }

int fail_with_usage(const char* message, const char* program_name) {
    std::fputs(message, stderr);
    print_help(program_name);
    return PARSE_FAILED;
}

}  // namespace

bool shell_succeeded(int status) {
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool is_valid_bus_text(const char* text) {
    size_t length = std::strlen(text);
    if (length == 0 || length > static_cast<size_t>(BUS_TEXT_MAX)) return false;
    for (size_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

void print_help(const char* program_name) {
    std::printf("Usage: %s -d <i2c_device_number> [options]\n", program_name);
    std::puts("  -d <i2c_device_number> : Specify the I2C device number (e.g., 1 for /dev/i2c-1)");
    std::printf(
        "  -s sampling_window     : Number of samples to find the maximum before printing "
        "(default: %d)\n",
        Average_Sampling);
    std::printf("  -p pause_seconds       : Pause duration between prints in seconds (default: %.3f)\n",
                PAUSE_BETWEEN_PRINTS);
    std::puts(
        "  -adjust-dbm <value>    : Enable automatic power adjustment to match desired dBm (value "
        "must be between 0 and 30).");
    std::puts(
        "  -adjust-mW <value>     : Enable automatic power adjustment using milliwatts (value must "
        "be between 5 and 1000).");
    std::puts("\nCalibration Mode:");
    std::puts(
        "  -calibrate             : Run full calibration (requires at least one -f and one -m "
        "option)");
    std::puts(
        "  -fast-calibrate        : Fast cal for 2412/5180/5805 MHz and MCS 0/3 (defaults apply if "
        "-f/-m omitted)");
    std::puts(
        "                           Other frequency/MCS combinations use full calibration with a "
        "warning");
    std::puts(
        "  -f <frequency>         : Specify a frequency in MHz for calibration (e.g., 5180, 5805, "
        "2412)");
    std::puts("                           Can be specified multiple times for different frequencies");
    std::puts("  -m <mcs>               : Specify an MCS value for calibration (typically 0-7)");
    std::puts("                           Can be specified multiple times for different MCS values");
    std::printf(
        "  -temp_test               : Enable temperature testing during calibration (stops if "
        "temperature exceeds %.1f°C)\n",
        TEMPERATURE_LIMIT_C);
    std::printf("  Example: %s -d 1 -calibrate -f 5180 -f 5800 -m 0 -m 7\n", program_name);
    std::puts(
        "           This would perform calibration for all combinations: (5180,0), (5180,7), "
        "(5800,0), (5800,7)");
    std::printf("  Example: %s -d 1 -fast-calibrate\n", program_name);
    std::puts(
        "           Fast cal for (2412,0), (2412,3), (5180,0), (5180,3), (5805,0), (5805,3)");
    std::puts("\nOther Options:");
    std::puts("  -help or help          : Display this help message and exit.");
}

int detect_i2c_bus() {
    for (int bus = 0; bus <= MAX_I2C_BUS; bus++) {
        char device[32];
        std::snprintf(device, sizeof device, "/dev/i2c-%d", bus);
        struct stat info;
        if (stat(device, &info) != 0) continue;
        char command[SHELL_COMMAND_BYTES];
        std::snprintf(command, sizeof command,
                      "timeout 1.5 i2cdetect -r -y %d | grep -E \" 48 | 1d \" | wc -l | awk "
                      "'{if($1==2) {print \"0\"; exit 0} else {print \"9\"; exit 9}}' > /dev/null "
                      "2>&1",
                      bus);
        if (shell_succeeded(run_tool(command))) {
            std::printf("Found VTX on I2C bus %d\n", bus);
            return bus;
        }
    }
    std::fputs("ERROR: No VTX found after scanning I2C buses 0-15 (16 ports total)\n", stderr);
    return -1;
}

bool vtx_present_on_bus(const char* bus) {
    // Never let anything but a plain number reach the shell.
    if (!is_valid_bus_text(bus)) return false;
    char command[SHELL_COMMAND_BYTES];
    std::snprintf(command, sizeof command,
                  "i2cdetect -r -y %s | grep -E \" 48 | 1d \" | wc -l | awk '{if($1==2) {print "
                  "\"0\"; exit 0} else {print \"9\"; exit 9}}' > /dev/null 2>&1",
                  bus);
    return shell_succeeded(run_tool(command));
}

int parse_arguments(int argc, char** argv) {
    const char* program = argc > 0 ? argv[0] : "orvi-rfmon";

    // First pass: the bus, which every later step needs. The last -d wins.
    bool bus_given = false;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-d") != 0) continue;
        if (i + 1 >= argc || !is_valid_bus_text(argv[i + 1])) {
            return fail_with_usage("Error: -d option requires an integer value.\n", program);
        }
        std::snprintf(bus_text, sizeof bus_text, "%s", argv[i + 1]);
        std::snprintf(I2C_DEVICE, sizeof I2C_DEVICE, "/dev/i2c-%s", bus_text);
        bus_given = true;
        i++;
    }
    if (!bus_given) {
        int bus = detect_i2c_bus();
        if (bus < 0) {
            print_help(program);
            return PARSE_FAILED;
        }
        std::snprintf(bus_text, sizeof bus_text, "%d", bus);
        std::snprintf(I2C_DEVICE, sizeof I2C_DEVICE, "/dev/i2c-%d", bus);
    }

    // Runs on every start; only the calibration options look at it.
    const bool vtx_present = vtx_present_on_bus(bus_text);

    adjust_power = false;
    g_calib_params = {};
    if (argc < 2) return MODE_MONITORING;

    bool full_calibration = false;
    bool fast_calibration = false;
    int frequency_count = 0;
    int mcs_count = 0;
    int frequencies[MAX_CALIBRATION_FREQUENCIES] = {};
    int mcs_values[MAX_CALIBRATION_MCS_VALUES] = {};

    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "-help") == 0 || std::strcmp(arg, "help") == 0) {
            print_help(program);
            return PARSE_HELP_SHOWN;
        } else if (std::strcmp(arg, "-calibrate") == 0) {
            if (fast_calibration) {
                std::fputs("Error: -calibrate and -fast-calibrate cannot be used together.\n",
                           stderr);
                return PARSE_FAILED;
            }
            if (!vtx_present) {
                std::fprintf(stderr, "Error: Cannot calibrate - VTX not found on I2C bus %s\n",
                             bus_text);
                return PARSE_FAILED;
            }
            full_calibration = true;
        } else if (std::strcmp(arg, "-fast-calibrate") == 0) {
            if (full_calibration) {
                std::fputs("Error: -calibrate and -fast-calibrate cannot be used together.\n",
                           stderr);
                return PARSE_FAILED;
            }
            if (!vtx_present) {
                std::fprintf(stderr,
                             "Error: Cannot fast calibrate - VTX not found on I2C bus %s\n",
                             bus_text);
                return PARSE_FAILED;
            }
            fast_calibration = true;
        } else if (std::strcmp(arg, "-temp_test") == 0) {
            g_temp_test_flag = true;
            std::printf(
                "Temperature testing enabled. Calibration will stop if temperature exceeds "
                "%.1f°C\n",
                TEMPERATURE_LIMIT_C);
        } else if (std::strcmp(arg, "-f") == 0) {
            if (value == nullptr || !starts_with_digit(value)) {
                return fail_with_usage("Error: -f option requires a numeric frequency value.\n",
                                       program);
            }
            if (frequency_count >= MAX_CALIBRATION_FREQUENCIES) {
                std::fprintf(stderr, "Error: Maximum number of frequencies (%d) exceeded.\n",
                             MAX_CALIBRATION_FREQUENCIES);
                print_help(program);
                return PARSE_FAILED;
            }
            frequencies[frequency_count++] = leading_int(value);
            i++;
        } else if (std::strcmp(arg, "-m") == 0) {
            if (value == nullptr || !starts_with_digit(value)) {
                return fail_with_usage("Error: -m option requires a numeric MCS value.\n", program);
            }
            if (mcs_count >= MAX_CALIBRATION_MCS_VALUES) {
                std::fprintf(stderr, "Error: Maximum number of MCS values (%d) exceeded.\n",
                             MAX_CALIBRATION_MCS_VALUES);
                print_help(program);
                return PARSE_FAILED;
            }
            mcs_values[mcs_count++] = leading_int(value);
            i++;
        } else if (std::strcmp(arg, "-s") == 0) {
            if (value == nullptr || !starts_with_digit(value)) {
                return fail_with_usage("Error: -s option requires an integer value.\n", program);
            }
            Average_Sampling = leading_int(value);
            i++;
        } else if (std::strcmp(arg, "-p") == 0) {
            if (value == nullptr || !starts_with_digit(value)) {
                return fail_with_usage("Error: -p option requires a numeric value.\n", program);
            }
            // An overflowing value ("1e999") would become an endless pause.
            double pause = decimal_value(value);
            if (!std::isfinite(pause)) {
                return fail_with_usage("Error: -p option requires a numeric value.\n", program);
            }
            PAUSE_BETWEEN_PRINTS = pause;
            i++;
        } else if (std::strcmp(arg, "-adjust-dbm") == 0) {
            if (value == nullptr) {
                return fail_with_usage("Error: -adjust-dbm requires a numeric value.\n", program);
            }
            double dbm = decimal_value(value);
            if (!within(dbm, 0.0, 30.0)) {
                std::fputs("Error: Desired dBm must be between 0 and 30.\n", stderr);
                return PARSE_FAILED;
            }
            desired_dBm = dbm;
            adjust_power = true;
            i++;
        } else if (std::strcmp(arg, "-adjust-mW") == 0) {
            if (value == nullptr) {
                return fail_with_usage("Error: -adjust-mW requires a numeric value.\n", program);
            }
            double mw = decimal_value(value);
            if (!within(mw, 5.0, 1000.0)) {
                std::fputs("Error: mW value must be between 5 and 1000.\n", stderr);
                return PARSE_FAILED;
            }
            double dbm = 10.0 * std::log10(mw);
            if (!within(dbm, 0.0, 30.0)) {
                std::fprintf(stderr, "Error: Converted dBm value (%.2f) must be between 0 and 30.\n",
                             dbm);
                return PARSE_FAILED;
            }
            desired_dBm = dbm;
            adjust_power = true;
            i++;
        } else if (std::strcmp(arg, "-d") == 0) {
            i++;  // taken in the first pass
        } else {
            std::fprintf(stderr, "Unknown option: %s\n", arg);
            print_help(program);
            return PARSE_FAILED;
        }
    }

    if (full_calibration) {
        if (frequency_count == 0) {
            return fail_with_usage(
                "Error: Calibration requires at least one frequency (-f option).\n", program);
        }
        if (mcs_count == 0) {
            return fail_with_usage("Error: Calibration requires at least one MCS value (-m option).\n",
                                   program);
        }
    } else if (fast_calibration) {
        if (frequency_count == 0) {
            for (int f : FAST_DEFAULT_FREQUENCIES) frequencies[frequency_count++] = f;
        }
        if (mcs_count == 0) {
            for (int m : FAST_DEFAULT_MCS) mcs_values[mcs_count++] = m;
        }
    } else {
        return MODE_MONITORING;
    }
    for (int i = 0; i < frequency_count; i++) g_calib_params.frequencies[i] = frequencies[i];
    for (int i = 0; i < mcs_count; i++) g_calib_params.mcs_values[i] = mcs_values[i];
    g_calib_params.frequency_count = frequency_count;
    g_calib_params.mcs_count = mcs_count;
    return full_calibration ? MODE_FULL_CALIBRATION : MODE_FAST_CALIBRATION;
}
