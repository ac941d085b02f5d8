// orvi-calreport's command line and help text.
#pragma once

#include <string>

constexpr const char* DEFAULT_CALIBRATION_DIR = "/data/quillon/vtx/";

typedef struct calreport_options_t {
    std::string dir = DEFAULT_CALIBRATION_DIR;
    bool json = false;
    std::string svg_path;  // empty: no chart
    bool query = false;    // --mw, --mcs and --frequency given
    int mw = 0;
    int mcs = 0;
    int frequency = 0;
    bool fcc = false;
    bool help = false;
    bool version = false;
} calreport_options_t;

// 0 with `*options` filled; -1 after one usage message on standard error.
int parse_command_line(int argc, char* const argv[], calreport_options_t* options);

// The --help text (also the source of the manual page).
std::string help_text();
std::string version_text();
