// What a calibration table says, per MCS column: range, safety stop, gaps,
// compression knee, drops, and what the transmitter's map does with the
// standard requests. Plain records, filled from a table read by
// table_reading; the text, JSON and SVG outputs only format them.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "request_mapping.h"
#include "safety_limits.h"
#include "table_reading.h"

constexpr double KNEE_RISE_DB = 0.5;         // knee: less rise than this ...
constexpr int KNEE_SPAN_LEVELS = 5;          // ... over this many next measured levels
constexpr double DROP_DEFECT_DB = 1.0;       // a fall larger than this is a drop
constexpr int REPORT_REQUESTS_MW[] = {25, 100, 200, 400, 800};

enum stop_reason_t { STOP_NONE, STOP_POWER, STOP_TEMPERATURE };

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

typedef struct column_report_t {
    int mcs;
    std::vector<curve_point_t> curve;  // measured levels, ascending
    int levels_measured;
    double min_mw, max_mw;  // meaningful when levels_measured > 0
    int knee_level;         // 0: none
    int stop_level;         // 0: none
    stop_reason_t stop_reason;
    bool stop_over_range;         // a power stop on a detector voltage beyond the conversion table
    double stop_temperature;      // °C, for a temperature stop
    std::vector<int> missing_levels;  // "-1", empty or no line, between 1 and the stop (or 60)
    std::vector<int> na_levels;       // "NA" in the same range
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
    int bad_lines;
    int defects;  // the columns' defects plus the bad lines
} table_report_t;

enum report_status_t { REPORT_OK = 0, REPORT_DEFECTS = 1, REPORT_ERROR = 2 };

typedef struct calibration_report_t {
    std::string dir;
    std::vector<table_report_t> tables;
    int unreadable_tables;
    report_status_t status;
} calibration_report_t;

// `detector_top_mv` is the top row of the band's conversion table, the
// highest voltage a sweep converts; 0 when that table could not be read.
column_report_t analyse_column(const table_column_t& column, const calibration_table_t& table,
                               const PowerMap& map, int frequency, RegulatoryDomain domain,
                               double detector_top_mv);

table_report_t analyse_table(const calibration_table_t& table, RegulatoryDomain domain,
                             double detector_top_mv);

// Reads whichever band tables exist in `dir` and analyses them, each with
// the range of its band's conversion table in the same folder; messages for
// unreadable files and lines go to standard error as they are found.
calibration_report_t build_report(const std::string& dir, RegulatoryDomain domain);

// "/data/quillon/vtx/" + "calibrated_" + band + ".csv", with one slash between.
std::string table_path(const std::string& dir, const char* band);

const char* status_name(report_status_t status);
const char* stop_reason_name(stop_reason_t reason);  // nullptr for none
