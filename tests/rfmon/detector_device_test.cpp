// The ADS7142 and temperature-sensor transactions against the scripted bus.
#include "detector_device.h"

#include <string>
#include <vector>

#include "fake_i2c_bus.h"
#include "table_files.h"

namespace {

using Trace = std::vector<std::string>;

std::string hex32(const std::array<uint8_t, 32>& b) {
    std::string s;
    char t[4];
    for (uint8_t x : b) {
        std::snprintf(t, sizeof t, " %02x", x);
        s += t;
    }
    return s;
}

TEST(DataBuffer, DecodesWordsIntoRunningPeaks) {
    struct Case {
        const char* name;
        std::array<uint8_t, 32> buffer;
        double ch0_before, ch1_before;
        double ch0_after, ch1_after;
    };
    std::array<uint8_t, 32> mixed = words_buffer(0x1000, 0x2000);
    mixed[8] = 0x90;  // pair 2, channel 0: 0x9000
    mixed[9] = 0x00;
    mixed[30] = 0xA0;  // pair 7, channel 1: 0xA00F
    mixed[31] = 0x0F;
    const std::vector<Case> cases = {
        {"full scale on channel 0", words_buffer(0xFFF0, 0x0000), 0, 0, 1799.560546875, 0},
        {"half scale", words_buffer(0x8000, 0x8000), 0, 0, 900.0, 900.0},
        {"low four bits ignored", words_buffer(0x800F, 0x8001), 0, 0, 900.0, 900.0},
        {"one code", words_buffer(0x0010, 0x0000), 0, 0, 0.439453125, 0},
        {"peaks never fall", words_buffer(0x8000, 0x0010), 1000, 1, 1000, 1},
        {"largest word of each channel wins", mixed, 0, 0, 0x900 * 1800.0 / 4096,
         0xA00 * 1800.0 / 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeI2cBus bus;
        bus.buffer = [&](int) { return c.buffer; };
        bus.current = 0x1D;
        sensor_data_t record{};
        record.ch0_mv = c.ch0_before;
        record.ch1_mv = c.ch1_before;
        ASSERT_EQ(read_all_data_buffer_entries_by_channel(bus.fd, &record, &record.ch1_mv), 0);
        EXPECT_DOUBLE_EQ(record.ch0_mv, c.ch0_after);
        EXPECT_DOUBLE_EQ(record.ch1_mv, c.ch1_after);
        EXPECT_EQ(bus.trace(), (Trace{"W 1d 3b", "R 1d" + hex32(c.buffer)}));
    }
}

TEST(DataBuffer, FailedTransfersLeaveThePeaks) {
    struct Case {
        int transfer;
        bool short_transfer;
        const char* message;
    };
    const std::vector<Case> cases = {
        {0, false, "Failed to send read command to the i2c bus: Remote I/O error\n"},
        {0, true, "Failed to send read command to the i2c bus: Input/output error\n"},
        {1, false, "Failed to read from the i2c bus: Remote I/O error\n"},
        {1, true, "Failed to read from the i2c bus: Input/output error\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakeI2cBus bus;
        bus.buffer = [](int) { return words_buffer(0xFFF0, 0xFFF0); };
        bus.fail_transfers = {c.transfer};
        bus.fail_short = c.short_transfer;
        sensor_data_t record{};
        record.ch0_mv = 5;
        record.ch1_mv = 6;
        int result = 0;
        const Captured got = capture_output([&] {
            result = read_all_data_buffer_entries_by_channel(bus.fd, &record, &record.ch1_mv);
        });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(got.err, c.message);
        EXPECT_EQ(got.out, "");
        EXPECT_EQ(record.ch0_mv, 5);
        EXPECT_EQ(record.ch1_mv, 6);
    }
}

TEST(Temperature, ConvertsTwelveBitTwosComplement) {
    const std::vector<std::pair<int, float>> cases = {
        {0x1900, 25.0f},   {0xFFF0, -0.0625f}, {0xE700, -25.0f}, {0x7FF0, 127.9375f},
        {0x8000, -128.0f}, {0x0000, 0.0f},     {0x190F, 25.0f},  {0x0010, 0.0625f},
        {0x4B00, 75.0f},   {0x4B10, 75.0625f},
    };
    for (const auto& [raw, celsius] : cases) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(convert_to_celsius(raw), celsius);
    }
}

TEST(Temperature, WordReadIsBigEndianAndDistinctFromFailure) {
    struct Case {
        uint16_t word;
        std::set<int> fail;
        bool short_transfer;
        int result;
        const char* message;
    };
    const std::vector<Case> cases = {
        {0xFFFF, {}, false, 65535, ""},
        {0x1234, {}, false, 0x1234, ""},
        {0x1900, {0}, false, -1, "Failed to write to the i2c bus: Remote I/O error\n"},
        {0x1900, {1}, false, -1, "Failed to read from the i2c bus: Remote I/O error\n"},
        {0x1900, {1}, true, -1, "Failed to read from the i2c bus: Input/output error\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        FakeI2cBus bus;
        bus.temperature_word = c.word;
        bus.fail_transfers = c.fail;
        bus.fail_short = c.short_transfer;
        bus.current = 0x48;
        int result = 0;
        const Captured got = capture_output([&] { result = read_word_data(bus.fd, 0x00); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(got.err, c.message);
        EXPECT_EQ(bus.trace().at(0), "W 48 00");
    }
}

TEST(Registers, SingleRegisterTransactions) {
    FakeI2cBus bus;
    bus.current = 0x1D;
    EXPECT_EQ(write_register(bus.fd, OPMODE_SEL, 0x06), 0);
    EXPECT_EQ(read_register(bus.fd, OPMODE_SEL), 0x06);
    EXPECT_EQ(write_register(bus.fd, DOUT_FORMAT_CFG, 0xFF), 0);
    EXPECT_EQ(read_register(bus.fd, DOUT_FORMAT_CFG), 255);
    EXPECT_EQ(bus.trace(), (Trace{"W 1d 08 1c 06", "W 1d 10 1c", "R 1d 06", "W 1d 08 28 ff",
                                  "W 1d 10 28", "R 1d ff"}));

    struct Case {
        int which;  // 0 write_register, 1 read_register
        std::set<int> fail;
        bool short_transfer;
        const char* message;
    };
    const std::vector<Case> cases = {
        {0, {0}, false, "Failed to write to the i2c bus: Remote I/O error\n"},
        {0, {0}, true, "Failed to write to the i2c bus: Input/output error\n"},
        {1, {0}, false, "Failed to set register for reading: Remote I/O error\n"},
        {1, {0}, true, "Failed to set register for reading: Input/output error\n"},
        {1, {1}, false, "Failed to read from the i2c bus: Remote I/O error\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakeI2cBus failing;
        failing.current = 0x1D;
        failing.fail_transfers = c.fail;
        failing.fail_short = c.short_transfer;
        int result = 0;
        const Captured got = capture_output([&] {
            result = c.which == 0 ? write_register(failing.fd, WKEY, 0x0A)
                                  : read_register(failing.fd, WKEY);
        });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(got.err, c.message);
    }
}

TEST(Reset, SequenceAndMessages) {
    struct Case {
        bool verbose;
        int fail;  // transfer that fails, -1 none
        int result;
        const char* out;
        const char* err;
        size_t transfers;
    };
    const char* perror_line = "Failed to write to the i2c bus: Remote I/O error\n";
    const std::vector<Case> cases = {
        {false, -1, 0, "", "", 3},
        {true, -1, 0, "Device reset successfully.\nWKEY register set to 0x00 for safety.\n", "", 3},
        {false, 0, -1, "", perror_line, 1},
        {true, 0, -1, "Failed to write to WKEY register.\n", perror_line, 1},
        {true, 1, -1, "Failed to write to DEVICE_RESET register.\n", perror_line, 2},
        {false, 2, -1, "", perror_line, 3},
        {true, 2, -1, "Device reset successfully.\nFailed to write to WKEY register for safety.\n",
         perror_line, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.out) + "/" + std::to_string(c.fail));
        FakeI2cBus bus;
        bus.current = 0x1D;
        if (c.fail >= 0)
            bus.fail_transfers = {c.fail};
        int result = 0;
        const Captured got = capture_output([&] { result = reset_device(bus.fd, c.verbose); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(got.err, c.err);
        const Trace full{"W 1d 08 17 0a", "W 1d 08 14 01", "W 1d 08 17 00"};
        Trace seen = bus.trace();
        ASSERT_EQ(seen.size(), c.transfers);
        for (size_t i = 0; i < seen.size(); ++i) {
            if (static_cast<int>(i) != c.fail) {
                EXPECT_EQ(seen[i], full[i]);
            }
        }
    }
}

TEST(Probe, MissingBusIsAbsent) {
    // Bus numbers far beyond any real or simulated adapter.
    EXPECT_EQ(check_i2c_device(9999, ADS7142_ADDRESS), -1);
    EXPECT_EQ(check_i2c_device(-1, TEMP_SENSOR_ADDRESS), -1);
}

}  // namespace
