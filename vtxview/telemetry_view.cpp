#include "telemetry_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <cjson/cJSON.h>

#include <orvi/diagnostics.h>
#include <orvi/nalu_naming.h>

const char* const VTXVIEW_CSV_PATH = "/data/orvi-vtxview.csv";
const char* const VTXVIEW_CSV_HEADER =
    "Time (ns),Sample ID,Input MBPS,Output MBPS,Average Latency,VTX Latency,Frame Latency,"
    "FEC Latency,Exposure,VTX Temperature,VTX Power (dBm),Packets Per Second,Fragments,FEC,MCS,"
    "Frame Type\n";

namespace {

const char* const BOLD = "\033[1m";
const char* const RESET = "\033[0m";
const char* const RED = "\033[1;31m";
const char* const YELLOW = "\033[1;33m";
const char* const ROW_START = "\r\033[2K";

const char* fec_colour(int32_t fec) {
    if (fec == 0) return RED;
    if (fec < 50) return YELLOW;
    return "";
}

// Shortest decimal that reads back as the same float, so JSON shows 12.5
// rather than the double expansion of a float.
double float_for_json(float value) {
    if (!std::isfinite(value)) return value;
    char text[32];
    for (int precision = 6; precision <= 9; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    return std::strtod(text, nullptr);
}

// Extreme doubles (a temperature of 1e300) outgrow any fixed row buffer.
__attribute__((format(printf, 1, 2))) std::string string_printf(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string text;
    if (n >= 0 && static_cast<size_t>(n) < sizeof buffer) {
        text.assign(buffer, static_cast<size_t>(n));
    } else if (n >= 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return text;
}

void write_text(FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

// The CSV log of one delivery: opened at the start (the header goes first
// the first time this process writes), written in one append and closed when
// it ends. The log only ever holds whole lines: when the disk fills part-way,
// the file is cut back to the last line that got out whole, so the next run's
// first line does not glue onto a torn one.
class CsvAppend {
public:
    explicit CsvAppend(telemetry_view_t& view) : view_(view) {
        if (!view.save_to_file) return;
        fd_ = open(view.csv_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0 && !view.header_written) {
            text_ = VTXVIEW_CSV_HEADER;
            header_size_ = text_.size();
        }
    }
    ~CsvAppend() {
        if (fd_ < 0) return;
        const size_t kept = append_whole_lines();
        if (header_size_ > 0 && kept >= header_size_) view_.header_written = true;
        close(fd_);
    }
    CsvAppend(const CsvAppend&) = delete;
    CsvAppend& operator=(const CsvAppend&) = delete;

    bool is_open() const { return fd_ >= 0; }
    void add(const std::string& line) { text_ += line; }

private:
    // Bytes of text_ that are in the file afterwards, always whole lines.
    size_t append_whole_lines() {
        if (text_.empty()) return 0;
        struct stat before;
        // Without the old length a torn line could not be taken back.
        if (fstat(fd_, &before) != 0) return 0;
        size_t done = 0;
        while (done < text_.size()) {
            const ssize_t n = write(fd_, text_.data() + done, text_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        if (done == text_.size()) return done;
        const size_t last_newline = done == 0 ? std::string::npos : text_.rfind('\n', done - 1);
        const size_t kept = last_newline == std::string::npos ? 0 : last_newline + 1;
        if (ftruncate(fd_, before.st_size + static_cast<off_t>(kept)) != 0) return 0;
        return kept;
    }

    telemetry_view_t& view_;
    int fd_ = -1;
    std::string text_;
    size_t header_size_ = 0;
};

}  // namespace

float view_row_latency(telemetry_view_t& view, const vtx_data_t& record) {
    switch (record.frame_type) {
        case 101:
        case 19: return calc_avg_latency(record.vtx_latency_ms, view.avg_i_latency);
        case 1:
        case 65: return calc_avg_latency(record.vtx_latency_ms, view.avg_p_latency);
        default: return record.vtx_latency_ms;
    }
}

std::string format_row(const vtx_data_t& r, float avg_latency, venc_mode_t mode) {
    return string_printf(
        "|%8d |%7.1f    |%8.1f    |%10.3f   |%7.3f  |%7.3f    |%7.3f  |%7.2f  |%7.2f  |%8.2f  |"
        "%6d    |%5d  |%4d   | %s%3d%s |  %1d  |%10s  |",
        r.id, r.input_mbps, r.output_mbps, avg_latency, r.vtx_latency_ms, r.frame_latency_ms,
        r.fec_latency_ms, r.exposure_ns * 1e-6, r.temperature_c, r.power_dbm, r.power_idx,
        r.packets_per_second, r.fragments, fec_colour(r.fec), r.fec, RESET, r.mcs,
        nalu_as_string(r.frame_type, mode).c_str());
}

std::string format_csv_line(int64_t time_ns, const vtx_data_t& r, float avg_latency,
                            venc_mode_t mode) {
    return string_printf(
        "%" PRId64 ",%" PRIu32 ",%.1f,%.1f,%.3f,%.3f,%.3f,%.3f,%.2f,%.2f,%.2f,%d,%d,%d,%d,%s\n",
        time_ns, static_cast<uint32_t>(r.id), r.input_mbps, r.output_mbps, avg_latency,
        r.vtx_latency_ms, r.frame_latency_ms, r.fec_latency_ms, r.exposure_ns * 1e-6,
        r.temperature_c, r.power_dbm, r.packets_per_second, r.fragments, r.fec, r.mcs,
        nalu_as_string(r.frame_type, mode).c_str());
}

std::string format_json(const vtx_data_t& r, bool test_mode, bool test_passed, bool human,
                        venc_mode_t mode) {
    cJSON* obj = cJSON_CreateObject();
    if (obj == nullptr) return std::string();
    if (test_mode) cJSON_AddStringToObject(obj, "result", test_passed ? "PASSED" : "FAILED");
    cJSON_AddNumberToObject(obj, "id", r.id);
    cJSON_AddNumberToObject(obj, "input_mbps", float_for_json(r.input_mbps));
    cJSON_AddNumberToObject(obj, "output_mbps", float_for_json(r.output_mbps));
    cJSON_AddNumberToObject(obj, "vtx_latency_ms", float_for_json(r.vtx_latency_ms));
    cJSON_AddNumberToObject(obj, "frame_latency_ms", float_for_json(r.frame_latency_ms));
    cJSON_AddNumberToObject(obj, "fec_latency_ms", float_for_json(r.fec_latency_ms));
    cJSON_AddNumberToObject(obj, "exposure_ms", r.exposure_ns * 1e-6);
    cJSON_AddNumberToObject(obj, "temperature_c", r.temperature_c);
    cJSON_AddNumberToObject(obj, "power_dbm", r.power_dbm);
    cJSON_AddNumberToObject(obj, "power_idx", r.power_idx);
    cJSON_AddNumberToObject(obj, "packets_per_second", r.packets_per_second);
    cJSON_AddNumberToObject(obj, "fragments", r.fragments);
    cJSON_AddNumberToObject(obj, "fec", r.fec);
    cJSON_AddNumberToObject(obj, "mcs", r.mcs);
    cJSON_AddStringToObject(obj, "frame_type", nalu_as_string(r.frame_type, mode).c_str());
    char* text = human ? cJSON_Print(obj) : cJSON_PrintUnformatted(obj);
    cJSON_Delete(obj);
    if (text == nullptr) return std::string();
    std::string result(text);
    std::free(text);
    return result;
}

void view_print_header(const telemetry_view_t& view) {
    if (view.json_mode || view.test_mode) return;
    std::fputs(BOLD, view.out);
    std::fputs("|    id   | in (mbps) | out (mbps) | avg vtx(ms) | vtx(ms) | frame(ms) | fec(ms) |"
               " exp(ms) | temp(C) | pwr(dBm) | pwr(idx) | pkt/s | frags | fec | mcs |"
               " frame type |\n",
               view.out);
    std::fputs(RESET, view.out);
    std::fflush(view.out);
}

void view_print_disconnect(const telemetry_view_t& view) {
    if (view.json_mode || view.test_mode) return;
    std::fputs("\nserver disconnected\n", stderr);
}

void view_print_json(const telemetry_view_t& view, const vtx_data_t& record) {
    std::string text = format_json(record, view.test_mode, view.test_passed, view.json_human,
                                   view.current_encoding_scheme);
    text.push_back('\n');
    write_text(view.out, text);
}

void view_handle_delivery(telemetry_view_t& view, char* data, int bytes) {
    if (view.test_mode && view.test_done) return;
    int n_packets = 0;
    if (orvi_vtx_validate_pipe_data(data, bytes, &n_packets) == nullptr) return;

    // The log is opened and closed around each delivery; its lines go out in
    // one append. A log that cannot be opened just receives nothing.
    CsvAppend csv(view);

    for (int i = 0; i < n_packets; ++i) {
        vtx_data_t record;
        std::memcpy(&record, data + static_cast<size_t>(i) * sizeof(vtx_data_t), sizeof record);
        if (record.id == view.current_sample) continue;

        if (!view.json_mode) std::fputs(view.en_newline ? "\n" : ROW_START, view.out);
        const float avg_latency = view_row_latency(view, record);

        if (view.test_mode) {
            if (record.input_mbps > 0 && record.output_mbps > 0) view.test_passed = true;
            if (view.json_mode && view.running != nullptr && view.running->load() != 0) {
                view_print_json(view, record);
            }
            view.test_done = true;
            if (view.running != nullptr) view.running->store(0);
            return;
        }

        view.current_sample = record.id;
        if (view.json_mode) {
            view_print_json(view, record);
        } else {
            write_text(view.out,
                       format_row(record, avg_latency, view.current_encoding_scheme));
        }
        if (csv.is_open()) {
            csv.add(format_csv_line(time_monotonic_ns(), record, avg_latency,
                                    view.current_encoding_scheme));
        }
    }

    std::fflush(view.out);
}
