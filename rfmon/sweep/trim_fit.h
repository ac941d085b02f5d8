// The fit of a detector trim: from what this unit's detector read at a few
// levels and what a reference meter read there, the straight-line
// correction of the millivolts onto the detector the conversion tables
// describe, with its residual at every level.
#pragma once

constexpr int TRIM_MAX_POINTS = 16;

// One trim level: the detector's average mV as a sweep reads it, the
// meter's dBm, and the mV at which the conversion table gives that dBm.
typedef struct trim_point_t {
    int level;
    double measured_mv;
    double meter_dbm;
    double table_mv;
} trim_point_t;

// mV to dBm through the band's conversion table (the column of the trim's
// MCS); 0 on success.
typedef int (*trim_convert_fn)(double mv, double* dbm, void* context);

typedef struct trim_fit_t {
    double gain;
    double offset_mv;
    int count;
    double residual_db[TRIM_MAX_POINTS];  // trimmed reading - meter, per point
    double largest_residual_db;           // the largest |residual|
    double largest_shift_db;  // the most the correction moves a reading at the points
} trim_fit_t;

typedef enum trim_fit_result_t {
    TRIM_FIT_OK = 0,
    TRIM_FIT_TOO_FEW,       // fewer than two points, or all at one voltage
    TRIM_FIT_CONVERSION,    // the conversion table failed
    TRIM_FIT_IMPLAUSIBLE,   // beyond TRIM_MAX_GAIN_CHANGE or TRIM_MAX_SHIFT_DB
} trim_fit_result_t;

// Least squares of table_mv on measured_mv over the points, then each
// point's residual and shift through `convert`.
trim_fit_result_t fit_detector_trim(const trim_point_t* points, int count, trim_convert_fn convert,
                                    void* context, trim_fit_t* fit);
