// What the inspector shows and logs for each telemetry delivery: table
// rows, the CSV log, JSON objects and the pass/fail test of the data flow.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

#include <orvi/pipe_records.h>
#include <orvi/video_codec.h>

extern const char* const VTXVIEW_CSV_PATH;
extern const char* const VTXVIEW_CSV_HEADER;

// Process state of one inspector run. The data callback alone touches the
// windows, current_sample and header_written; main reads the test results
// only after every pipe client is closed.
struct telemetry_view_t {
    bool test_mode = false;
    bool test_passed = false;
    bool json_mode = false;
    bool json_human = false;
    bool save_to_file = false;
    int en_newline = 0;
    bool header_written = false;
    int32_t current_sample = 0;
    std::deque<float> avg_i_latency;
    std::deque<float> avg_p_latency;
    venc_mode_t current_encoding_scheme = VENC_H265;

    // The test ends at its first record: later deliveries must not change the verdict.
    bool test_done = false;

    std::string csv_path = VTXVIEW_CSV_PATH;
    FILE* out = stdout;
    // Cleared when a test ends; main polls it.
    std::atomic<int>* running = nullptr;
};

// Average latency of a record's row; intra and predicted frames feed their
// own windows, any other frame type shows its own latency.
float view_row_latency(telemetry_view_t& view, const vtx_data_t& record);

// One table row (without its leading "\r\033[2K" or newline).
std::string format_row(const vtx_data_t& record, float avg_latency, venc_mode_t mode);
// One CSV data line, ending in "\n".
std::string format_csv_line(int64_t time_ns, const vtx_data_t& record, float avg_latency,
                            venc_mode_t mode);
// The JSON object of a record; "result" only in test mode.
std::string format_json(const vtx_data_t& record, bool test_mode, bool test_passed, bool human,
                        venc_mode_t mode);

// The table header, printed on every (re)connection outside JSON and test mode.
void view_print_header(const telemetry_view_t& view);
void view_print_disconnect(const telemetry_view_t& view);
// The record as JSON followed by a newline.
void view_print_json(const telemetry_view_t& view, const vtx_data_t& record);

// The data callback: validate, show, log; in test mode decide the test.
void view_handle_delivery(telemetry_view_t& view, char* data, int bytes);
