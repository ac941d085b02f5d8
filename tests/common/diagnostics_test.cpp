#include <orvi/diagnostics.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

TEST(Diagnostics, AverageLatencyKeepsTheLastTen) {
    std::deque<float> window;
    // Running means of 1..11 over a window of at most ten.
    const float expected[] = {1.0f, 1.5f, 2.0f, 2.5f, 3.0f, 3.5f, 4.0f, 4.5f, 5.0f, 5.5f, 6.5f};
    for (int i = 1; i <= 11; ++i) {
        EXPECT_FLOAT_EQ(calc_avg_latency(static_cast<float>(i), window), expected[i - 1]) << i;
    }
    EXPECT_EQ(window.size(), 10u);
    EXPECT_EQ(window.front(), 2.0f);
    EXPECT_EQ(window.back(), 11.0f);
    EXPECT_FLOAT_EQ(calc_avg_latency(100.0f, window), (65.0f - 2.0f + 100.0f) / 10.0f);

    std::deque<float> other;
    EXPECT_EQ(calc_avg_latency(-3.25f, other), -3.25f);
}

TEST(Diagnostics, MonotonicClockMovesForward) {
    const int64_t a = time_monotonic_ns();
    const int64_t b = time_monotonic_ns();
    EXPECT_GT(a, 0);
    EXPECT_GE(b, a);
}

TEST(Diagnostics, AnglesAndLedNames) {
    EXPECT_DOUBLE_EQ(degreesToRadians(180.0), M_PI);
    EXPECT_DOUBLE_EQ(degreesToRadians(-90.0), -M_PI / 2);
    EXPECT_FLOAT_EQ(radiansToDegrees(static_cast<float>(M_PI)), 180.0f);
    EXPECT_EQ(radiansToDegrees(0.0f), 0.0f);

    const std::pair<int, std::string> leds[] = {{0, "OFF"}, {1, "OVERT"}, {2, "IR"},
                                                {3, "???"}, {7, "???"}, {255, "???"}};
    for (const auto& [status, name] : leds)
        EXPECT_EQ(ledStatusToString(static_cast<uint8_t>(status)), name) << status;
}

TEST(Diagnostics, HexDumps) {
    const uint8_t bytes[] = {0x00, 0x0A, 0xFF, 0x7c};
    struct Case { const uint8_t* data; int len; std::string out; std::string err; };
    const Case cases[] = {
        {bytes, 3, "", "00 0a ff \n"},
        {bytes, 4, "", "00 0a ff 7c \n"},
        {bytes, 0, "", "\n"},
        {bytes, -5, "", "\n"},
        {nullptr, 3, "[ERROR] print_hex() --> FRAME NULLPTR\n", ""},
    };
    for (const Case& c : cases) {
        CaptureStdout();
        CaptureStderr();
        print_hex(c.data, c.len);
        EXPECT_EQ(GetCapturedStderr(), c.err) << c.len;
        EXPECT_EQ(GetCapturedStdout(), c.out) << c.len;
    }

    CaptureStdout();
    CaptureStderr();
    print_hex(std::make_shared<std::vector<uint8_t>>(std::vector<uint8_t>{0x00, 0x0A, 0xFF}));
    print_hex(std::make_shared<std::vector<uint8_t>>());
    print_hex(std::shared_ptr<std::vector<uint8_t>>());
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(GetCapturedStdout(), "00 0a ff \n\n[ERROR] print_hex() --> FRAME NULLPTR\n");

    CaptureStdout();
    print_all_fragments({std::make_shared<std::vector<uint8_t>>(std::vector<uint8_t>{0x80, 0x60}),
                         std::make_shared<std::vector<uint8_t>>(std::vector<uint8_t>{0x01}),
                         std::make_shared<std::vector<uint8_t>>()});
    EXPECT_EQ(GetCapturedStdout(), "80 60 \n01 \n\n");
}

}  // namespace
