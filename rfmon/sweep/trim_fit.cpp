#include "trim_fit.h"

#include <cmath>

#include "detector_trim.h"

namespace {

bool fit_line(const trim_point_t* points, int count, double* gain, double* offset) {
    double mean_x = 0, mean_y = 0;
    for (int i = 0; i < count; ++i) {
        mean_x += points[i].measured_mv;
        mean_y += points[i].table_mv;
    }
    mean_x /= count;
    mean_y /= count;
    double sxx = 0, sxy = 0;
    for (int i = 0; i < count; ++i) {
        const double dx = points[i].measured_mv - mean_x;
        sxx += dx * dx;
        sxy += dx * (points[i].table_mv - mean_y);
    }
    // Points a tenth of a millivolt apart say nothing about a slope.
    if (sxx < 0.01 * count) return false;
    *gain = sxy / sxx;
    *offset = mean_y - *gain * mean_x;
    return true;
}

}  // namespace

trim_fit_result_t fit_detector_trim(const trim_point_t* points, int count, trim_convert_fn convert,
                                    void* context, trim_fit_t* fit) {
    *fit = {};
    if (count < 2 || count > TRIM_MAX_POINTS) return TRIM_FIT_TOO_FEW;
    if (!fit_line(points, count, &fit->gain, &fit->offset_mv)) return TRIM_FIT_TOO_FEW;
    fit->count = count;
    for (int i = 0; i < count; ++i) {
        const double corrected = fit->gain * points[i].measured_mv + fit->offset_mv;
        double trimmed_dbm = 0, untrimmed_dbm = 0;
        if (convert(corrected, &trimmed_dbm, context) != 0 ||
            convert(points[i].measured_mv, &untrimmed_dbm, context) != 0)
            return TRIM_FIT_CONVERSION;
        fit->residual_db[i] = trimmed_dbm - points[i].meter_dbm;
        fit->largest_residual_db = std::fmax(fit->largest_residual_db, std::fabs(fit->residual_db[i]));
        fit->largest_shift_db = std::fmax(fit->largest_shift_db, std::fabs(trimmed_dbm - untrimmed_dbm));
    }
    if (std::fabs(fit->gain - 1.0) > TRIM_MAX_GAIN_CHANGE || fit->largest_shift_db > TRIM_MAX_SHIFT_DB)
        return TRIM_FIT_IMPLAUSIBLE;
    return TRIM_FIT_OK;
}
