// The report as text for a terminal, and the one-line answer to a query.
#pragma once

#include <ctime>
#include <string>

#include "table_analysis.h"

std::string text_report(const calibration_report_t& report);

// "power index 38, measured 199.53 mW (23.00 dBm) for a request of 200 mW", plus the cap.
std::string text_query(const power_pick_t& pick);

// Local time of a file's modification, "2025-01-31 14:05:09 +0100".
std::string modification_time(time_t modified);

// Base name of a path.
std::string file_name(const std::string& path);
