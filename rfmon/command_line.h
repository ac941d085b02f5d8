// orvi-rfmon's command line: options, usage text, and finding the bus that
// carries the detector (0x1D) and the temperature sensor (0x48).
#pragma once

#include "monitor_state.h"

// Results of parse_arguments.
constexpr int PARSE_FAILED = -1;     // message already printed; exit status 1
constexpr int PARSE_HELP_SHOWN = 0;  // usage printed on request; exit status 0
constexpr int MODE_MONITORING = 1;
constexpr int MODE_FULL_CALIBRATION = 2;
constexpr int MODE_FAST_CALIBRATION = 3;
constexpr int MODE_FIELD_CHECK = 4;
constexpr int MODE_TRIM = 5;

constexpr int MAX_I2C_BUS = 15;  // buses 0..15 are scanned
constexpr int BUS_TEXT_MAX = 11;  // digits of a bus number given with -d

// Sets the monitor's globals of monitor_state.h (I2C_DEVICE, Average_Sampling,
// adjust_power, g_calib_params, ...) and g_temp_test_flag, and returns every
// setting, those and the ones kept nowhere else, in *settings.
int parse_arguments(int argc, char** argv, monitor_settings_t* settings);
// The same for a caller that needs only the globals.
int parse_arguments(int argc, char** argv);
// The usage text; the defaults it shows are the values given so far.
void print_help(const char* program_name, const monitor_settings_t& settings);
// The same with the settings kept nowhere else at their defaults.
void print_help(const char* program_name);

// The exit status of a run that ends before it measured anything (a bad
// command line, a bus or pipe that cannot be opened): 2 when the command
// line asks for -verify, whose callers read 2 as "could not check"; else 1.
int early_failure_status(int argc, char** argv);

// A whole plain decimal number: an optional sign, digits with at most one
// decimal point, nothing before or after, and finite. Options of our own
// take their values only this way, so that "2abc" or "0x3" is refused
// rather than read as 2 or 3.
bool parse_plain_decimal(const char* text, double* value);

// First bus 0..15 whose device exists and whose scan shows both devices, or -1.
int detect_i2c_bus();
// Presence check of a chosen bus (same scan without a time limit).
bool vtx_present_on_bus(const char* bus_text);

// A bus value is accepted only as 1 to 11 decimal digits: it is pasted into
// a shell command.
bool is_valid_bus_text(const char* text);

// Normal exit with status 0 from system().
bool shell_succeeded(int status);
