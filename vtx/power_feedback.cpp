#include <orvi/power_feedback.h>

#include <climits>
#include <cmath>
#include <cstdio>

#include <orvi/radio_control.h>

namespace {

constexpr double kDefaultTolerance = 0.05;
constexpr int kMaxPowerIdx = 63;

// The active profile, or null (with a message) when the record has none.
vtx_profile_t* active_profile(vtx_config_t* config, const PowerControl* control, const char* caller) {
    if (!config || !control || config->active_profile_idx < 0 ||
        static_cast<size_t>(config->active_profile_idx) >= config->profiles.size()) {
        std::fprintf(stderr, "%s: no active profile\n", caller);
        return nullptr;
    }
    return &config->profiles[config->active_profile_idx];
}

// Truncation toward zero that saturates instead of overflowing (a detector
// glitch must not become undefined behaviour).
int to_int_saturated(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

int apply_power(vtx_config_t* config, const vtx_profile_t& profile, int index, bool flag) {
    return set_power(config->card, index, profile.pit_power_idx, flag, config->enable_pit);
}

// Clears what an adjustment leaves behind; large targets keep the band's
// lower edge, small ones the last measurement (the band is too narrow there
// to hold on to).
void settle(PowerControl* control, int target, int lower, int measured) {
    control->step_count = 0;
    control->direction = POWER_STEP_NONE;
    control->tolerance = kDefaultTolerance;
    control->lower_mw = target > 999 ? lower : measured;
}

// One measurement against the target and its accepted band, mW.
struct PowerReading {
    int target;
    int lower;
    int upper;
    int measured;
};

void step_to(vtx_config_t* config, const vtx_profile_t& p, int index, bool flag) {
    if (apply_power(config, p, index, flag) != 0) std::printf("Failed to set requested power setting.\n");
}

void end_adjustment(PowerControl* control, const PowerReading& r, std::deque<int>& samples) {
    control->active = false;
    settle(control, r.target, r.lower, r.measured);
    samples.clear();
}

// In the band: the adjustment is over; a little over the target still goes
// one index lower.
void finish_in_band(vtx_config_t* config, PowerControl* control, const vtx_profile_t& p,
                    const PowerReading& r, std::deque<int>& samples, bool flag) {
    control->active = false;
    control->step_count = 0;
    control->direction = POWER_STEP_NONE;
    control->tolerance = kDefaultTolerance;
    samples.clear();
    control->lower_mw = r.lower;
    if (r.measured > r.target && p.power_idx > 1) step_to(config, p, p.power_idx - 1, flag);
}

void step_up(vtx_config_t* config, PowerControl* control, const vtx_profile_t& p,
             const PowerReading& r, std::deque<int>& samples, bool flag) {
    if (control->direction == POWER_STEP_DOWN && control->step_count > 2) {
        end_adjustment(control, r, samples);  // came down past the band and would go back up: oscillation
        return;
    }
    control->step_count += 1;
    control->direction = POWER_STEP_UP;
    control->power_idx_offset += 1;
    if (p.power_idx + control->power_idx_offset > kMaxPowerIdx) {
        control->power_idx_offset -= 1;
        end_adjustment(control, r, samples);  // ceiling
        return;
    }
    step_to(config, p, p.power_idx + control->power_idx_offset, flag);
}

void step_down(vtx_config_t* config, PowerControl* control, const vtx_profile_t& p,
               const PowerReading& r, std::deque<int>& samples, bool flag) {
    control->direction = POWER_STEP_DOWN;
    control->step_count += 1;
    control->power_idx_offset -= 1;
    if (p.power_idx + control->power_idx_offset <= 0) {
        end_adjustment(control, r, samples);  // floor
        return;
    }
    step_to(config, p, p.power_idx + control->power_idx_offset, flag);
}

// One step of an adjustment under way.
void adjust_toward_target(vtx_config_t* config, PowerControl* control, const vtx_profile_t& p,
                          const PowerReading& r, std::deque<int>& samples, bool flag) {
    if (r.measured >= r.lower && r.measured <= r.upper) {
        finish_in_band(config, control, p, r, samples, flag);
    } else if (r.measured < r.target) {
        step_up(config, control, p, r, samples, flag);
    } else if (r.measured != r.target) {
        step_down(config, control, p, r, samples, flag);
    }
}

}  // namespace

void power_feedback_loop(vtx_config_t* config, PowerControl* control, double measured_dbm, bool flag) {
    static std::deque<int> power_samples;

    vtx_profile_t* profile = active_profile(config, control, "power_feedback_loop");
    if (!profile) return;
    const vtx_profile_t& p = *profile;

    // The first measurement after a request still shows the old power.
    if (control->active && control->step_count == 0) {
        control->step_count = 1;
        return;
    }

    const int measured = to_int_saturated(std::pow(10.0, measured_dbm / 10.0));
    const int target = p.power;
    const int lower =
        control->lower_mw != 0 ? control->lower_mw : to_int_saturated((1.0 - control->tolerance) * target);

    power_samples.push_back(measured);
    while (power_samples.size() > 0 && static_cast<long long>(power_samples.size()) > control->window) {
        power_samples.pop_front();
    }

    if (p.power_idx == kMaxPowerIdx) {
        control->active = false;
        return;
    }

    const int upper = to_int_saturated((1.0 + control->tolerance) * target);

    if (control->active) {
        if (config->enable_pit) return;
        adjust_toward_target(config, control, p, {target, lower, upper, measured}, power_samples, flag);
        return;
    }

    if (static_cast<long long>(power_samples.size()) == control->window) {
        steady_state_power_feedback_loop(config, control, power_samples, lower, upper, measured, flag);
    }
}

void steady_state_power_feedback_loop(vtx_config_t* config, PowerControl* control, std::deque<int>& samples,
                                      int lower_mw, int upper_mw, int measured_mw, bool flag) {
    static int power_over_limit_cnt = 0;

    vtx_profile_t* profile = active_profile(config, control, "steady_state_power_feedback_loop");
    if (!profile) return;
    const vtx_profile_t& p = *profile;

    if (control->active || p.power_idx == kMaxPowerIdx ||
        static_cast<long long>(samples.size()) != control->window) {
        return;
    }

    // An average of no samples says nothing about the output power; taking
    // it as 0 mW would raise the power on every measurement.
    if (control->window <= 0) return;
    long long sum = 0;
    for (int sample : samples) sum += sample;
    const long long average = sum / control->window;

    if (average < lower_mw) {
        power_over_limit_cnt = 0;
        if (p.power_idx + control->power_idx_offset > 62) {
            settle(control, p.power, lower_mw, measured_mw);  // no room to step up
        } else {
            control->power_idx_offset += 1;
            apply_power(config, p, p.power_idx + control->power_idx_offset, flag);
        }
        samples.clear();
        return;
    }
    if (average <= upper_mw) {
        power_over_limit_cnt = 0;
        samples.clear();
        return;
    }

    if (p.power_idx + control->power_idx_offset < 2) return;
    // Over the band: step down only after six evaluations in a row (the
    // window slides by one sample between them), then at every full window.
    if (power_over_limit_cnt <= 4) {
        power_over_limit_cnt += 1;
        return;
    }
    control->power_idx_offset -= 1;
    apply_power(config, p, p.power_idx + control->power_idx_offset, flag);
    samples.clear();
}
