// Transmit-power calibration map: calibration tables (CSV, "Power_Level"
// then "MCS<k>_mV,MCS<k>_mW" pairs) read into MCS -> (output mW -> power
// index), and the power index nearest a requested output power.
#pragma once

#include <istream>
#include <map>
#include <string>
#include <string_view>

#include <orvi/regulatory_domain.h>
#include <orvi/vtx_export.h>

// MCS -> (rounded output power in mW -> power index), both ascending.
using PowerMap = std::map<int, std::map<int, int>>;

ORVI_VTX_EXPORT PowerMap loadPowerCalibrationDataFromStream(std::istream& in);
// Empty when the file cannot be opened.
ORVI_VTX_EXPORT PowerMap loadPowerCalibrationData(const std::string& path);
ORVI_VTX_EXPORT PowerMap loadPowerCalibrationDataFromString(std::string_view csv);
// The file's map, or the map of `default_csv` (a built-in table) when the
// file yields no MCS at all; normalised either way. `label` names the band
// in the message.
ORVI_VTX_EXPORT PowerMap loadPowerCalibrationOrDefault(const std::string& path,
                                                       std::string_view default_csv,
                                                       const char* label);

// MCS 2 from MCS 1, MCS 4..7 from MCS 3, where missing.
ORVI_VTX_EXPORT void normalizeMcsCoverage(std::map<int, std::map<int, int>>& map);
// The MCS whose curve normalizeMcsCoverage copies to `mcs`: 1 for 2, 3 for
// 4..7; -1 for any other.
ORVI_VTX_EXPORT int mcsCoverageSource(int mcs);

// The MCS whose points findClosestPowerIndex uses for `mcs`: the MCS itself,
// else the nearest lower one, else the nearest higher one up to 7. False
// when the map holds none of them.
ORVI_VTX_EXPORT bool servingMcs(const std::map<int, std::map<int, int>>& map, int mcs,
                                int* served);

// Power index for the requested output power *mw at `mcs`. Under FCC rules
// in 5180-5320 MHz the request is capped at 200 mW, and *mw shows the cap;
// there the pick is the highest point not above the capped request (the
// lowest point when none is that low), never the nearest above it.
ORVI_VTX_EXPORT int findClosestPowerIndex(const std::map<int, std::map<int, int>>& map, int mcs,
                                          int* mw, int frequency, RegulatoryDomain domain,
                                          bool adc_available);

// The whole map on stderr, for diagnosis.
ORVI_VTX_EXPORT void printPowerMap(const std::map<int, std::map<int, int>>& map);
