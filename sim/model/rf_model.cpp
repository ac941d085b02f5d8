#include "rf_model.h"

#include <cmath>

namespace {

constexpr double PI = 3.14159265358979323846;

// The typical unit, fitted offline to the reference curves of a production
// transmitter by sim/model/fit_default_unit.py (band, then MCS 0, 1, 3).
constexpr RfCurve TYPICAL[RF_BANDS][RF_CLASSES] = {
    {{12.252, 0.3721, 35.823, 0.904, 588.78, 29.279},
     {10.048, 0.4095, 41.306, 0.570, 594.48, 28.743},
     {12.403, 0.4428, 30.895, 9.707, 554.35, 26.332}},
    {{6.958, 0.4776, 29.102, 1.048, 725.38, 26.356},
     {8.627, 0.5244, 29.096, 0.796, 717.71, 26.119},
     {9.490, 0.5278, 30.755, 0.970, 653.14, 27.526}},
    {{7.386, 0.4918, 31.558, 1.007, 724.02, 27.000},
     {8.833, 0.5308, 31.253, 1.024, 713.67, 27.599},
     {7.807, 0.5067, 31.122, 1.196, 710.87, 27.681}},
};

// Higher orders of a class back the drive off a little more.
constexpr double TYPICAL_BACKOFF_DB[8] = {0, 0, 0.25, 0, 0.5, 1.0, 1.5, 2.0};
constexpr double TYPICAL_TEMPCO_DB_PER_C = -0.015;
constexpr double TYPICAL_RIPPLE_DB = 0.2;
constexpr int ANCHOR_MHZ[RF_BANDS] = {2412, 5180, 5805};
constexpr double RIPPLE_PERIOD_MHZ[RF_BANDS] = {80, 160, 160};

// Spreads of a drawn unit: uniform within +- these (see sim/README.md).
constexpr double SPREAD_GAIN_DB = 1.5;
constexpr double SPREAD_STEP = 0.05;
constexpr double SPREAD_PSAT_DB = 1.0;
constexpr double SPREAD_SMOOTHNESS = 0.25;
constexpr double SPREAD_BACKOFF_DB = 0.3;
constexpr double SPREAD_TEMPCO = 0.01;
constexpr double SPREAD_DET_SLOPE = 0.03;
constexpr double SPREAD_DET_OFFSET_MV = 10.0;
constexpr double MAX_RIPPLE_DB = 0.5;

// Rapp's model in power terms: linear far below psat, flat at psat.
double rapp_dbm(double small_signal_dbm, double psat_dbm, double p) {
    double y = p * (small_signal_dbm - psat_dbm) / 10.0;
    double compression = y > 30 ? y + std::log10(1.0 + std::pow(10.0, -y))
                                : std::log10(1.0 + std::pow(10.0, y));
    return small_signal_dbm - 10.0 / p * compression;
}

}  // namespace

RfUnit rf_unit(int number) {
    RfUnit u{};
    u.number = number;
    for (int b = 0; b < RF_BANDS; ++b)
        for (int c = 0; c < RF_CLASSES; ++c) u.curve[b][c] = TYPICAL[b][c];
    for (int b = 0; b < RF_BANDS; ++b) {
        u.step_scale[b] = 1.0;
        u.smoothness_scale[b] = 1.0;
        u.ripple_db[b] = TYPICAL_RIPPLE_DB;
    }
    for (int m = 0; m < 8; ++m) u.backoff_db[m] = TYPICAL_BACKOFF_DB[m];
    u.tempco_db_per_c = TYPICAL_TEMPCO_DB_PER_C;
    u.det_slope_scale[0] = u.det_slope_scale[1] = 1.0;
    if (number == 0) return u;

    // Each parameter takes its own draw from the unit's stream.
    uint64_t seed = 0x756E6974ull + static_cast<uint64_t>(number) * 0x100000001B3ull;
    uint64_t n = 0;
    auto spread = [&](double half_width) { return half_width * rf_noise_unit(seed, n++); };
    for (int b = 0; b < RF_BANDS; ++b) {
        u.gain_db[b] = spread(SPREAD_GAIN_DB);
        u.step_scale[b] = 1.0 + spread(SPREAD_STEP);
        u.psat_db[b] = spread(SPREAD_PSAT_DB);
        u.smoothness_scale[b] = 1.0 + spread(SPREAD_SMOOTHNESS);
        u.ripple_db[b] = MAX_RIPPLE_DB * (spread(0.5) + 0.5);
        u.ripple_phase[b] = spread(PI);
    }
    for (int m = 0; m < 8; ++m) u.backoff_db[m] += spread(SPREAD_BACKOFF_DB);
    u.tempco_db_per_c += spread(SPREAD_TEMPCO);
    for (int ch = 0; ch < 2; ++ch) {
        u.det_slope_scale[ch] = 1.0 + spread(SPREAD_DET_SLOPE);
        u.det_offset_mv[ch] = spread(SPREAD_DET_OFFSET_MV);
    }
    return u;
}

int rf_band_of(int frequency_mhz) {
    if (frequency_mhz < 4000) return 0;
    return frequency_mhz / 100 < 56 ? 1 : 2;
}

const char* rf_band_token(int band) { return band == 0 ? "2_4" : band == 1 ? "5_1" : "5_8"; }

int rf_class_of(int mcs) {
    if (mcs == 1 || mcs == 2) return 1;
    if (mcs >= 3) return 2;
    return 0;
}

double rf_output_dbm(const RfUnit& u, int frequency_mhz, int mcs, int power, double temperature_c) {
    if (power <= 0) return -100.0;
    int band = rf_band_of(frequency_mhz);
    const RfCurve& c = u.curve[band][rf_class_of(mcs)];
    double drive = c.offset_dbm + c.step_db * u.step_scale[band] * (power - 1);
    double ripple = u.ripple_db[band] *
                    std::sin(2 * PI * (frequency_mhz - ANCHOR_MHZ[band]) / RIPPLE_PERIOD_MHZ[band] +
                             u.ripple_phase[band]);
    double gain = u.gain_db[band] + ripple + u.tempco_db_per_c * (temperature_c - RF_REFERENCE_C);
    double backoff = mcs >= 0 && mcs < 8 ? u.backoff_db[mcs] : u.backoff_db[7];
    return rapp_dbm(drive + gain - backoff, c.psat_dbm + u.psat_db[band],
                    c.smoothness * u.smoothness_scale[band]);
}

double rf_true_dbm(const RfUnit& u, const RfDrift& drift, int frequency_mhz, int mcs, int power,
                   double temperature_c) {
    if (power <= 0) return -100.0;
    return rf_output_dbm(u, frequency_mhz, mcs, power, temperature_c) - drift.output_loss_db;
}

double rf_detector_law_mv(const RfUnit& u, int frequency_mhz, int mcs, double dbm) {
    int band = rf_band_of(frequency_mhz);
    int channel = band == 0 ? 0 : 1;
    const RfCurve& c = u.curve[band][rf_class_of(mcs)];
    return c.det_mv_at_20 + u.det_offset_mv[channel] +
           c.det_slope * u.det_slope_scale[channel] * (dbm - 20.0);
}

double rf_detector_mv(const BoardConfig& cfg, const RfUnit& u, const RfDrift& drift, int channel,
                      int frequency_mhz, int mcs, int power, double temperature_c) {
    int band = rf_band_of(frequency_mhz);
    int answering = band == 0 ? 0 : 1;
    if (channel != answering || power <= 0) return cfg.idle_mv;
    double dbm = rf_true_dbm(u, drift, frequency_mhz, mcs, power, temperature_c);
    double mv = rf_detector_law_mv(u, frequency_mhz, mcs, dbm - drift.detector_loss_db);
    mv += cfg.offset_mv + cfg.band_offset_mv[band];
    if (cfg.over_power_level > 0 && power >= cfg.over_power_level) mv += cfg.over_power_mv;
    return mv;
}

double rf_noise_unit(uint64_t seed, uint64_t n) {
    // splitmix64 of (seed, n): cheap, stateless, the same on every run.
    uint64_t z = seed * 0x9E3779B97F4A7C15ull + n + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return (static_cast<double>(z >> 11) / static_cast<double>(1ull << 53)) * 2.0 - 1.0;
}

int rf_adc_code(double mv) {
    double code = std::floor(mv * 4096.0 / 1800.0 + 0.5);
    if (code < 0) return 0;
    if (code > 4095) return 4095;
    return static_cast<int>(code);
}
