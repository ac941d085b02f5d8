// A unit's detector trim: per band, the correction of the detector's
// millivolts that maps this unit's detector onto the one the conversion
// tables describe, fitted against a reference power meter (orvi-rfmon -trim)
// and kept in "/data/quillon/vtx/detector_trim.csv".
#pragma once

#include <string>

#include "frequency_bands.h"

// One band's trim. corrected mV = gain x measured mV + offset_mv.
typedef struct detector_trim_t {
    bool trimmed;
    double gain;
    double offset_mv;
    double residual_db;  // largest |trimmed reading - meter| at the trim's levels
    double meter_db;     // the meter's stated accuracy
    int frequency;       // MHz and MCS the trim was taken at
    int mcs;
    int levels;          // levels the fit used
    long long trimmed_at;  // seconds since the epoch
} detector_trim_t;

// The three bands' trims, in SWEEP_BANDS order.
typedef struct detector_trims_t {
    detector_trim_t band[SWEEP_BAND_COUNT];
} detector_trims_t;

// A correction beyond these is not a trim but a broken detector or a wrong
// meter: refused when fitted and when read.
constexpr double TRIM_MAX_GAIN_CHANGE = 0.20;
constexpr double TRIM_MAX_SHIFT_DB = 3.0;

// The trim file's path on the board.
std::string detector_trim_path();

// The file's text from the trims (bands not trimmed have no line).
std::string detector_trims_text(const detector_trims_t& trims);

// Parses a trim file; false with `error` ("line N: ...") when any line is
// malformed or implausible, and then `trims` holds none.
bool parse_detector_trims(const std::string& text, detector_trims_t* trims, std::string* error);

typedef enum trim_file_state_t {
    TRIM_FILE_MISSING,   // untrimmed
    TRIM_FILE_READ,
    TRIM_FILE_UNUSABLE,  // there, but unreadable or malformed: untrimmed, `why` says why
} trim_file_state_t;

// The trim file of a table folder ("/data/quillon/vtx/" on the board).
trim_file_state_t read_detector_trims(const std::string& folder, detector_trims_t* trims,
                                      std::string* why);

// The band's trim of a conversion key ("2.4", "5.1", "5.8"); nullptr when
// the key names no band or the band is not trimmed.
const detector_trim_t* trim_for_band_key(const char* band_key);

// `mv` through `trim`: corrected when it is a trim, unchanged otherwise.
double trim_corrected_mv(const detector_trim_t& trim, double mv);

// `mv` as the tables' detector would read it: corrected when the band is
// trimmed, unchanged otherwise.
double trimmed_mv(const char* band_key, double mv);

// Whether a reading of `mv` lies beyond the band's conversion table once
// trimmed, as a sweep and a reading judge it; the table's top row in
// *top_mv. False when the table cannot be loaded or holds no rows.
bool detector_reading_over_range(const char* band_key, double mv, double* top_mv);

// A later reading of a level differs from the trim's own by the detector's
// noise and by the temperature between the two.
constexpr double TRIM_REPEATABILITY_DB = 0.1;

// The uncertainty of a trimmed reading: the fit's residual, the meter's
// accuracy and the readings' repeatability.
double trim_uncertainty_db(const detector_trim_t& trim);

// The uncertainty of a reading at `mcs` in the band of `band_key` whose
// trim is `trim` (or none): the trim's at the trim's own MCS only, the
// untrimmed detector's otherwise (see reading_uncertainty_db()).
double trim_reading_uncertainty_db(const detector_trim_t& trim, const char* band_key, int mcs);

// The same under the trims of all three bands.
double band_reading_uncertainty_db(const detector_trims_t& trims, const char* band_key, int mcs);

// A detector reading to dBm as read_csv_data_cached() converts it, with the
// band's trim applied to `mv` first; *mv_out is `mv` as read.
int convert_detector_reading(double* mv_out, double* dbm_out, int mcs, const char* band_key,
                             double mv);
