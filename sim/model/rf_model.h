// The transmitter's RF chain as the board simulates it, from physics rather
// than from the monitor's tables: the power index sets a drive level, a
// Rapp amplifier compresses it, the MCS backs it off, temperature and a
// ripple across the band shift the gain, and a logarithmic detector turns
// the output power into millivolts. Every unit has its own parameters;
// unit 0 is the typical unit, other numbers draw a plausible one.
#pragma once

#include <cstdint>

#include "board_config.h"

constexpr int RF_BANDS = 3;    // 2_4, 5_1, 5_8
constexpr int RF_CLASSES = 3;  // modulation classes: MCS 0; MCS 1-2; MCS 3-7
constexpr double RF_REFERENCE_C = 35.0;  // temperature at which the curves hold

// One band and modulation class of the typical unit.
struct RfCurve {
    double offset_dbm;   // small-signal output at index 1
    double step_db;      // drive added per index step
    double psat_dbm;     // amplifier saturation power
    double smoothness;   // Rapp p: how sharply the amplifier compresses
    double det_mv_at_20; // detector output at 20 dBm
    double det_slope;    // detector slope, mV per dB
};

struct RfUnit {
    int number;
    RfCurve curve[RF_BANDS][RF_CLASSES];
    // What sets this unit apart from the typical one.
    double gain_db[RF_BANDS];           // small-signal gain
    double step_scale[RF_BANDS];        // dB per index step, relative
    double psat_db[RF_BANDS];           // saturation power
    double smoothness_scale[RF_BANDS];  // Rapp p, relative
    double backoff_db[8];               // drive back-off of each MCS
    double tempco_db_per_c;             // gain change per degree above the reference
    double ripple_db[RF_BANDS];         // gain ripple amplitude across the band
    double ripple_phase[RF_BANDS];      // radians, at the band's anchor frequency
    double det_slope_scale[2];          // per detector (channel 0: 2.4 GHz, 1: 5 GHz)
    double det_offset_mv[2];
};

// What a unit has lost since it was calibrated, dB (negative: gained): an
// ageing amplifier puts out less, a damaged coupler hands the detector less
// of what goes out.
struct RfDrift {
    double output_loss_db = 0;
    double detector_loss_db = 0;
};

// Unit 0 is the typical unit; any other number draws one from the spreads
// documented in sim/README.md, the same for the same number.
RfUnit rf_unit(int number);

// Band of a frequency: 0 = "2_4" (detector channel 0), 1 = "5_1", 2 = "5_8"
// (channel 1).
int rf_band_of(int frequency_mhz);
const char* rf_band_token(int band);
int rf_class_of(int mcs);

// True output power, dBm, at a power index (1..63; 0 means off and gives
// -100) and board temperature.
double rf_output_dbm(const RfUnit& unit, int frequency_mhz, int mcs, int power,
                     double temperature_c);

// The output power the unit really puts out now: its own curve less the
// output loss (off stays at -100).
double rf_true_dbm(const RfUnit& unit, const RfDrift& drift, int frequency_mhz, int mcs, int power,
                   double temperature_c);

// The detector law: what the band's detector puts out for `dbm`, mV, before
// the board's offsets, noise and clipping.
double rf_detector_law_mv(const RfUnit& unit, int frequency_mhz, int mcs, double dbm);

// The detector voltage without noise, mV, on `channel` (0 or 1), for the
// true output less the detector loss, with the board's offsets and
// over-power extra.
double rf_detector_mv(const BoardConfig& cfg, const RfUnit& unit, const RfDrift& drift, int channel,
                      int frequency_mhz, int mcs, int power, double temperature_c);

// Reproducible noise: a uniform value in [-1, 1] for sample `n` of `seed`.
double rf_noise_unit(uint64_t seed, uint64_t n);

// ADC code of a voltage (1.8 V full scale, 12 bits, clamped).
int rf_adc_code(double mv);
