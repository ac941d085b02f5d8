#include "telemetry_stream.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tool_support.h"

const char* const kPublisherUsage =
    "usage: vtx-telemetry-publisher [--pipe NAME] [--rate HZ] [--batch N] [--start-delay MS]\n"
    "         [--count N] [--hold] [--restart-every N:MS] [--bad-every N:partial|magic]\n"
    "         [--frequency MHZ] [--mcs N] [--power IDX] [--h264|--h265] [--id-start N]\n"
    "         [--records FILE [--batches LIST]] [--wait-clients N]\n";

namespace {

bool bad_value(const std::string& opt, const char* what, std::string* error) {
    *error = "bad value for " + opt + " (" + what + ")";
    return false;
}

// "--restart-every N:MS" and "--bad-every N:partial|magic".
bool take_every_option(const std::string& opt, const std::string& v, PublisherOptions* o,
                       std::string* error) {
    const size_t colon = v.find(':');
    if (colon == std::string::npos) return bad_value(opt, "N:VALUE", error);
    const std::string left = v.substr(0, colon), right = v.substr(colon + 1);
    long n = 0;
    if (!parse_decimal(left.c_str(), 1, 1L << 40, &n)) return bad_value(opt, "N >= 1", error);
    if (opt == "--restart-every") {
        long gap = 0;
        if (!parse_decimal(right.c_str(), 0, 3600000, &gap)) return bad_value(opt, "N:MS", error);
        o->restart_every = n, o->restart_gap_ms = static_cast<int>(gap);
        return true;
    }
    if (right == "partial") o->bad_kind = BadKind::Partial;
    else if (right == "magic") o->bad_kind = BadKind::Magic;
    else return bad_value(opt, "N:partial or N:magic", error);
    o->bad_every = n;
    return true;
}

// "--batches A,B,...": each 1..400.
bool take_batches(const std::string& opt, const std::string& v, PublisherOptions* o,
                  std::string* error) {
    o->batches.clear();
    size_t pos = 0;
    while (pos <= v.size()) {
        size_t comma = v.find(',', pos);
        if (comma == std::string::npos) comma = v.size();
        long n = 0;
        if (!parse_decimal(v.substr(pos, comma - pos).c_str(), 1, 400, &n))
            return bad_value(opt, "a list of 1..400", error);
        o->batches.push_back(static_cast<int>(n));
        pos = comma + 1;
    }
    return true;
}

// The options whose value is one whole number in a range.
struct number_option_t {
    const char* name;
    long low, high;
    const char* what;
    void (*store)(PublisherOptions* o, long n);
};

const number_option_t NUMBER_OPTIONS[] = {
    {"--batch", 1, 400, "1..400", [](PublisherOptions* o, long n) { o->batch = static_cast<int>(n); }},
    {"--start-delay", 0, 3600000, "ms",
     [](PublisherOptions* o, long n) { o->start_delay_ms = static_cast<int>(n); }},
    {"--count", 0, 1L << 40, "N >= 0", [](PublisherOptions* o, long n) { o->count = n; }},
    {"--frequency", 0, 100000, "MHz", [](PublisherOptions* o, long n) { o->frequency = static_cast<int>(n); }},
    {"--mcs", 0, 31, "0..31", [](PublisherOptions* o, long n) { o->mcs = static_cast<int>(n); }},
    {"--power", 0, 63, "0..63", [](PublisherOptions* o, long n) { o->power = static_cast<int>(n); }},
    {"--id-start", -2147483647L, 2147483647L, "32-bit integer",
     [](PublisherOptions* o, long n) { o->id_start = static_cast<int>(n); }},
    {"--wait-clients", 0, 16, "0..16", [](PublisherOptions* o, long n) { o->wait_clients = static_cast<int>(n); }},
};

// An option with a value; false with *error set when it is unknown or bad.
bool take_valued_option(const std::string& opt, const char* value, PublisherOptions* o,
                        std::string* error) {
    for (const number_option_t& number : NUMBER_OPTIONS) {
        if (opt != number.name) continue;
        long n = 0;
        if (!parse_decimal(value, number.low, number.high, &n)) return bad_value(opt, number.what, error);
        number.store(o, n);
        return true;
    }
    if (opt == "--pipe") {
        if (*value == '\0' || std::strlen(value) >= 32 || std::strchr(value, '/'))
            return bad_value(opt, "a name of 1..31 characters without '/'", error);
        o->pipe = value;
    } else if (opt == "--rate") {
        char* end = nullptr;
        const double hz = std::strtod(value, &end);
        if (*end != '\0' || !(hz > 0) || hz > 10000) return bad_value(opt, "0 < HZ <= 10000", error);
        o->rate_hz = hz;
    } else if (opt == "--restart-every" || opt == "--bad-every") {
        return take_every_option(opt, value, o, error);
    } else if (opt == "--records") {
        o->records_file = value;
    } else if (opt == "--batches") {
        return take_batches(opt, value, o, error);
    } else {
        *error = "unknown option " + opt;
        return false;
    }
    return true;
}

}  // namespace

bool parse_publisher_options(int argc, char** argv, PublisherOptions* o, bool* help,
                             std::string* error) {
    *help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            *help = true;
            return true;
        }
        if (opt == "--hold" || opt == "--h264" || opt == "--h265") {
            if (opt == "--hold") o->hold = true;
            else o->h264 = opt == "--h264";
            continue;
        }
        if (i + 1 >= argc) {
            *error = opt.rfind("--", 0) == 0 ? "option " + opt + " needs a value" : "unknown option " + opt;
            return false;
        }
        if (!take_valued_option(opt, argv[++i], o, error)) return false;
    }
    return true;
}

vtx_data_t make_telemetry_record(long k, const PublisherOptions& o, const TransmitterView& tx) {
    vtx_data_t r;
    std::memset(&r, 0, sizeof r);
    r.magic_number = PIPE_RECORD_MAGIC;
    r.id = static_cast<int32_t>(o.id_start + k);
    r.input_mbps = 8.0f + static_cast<float>(k % 7) * 0.25f;
    r.output_mbps = r.input_mbps * 1.25f;
    r.vtx_latency_ms = 3.5f + static_cast<float>(k % 5) * 0.1f;
    r.frame_latency_ms = 16.0f + static_cast<float>(k % 3);
    r.fec_latency_ms = 1.2f;
    r.exposure_ns = 8000000;
    r.packets_per_second = static_cast<int32_t>(900 + k % 10);
    r.fragments = 6;
    bool intra = k % 30 == 0;
    r.frame_type = o.h264 ? (intra ? 101 : 65) : (intra ? 19 : 1);
    r.temperature_c = tx.temperature_c;
    r.power_dbm = tx.power_dbm;
    r.power_idx = tx.power;
    r.frequency = tx.frequency;
    r.mcs = tx.mcs;
    r.fec = 25;
    return r;
}

std::vector<size_t> record_file_writes(size_t total_bytes, const std::vector<int>& batches) {
    std::vector<size_t> writes;
    size_t pos = 0, b = 0;
    while (pos < total_bytes) {
        int records = batches.empty() ? 1 : batches[b < batches.size() ? b : batches.size() - 1];
        size_t bytes = static_cast<size_t>(records) * sizeof(vtx_data_t);
        if (bytes > total_bytes - pos) bytes = total_bytes - pos;
        writes.push_back(bytes);
        pos += bytes;
        ++b;
    }
    return writes;
}
