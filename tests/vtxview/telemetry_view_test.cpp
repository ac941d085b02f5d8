#include "telemetry_view.h"

#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

vtx_data_t make_record(int32_t id, float in, float out, int32_t frame_type) {
    vtx_data_t r;
    std::memset(&r, 0, sizeof r);
    r.magic_number = PIPE_RECORD_MAGIC;
    r.id = id;
    r.input_mbps = in;
    r.output_mbps = out;
    r.vtx_latency_ms = 3.5f;
    r.frame_latency_ms = 16.25f;
    r.fec_latency_ms = 1.2f;
    r.exposure_ns = 8000000;
    r.packets_per_second = 900;
    r.fragments = 6;
    r.frame_type = frame_type;
    r.temperature_c = 41.125;
    r.power_dbm = 21.5;
    r.power_idx = 20;
    r.frequency = 5805;
    r.mcs = 3;
    r.fec = 25;
    return r;
}

std::vector<char> bytes_of(const std::vector<vtx_data_t>& records) {
    std::vector<char> bytes(records.size() * sizeof(vtx_data_t));
    if (!records.empty()) std::memcpy(bytes.data(), records.data(), bytes.size());
    return bytes;
}

std::string read_stream(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
}

TEST(TelemetryView, RowCsvAndJsonOfOneRecord) {
    const vtx_data_t r = make_record(-1, 8.25f, 10.3125f, 19);
    EXPECT_EQ(format_row(r, 3.5f, VENC_H265),
              "|      -1 |    8.2    |    10.3    |     3.500   |  3.500  | 16.250    |  1.200  |"
              "   8.00  |  41.12  |   21.50  |    20    |  900  |   6   | \033[1;33m 25\033[0m |"
              "  3  |  H265 (I)  |");
    EXPECT_EQ(format_csv_line(123456789012LL, r, 3.5f, VENC_H265),
              "123456789012,4294967295,8.2,10.3,3.500,3.500,16.250,1.200,8.00,41.12,21.50,900,6,25,"
              "3,H265 (I)\n");
    EXPECT_EQ(format_json(r, true, false, false, VENC_H265),
              "{\"result\":\"FAILED\",\"id\":-1,\"input_mbps\":8.25,\"output_mbps\":10.3125,"
              "\"vtx_latency_ms\":3.5,\"frame_latency_ms\":16.25,\"fec_latency_ms\":1.2,"
              "\"exposure_ms\":8,\"temperature_c\":41.125,\"power_dbm\":21.5,\"power_idx\":20,"
              "\"packets_per_second\":900,\"fragments\":6,\"fec\":25,\"mcs\":3,"
              "\"frame_type\":\"H265 (I)\"}");
    EXPECT_EQ(format_json(r, false, false, false, VENC_H264).substr(0, 8), "{\"id\":-1");
}

TEST(TelemetryView, RowsWiderThanAnyFixedBuffer) {
    vtx_data_t r = make_record(7, 1.0f, 1.0f, 1);
    r.temperature_c = 1e300;
    r.power_dbm = -1e300;
    // The exact decimal expansion of the double, 301 digits before the point.
    char big[400];
    std::snprintf(big, sizeof big, "%.2f", 1e300);
    ASSERT_EQ(std::strlen(big), 304u);
    EXPECT_EQ(format_row(r, 1.0f, VENC_H265),
              std::string("|       7 |    1.0    |     1.0    |     1.000   |  3.500  | 16.250    |"
                          "  1.200  |   8.00  |") +
                  big + "  |-" + big +
                  "  |    20    |  900  |   6   | \033[1;33m 25\033[0m |  3  |  H265 (P)  |");
    EXPECT_EQ(format_csv_line(1, r, 1.0f, VENC_H265),
              std::string("1,7,1.0,1.0,1.000,3.500,16.250,1.200,8.00,") + big + ",-" + big +
                  ",900,6,25,3,H265 (P)\n");
}

// The test ends at its first new record: later deliveries (already queued
// when the main thread notices) must not turn a FAILED into a PASSED.
TEST(TelemetryView, TestVerdictIsTheFirstRecords) {
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    std::atomic<int> running{1};
    telemetry_view_t view;
    view.test_mode = true;
    view.out = out;
    view.running = &running;

    auto first = bytes_of({make_record(0, 5.0f, 5.0f, 1), make_record(4, 5.0f, 0.0f, 1),
                           make_record(5, 5.0f, 5.0f, 1)});
    view_handle_delivery(view, first.data(), static_cast<int>(first.size()));
    EXPECT_EQ(running.load(), 0);
    EXPECT_TRUE(view.test_done);
    EXPECT_FALSE(view.test_passed);

    auto later = bytes_of({make_record(6, 5.0f, 5.0f, 1)});
    view_handle_delivery(view, later.data(), static_cast<int>(later.size()));
    EXPECT_FALSE(view.test_passed);
    EXPECT_EQ(read_stream(out), "\r\033[2K");
    std::fclose(out);
}

TEST(TelemetryView, JsonTestReportsTheRecordOnce) {
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    std::atomic<int> running{1};
    telemetry_view_t view;
    view.test_mode = true;
    view.json_mode = true;
    view.out = out;
    view.running = &running;

    auto batch = bytes_of({make_record(9, 2.0f, 2.5f, 65)});
    view_handle_delivery(view, batch.data(), static_cast<int>(batch.size()));
    EXPECT_TRUE(view.test_passed);
    const std::string text = read_stream(out);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    cJSON* parsed = cJSON_Parse(text.c_str());
    ASSERT_NE(parsed, nullptr) << text;
    EXPECT_STREQ(cJSON_GetObjectItem(parsed, "result")->valuestring, "PASSED");
    EXPECT_EQ(cJSON_GetObjectItem(parsed, "id")->valueint, 9);
    EXPECT_STREQ(cJSON_GetObjectItem(parsed, "frame_type")->valuestring, "H265 (?) 65");
    cJSON_Delete(parsed);
    std::fclose(out);
}

}  // namespace
