#include "rf_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "default_power_calibration.h"

namespace {

int clamp_level(int power) { return power < 1 ? 1 : power > 60 ? 60 : power; }

// Column MCS of the built-in tables, as default_cal_get_mv maps it; MCS the
// tables do not know fall back to MCS 0 so the transmitter still shows up.
int table_mcs(int mcs) {
    if (mcs == 2) return 1;
    if (mcs >= 4 && mcs <= 7) return 3;
    if (mcs == 0 || mcs == 1 || mcs == 3) return mcs;
    return 0;
}

std::string_view band_text(int band) {
    switch (band) {
        case 0: return default_cal::kCalibrated_2_4;
        case 1: return default_cal::kCalibrated_5_1;
        default: return default_cal::kCalibrated_5_8;
    }
}

// Looks a cell up in a built-in table by column name; -1 when there is none.
double table_cell(std::string_view text, const char* column, int level) {
    size_t eol = text.find('\n');
    std::string_view header = text.substr(0, eol);
    int index = -1, field = 0;
    for (size_t pos = 0; pos <= header.size(); ++field) {
        size_t comma = header.find(',', pos);
        if (comma == std::string_view::npos) comma = header.size();
        if (header.substr(pos, comma - pos) == column) {
            index = field;
            break;
        }
        pos = comma + 1;
    }
    if (index < 0 || eol == std::string_view::npos) return -1;
    size_t pos = eol + 1;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (std::atoi(std::string(line.substr(0, line.find(','))).c_str()) != level) continue;
        size_t start = 0;
        for (int f = 0; f < index; ++f) {
            start = line.find(',', start);
            if (start == std::string_view::npos) return -1;
            ++start;
        }
        size_t stop = line.find(',', start);
        return std::atof(std::string(line.substr(start, stop - start)).c_str());
    }
    return -1;
}

}  // namespace

int rf_band_of(int frequency_mhz) {
    if (frequency_mhz < 4000) return 0;
    return frequency_mhz / 100 < 56 ? 1 : 2;
}

const char* rf_band_token(int band) { return band == 0 ? "2_4" : band == 1 ? "5_1" : "5_8"; }

double rf_detector_mv(const BoardConfig& cfg, int channel, int frequency_mhz, int mcs, int power) {
    int band = rf_band_of(frequency_mhz);
    int answering = band == 0 ? 0 : 1;
    if (channel != answering || power <= 0) return cfg.idle_mv;
    int level = clamp_level(power);
    double mv = default_cal_get_mv(rf_band_token(band), table_mcs(mcs), level);
    if (mv < 0) mv = cfg.idle_mv;
    mv += cfg.offset_mv + cfg.band_offset_mv[band];
    if (cfg.over_power_level > 0 && power >= cfg.over_power_level) mv += cfg.over_power_mv;
    return mv;
}

double rf_reference_dbm(int frequency_mhz, int mcs, int power) {
    if (power <= 0) return 0;
    char column[16];
    std::snprintf(column, sizeof column, "MCS%d_mW", table_mcs(mcs));
    double mw = table_cell(band_text(rf_band_of(frequency_mhz)), column, clamp_level(power));
    return mw > 0 ? 10.0 * std::log10(mw) : 0;
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
