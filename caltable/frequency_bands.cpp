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

int sweep_band_index_of_frequency(int frequency) {
    const int number = frequency / 100;
    if (in(number, 23, 25)) return 0;
    if (in(number, 50, 55)) return 1;
    if (in(number, 56, 59)) return 2;
    return -1;
}

bool sweep_band(int frequency, sweep_band_t* band) {
    const int b = sweep_band_index_of_frequency(frequency);
    if (b < 0) return false;
    *band = SWEEP_BANDS[b];
    return true;
}

namespace {

int index_of_name(const char* name, const char* sweep_band_t::*field) {
    for (int b = 0; name && b < SWEEP_BAND_COUNT; ++b) {
        if (std::strcmp(SWEEP_BANDS[b].*field, name) == 0) return b;
    }
    return -1;
}

}  // namespace

int sweep_band_index_of_token(const char* token) {
    return index_of_name(token, &sweep_band_t::token);
}

int sweep_band_index_of_key(const char* key) {
    return index_of_name(key, &sweep_band_t::key);
}

const sweep_band_t* sweep_band_of_token(const char* token) {
    const int b = sweep_band_index_of_token(token);
    return b < 0 ? nullptr : &SWEEP_BANDS[b];
}

bool is_anchor_frequency(int frequency) {
    for (const sweep_band_t& band : SWEEP_BANDS) {
        if (band.anchor_frequency == frequency) return true;
    }
    return false;
}

const char* channel1_label(int frequency) { return frequency < 5500 ? "5.1" : "5.8"; }
