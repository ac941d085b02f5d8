#include "frequency_bands.h"

#include <cmath>
#include <cstring>

const sweep_band_t SWEEP_BANDS[SWEEP_BAND_COUNT] = {
    {"2_4", "2.4", 0, 2412},
    {"5_1", "5.1", 1, 5180},
    {"5_8", "5.8", 1, 5805},
};

namespace {

bool in(int number, int low, int high) { return number >= low && number <= high; }

}  // namespace

const char* reading_band_key(int frequency) {
    const int number = frequency / 100;
    if (in(number, 50, 55))
        return "5.1";
    if (in(number, 56, 59))
        return "5.8";
    if (in(number, 23, 25))
        return "2.4";
    return nullptr;
}

double search_band(double frequency) {
    // Anything unrepresentable as an int has no band.
    const int number =
        (frequency > -1e9 && frequency < 1e9) ? static_cast<int>(frequency) / 100 : 0;
    if (in(number, 23, 25))
        return 2.4;
    if (in(number, 50, 52))
        return 5.1;
    if (in(number, 57, 59))
        return 5.8;
    return 0.0;
}

bool search_band_uses_channel0(double band) { return std::fabs(band - 2.4) < 1e-9; }

bool sweep_band(int frequency, sweep_band_t* band) {
    const int number = frequency / 100;
    if (in(number, 23, 25)) {
        *band = SWEEP_BANDS[0];
    } else if (in(number, 50, 55)) {
        *band = SWEEP_BANDS[1];
    } else if (in(number, 56, 59)) {
        *band = SWEEP_BANDS[2];
    } else {
        return false;
    }
    return true;
}

int sweep_band_index(const sweep_band_t& band) {
    for (int b = 0; b < SWEEP_BAND_COUNT; ++b) {
        if (std::strcmp(SWEEP_BANDS[b].token, band.token) == 0) return b;
    }
    return -1;
}

const sweep_band_t* sweep_band_of_token(const char* token) {
    for (const sweep_band_t& band : SWEEP_BANDS) {
        if (std::strcmp(band.token, token) == 0) return &band;
    }
    return nullptr;
}

bool is_anchor_frequency(int frequency) {
    for (const sweep_band_t& band : SWEEP_BANDS) {
        if (band.anchor_frequency == frequency) return true;
    }
    return false;
}

const char* channel1_label(int frequency) { return frequency < 5500 ? "5.1" : "5.8"; }
