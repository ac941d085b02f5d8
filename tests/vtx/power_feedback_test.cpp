#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "test_support.h"
#include <orvi/power_feedback.h>

namespace {

double dbm(double mw) { return 10.0 * std::log10(mw); }

class PowerFeedback : public ::testing::Test {
protected:
    FakeTools tools{{"iw"}};
    vtx_config_t config;

    void SetUp() override {
        config.card = "wlan0";
        config.enable_pit = false;
        config.profiles.resize(2);
        config.active_profile_idx = 1;
        use_profile(100, 20);
        settle_loops();
    }

    void use_profile(int power_mw, int power_idx) {
        vtx_profile_t& p = config.profiles[1];
        p.power = power_mw;
        p.power_idx = power_idx;
        p.pit_power_idx = 5;
    }

    // The loops keep process-wide state (sample queue, over-limit count):
    // bring both to rest through the loops themselves.
    void settle_loops() {
        PowerControl control;
        control.active = true;
        control.step_count = 1;
        const int target = config.profiles[1].power;
        capture_output([&] { power_feedback_loop(&config, &control, dbm(target * 0.98), false); });
        std::deque<int> in_band(static_cast<size_t>(control.window), target);
        steady_state_power_feedback_loop(&config, &control, in_band, target - 1, target + 1, target, false);
        tools.clear_calls();
    }

    // Indices handed to the radio since the last look.
    std::vector<int> indices() {
        std::vector<int> out;
        for (const auto& call : tools.calls()) {
            const std::string prefix = "iw [dev] [wlan0] [set] [txpower] [fixed] [";
            EXPECT_EQ(call.rfind(prefix, 0), 0u) << call;
            out.push_back(std::stoi(call.substr(prefix.size())));
        }
        tools.clear_calls();
        return out;
    }

    std::string feed(PowerControl& control, double measured_dbm, bool flag = false) {
        return capture_output([&] { power_feedback_loop(&config, &control, measured_dbm, flag); }).out;
    }

    static PowerControl requested() {
        PowerControl control;
        control.active = true;
        return control;
    }
};

TEST_F(PowerFeedback, InBandEndsTheAdjustment) {
    struct Row {
        double measured_dbm;
        std::vector<int> set;
    };
    // Target 100 mW, tolerance 0.05: 95 to 105 mW is in band.
    const std::vector<Row> rows = {
        {20.0, {}},    // 100 mW
        {20.2, {19}},  // 104 mW: a little over, one index lower
        {dbm(95.5), {}}, {dbm(105.5), {19}},
    };
    for (const auto& row : rows) {
        PowerControl control = requested();
        control.tolerance = 0.05;
        control.direction = POWER_STEP_UP;
        feed(control, 30.0);  // the first measurement after a request is discarded
        EXPECT_EQ(control.step_count, 1);
        EXPECT_TRUE(control.active);
        feed(control, row.measured_dbm);
        EXPECT_FALSE(control.active) << row.measured_dbm;
        EXPECT_EQ(control.step_count, 0);
        EXPECT_EQ(control.direction, POWER_STEP_NONE);
        EXPECT_EQ(control.lower_mw, 95);
        EXPECT_EQ(control.power_idx_offset, 0);
        EXPECT_EQ(indices(), row.set) << row.measured_dbm;
    }

    // At index 1 there is nothing lower to go to; the tolerance returns to its default.
    use_profile(100, 1);
    PowerControl control = requested();
    control.tolerance = 0.2;
    feed(control, 0.0);
    feed(control, 20.2);
    EXPECT_FALSE(control.active);
    EXPECT_DOUBLE_EQ(control.tolerance, 0.05);
    EXPECT_EQ(indices(), std::vector<int>{}) << "index 1 has no lower index";
}

TEST_F(PowerFeedback, StepsDownThenStopsOnOscillation) {
    PowerControl control = requested();
    feed(control, 0.0);
    feed(control, dbm(125));
    EXPECT_EQ(control.direction, POWER_STEP_DOWN);
    EXPECT_EQ(control.step_count, 2);
    feed(control, dbm(115));
    EXPECT_EQ(control.step_count, 3);
    EXPECT_EQ(control.power_idx_offset, -2);
    EXPECT_EQ(indices(), (std::vector<int>{19, 18}));

    feed(control, dbm(80.5));  // under the band after two steps down
    EXPECT_FALSE(control.active);
    EXPECT_EQ(control.step_count, 0);
    EXPECT_EQ(control.direction, POWER_STEP_NONE);
    EXPECT_EQ(control.lower_mw, 80);  // the measurement, for targets up to 999 mW
    EXPECT_EQ(control.power_idx_offset, -2);
    EXPECT_EQ(indices(), std::vector<int>{});

    // After one step down only, a low reading steps back up.
    settle_loops();
    control = requested();
    feed(control, 0.0);
    feed(control, dbm(125));
    feed(control, dbm(80.5));
    EXPECT_TRUE(control.active);
    EXPECT_EQ(control.direction, POWER_STEP_UP);
    EXPECT_EQ(control.step_count, 3);
    EXPECT_EQ(indices(), (std::vector<int>{19, 20}));

    // Above 999 mW the band's lower edge is kept instead.
    use_profile(1000, 40);
    settle_loops();
    control = requested();
    feed(control, 0.0);
    feed(control, dbm(1300));
    feed(control, dbm(1300));
    feed(control, dbm(500));
    EXPECT_FALSE(control.active);
    EXPECT_EQ(control.lower_mw, 950);
    EXPECT_EQ(indices(), (std::vector<int>{39, 38}));
}

TEST_F(PowerFeedback, CeilingFloorAndTopIndex) {
    use_profile(100, 60);
    PowerControl control = requested();
    control.step_count = 1;
    control.power_idx_offset = 2;
    feed(control, 10.0);
    EXPECT_TRUE(control.active);
    EXPECT_EQ(control.power_idx_offset, 3);
    EXPECT_EQ(indices(), std::vector<int>{63});

    feed(control, 10.0);  // 64 would be out of range
    EXPECT_FALSE(control.active);
    EXPECT_EQ(control.power_idx_offset, 3);
    EXPECT_EQ(control.lower_mw, 10);
    EXPECT_EQ(indices(), std::vector<int>{});

    use_profile(100, 2);
    settle_loops();
    control = requested();
    control.step_count = 1;
    feed(control, 25.0);
    EXPECT_EQ(indices(), std::vector<int>{1});
    feed(control, 25.0);  // index 0 does not exist: the floor ends it, keeping the offset
    EXPECT_FALSE(control.active);
    EXPECT_EQ(control.power_idx_offset, -2);
    EXPECT_EQ(indices(), std::vector<int>{});

    use_profile(100, 63);
    control = requested();
    control.step_count = 1;
    feed(control, 10.0);
    EXPECT_FALSE(control.active);
    EXPECT_EQ(indices(), std::vector<int>{});
}

TEST_F(PowerFeedback, PitModeAndFailedSteps) {
    config.enable_pit = true;
    PowerControl control = requested();
    control.step_count = 1;
    feed(control, 10.0);
    EXPECT_TRUE(control.active) << "no steering while PIT mode is on";
    EXPECT_EQ(indices(), std::vector<int>{});

    config.enable_pit = false;
    tools.set_status("iw", 1);
    EXPECT_EQ(feed(control, 10.0), "Failed to set requested power setting.\n");
    EXPECT_EQ(control.power_idx_offset, 1);
    EXPECT_EQ(indices(), std::vector<int>{21});
}

TEST_F(PowerFeedback, DetectorGarbageStaysDefined) {
    PowerControl control = requested();
    control.step_count = 1;
    feed(control, 1000.0);  // 10^100 mW: as high as an int goes
    EXPECT_EQ(indices(), std::vector<int>{19});
    feed(control, std::nan(""));  // no power at all
    EXPECT_EQ(indices(), std::vector<int>{20});
    feed(control, -INFINITY);
    EXPECT_EQ(indices(), std::vector<int>{21});
    EXPECT_EQ(control.step_count, 4);
}

TEST_F(PowerFeedback, SlowLoopStepsDownOnTheSixthEvaluation) {
    PowerControl control;  // not active: the slow loop's turn
    std::vector<std::vector<int>> per_sample;
    for (int sample = 1; sample <= 25; ++sample) {
        feed(control, dbm(125));
        per_sample.push_back(indices());
    }
    for (int sample = 1; sample <= 25; ++sample) {
        // Windows of 10: evaluations from the 10th sample on, the sixth
        // (15th sample) steps down and starts a new window, whose first full
        // window (25th sample) steps down at once.
        const std::vector<int> expected = sample == 15 ? std::vector<int>{19}
                                          : sample == 25 ? std::vector<int>{18}
                                                         : std::vector<int>{};
        EXPECT_EQ(per_sample[static_cast<size_t>(sample - 1)], expected) << "sample " << sample;
    }
    EXPECT_EQ(control.power_idx_offset, -2);
}

TEST_F(PowerFeedback, SlowLoopStepsUpBelowTheBand) {
    PowerControl control;
    for (int sample = 1; sample <= 20; ++sample) {
        feed(control, dbm(80.5));
        EXPECT_EQ(indices(), (sample % 10 == 0 ? std::vector<int>{20 + sample / 10} : std::vector<int>{}))
            << "sample " << sample;
    }

    // PIT mode with the flag clear applies the profile's PIT index.
    config.enable_pit = true;
    for (int sample = 1; sample <= 10; ++sample) feed(control, dbm(80.5));
    EXPECT_EQ(indices(), std::vector<int>{5});
    for (int sample = 1; sample <= 10; ++sample) feed(control, dbm(80.5), true);
    EXPECT_EQ(indices(), std::vector<int>{24});
    config.enable_pit = false;

    // No room above: the state settles, nothing is set.
    control.power_idx_offset = 43;
    control.step_count = 4;
    control.tolerance = 0.1;
    for (int sample = 1; sample <= 10; ++sample) feed(control, dbm(80.5));
    EXPECT_EQ(indices(), std::vector<int>{});
    EXPECT_EQ(control.step_count, 0);
    EXPECT_DOUBLE_EQ(control.tolerance, 0.05);
    EXPECT_EQ(control.lower_mw, 80);
}

TEST_F(PowerFeedback, SlowLoopDirectly) {
    PowerControl control;
    control.window = 4;
    std::deque<int> samples = {100, 100, 100};  // not a full window
    steady_state_power_feedback_loop(&config, &control, samples, 95, 105, 100, false);
    EXPECT_EQ(samples.size(), 3u);

    samples = {96, 100, 104, 100};  // in band: the window starts over
    steady_state_power_feedback_loop(&config, &control, samples, 95, 105, 100, false);
    EXPECT_TRUE(samples.empty());

    // Over the band at the floor: nothing, and the window is kept.
    control.power_idx_offset = -19;
    samples = {200, 200, 200, 200};
    steady_state_power_feedback_loop(&config, &control, samples, 95, 105, 200, false);
    EXPECT_EQ(samples.size(), 4u);

    // An empty window says nothing about the power.
    control.window = 0;
    control.power_idx_offset = 0;
    samples.clear();
    steady_state_power_feedback_loop(&config, &control, samples, 95, 105, 0, false);
    EXPECT_EQ(control.power_idx_offset, 0);

    // A configuration without its active profile is refused.
    control.window = 4;
    samples = {10, 10, 10, 10};
    config.active_profile_idx = 5;
    Captured c = capture_output([&] {
        steady_state_power_feedback_loop(&config, &control, samples, 95, 105, 10, false);
        power_feedback_loop(&config, &control, 10.0, false);
    });
    config.active_profile_idx = 1;
    EXPECT_EQ(c.err, "steady_state_power_feedback_loop: no active profile\npower_feedback_loop: no active profile\n");
    EXPECT_EQ(control.power_idx_offset, 0);
    EXPECT_EQ(indices(), std::vector<int>{});
}

}  // namespace
