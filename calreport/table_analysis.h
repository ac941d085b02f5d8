// What a calibration table says, per MCS column: range, safety stop, gaps,
// compression knee, drops, and what the transmitter's map does with the
// standard requests. Plain records, filled from a table read by
// table_reading; the text, JSON and SVG outputs only format them.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "conversion_range.h"
#include "detector_trim.h"
#include "request_mapping.h"
#include "safety_limits.h"
#include "table_reading.h"

constexpr double KNEE_RISE_DB = 0.5;         // knee: less rise than this ...
constexpr int KNEE_SPAN_LEVELS = 5;          // ... over this many next measured levels
// A fall larger than this from one level to the next is a drop: more than
// the conversion tables' 0.5 dB steps can make of a rising output.
constexpr double DROP_DEFECT_DB = 0.5;
constexpr int REPORT_REQUESTS_MW[] = {25, 100, 200, 400, 800};

// Every stop a sweep writes, as the sweep decided it.
enum stop_reason_t {
    STOP_NONE,
    STOP_POWER,              // the stored output above 31.5 dBm
    STOP_UNCERTAINTY,        // within the detector's uncertainty of 31.5 dBm
    STOP_OVER_RANGE,         // the stored voltage beyond the conversion table
    STOP_TEMPERATURE,        // a temperature marker
    STOP_STALE_TEMPERATURE,  // nothing after a measured level: no fresh temperature
};

// A stop of the power rule (the uncertainty and the table's range
// included): a sweep clears every level above it.
bool is_power_stop(stop_reason_t reason);

typedef struct curve_point_t {
    int level;
    double dbm;
} curve_point_t;

typedef struct drop_t {
    int level;  // the level that reads lower than the measured level before it
    double db;  // by how much, positive
} drop_t;

typedef struct request_report_t {
    power_pick_t pick;     // under the report's regulatory domain
    bool has_fcc;          // 5.1 GHz band reported without FCC: the capped pick too
    power_pick_t fcc_pick;
    bool off_target;
} request_report_t;


// The band's detector as it was for a table's cells: the top row of its
// conversion table (the highest voltage a sweep converts; 0 when that table
// could not be read), the trim that applied when the table was written
// (none: untrimmed) and the uncertainty of the readings it holds.
typedef struct band_detector_t {
    double top_mv;
    detector_trim_t trim;
    double uncertainty_db;
} band_detector_t;

// A trim applies to a table written at or after the trim; an older table was
// measured untrimmed.
band_detector_t band_detector(const calibration_table_t& table, const detector_trims_t& trims,
                              double top_mv);

// The uncertainty of the readings of one MCS column: the trim's only at the
// trim's own MCS.
double column_uncertainty_db(const band_detector_t& detector, const calibration_table_t& table,
                             int mcs);

typedef struct column_report_t {
    int mcs;
    std::vector<curve_point_t> curve;  // levels with a value, ascending
    int levels_in_table;               // measured or estimated: the table does not say which
    double min_mw, max_mw;  // meaningful when levels_in_table > 0
    int knee_level;         // 0: none
    int stop_level;         // 0: none
    stop_reason_t stop_reason;
    double uncertainty_db;        // of a reading in the band, as the sweep's guard took it
    double stop_temperature;      // °C, for a temperature stop
    std::vector<int> missing_levels;  // "-1", empty or no line, between 1 and the stop (or 60)
    std::vector<int> na_levels;       // "NA" in the same range
    std::vector<int> held_back_levels;  // "-1" just below a power stop: the guard's estimates
    std::vector<int> above_stop_levels;  // values above a power stop (defects)
    std::vector<int> impossible_levels;  // outputs no reading of this transmitter gives (defects)
    std::vector<drop_t> drops;
    std::vector<request_report_t> requests;
    int defects;
} column_report_t;

typedef struct table_report_t {
    std::string path;
    std::string band;
    const char* band_key;  // "2.4", "5.1" or "5.8", as the report names the band
    time_t modified;
    // The band's anchor frequency, where the requests were mapped: the one a
    // fast calibration measures, in the FCC-capped range for "5_1".
    int frequency;
    RegulatoryDomain domain;
    std::vector<column_report_t> columns;
    conversion_table_t conversion;  // the band's, from the same folder
    band_detector_t detector;
    int bad_lines;
    int defects;  // the columns' defects, the bad lines and a faulty or far conversion table
} table_report_t;

enum report_status_t { REPORT_OK = 0, REPORT_DEFECTS = 1, REPORT_ERROR = 2 };

typedef struct calibration_report_t {
    std::string dir;
    std::vector<table_report_t> tables;
    int unreadable_tables;
    trim_file_state_t trim_state;  // the folder's detector trim file
    std::string trim_problem;      // why it is unusable
    report_status_t status;
} calibration_report_t;

column_report_t analyse_column(const table_column_t& column, const calibration_table_t& table,
                               const PowerMap& map, int frequency, RegulatoryDomain domain,
                               const band_detector_t& detector);

// `conversion` is what the band's conversion table in the folder holds.
table_report_t analyse_table(const calibration_table_t& table, RegulatoryDomain domain,
                             const conversion_table_t& conversion, const detector_trims_t& trims);

// Reads whichever band tables exist in `dir` and analyses them, each with
// the range of its band's conversion table in the same folder; messages for
// unreadable files and lines go to standard error as they are found.
calibration_report_t build_report(const std::string& dir, RegulatoryDomain domain);

// The band detector of `table` under the trim file in `dir`, for a query
// that reads one table (its conversion table's top row left out).
band_detector_t query_band_detector(const std::string& dir, const calibration_table_t& table);

const char* status_name(report_status_t status);
const char* stop_reason_name(stop_reason_t reason);  // nullptr for none
