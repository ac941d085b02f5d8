// Calibration table text: the per-level results of one sweep, the cell
// texts, a new table, the merge into a stored table, and the file replacement.
//
// Everything here works on text and plain records so that a table can be
// built, merged and checked without the detector; the sweep only reads the
// stored file, measures, and hands the finished text to
// replace_file_contents().
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "table_lines.h"

constexpr int CALIBRATION_TABLE_LEVELS = 63;     // lines of a new table, levels 1..63
constexpr double TEMPERATURE_STOP_MV = -9999.0;  // `mv` of the level where a temperature stop happened

// One level of one sweep. For a temperature stop `mv` is TEMPERATURE_STOP_MV
// and `mw` holds the temperature in °C.
typedef struct level_result_t {
    bool valid;
    double mv;
    double mw;
} level_result_t;

// Indexed by power level; index 0 is never set.
typedef struct sweep_results_t {
    level_result_t level[CALIBRATION_TABLE_LEVELS + 1];
    // Levels without a result whose cells become "-1" whatever a stored
    // table held there: above a power stop, or an estimate within the
    // reading's uncertainty of the power limit. An old value there would
    // let the transmitter pick a level that this sweep found unsafe.
    bool withheld[CALIBRATION_TABLE_LEVELS + 1];
} sweep_results_t;

// A stored table as read: the header line with its line end (if it had one)
// and every further line with its line end ("\n" or "\r\n") removed.
typedef struct stored_table_t {
    std::string header;
    std::vector<std::string> rows;
} stored_table_t;

// The fields of one table line, split at every comma. Empty fields keep their
// place, so a column keeps its position on every line (lines that a merge
// adds carry empty cells).
std::vector<std::string> split_table_fields(std::string_view line);

// "TEMP_ERROR_<integer °C>_<first decimal, truncated>".
std::string temperature_marker(double temperature_c);
// A cell holding a temperature marker, as temperature_marker() writes it (up
// to six digits each side of the "_", an optional "-"): its °C.
bool parse_temperature_marker(std::string_view text, double* celsius);

// The two cells of a level: "%.2f" numbers, the temperature marker twice,
// or `absent` twice ("-1" in a new table, "NA" on lines a merge adds).
void level_cells(const level_result_t& result, const char* absent, std::string* mv_cell,
                 std::string* mw_cell);

// Splits the text of a stored table file. 0 on success; -1 with one message
// on standard error when the text has no header or a line too long for the
// line buffer (`path` names the file in that message).
int parse_stored_table(const std::string& text, const char* path, stored_table_t* table);

// A calibration table's first line: "Power_Level", then column names
// "MCS<n>_mV" and "MCS<n>_mW" only, at least one (empty fields and the line
// end aside). Anything else is some other file, never merged into.
bool is_calibration_table_header(std::string_view header);

// The table of a sweep without a stored table: header for `mcs`, levels 1..63.
std::string new_table_text(const sweep_results_t& results, int mcs);

// The stored table merged with the sweep's results for `mcs`, in `*merged`.
// The sweep's cells replace the stored ones of its MCS where it has a
// result or withheld the level; elsewhere they stay (an "NA" or empty one
// becomes "-1").
// 0 on success; -1 after one message when the merge cannot produce a table
// whose header and lines agree (nothing is written by this function).
int merge_table_text(const stored_table_t& stored, const sweep_results_t& results, int mcs,
                     const char* path, std::string* merged);

// Called with the path of replace_file_contents()'s temporary file once it
// exists and with nullptr once it is gone (renamed or removed), so that a
// process that outlives a killed run can remove it.
typedef void (*temporary_file_observer_t)(const char* path);

// Replaces the file at `path` (or the file it links to) by `text` as a
// whole: a temporary file of its own in the same folder ("<file>.tmp.XXXXXX",
// created exclusively), flushed and synced, renamed over it, then the folder
// synced; the temporary file never outlives the call. 0 on success; -1 after a perror, with the
// file as it was before. When `abandon` is given and says so just before the
// rename (a run interrupted meanwhile), -1 without a message and the file as
// it was. `observer` (nullptr: nobody) is told of the temporary file.
int replace_file_contents(const char* path, const std::string& text,
                          bool (*abandon)() = nullptr,
                          temporary_file_observer_t observer = nullptr);
