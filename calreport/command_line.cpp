#include "command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef ORVI_VERSION
#define ORVI_VERSION "0"
#endif

namespace {

int usage_error(const std::string& message) {
    std::fprintf(stderr, "orvi-calreport: %s (try 'orvi-calreport --help')\n", message.c_str());
    return -1;
}

bool parse_int(const char* text, long low, long high, int* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (*end || errno || parsed < low || parsed > high) return false;
    *value = static_cast<int>(parsed);
    return true;
}

// The query options seen so far: a query needs all three.
struct query_options_t {
    bool mw, mcs, frequency;
};

bool takes_value(const std::string& arg) {
    return arg == "--dir" || arg == "--svg" || arg == "--mw" || arg == "--mcs" || arg == "--frequency";
}

// One option with its value (empty for those that take none); 0, or -1
// after the usage message.
int take_option(const std::string& arg, const std::string& value, calreport_options_t* options,
                query_options_t* query) {
    if (arg == "-h" || arg == "--help") {
        options->help = true;
    } else if (arg == "--version") {
        options->version = true;
    } else if (arg == "--json") {
        options->json = true;
    } else if (arg == "--fcc") {
        options->fcc = true;
    } else if (arg == "--dir") {
        if (value.empty()) return usage_error("--dir needs a folder");
        options->dir = value;
    } else if (arg == "--svg") {
        if (value.empty()) return usage_error("--svg needs a file name");
        options->svg_path = value;
    } else if (arg == "--mw") {
        if (!parse_int(value.c_str(), 1, 100000, &options->mw)) {
            return usage_error("--mw needs a whole number of milliwatts, 1 to 100000");
        }
        query->mw = true;
    } else if (arg == "--mcs") {
        if (!parse_int(value.c_str(), 0, 7, &options->mcs)) return usage_error("--mcs needs an MCS, 0 to 7");
        query->mcs = true;
    } else if (arg == "--frequency") {
        if (!parse_int(value.c_str(), 1, 100000, &options->frequency)) {
            return usage_error("--frequency needs a frequency in MHz");
        }
        query->frequency = true;
    } else {
        return usage_error("unknown argument '" + arg + "'");
    }
    return 0;
}

}  // namespace

int parse_command_line(int argc, char* const argv[], calreport_options_t* options) {
    query_options_t query = {};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inline_value = false;
        const size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
            inline_value = true;
        }
        if (takes_value(arg) && !inline_value) {
            if (i + 1 >= argc) return usage_error("option " + arg + " needs a value");
            value = argv[++i];
        } else if (!takes_value(arg) && inline_value) {
            return usage_error("option " + arg + " takes no value");
        }
        if (take_option(arg, value, options, &query) != 0) return -1;
    }
    if (options->help || options->version) return 0;
    if (query.mw || query.mcs || query.frequency) {
        if (!(query.mw && query.mcs && query.frequency)) {
            return usage_error("a query needs all of --mw, --mcs and --frequency");
        }
        if (!options->svg_path.empty()) return usage_error("--svg does not go with a query");
        options->query = true;
    }
    return 0;
}

std::string version_text() { return std::string("orvi-calreport ") + ORVI_VERSION + "\n"; }

namespace {

// The help text by its sections, which help2man turns into the manual
// page's; each ends with the blank line before the next.
const char* const HELP_USAGE =
    "orvi-calreport - see and check the transmitter's power calibration tables\n"
    "Usage: orvi-calreport [--dir DIR] [--json] [--svg FILE] [--fcc]\n"
    "  or:  orvi-calreport [--dir DIR] --mw N --mcs M --frequency F [--fcc] [--json]\n"
    "\n"
    "Reads whichever of calibrated_2_4.csv, calibrated_5_1.csv and calibrated_5_8.csv\n"
    "exist in DIR and reports, per band and MCS column: the levels measured; the\n"
    "lowest and highest output in dBm and mW; where a safety stop cut the column, and\n"
    "whether for power or temperature; missing and NA levels; the compression knee;\n"
    "every drop of more than 1 dB; and the power index that the transmitter's power\n"
    "map picks for 25, 100, 200, 400 and 800 mW, with the output measured there.\n"
    "With --mw, --mcs and --frequency it answers one request instead.\n"
    "\n";

const char* const HELP_OPTIONS =
    "Options:\n"
    "  --dir DIR        folder of the tables (default /data/quillon/vtx/)\n"
    "  --json           print the report, or the query's answer, as one JSON document\n"
    "  --svg FILE       also write the tables as one SVG chart to FILE: a new or\n"
    "                   regular file (or a link to one), replaced whole; never a\n"
    "                   device or a file in DIR\n"
    "  --mw N           query: the index picked for a request of N mW ...\n"
    "  --mcs M          ... at MCS M (0 to 7) ...\n"
    "  --frequency F    ... at F MHz, from the table of F's band\n"
    "  --fcc            apply FCC rules: requests at 5180-5320 MHz are capped at 200 mW\n"
    "  -h, --help       print this help and exit\n"
    "  --version        print the version and exit\n"
    "\n";

const char* const HELP_REPORT =
    "Report:\n"
    "  stop     where the sweep stopped, by the sweep's own rules: power (the\n"
    "           output above 31.5 dBm, or within the detector's uncertainty of it, or\n"
    "           the detector voltage beyond the conversion table), temperature (a\n"
    "           TEMP_ERROR marker, or no fresh temperature: nothing after the level).\n"
    "           Levels of \"-1\" just below a power stop are held back: estimates\n"
    "           within the uncertainty of the limit.\n"
    "  missing  a level from 1 to the stop (or to 60 without one) that holds \"-1\",\n"
    "           \"NA\", an empty cell or no line.\n"
    "  knee     the lowest measured level from which the output rises by less than\n"
    "           0.5 dB over the next five measured levels: none of them reads 0.5 dB\n"
    "           or more above it. Above the knee more power index mostly heats the\n"
    "           amplifier. A column with fewer than five measured levels after a\n"
    "           level has no knee there.\n"
    "  drop     a level whose output is more than 0.5 dB below that of the level\n"
    "           with a value before it.\n"
    "  picks    the requests are mapped as the transmitter maps them (its loader\n"
    "           and findClosestPowerIndex), at 2412, 5180 and 5805 MHz for the 2.4,\n"
    "           5.1 and 5.8 GHz tables; the 5.1 GHz text also shows the FCC 200 mW cap,\n"
    "           and beside each FCC pick the most it may put out within the\n"
    "           detector's uncertainty.\n"
    "\n";

const char* const HELP_DEFECTS =
    "Defects:\n"
    "  A defect is a drop, a missing level, a level with a value above a power\n"
    "  stop, an output above 34.5 dBm (31.5 dBm plus 3 dB), a request whose picked\n"
    "  index measures more than 3 dB from the request (after the cap) or has no\n"
    "  measured output, a band's conversion table that a sweep refuses or that lies\n"
    "  more than 3 dB from the built-in reference curves, a line that cannot be\n"
    "  read, or a table file that cannot be read. A line that\n"
    "  cannot be read gets one message \"FILE:LINE: ...\" on standard error and is\n"
    "  left out; the report goes on. A table file, the chart or standard output\n"
    "  that cannot be read or written gets one message \"FILE: ...\".\n"
    "\n";

const char* const HELP_JSON =
    "JSON:\n"
    "  {\"status\": \"ok\"|\"defects\"|\"error\", \"tables\": [{\"file\", \"band\",\n"
    "  \"conversion_table\": {\"file\", \"fault\", \"reference_mcs\", \"reference_db\",\n"
    "  \"columns_off\"}, \"mcs\": [{\"mcs\", \"levels_in_table\", \"min_dbm\", \"max_dbm\",\n"
    "  \"knee_level\", \"stop_level\", \"stop_reason\" (power, uncertainty, over_range,\n"
    "  temperature, stale_temperature), \"held_back_levels\", \"above_stop_levels\",\n"
    "  \"impossible_levels\", \"drops\": [{\"level\", \"db\"}], \"requests\": [{\"mw\",\n"
    "  \"index\", \"measured_mw\", \"most_mw\"}]}]}]}; a query prints {\"index\",\n"
    "  \"request_mw\", \"measured_mw\", \"most_mw\"} with request_mw after the cap and\n"
    "  most_mw, for an FCC pick, the most it may put out within the detector's\n"
    "  uncertainty. Absent values are null.\n"
    "\n";

const char* const HELP_EXIT_STATUS =
    "Exit status:\n"
    "  0  every table read is sound (a query: the index measures within 3 dB)\n"
    "  1  a table holds a defect (a query: more than 3 dB off, or nothing measured)\n"
    "  2  usage error, no table can be read, or the report (standard output) or\n"
    "     the chart cannot be written whole\n"
    "\n";

const char* const HELP_FILES =
    "Files:\n"
    "  /data/quillon/vtx/calibrated_2_4.csv, calibrated_5_1.csv, calibrated_5_8.csv\n"
    "           the tables, written by orvi-rfmon's calibration; only read, nothing\n"
    "           is ever written to their folder.\n"
    "\n";

const char* const HELP_EXAMPLES =
    "Examples:\n"
    "  orvi-calreport --svg /tmp/calibration.svg\n"
    "\n"
    "  orvi-calreport --json > report.json || echo \"calibration not fit to deploy\"\n"
    "\n"
    "  orvi-calreport --mw 200 --mcs 3 --frequency 5200 --fcc\n";

}  // namespace

std::string help_text() {
    std::string text;
    for (const char* section : {HELP_USAGE, HELP_OPTIONS, HELP_REPORT, HELP_DEFECTS, HELP_JSON,
                                HELP_EXIT_STATUS, HELP_FILES, HELP_EXAMPLES}) {
        text += section;
    }
    return text;
}
