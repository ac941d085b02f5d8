// The band a calibration writes follows its frequency (frequency_bands.*):
// the real orvi-rfmon on the simulated board, in virtual time.
#include <gtest/gtest.h>

#include <string>

#include "calibration_board.h"
#include "test_support.h"

namespace {

TEST_F(CalibrationOnBoard, BandFollowsTheFrequency) {
    // 5500 MHz is band 55 (5_1), 5600 MHz 5_8, 2484 MHz 2_4; 4900 MHz is
    // refused after the frequency command and the wait. The unit puts out
    // 2 dB less, so that no band reaches the power guard.
    BoardRun r = run({"--output-loss", "2"},
                     {"-calibrate", "-f", "5500", "-f", "5600", "-f", "2484", "-f", "4900", "-m", "0"},
                     {}, "0", {"5500_0", "5600_0", "2484_0"});
    ASSERT_EQ(r.process.exit_code, 1) << r.process.err;
    for (int frequency : {5500, 5600, 2484}) {
        const Band band = band_of(frequency);
        const std::string name = std::string("calibrated_") + band.token + ".csv";
        std::string expected = "Power_Level,MCS0_mV,MCS0_mW\n";
        for (int level = 1; level <= 60; ++level) {
            expected += std::to_string(level) + "," + r.cells(name, frequency, 0, level) + "\n";
        }
        expected += lines(61, 63, ",-1,-1");
        EXPECT_EQ(r.tables[std::string("calibrated_") + band.token + ".csv"], expected) << frequency;
    }
    EXPECT_EQ(r.process.err,
              "Error: Invalid frequency 4900 MHz\n"
              "Calibration failed for Frequency: 4900 MHz, MCS: 0\n");
    EXPECT_TRUE(contains(r.process.out,
                         "Set frequency to 4900 MHz\nSleeping 7 seconds while frequency changes...\n"));
    EXPECT_TRUE(contains(r.tools_log,
                         "orvi-configure-vtx -F 4900\norvi-configure-vtx -m 0\n"
                         "orvi-configure-vtx -F 4900\norvi-send-command vtx_latency stop_test 1\n"));
}

}  // namespace
