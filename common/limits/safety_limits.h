// The limits that every sweep, power search, report and power pick obeys:
// kept in one place so that orvi-rfmon, orvi-calreport and the VTX library
// cannot come to disagree on where a transmitter must stop.
#pragma once

// Output power above which a calibration sweep stops (strictly above).
constexpr double POWER_LIMIT_DBM = 31.5;
// Board temperature above which a sweep with temperature testing stops.
constexpr double TEMPERATURE_LIMIT_C = 75.0;

// The power indices that the power search and the sweeps use; the
// transmitter itself accepts up to TX_POWER_INDEX_MAX.
constexpr int POWER_LEVEL_MIN = 1;
constexpr int POWER_LEVEL_MAX = 60;
constexpr int TX_POWER_INDEX_MAX = 63;

// Under FCC rules, requests in this frequency range are capped.
constexpr int FCC_CAP_MW = 200;
constexpr int FCC_CAP_LOW_MHZ = 5180;
constexpr int FCC_CAP_HIGH_MHZ = 5320;

// Conversion and calibration tables live here on the board.
constexpr const char* CALIBRATION_DATA_DIR = "/data/quillon/vtx/";

// A converted reading that stops a sweep.
bool power_above_limit(double dbm);
// The same decision from a table's stored "%.2f" mW: the stored rounding of
// a reading of exactly 31.5 dBm (1412.54 mW) is not a stop.
bool stored_power_above_limit(double stored_mw);
bool temperature_above_limit(double celsius);
// True when `mv` lies above the top row of the conversion table in use, so
// the output power is at least the table's top and otherwise unknown.
// Decided on the hundredths that a table stores, so that a sweep and a
// reader of the table it wrote always agree.
bool detector_over_range(double mv, double table_top_mv);
bool in_fcc_cap_band(int frequency_mhz);
