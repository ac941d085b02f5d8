#include "command_line.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calibration_sweep.h"
#include "fast_estimation.h"
#include "field_check.h"
#include "frequency_bands.h"
#include "monitor_state.h"
#include "power_meter.h"
#include "safety_limits.h"
#include "tool_runner.h"

namespace {

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

}  // namespace

bool parse_plain_decimal(const char* text, double* value) {
    if (text == nullptr) return false;
    const char* p = text;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    bool point = false;
    for (; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') {
            ++digits;
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    // Only digits, a sign and a point are left for strtod, so it reads all
    // of them; a value too large for a double comes back infinite.
    const double parsed = std::strtod(text, nullptr);
    if (!std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

int early_failure_status(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-verify") == 0) return 2;
    }
    return 1;
}

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

namespace {

// Average_Sampling and PAUSE_BETWEEN_PRINTS: their defaults, or the values given so far.
void print_monitoring_help(const char* program_name) {
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
}

void print_calibration_help(const char* program_name) {
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
}

// The defaults shown are the values given so far.
void print_check_and_trim_help(const monitor_settings_t& settings) {
    std::puts("\nOther Options:");
    std::puts("  -help or help          : Display this help message and exit.");
    std::puts("\nField Check:");
    std::puts(
        "  -verify                : Measure levels 10, 35, 45, 50, 56 and 60 and compare them with "
        "the stored calibration tables; -f/-m as for calibration (default: the fast calibration's "
        "combinations); takes -d, -f, -m, -verify-db and -temp_test only. Exit 0: every "
        "combination matches, at least 3 levels compared in each; 1: a compared level does not "
        "match; 2: could not check (command line, no table, a failed reading or step, fewer "
        "than 3 levels compared)");
    std::printf(
        "  -verify-db <dB>        : Tolerance of -verify and of the drift warning while "
        "monitoring, a plain decimal number above 0 and up to 10 (default: %.2f)\n",
        settings.verify_tolerance_db);
    std::puts("\nDetector Trim:");
    std::puts(
        "  -trim                  : Trim the detector of each band against a reference power "
        "meter at five levels up to just under the power limit and write "
        "/data/quillon/vtx/detector_trim.csv; one -f per band (default: 2412, 5180, 5805 MHz), one "
        "-m (default 0); takes -d, -f, -m, -meter, -meter-db and -temp_test only. Exit 0: written; "
        "1: nothing written");
    std::puts(
        "  -meter <command>       : The meter: run through the shell at each level with "
        "ORVI_TRIM_FREQUENCY, ORVI_TRIM_MCS and ORVI_TRIM_LEVEL set, it prints one number in dBm "
        "(without -meter the readings are typed at the terminal)");
    std::printf(
        "  -meter-db <dB>         : The meter's stated accuracy, a plain decimal number above 0 "
        "and up to 3 (default: %.2f)\n",
        settings.meter_db);
}

}  // namespace

void print_help(const char* program_name, const monitor_settings_t& settings) {
    print_monitoring_help(program_name);
    print_calibration_help(program_name);
    print_check_and_trim_help(settings);
}

namespace {

// Succeeds (exit status 0) exactly when two lines of i2cdetect's table show
// " 48 " or " 1d ": devices answer at both 0x48 and 0x1D. `prefix` bounds
// the scan in time where one is wanted.
bool scan_shows_both_devices(const char* prefix, const char* bus) {
    char command[SHELL_COMMAND_BYTES];
    std::snprintf(command, sizeof command,
                  "%si2cdetect -r -y %s | grep -E \" 48 | 1d \" | wc -l | awk '{if($1==2) {print "
                  "\"0\"; exit 0} else {print \"9\"; exit 9}}' > /dev/null 2>&1",
                  prefix, bus);
    return shell_succeeded(run_tool(command));
}

}  // namespace

int detect_i2c_bus() {
    for (int bus = 0; bus <= MAX_I2C_BUS; bus++) {
        char device[32];
        std::snprintf(device, sizeof device, "/dev/i2c-%d", bus);
        struct stat info;
        if (stat(device, &info) != 0) continue;
        char number[BUS_TEXT_MAX + 1];
        std::snprintf(number, sizeof number, "%d", bus);
        if (scan_shows_both_devices("timeout 1.5 ", number)) {
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
    return scan_shows_both_devices("", bus);
}

namespace {

// An option handler's result when parsing goes on with the next argument;
// anything else is parse_arguments' result.
constexpr int KEEP_PARSING = 100;

// What the options ask for, collected until the last argument is seen.
struct option_pass_t {
    const char* program;
    monitor_settings_t* settings;  // what parse_arguments returns beside the monitor's globals
    char bus_text[BUS_TEXT_MAX + 1];  // the -d value, or the detected bus in decimal
    bool vtx_present;
    bool full_calibration;
    bool fast_calibration;
    bool field_check;
    bool trim;
    const char* meter_option;  // -meter or -meter-db, which only -trim takes
    // Given options that only some modes use, refused by the others.
    const char* monitoring_option;  // the first of -s, -p, -adjust-dbm, -adjust-mW
    bool verify_tolerance_given;
    int frequencies[MAX_CALIBRATION_FREQUENCIES];
    int frequency_count;
    int mcs_values[MAX_CALIBRATION_MCS_VALUES];
    int mcs_count;
};

int fail_with_usage(const char* message, const option_pass_t& pass) {
    std::fputs(message, stderr);
    print_help(pass.program, *pass.settings);
    return PARSE_FAILED;
}

// The first pass: the bus, which every later step needs. The last -d wins.
// Without -d the first bus holding both devices. 0, or PARSE_FAILED after
// the message and the usage text.
int choose_bus(int argc, char** argv, option_pass_t* pass) {
    bool bus_given = false;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-d") != 0) continue;
        if (i + 1 >= argc || !is_valid_bus_text(argv[i + 1])) {
            return fail_with_usage("Error: -d option requires an integer value.\n", *pass);
        }
        std::snprintf(pass->bus_text, sizeof pass->bus_text, "%s", argv[i + 1]);
        std::snprintf(I2C_DEVICE, sizeof I2C_DEVICE, "/dev/i2c-%s", pass->bus_text);
        bus_given = true;
        i++;
    }
    if (bus_given) return 0;
    const int bus = detect_i2c_bus();
    if (bus < 0) {
        print_help(pass->program, *pass->settings);
        return PARSE_FAILED;
    }
    std::snprintf(pass->bus_text, sizeof pass->bus_text, "%d", bus);
    std::snprintf(I2C_DEVICE, sizeof I2C_DEVICE, "/dev/i2c-%d", bus);
    return 0;
}

int help_option(const char*, option_pass_t* pass) {
    print_help(pass->program, *pass->settings);
    return PARSE_HELP_SHOWN;
}

int refuse_with_trim(const char* option) {
    std::fprintf(stderr, "Error: -trim cannot be used with %s.\n", option);
    return PARSE_FAILED;
}

// -calibrate and -fast-calibrate: each excludes the other and needs the
// devices on the bus.
int calibration_option(bool fast, option_pass_t* pass) {
    if (fast ? pass->full_calibration : pass->fast_calibration) {
        std::fputs("Error: -calibrate and -fast-calibrate cannot be used together.\n", stderr);
        return PARSE_FAILED;
    }
    if (pass->field_check) {
        std::fputs("Error: -verify cannot be used with -calibrate or -fast-calibrate.\n", stderr);
        return PARSE_FAILED;
    }
    if (pass->trim) return refuse_with_trim(fast ? "-fast-calibrate" : "-calibrate");
    if (!pass->vtx_present) {
        std::fprintf(stderr,
                     fast ? "Error: Cannot fast calibrate - VTX not found on I2C bus %s\n"
                          : "Error: Cannot calibrate - VTX not found on I2C bus %s\n",
                     pass->bus_text);
        return PARSE_FAILED;
    }
    (fast ? pass->fast_calibration : pass->full_calibration) = true;
    return KEEP_PARSING;
}

int full_calibration_option(const char*, option_pass_t* pass) {
    return calibration_option(false, pass);
}

int fast_calibration_option(const char*, option_pass_t* pass) {
    return calibration_option(true, pass);
}

// -verify: a run of its own, on the devices like a calibration.
int field_check_option(const char*, option_pass_t* pass) {
    if (pass->full_calibration || pass->fast_calibration) {
        std::fputs("Error: -verify cannot be used with -calibrate or -fast-calibrate.\n", stderr);
        return PARSE_FAILED;
    }
    if (pass->trim) return refuse_with_trim("-verify");
    if (!pass->vtx_present) {
        std::fprintf(stderr, "Error: Cannot verify - VTX not found on I2C bus %s\n", pass->bus_text);
        return PARSE_FAILED;
    }
    pass->field_check = true;
    return KEEP_PARSING;
}

// -trim: the detector trimmed against a power meter, a run of its own.
int trim_option(const char*, option_pass_t* pass) {
    if (pass->full_calibration || pass->fast_calibration || pass->field_check) {
        return refuse_with_trim(pass->field_check        ? "-verify"
                                : pass->full_calibration ? "-calibrate"
                                                         : "-fast-calibrate");
    }
    if (!pass->vtx_present) {
        std::fprintf(stderr, "Error: Cannot trim - VTX not found on I2C bus %s\n", pass->bus_text);
        return PARSE_FAILED;
    }
    pass->trim = true;
    return KEEP_PARSING;
}

int meter_option(const char* value, option_pass_t* pass) {
    if (value == nullptr || *value == '\0') {
        return fail_with_usage("Error: -meter requires the meter's command.\n", *pass);
    }
    pass->settings->meter_command = value;
    if (pass->meter_option == nullptr) pass->meter_option = "-meter";
    return KEEP_PARSING;
}

int meter_accuracy_option(const char* value, option_pass_t* pass) {
    double db = 0.0;
    if (!parse_plain_decimal(value, &db) || !(db > 0.0 && db <= 3.0)) {
        return fail_with_usage("Error: -meter-db requires the meter's accuracy in dB above 0 and up to 3.\n", *pass);
    }
    pass->settings->meter_db = db;
    if (pass->meter_option == nullptr) pass->meter_option = "-meter-db";
    return KEEP_PARSING;
}

int verify_tolerance_option(const char* value, option_pass_t* pass) {
    double db = 0.0;
    if (!parse_plain_decimal(value, &db) || !(db > 0.0 && db <= 10.0)) {
        return fail_with_usage("Error: -verify-db requires a tolerance in dB above 0 and up to 10.\n", *pass);
    }
    pass->settings->verify_tolerance_db = db;
    pass->verify_tolerance_given = true;
    return KEEP_PARSING;
}

int temperature_test_option(const char*, option_pass_t*) {
    g_temp_test_flag = true;
    std::printf(
        "Temperature testing enabled. Calibration will stop if temperature exceeds %.1f°C\n",
        TEMPERATURE_LIMIT_C);
    return KEEP_PARSING;
}

// -f and -m: one more value of a calibration list. `what` names the list in
// the message about its maximum.
int list_option(const char* value, const char* missing, const char* what, int max, int* list,
                int* count, const option_pass_t& pass) {
    if (value == nullptr || !starts_with_digit(value)) return fail_with_usage(missing, pass);
    if (*count >= max) {
        std::fprintf(stderr, "Error: Maximum number of %s (%d) exceeded.\n", what, max);
        print_help(pass.program, *pass.settings);
        return PARSE_FAILED;
    }
    list[(*count)++] = leading_int(value);
    return KEEP_PARSING;
}

int frequency_option(const char* value, option_pass_t* pass) {
    return list_option(value, "Error: -f option requires a numeric frequency value.\n",
                       "frequencies", MAX_CALIBRATION_FREQUENCIES, pass->frequencies,
                       &pass->frequency_count, *pass);
}

int mcs_option(const char* value, option_pass_t* pass) {
    return list_option(value, "Error: -m option requires a numeric MCS value.\n", "MCS values",
                       MAX_CALIBRATION_MCS_VALUES, pass->mcs_values, &pass->mcs_count, *pass);
}

void note_monitoring_option(const char* name, option_pass_t* pass) {
    if (pass->monitoring_option == nullptr) pass->monitoring_option = name;
}

int sampling_option(const char* value, option_pass_t* pass) {
    const char* missing = "Error: -s option requires an integer value.\n";
    if (value == nullptr || !starts_with_digit(value)) return fail_with_usage(missing, *pass);
    // A reading of no samples prints 0.00 dBm as if it had measured it.
    const int samples = leading_int(value);
    if (samples < 1) return fail_with_usage(missing, *pass);
    Average_Sampling = samples;
    note_monitoring_option("-s", pass);
    return KEEP_PARSING;
}

int pause_option(const char* value, option_pass_t* pass) {
    const char* missing = "Error: -p option requires a numeric value.\n";
    if (value == nullptr || !starts_with_digit(value)) {
        return fail_with_usage(missing, *pass);
    }
    // An overflowing value ("1e999") would become an endless pause.
    const double pause = decimal_value(value);
    if (!std::isfinite(pause)) return fail_with_usage(missing, *pass);
    PAUSE_BETWEEN_PRINTS = pause;
    note_monitoring_option("-p", pass);
    return KEEP_PARSING;
}

int request_adjustment(double dbm) {
    desired_dBm = dbm;
    adjust_power = true;
    return KEEP_PARSING;
}

// The value as decimal floating point, a numeric prefix being enough;
// false when there is no number at all ("abc" is no request for 0 dBm).
bool adjustment_value(const char* value, double* number) {
    if (value == nullptr) return false;
    char* end = nullptr;
    *number = std::strtod(value, &end);
    return end != value;
}

int adjust_dbm_option(const char* value, option_pass_t* pass) {
    double dbm = 0.0;
    if (!adjustment_value(value, &dbm)) {
        return fail_with_usage("Error: -adjust-dbm requires a numeric value.\n", *pass);
    }
    note_monitoring_option("-adjust-dbm", pass);
    if (!within(dbm, REQUEST_DBM_MIN, REQUEST_DBM_MAX)) {
        std::fputs("Error: Desired dBm must be between 0 and 30.\n", stderr);
        return PARSE_FAILED;
    }
    return request_adjustment(dbm);
}

int adjust_mw_option(const char* value, option_pass_t* pass) {
    double mw = 0.0;
    if (!adjustment_value(value, &mw)) {
        return fail_with_usage("Error: -adjust-mW requires a numeric value.\n", *pass);
    }
    note_monitoring_option("-adjust-mW", pass);
    if (!within(mw, 5.0, 1000.0)) {
        std::fputs("Error: mW value must be between 5 and 1000.\n", stderr);
        return PARSE_FAILED;
    }
    const double dbm = 10.0 * std::log10(mw);
    if (!within(dbm, REQUEST_DBM_MIN, REQUEST_DBM_MAX)) {
        std::fprintf(stderr, "Error: Converted dBm value (%.2f) must be between 0 and 30.\n", dbm);
        return PARSE_FAILED;
    }
    return request_adjustment(dbm);
}

// Taken in the first pass.
int bus_option(const char*, option_pass_t*) { return KEEP_PARSING; }

struct option_t {
    const char* name;
    bool takes_value;  // the next argument is its value
    int (*take)(const char* value, option_pass_t* pass);
};

const option_t OPTIONS[] = {
    {"-help", false, help_option},
    {"help", false, help_option},
    {"-calibrate", false, full_calibration_option},
    {"-fast-calibrate", false, fast_calibration_option},
    {"-temp_test", false, temperature_test_option},
    {"-f", true, frequency_option},
    {"-m", true, mcs_option},
    {"-s", true, sampling_option},
    {"-p", true, pause_option},
    {"-adjust-dbm", true, adjust_dbm_option},
    {"-adjust-mW", true, adjust_mw_option},
    {"-d", true, bus_option},
    {"-verify", false, field_check_option},
    {"-verify-db", true, verify_tolerance_option},
    {"-trim", false, trim_option},
    {"-meter", true, meter_option},
    {"-meter-db", true, meter_accuracy_option},
};

const option_t* find_option(const char* arg) {
    for (const option_t& option : OPTIONS) {
        if (std::strcmp(arg, option.name) == 0) return &option;
    }
    return nullptr;
}

// The second pass, in order; the first error ends it.
int take_options(int argc, char** argv, option_pass_t* pass) {
    for (int i = 1; i < argc; i++) {
        const option_t* option = find_option(argv[i]);
        if (option == nullptr) {
            std::fprintf(stderr, "Unknown option: %s\n", argv[i]);
            print_help(pass->program, *pass->settings);
            return PARSE_FAILED;
        }
        const int result = option->take(i + 1 < argc ? argv[i + 1] : nullptr, pass);
        if (result != KEEP_PARSING) return result;
        if (option->takes_value) i++;
    }
    return KEEP_PARSING;
}

// -trim takes one frequency per band and one MCS, and a meter: a command, or
// the operator at a terminal.
int refuse_unused_trim_options(const option_pass_t& pass) {
    const char* other = pass.monitoring_option ? pass.monitoring_option
                        : pass.verify_tolerance_given ? "-verify-db"
                                                      : nullptr;
    if (other) {
        std::fprintf(stderr, "Error: -trim does not take %s.\n", other);
        return PARSE_FAILED;
    }
    bool band_taken[SWEEP_BAND_COUNT] = {};
    for (int i = 0; i < pass.frequency_count; i++) {
        const int b = sweep_band_index_of_frequency(pass.frequencies[i]);
        if (b < 0 || band_taken[b]) {
            std::fprintf(stderr, "Error: -trim takes one frequency of each band (2.4, 5.1, 5.8 GHz); %d MHz %s.\n",
                         pass.frequencies[i], b < 0 ? "is in none" : "is a second one");
            return PARSE_FAILED;
        }
        band_taken[b] = true;
    }
    if (pass.mcs_count > 1 || (pass.mcs_count == 1 && pass.mcs_values[0] > 7)) {
        std::fputs("Error: -trim takes one MCS from 0 to 7 (-m); the trim serves every MCS of the band.\n",
                   stderr);
        return PARSE_FAILED;
    }
    if (pass.settings->meter_command == nullptr && !isatty(STDIN_FILENO)) {
        return fail_with_usage(
            "Error: -trim without -meter reads the meter from the terminal, and standard input is "
            "not one.\n", pass);
    }
    return KEEP_PARSING;
}

// An option of another mode is refused rather than dropped: a check that
// runs without the search it was given would tell the caller nothing of it.
// KEEP_PARSING when every option given is used by the mode.
int refuse_unused_options(const option_pass_t& pass) {
    if (pass.trim) return refuse_unused_trim_options(pass);
    if (pass.meter_option != nullptr) {
        std::fprintf(stderr, "Error: %s goes with -trim.\n", pass.meter_option);
        return PARSE_FAILED;
    }
    if (pass.field_check && pass.monitoring_option != nullptr) {
        std::fprintf(stderr, "Error: -verify does not take %s.\n", pass.monitoring_option);
        return PARSE_FAILED;
    }
    if ((pass.full_calibration || pass.fast_calibration) && pass.verify_tolerance_given) {
        std::fprintf(stderr, "Error: %s does not take -verify-db.\n",
                     pass.full_calibration ? "-calibrate" : "-fast-calibrate");
        return PARSE_FAILED;
    }
    if (!pass.field_check) return KEEP_PARSING;
    // A frequency without a band has no table: nothing could be checked.
    for (int i = 0; i < pass.frequency_count; i++) {
        sweep_band_t band;
        if (!sweep_band(pass.frequencies[i], &band)) {
            std::fprintf(stderr, "Error: -verify cannot check %d MHz: no calibration band holds it.\n",
                         pass.frequencies[i]);
            return PARSE_FAILED;
        }
    }
    return KEEP_PARSING;
}

// After the last argument: a full calibration needs both lists, a fast one
// fills in what is missing; the lists then become the calibration request.
int finish_calibration_request(option_pass_t* pass) {
    if (pass->full_calibration) {
        if (pass->frequency_count == 0) {
            return fail_with_usage(
                "Error: Calibration requires at least one frequency (-f option).\n", *pass);
        }
        if (pass->mcs_count == 0) {
            return fail_with_usage(
                "Error: Calibration requires at least one MCS value (-m option).\n", *pass);
        }
    } else if (pass->trim) {
        // Without -f every band at its anchor frequency; without -m MCS 0.
        if (pass->frequency_count == 0) {
            for (const sweep_band_t& band : SWEEP_BANDS) {
                pass->frequencies[pass->frequency_count++] = band.anchor_frequency;
            }
        }
        if (pass->mcs_count == 0) pass->mcs_values[pass->mcs_count++] = 0;
    } else if (pass->fast_calibration || pass->field_check) {
        // Without -f or -m: every combination that a fast sweep covers.
        if (pass->frequency_count == 0) {
            for (const sweep_band_t& band : SWEEP_BANDS) {
                pass->frequencies[pass->frequency_count++] = band.anchor_frequency;
            }
        }
        if (pass->mcs_count == 0) {
            for (int m : FAST_CALIBRATION_MCS) pass->mcs_values[pass->mcs_count++] = m;
        }
    } else {
        return MODE_MONITORING;
    }
    for (int i = 0; i < pass->frequency_count; i++) {
        g_calib_params.frequencies[i] = pass->frequencies[i];
    }
    for (int i = 0; i < pass->mcs_count; i++) g_calib_params.mcs_values[i] = pass->mcs_values[i];
    g_calib_params.frequency_count = pass->frequency_count;
    g_calib_params.mcs_count = pass->mcs_count;
    if (pass->field_check) return MODE_FIELD_CHECK;
    if (pass->trim) return MODE_TRIM;
    return pass->full_calibration ? MODE_FULL_CALIBRATION : MODE_FAST_CALIBRATION;
}

int parse_options(int argc, char** argv, option_pass_t* pass) {
    // The bus is found and checked before any option is read, -help
    // included: on a board without the devices "-help" ends with the
    // detection message and status 1, as scripts written for this monitor
    // expect.
    if (choose_bus(argc, argv, pass) != 0) return PARSE_FAILED;
    // Runs on every start; only the calibration options look at it.
    pass->vtx_present = vtx_present_on_bus(pass->bus_text);

    adjust_power = false;
    g_calib_params = {};
    if (argc < 2) return MODE_MONITORING;

    int result = take_options(argc, argv, pass);
    if (result == KEEP_PARSING) result = refuse_unused_options(*pass);
    if (result != KEEP_PARSING) return result;
    return finish_calibration_request(pass);
}

monitor_settings_t default_settings() {
    monitor_settings_t settings = {};
    settings.verify_tolerance_db = DEFAULT_VERIFY_TOLERANCE_DB;
    settings.meter_db = DEFAULT_METER_DB;
    return settings;
}

}  // namespace

void print_help(const char* program_name) { print_help(program_name, default_settings()); }

int parse_arguments(int argc, char** argv) {
    monitor_settings_t settings;
    return parse_arguments(argc, argv, &settings);
}

int parse_arguments(int argc, char** argv, monitor_settings_t* settings) {
    *settings = default_settings();
    option_pass_t pass = {};
    pass.program = argc > 0 ? argv[0] : "orvi-rfmon";
    pass.settings = settings;
    const int mode = parse_options(argc, argv, &pass);
    // Average_Sampling, PAUSE_BETWEEN_PRINTS, desired_dBm, g_calib_params: the
    // settings the monitor keeps as its own globals, as the options left them.
    settings->average_sampling = Average_Sampling;
    settings->pause_between_prints = PAUSE_BETWEEN_PRINTS;
    settings->desired_dbm = desired_dBm;
    settings->calibration = g_calib_params;
    return mode;
}
