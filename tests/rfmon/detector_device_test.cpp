// The ADS7142 and temperature-sensor transactions against the simulated
// board's devices, each fault on a board of its own.
#include "detector_device.h"

#include <sstream>
#include <string>
#include <vector>

#include "own_board.h"
#include "table_files.h"

namespace {

using Trace = std::vector<std::string>;

TEST(DataBuffer, DecodesWordsIntoRunningPeaks) {
    struct Case {
        const char* name;
        const char* words;  // one buffer: sixteen words, or channel 0 and 1 repeated
        double ch0_before, ch1_before;
        double ch0_after, ch1_after;
    };
    const std::vector<Case> cases = {
        {"full scale on channel 0", "fff0 0000", 0, 0, 1799.560546875, 0},
        {"half scale", "8000 8000", 0, 0, 900.0, 900.0},
        {"low four bits ignored", "800f 8001", 0, 0, 900.0, 900.0},
        {"one code", "0010 0000", 0, 0, 0.439453125, 0},
        {"peaks never fall", "8000 0010", 1000, 1, 1000, 1},
        {"largest word of each channel wins",
         "1000 2000 1000 2000 9000 2000 1000 2000 1000 2000 1000 2000 1000 2000 1000 a00f", 0, 0,
         0x900 * 1800.0 / 4096, 0xA00 * 1800.0 / 4096},
    };
    BoardSetup board;  // one buffer read per case, in order
    for (const auto& c : cases) board.adc_script.push_back(c.words);
    if (!on_board(board))
        return;
    const BoardBus bus(0x1D);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sensor_data_t record{};
        record.ch0_mv = c.ch0_before;
        record.ch1_mv = c.ch1_before;
        ASSERT_EQ(read_all_data_buffer_entries_by_channel(bus.fd, &record, &record.ch1_mv), 0);
        EXPECT_DOUBLE_EQ(record.ch0_mv, c.ch0_after);
        EXPECT_DOUBLE_EQ(record.ch1_mv, c.ch1_after);
        EXPECT_EQ(take_i2c_trace(), (Trace{"write 0x1d 3b ok", "read 0x1d 32 ok"}));
    }
}

TEST(DataBuffer, FailedTransfersLeaveThePeaks) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"transfer:nak:at=1", "Failed to send read command to the i2c bus: Remote I/O error\n"},
        {"transfer:short:at=1", "Failed to send read command to the i2c bus: Input/output error\n"},
        {"transfer:nak:at=2", "Failed to read from the i2c bus: Remote I/O error\n"},
        {"transfer:short:at=2", "Failed to read from the i2c bus: Input/output error\n"},
    };
    for (const auto& [fault, message] : cases) {
        SCOPED_TRACE(fault);
        if (!on_board({{"--fault", fault}, {"fff0 fff0"}}))
            continue;
        const BoardBus bus(0x1D);
        sensor_data_t record{};
        record.ch0_mv = 5;
        record.ch1_mv = 6;
        int result = 0;
        const Captured got = capture_output([&] {
            result = read_all_data_buffer_entries_by_channel(bus.fd, &record, &record.ch1_mv);
        });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(got.err, message);
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
        const char* option;
        const char* value;
        int result;
        const char* message;
    };
    const std::vector<Case> cases = {
        // The sensor's highest word (-0.0625 C) is a word, not a failure.
        {"--temp-start", "-0.0625", 0xFFF0, ""},
        {"--temp-start", "18.1875", 0x1230, ""},
        {"--fault", "transfer:nak:at=1", -1, "Failed to write to the i2c bus: Remote I/O error\n"},
        {"--fault", "transfer:nak:at=2", -1, "Failed to read from the i2c bus: Remote I/O error\n"},
        {"--fault", "transfer:short:at=2", -1,
         "Failed to read from the i2c bus: Input/output error\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        if (!on_board({{c.option, c.value}}))
            continue;
        const BoardBus bus(0x48);
        int result = 0;
        const Captured got = capture_output([&] { result = read_word_data(bus.fd, 0x00); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(got.err, c.message);
        EXPECT_EQ(take_i2c_trace().at(0).rfind("write 0x48 00 ", 0), 0u);
    }
}

TEST(Registers, SingleRegisterTransactions) {
    if (on_board({})) {
        const BoardBus bus(0x1D);
        EXPECT_EQ(write_register(bus.fd, OPMODE_SEL, 0x06), 0);
        EXPECT_EQ(read_register(bus.fd, OPMODE_SEL), 0x06);
        EXPECT_EQ(write_register(bus.fd, DOUT_FORMAT_CFG, 0xFF), 0);
        EXPECT_EQ(read_register(bus.fd, DOUT_FORMAT_CFG), 255);
        EXPECT_EQ(take_i2c_trace(),
                  (Trace{"write 0x1d 08 1c 06 ok", "write 0x1d 10 1c ok", "read 0x1d 1 ok",
                         "write 0x1d 08 28 ff ok", "write 0x1d 10 28 ok", "read 0x1d 1 ok"}));
    }
    struct Case {
        int which;  // 0 write_register, 1 read_register
        const char* fault;
        const char* message;
    };
    const std::vector<Case> cases = {
        {0, "transfer:nak:at=1", "Failed to write to the i2c bus: Remote I/O error\n"},
        {0, "transfer:short:at=1", "Failed to write to the i2c bus: Input/output error\n"},
        {1, "transfer:nak:at=1", "Failed to set register for reading: Remote I/O error\n"},
        {1, "transfer:short:at=1", "Failed to set register for reading: Input/output error\n"},
        {1, "transfer:nak:at=2", "Failed to read from the i2c bus: Remote I/O error\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        if (!on_board({{"--fault", c.fault}}, c.message))
            continue;
        const BoardBus bus(0x1D);
        int result = 0;
        const Captured got = capture_output([&] {
            result =
                c.which == 0 ? write_register(bus.fd, WKEY, 0x0A) : read_register(bus.fd, WKEY);
        });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(got.err, c.message);
    }
}

TEST(Reset, SequenceAndMessages) {
    struct Case {
        bool verbose;
        const char* fault;  // "" none
        int result;
        const char* out;
        const char* err;
        const char* outcomes;  // of the three register writes made
    };
    const char* perror_line = "Failed to write to the i2c bus: Remote I/O error\n";
    const std::vector<Case> cases = {
        {false, "", 0, "", "", "ok ok ok"},
        {true, "", 0, "Device reset successfully.\nWKEY register set to 0x00 for safety.\n", "",
         "ok ok ok"},
        {false, "transfer:nak:at=1", -1, "", perror_line, "nak"},
        {true, "transfer:nak:at=1", -1, "Failed to write to WKEY register.\n", perror_line, "nak"},
        {true, "transfer:nak:at=2", -1, "Failed to write to DEVICE_RESET register.\n", perror_line,
         "ok nak"},
        {false, "transfer:nak:at=3", -1, "", perror_line, "ok ok nak"},
        {true, "transfer:nak:at=3", -1,
         "Device reset successfully.\nFailed to write to WKEY register for safety.\n", perror_line,
         "ok ok nak"},
    };
    const Trace writes{"write 0x1d 08 17 0a ", "write 0x1d 08 14 01 ", "write 0x1d 08 17 00 "};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.out) + "/" + c.fault);
        std::vector<std::string> options;
        if (*c.fault)
            options = {"--fault", c.fault};
        if (!on_board({options}, c.out))
            continue;
        const BoardBus bus(0x1D);
        int result = 0;
        const Captured got = capture_output([&] { result = reset_device(bus.fd, c.verbose); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(got.err, c.err);
        Trace expected;
        std::istringstream outcomes(c.outcomes);
        for (std::string word; outcomes >> word;)
            expected.push_back(writes[expected.size()] + word);
        EXPECT_EQ(take_i2c_trace(), expected);
    }
}

TEST(Probe, MissingBusIsAbsent) {
    // Bus numbers far beyond any real or simulated adapter.
    EXPECT_EQ(check_i2c_device(9999, ADS7142_ADDRESS), -1);
    EXPECT_EQ(check_i2c_device(-1, TEMP_SENSOR_ADDRESS), -1);
}

}  // namespace
