#include "trim_run.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "calibration_sweep.h"
#include "calibration_table.h"
#include "conversion_table_check.h"
#include "conversion_tables.h"
#include "default_power_calibration.h"
#include "detector_trim.h"
#include "interruption.h"
#include "monitor_modes.h"
#include "power_meter.h"
#include "power_units.h"
#include "safety_limits.h"
#include "tool_runner.h"
#include "transmitter_run.h"
#include "trim_fit.h"

namespace {

// The lowest trim level: the first fast anchor, well above the detector's
// floor. The highest stays this far under the untrimmed guard, so that a
// unit hotter than the reference curves still reaches it.
constexpr int TRIM_LOW_LEVEL = 10;
constexpr double TRIM_TOP_MARGIN_DB = 1.0;

double reference_dbm(const char* band_token, int mcs, int level) {
    const double mw = default_cal_get_mw(band_token, mcs, level);
    return mw > 0 ? mW_to_dBm(mw) : NAN;
}

// What one band's trim gathers while the sweep's levels are measured.
struct band_trim_t {
    const trim_request_t* request;
    int frequency;
    int mcs;
    const sweep_band_t* band;
    trim_point_t points[TRIM_MAX_POINTS];
    int count;
    std::string failure;  // why the meter gave no reading
};

bool read_meter_at(int level, const level_result_t& result, void* context) {
    band_trim_t* t = static_cast<band_trim_t*>(context);
    if (result.mv == TEMPERATURE_STOP_MV || t->count >= TRIM_MAX_POINTS) return true;
    const meter_point_t point = {t->frequency, t->mcs, level};
    double dbm = 0;
    const bool read = t->request->meter_command
                          ? read_meter_command(t->request->meter_command, point, &dbm, &t->failure)
                          : read_meter_from_operator(point, &dbm, &t->failure);
    end_run_if_interrupted();
    if (!read) return false;
    std::printf("Level %d: detector %.2f mV, meter %.2f dBm\n", level, result.mv, dbm);
    t->points[t->count++] = {level, result.mv, dbm, 0.0};
    return true;
}

// The fit's lookups go through the band's table as it is, never through an
// earlier trim: the trim replaces it.
struct table_context_t {
    const char* key;
    int mcs;
};

int untrimmed_conversion(double mv, double* dbm, void* context) {
    const table_context_t* c = static_cast<const table_context_t*>(context);
    double mv_out = mv;
    return read_csv_data_cached(&mv_out, dbm, c->mcs, c->key, mv);
}

// The table's voltage for every meter reading; false with the reason.
bool find_table_voltages(band_trim_t* t) {
    for (int i = 0; i < t->count; ++i) {
        trim_point_t& p = t->points[i];
        if (conversion_table_mv_at_dbm(t->band->key, t->mcs, p.meter_dbm, &p.table_mv) != 0) {
            char why[160];
            std::snprintf(why, sizeof why,
                          "the meter's %.2f dBm at level %d lies outside the %s GHz conversion "
                          "table",
                          p.meter_dbm, p.level, t->band->key);
            t->failure = why;
            return false;
        }
    }
    return true;
}

const char* fit_failure(trim_fit_result_t result) {
    switch (result) {
    case TRIM_FIT_TOO_FEW:
        return "fewer than two levels at distinct voltages were measured";
    case TRIM_FIT_CONVERSION:
        return "the conversion table could not convert the corrected voltages";
    case TRIM_FIT_IMPLAUSIBLE:
        return "the correction is beyond plausible bounds (more than 3 dB or 20 % of slope)";
    case TRIM_FIT_OK:
        break;
    }
    return "";
}

void print_fit(const band_trim_t& t, const trim_fit_t& fit, double meter_db) {
    for (int i = 0; i < t.count; ++i) {
        std::printf("Level %d: trimmed %.2f dBm, residual %+.2f dB\n", t.points[i].level,
                    t.points[i].meter_dbm + fit.residual_db[i], fit.residual_db[i]);
    }
    std::printf("Correction for %s (%d MHz, MCS %d): mV x %.4f %+.2f mV; largest residual %.2f dB, "
                "uncertainty %.2f dB with the meter's %.2f dB and 0.10 dB for repeatability\n",
                t.band->token, t.frequency, t.mcs, fit.gain, fit.offset_mv,
                fit.largest_residual_db, fit.largest_residual_db + meter_db + TRIM_REPEATABILITY_DB,
                meter_db);
}

// Measures one band and fits its trim; false with the reason in t->failure.
bool trim_band(int fd, band_trim_t* t, detector_trim_t* trim) {
    int levels[TRIM_LEVEL_COUNT];
    int level_count = 0;
    if (!choose_trim_levels(t->band->token, t->mcs, levels, &level_count)) {
        t->failure = "the reference curves give no trim levels for this MCS";
        return false;
    }
    if (!conversion_table_fit_to_raise_power(t->band->key)) {
        t->failure = "its conversion table failed its check";
        return false;
    }
    anchor_measurement_t measurement;
    const int measured =
        measure_sweep_levels(fd, t->frequency, t->mcs, levels, level_count, read_meter_at, t,
                             &measurement);
    if (measured != 0) {
        if (t->failure.empty()) t->failure = "the levels could not be measured";
        return false;
    }
    if (!find_table_voltages(t)) return false;
    table_context_t context = {t->band->key, t->mcs};
    trim_fit_t fit;
    const trim_fit_result_t result =
        fit_detector_trim(t->points, t->count, untrimmed_conversion, &context, &fit);
    if (result != TRIM_FIT_OK) {
        t->failure = fit_failure(result);
        return false;
    }
    print_fit(*t, fit, t->request->meter_db);
    *trim = {true, fit.gain, fit.offset_mv, fit.largest_residual_db, t->request->meter_db,
             t->frequency, t->mcs, t->count, static_cast<long long>(std::time(nullptr))};
    return true;
}

}  // namespace

bool choose_trim_levels(const char* band_token, int mcs, int* levels, int* count) {
    const sweep_band_t* band = sweep_band_of_token(band_token);
    const double low = reference_dbm(band_token, mcs, TRIM_LOW_LEVEL);
    const double high =
        POWER_LIMIT_DBM - untrimmed_reading_uncertainty_db(band ? band->key : nullptr) -
        TRIM_TOP_MARGIN_DB;
    *count = 0;
    if (!band || !std::isfinite(low) || !(high > low)) return false;
    // Two levels for the slope, three in the last 3 dB under the guard,
    // where the guard decides and the residual must be known.
    const double targets[TRIM_LEVEL_COUNT] = {low, (low + high) / 2, high - 3.0, high - 1.5, high};
    for (double target : targets) {
        int chosen = 0;
        for (int level = TRIM_LOW_LEVEL; level <= POWER_LEVEL_MAX; ++level) {
            if (reference_dbm(band_token, mcs, level) <= target) chosen = level;
        }
        if (chosen != 0 && (*count == 0 || chosen > levels[*count - 1])) levels[(*count)++] = chosen;
    }
    return *count >= 2;
}

namespace {

// Every band's trim as it stands after this run: the file's other bands
// kept, the fresh ones in their place; written whole.
bool write_trims(const detector_trims_t& fresh) {
    detector_trims_t trims;
    std::string why;
    if (read_detector_trims(CALIBRATION_DATA_DIR, &trims, &why) == TRIM_FILE_UNUSABLE)
        std::fprintf(stderr, "Warning: %s; its lines are not kept\n", why.c_str());
    for (int b = 0; b < SWEEP_BAND_COUNT; ++b) {
        if (fresh.band[b].trimmed) trims.band[b] = fresh.band[b];
    }
    const std::string path = detector_trim_path();
    if (replace_file_contents(path.c_str(), detector_trims_text(trims),
                              [] { return interruption_signal() != 0; },
                              run_temporary_file_observer()) != 0)
        return false;
    forget_installed_detector_trims();
    std::printf("Detector trim saved to %s\n", path.c_str());
    return true;
}

// One band: the MCS set, then the levels measured as a sweep starts and
// measures, and the fit. On failure the power goes to 1 first, then one
// line says why.
bool trim_one(int fd, const trim_request_t& request, int frequency, const sweep_band_t& band,
              detector_trim_t* trim) {
    std::puts("\n========================================");
    std::printf("Detector trim for Frequency: %d MHz, MCS: %d\n", frequency, request.mcs);
    std::puts("========================================");
    if (tool_failure_t failure{}; !configure_vtx("-m", request.mcs, &failure)) {
        end_run_if_interrupted();
        report_configure_failure("Failed to set MCS using orvi-configure-vtx", failure);
        set_minimum_power("trim failure");
        return false;
    }
    band_trim_t t{&request, frequency, request.mcs, &band, {}, 0, {}};
    if (trim_band(fd, &t, trim)) return true;
    end_run_if_interrupted();
    set_minimum_power("trim failure");
    std::fprintf(stderr, "Error: The trim of %s at %d MHz, MCS %d failed: %s; nothing was written\n",
                 band.token, frequency, request.mcs, t.failure.c_str());
    return false;
}

}  // namespace

trim_request_t trim_request(const monitor_settings_t& settings) {
    trim_request_t request = {};
    const calibration_params_t& params = settings.calibration;
    for (int i = 0; i < params.frequency_count && i < SWEEP_BAND_COUNT; ++i)
        request.frequencies[request.frequency_count++] = params.frequencies[i];
    request.mcs = params.mcs_count > 0 ? params.mcs_values[0] : 0;
    request.meter_command = settings.meter_command;
    request.meter_db = settings.meter_db;
    return request;
}

int run_trim(int fd, const trim_request_t& request) {
    if (!begin_power_run(fd, 1)) return 1;
    detector_trims_t fresh = {};
    bool trimmed = true;
    for (int i = 0; i < request.frequency_count && trimmed; ++i) {
        end_run_if_interrupted();
        const int b = sweep_band_index_of_frequency(request.frequencies[i]);
        trimmed = b >= 0 && trim_one(fd, request, request.frequencies[i], SWEEP_BANDS[b],
                                     &fresh.band[b]);
    }
    end_run_if_interrupted();
    // Nothing is written unless every band was trimmed.
    bool done = trimmed && set_minimum_power("trim");
    if (trimmed) done = write_trims(fresh) && done;
    end_power_run(fd);
    return done ? 0 : 1;
}
