#include <orvi/fec_sizing.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kNalH264Idr = 5;        // IDR slice
constexpr int kNalH265IdrWRadl = 19;  // IDR_W_RADL
constexpr int kMinFecPercent = 75;

// Float to int, truncating, saturated at the int range.
int to_int_saturated(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483648.0f) return INT_MAX;
    if (value < -2147483648.0f) return INT_MIN;
    return static_cast<int>(value);
}

int add_saturated(int a, long long b) {
    long long sum = static_cast<long long>(a) + b;
    return static_cast<int>(std::clamp<long long>(sum, INT_MIN, INT_MAX));
}

}  // namespace

void adjust_fec(int capacity_bytes, int frame_bytes, vtx_config_t* config, int nal_type, int period, int position) {
    static int fec_debt_bytes = 0;

    if (!config || config->active_profile_idx < 0 ||
        static_cast<size_t>(config->active_profile_idx) >= config->profiles.size()) {
        std::fprintf(stderr, "adjust_fec: no active profile\n");
        return;
    }
    const vtx_profile_t& p = config->profiles[config->active_profile_idx];
    if (p.mtu <= 0) return;      // no fragment size: nothing to size against
    if (frame_bytes <= 0) return;  // nothing to protect

    int budget = to_int_saturated(static_cast<float>(capacity_bytes) * 0.9f);
    const float fragments = std::ceil(static_cast<float>(frame_bytes) / static_cast<float>(p.mtu));
    const float header = p.codec == VENC_H265 ? 63.0f : 62.0f;
    const float bytes = static_cast<float>(frame_bytes) + fragments * header;
    const int cap = p.fps > 30 ? 100 : 200;

    if (nal_type == kNalH264Idr || nal_type == kNalH265IdrWRadl) {
        fec_debt_bytes = 0;
    } else if (period > 0 && fec_debt_bytes > 0 && period - position > 0) {
        const int share = fec_debt_bytes / (period - position);
        budget = static_cast<int>(std::max<long long>(static_cast<long long>(budget) - share, 0));
        fec_debt_bytes -= share;
    }

    const long long pct = static_cast<long long>(to_int_saturated(static_cast<float>(budget) / bytes * 100.0f)) - 100;
    if (pct <= kMinFecPercent - 1) {
        const float shortfall = 1.75f * bytes - static_cast<float>(budget);
        if (shortfall > 0.0f) fec_debt_bytes = add_saturated(fec_debt_bytes, to_int_saturated(shortfall));
        config->fec_percent = kMinFecPercent;
    } else if (pct == kMinFecPercent) {
        config->fec_percent = kMinFecPercent;
    } else if (pct > cap) {
        config->fec_percent = cap;
    } else {
        config->fec_percent = static_cast<int>(pct);
    }

    if (fec_debt_bytes > 0) {
        const int used =
            to_int_saturated((static_cast<float>(config->fec_percent) / 100.0f + 1.0f) * bytes);
        const long long surplus = static_cast<long long>(budget) - used;
        if (surplus > 0) fec_debt_bytes = static_cast<int>(std::max<long long>(fec_debt_bytes - surplus, 0));
    }
}
