// The report as one self-contained SVG document: per table a chart of
// output (dBm, with mW ticks on the right) against power index, a line per
// MCS, stops, knees and drops marked, the FCC 200 mW line on 5.1 GHz.
#pragma once

#include <string>

#include "table_analysis.h"

std::string svg_chart(const calibration_report_t& report);
