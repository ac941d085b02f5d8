// The report and the query answer as JSON documents (cJSON), for scripts.
#pragma once

#include <string>

#include "table_analysis.h"

// {"status", "tables": [{"file", "band", "conversion_table": {"file", "fault",
// "reference_mcs", "reference_db", "columns_off"} or null, "mcs": [{"mcs",
// "levels_in_table", "min_dbm", "max_dbm", "knee_level", "stop_level",
// "stop_reason", "held_back_levels", "above_stop_levels", "impossible_levels",
// "drops": [{"level", "db"}], "requests": [{"mw", "index", "measured_mw",
// "most_mw"}]}]}]}
std::string json_report(const calibration_report_t& report);

// {"index", "request_mw", "measured_mw", "most_mw"}; request_mw after the
// FCC cap, most_mw (FCC picks only) the most the pick may put out within the
// reading's uncertainty.
std::string json_query(const power_pick_t& pick);
