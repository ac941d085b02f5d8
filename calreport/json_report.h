// The report and the query answer as JSON documents (cJSON), for scripts.
#pragma once

#include <string>

#include "table_analysis.h"

// {"status", "tables": [{"file", "band", "mcs": [{"mcs", "levels_measured",
// "min_dbm", "max_dbm", "knee_level", "stop_level", "stop_reason",
// "drops": [{"level", "db"}], "requests": [{"mw", "index", "measured_mw"}]}]}]}
std::string json_report(const calibration_report_t& report);

// {"index", "request_mw", "measured_mw"}; request_mw after the FCC cap.
std::string json_query(const power_pick_t& pick);
