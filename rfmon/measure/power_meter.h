// The reference power meter of a detector trim: a command the operator
// wires in (a USB or SCPI meter's script), or the operator reading the meter
// on the terminal.
#pragma once

#include <string>

// The meter's stated accuracy unless the operator gives it (-meter-db).
constexpr double DEFAULT_METER_DB = 0.2;

// Where a trim level was measured, handed to the meter command as
// ORVI_TRIM_FREQUENCY, ORVI_TRIM_MCS and ORVI_TRIM_LEVEL.
typedef struct meter_point_t {
    int frequency;
    int mcs;
    int level;
} meter_point_t;

// Runs `command` through the shell with the point in its environment; its
// standard output must be one number in dBm and its exit status 0. False
// with the reason in `why` otherwise.
bool read_meter_command(const char* command, const meter_point_t& point, double* dbm,
                        std::string* why);

// One prompt on standard output, one line from standard input holding one
// number in dBm. False with the reason in `why` otherwise.
bool read_meter_from_operator(const meter_point_t& point, double* dbm, std::string* why);

// A number and nothing else but surrounding white space.
bool parse_meter_dbm(const std::string& text, double* dbm);
