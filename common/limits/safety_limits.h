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

// The output a power search may be asked for (-adjust-dbm, -adjust-mW).
constexpr double REQUEST_DBM_MIN = 0.0;
constexpr double REQUEST_DBM_MAX = 30.0;

// Under FCC rules, requests in this frequency range are capped.
constexpr int FCC_CAP_MW = 200;
constexpr int FCC_CAP_LOW_MHZ = 5180;
constexpr int FCC_CAP_HIGH_MHZ = 5320;

// A stored output this far above the power limit is no reading of this
// transmitter: a table holding one is defective.
constexpr double IMPOSSIBLE_POWER_MARGIN_DB = 3.0;

// Conversion and calibration tables live here on the board.
constexpr const char* CALIBRATION_DATA_DIR = "/data/quillon/vtx/";

// 10^x as the tables store power: a sweep writes mW = series_exp10(dBm / 10).
// An exact product of tens for whole x in 0..20, otherwise sixteen terms of
// the exponential series (a little below the true power near the limit).
double series_exp10(double x);
// The "%.2f" mW that a sweep stores for `dbm`: the form in which a reader of
// the table meets every limit.
double stored_mw_of_dbm(double dbm);

// The uncertainty of a reading in dB from an untrimmed detector, at the top
// of the band with conversion-table key `band_key` ("2.4", "5.1", "5.8"):
// what the detector's stated unit spread gives through that band's
// conversion tables (derived in data/README.md). Any other key gets the
// largest of the three.
double untrimmed_reading_uncertainty_db(const char* band_key);

// Where a reading (or the stored output of a table level) lies against the
// power limit, given the reading's uncertainty.
enum power_verdict_t {
    POWER_WITHIN_LIMIT,        // reading plus uncertainty at or below the limit
    POWER_WITHIN_UNCERTAINTY,  // at or below the limit, but not by the uncertainty
    POWER_ABOVE_LIMIT,         // the reading itself is above the limit
};
// Decided on the stored form, so that a sweep judging its reading and a
// reader judging the table it wrote always agree: the stored rounding of a
// reading of exactly 31.5 dBm (1407.77 mW through the series) is within the
// limit.
power_verdict_t stored_power_verdict(double stored_mw, double uncertainty_db);
power_verdict_t reading_power_verdict(double dbm, double uncertainty_db);
// A stored output above the limit plus IMPOSSIBLE_POWER_MARGIN_DB.
bool stored_power_impossible(double stored_mw);

// A converted reading that stops a sweep, and the same from a table's
// stored mW (the series' "%.2f" of 31.5 dBm itself is not a stop).
bool power_above_limit(double dbm);
bool stored_power_above_limit(double stored_mw);
bool temperature_above_limit(double celsius);
// True when `mv` lies above the top row of the conversion table in use, so
// the output power is at least the table's top and otherwise unknown.
// Decided on the hundredths that a table stores, so that a sweep and a
// reader of the table it wrote always agree.
bool detector_over_range(double mv, double table_top_mv);
bool in_fcc_cap_band(int frequency_mhz);
// The highest reading, dBm, whose output stays at or below the FCC cap
// within `uncertainty_db`.
double fcc_cap_reading_dbm(double uncertainty_db);
