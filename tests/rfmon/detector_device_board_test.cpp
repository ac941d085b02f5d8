// The device functions against the simulated board's own ADS7142 and
// temperature sensor (run under sim/orvi-sim-board: bus 1 holds both
// devices, bus 2 only the converter, bus 0 nothing, noise off).
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>

#include <string>

#include "board_bus.h"
#include "detector_device.h"

namespace {

TEST(BoardProbe, AnswersWhereDevicesSit) {
    struct Case {
        int bus, address, result;
    };
    const Case cases[] = {
        {1, ADS7142_ADDRESS, 0},
        {1, TEMP_SENSOR_ADDRESS, 0},
        {2, ADS7142_ADDRESS, 0},
        {2, TEMP_SENSOR_ADDRESS, -1},  // selected, but nobody takes the byte
        {0, ADS7142_ADDRESS, -1},
        {3, ADS7142_ADDRESS, -1},  // no such bus
        {1, 0x50, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bus) + "/" + std::to_string(c.address));
        EXPECT_EQ(check_i2c_device(c.bus, c.address), c.result);
    }
}

TEST_F(Board, RegistersResetAndTemperature) {
    ASSERT_EQ(ioctl(fd, I2C_SLAVE, ADS7142_ADDRESS), 0);
    ASSERT_EQ(write_register(fd, OPMODE_SEL, 0x06), 0);
    EXPECT_EQ(read_register(fd, OPMODE_SEL), 0x06);
    ASSERT_EQ(reset_device(fd, false), 0);
    EXPECT_EQ(read_register(fd, OPMODE_SEL), 0x00);
    EXPECT_EQ(read_register(fd, WKEY), 0x00);

    ASSERT_EQ(ioctl(fd, I2C_SLAVE, TEMP_SENSOR_ADDRESS), 0);
    const int word = read_word_data(fd, TEMP_POINTER_REGISTER);
    ASSERT_GE(word, 0);
    EXPECT_NEAR(convert_to_celsius(word), 35.0, 1.0);  // the board starts at 35 C
    EXPECT_EQ(word & 0xF, 0);                          // left-aligned 12 bits
}

}  // namespace
