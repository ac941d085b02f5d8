// What the two RF power detectors put out for the transmitter's current
// frequency, MCS and power index: the built-in reference curves shifted by
// the unit's offset, with seeded per-sample noise and saturation.
#pragma once

#include <cstdint>

#include "board_config.h"

// Band of a frequency: 0 = "2_4" (detector channel 0), 1 = "5_1", 2 = "5_8"
// (channel 1).
int rf_band_of(int frequency_mhz);
const char* rf_band_token(int band);

// The detector voltage without noise, mV, on `channel` (0 or 1).
double rf_detector_mv(const BoardConfig& cfg, int channel, int frequency_mhz, int mcs, int power);

// Reference output power of the band's built-in table, dBm; 0 when none.
double rf_reference_dbm(int frequency_mhz, int mcs, int power);

// Reproducible noise: a uniform value in [-1, 1] for sample `n` of `seed`.
double rf_noise_unit(uint64_t seed, uint64_t n);

// ADC code of a voltage (1.8 V full scale, 12 bits, clamped).
int rf_adc_code(double mv);
