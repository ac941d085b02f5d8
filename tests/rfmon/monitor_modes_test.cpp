// Monitoring cycles in-process on a board of the test's own: the monitor's
// current_power is the telemetry's power index while a search is pending,
// then the index the search chose; the search clears adjust_power.
#include "monitor_modes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "monitor_state.h"
#include "scripted_board.h"

namespace {

class MonitoringCycle : public BoardTableTest {};

TEST_F(MonitoringCycle, SearchStateFollowsTheTelemetryThenTheSearch) {
    // Index L reads code 0x100 + 4 L, which the tables convert to L / 2 dBm:
    // a 20 dBm target is index 40. The first reading's reset write fails.
    BoardSetup board = codes_by_power();
    board.options = {"--fault", "transfer:nak:at=1"};
    if (!on_own_board(board))
        return;
    std::map<int, double> table;
    for (int level = 1; level <= 60; ++level) table[0x100 + level * 4] = level / 2.0;
    write_table(table_path("5_8"), coded_table(table));
    write_table(table_path("2_4"), coded_table(table));
    g_frequency.store(5805);
    g_mcs.store(3);
    g_power_idx.store(17);
    adjust_power = true;
    current_power = 1;
    const monitor_settings_t settings = {1, 0.0, 20.0, 1.5, {}, nullptr, 0.2};
    sensor_data_t record;
    cycle_watch_t watch = {};
    take_configure_calls();

    bool read = true;
    const auto cycle = [&] { read = monitoring_cycle(fd, &record, settings, &watch); };
    Captured got = capture_output(cycle);
    EXPECT_FALSE(read);
    EXPECT_EQ(got.err,
              "Failed to write to the i2c bus: Remote I/O error\nError processing sensor data\n");
    EXPECT_TRUE(adjust_power);
    EXPECT_EQ(current_power, 17);

    got = capture_output(cycle);
    EXPECT_TRUE(read);
    EXPECT_FALSE(adjust_power);
    EXPECT_EQ(current_power, 40);
    EXPECT_EQ(take_configure_calls(), "-p 30\n-p 45\n-p 37\n-p 41\n-p 39\n-p 40\n-p 40\n");
    EXPECT_NE(got.out.find("Optimal power level found: 40\n"), std::string::npos) << got.out;

    // With the search done, the telemetry no longer moves it.
    g_power_idx.store(12);
    got = capture_output(cycle);
    EXPECT_TRUE(read);
    EXPECT_FALSE(adjust_power);
    EXPECT_EQ(current_power, 40);
    EXPECT_EQ(take_configure_calls(), "");
    EXPECT_NE(got.out.find("Freq: 5805 MHz   MCS: 3   Power: 12\n"), std::string::npos) << got.out;
}

}  // namespace
