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

bool parse_publisher_options(int argc, char** argv, PublisherOptions* o, bool* help,
                             std::string* error) {
    *help = false;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto bad = [&](const char* what) {
            *error = "bad value for " + opt + " (" + what + ")";
            return false;
        };
        long n = 0;
        if (opt == "--help" || opt == "-h") {
            *help = true;
            return true;
        } else if (opt == "--hold") {
            o->hold = true;
            continue;
        } else if (opt == "--h264") {
            o->h264 = true;
            continue;
        } else if (opt == "--h265") {
            o->h264 = false;
            continue;
        }
        if (value == nullptr) {
            *error = opt.rfind("--", 0) == 0 ? "option " + opt + " needs a value"
                                             : "unknown option " + opt;
            return false;
        }
        ++i;
        if (opt == "--pipe") {
            if (*value == '\0' || std::strlen(value) >= 32 || std::strchr(value, '/'))
                return bad("a name of 1..31 characters without '/'");
            o->pipe = value;
        } else if (opt == "--rate") {
            char* end = nullptr;
            double hz = std::strtod(value, &end);
            if (*end != '\0' || !(hz > 0) || hz > 10000) return bad("0 < HZ <= 10000");
            o->rate_hz = hz;
        } else if (opt == "--batch") {
            if (!parse_decimal(value, 1, 400, &n)) return bad("1..400");
            o->batch = static_cast<int>(n);
        } else if (opt == "--start-delay") {
            if (!parse_decimal(value, 0, 3600000, &n)) return bad("ms");
            o->start_delay_ms = static_cast<int>(n);
        } else if (opt == "--count") {
            if (!parse_decimal(value, 0, 1L << 40, &n)) return bad("N >= 0");
            o->count = n;
        } else if (opt == "--restart-every" || opt == "--bad-every") {
            std::string v = value;
            size_t colon = v.find(':');
            if (colon == std::string::npos) return bad("N:VALUE");
            std::string left = v.substr(0, colon), right = v.substr(colon + 1);
            if (!parse_decimal(left.c_str(), 1, 1L << 40, &n)) return bad("N >= 1");
            if (opt == "--restart-every") {
                long gap = 0;
                if (!parse_decimal(right.c_str(), 0, 3600000, &gap)) return bad("N:MS");
                o->restart_every = n, o->restart_gap_ms = static_cast<int>(gap);
            } else {
                if (right == "partial") o->bad_kind = BadKind::Partial;
                else if (right == "magic") o->bad_kind = BadKind::Magic;
                else return bad("N:partial or N:magic");
                o->bad_every = n;
            }
        } else if (opt == "--frequency") {
            if (!parse_decimal(value, 0, 100000, &n)) return bad("MHz");
            o->frequency = static_cast<int>(n);
        } else if (opt == "--mcs") {
            if (!parse_decimal(value, 0, 31, &n)) return bad("0..31");
            o->mcs = static_cast<int>(n);
        } else if (opt == "--power") {
            if (!parse_decimal(value, 0, 63, &n)) return bad("0..63");
            o->power = static_cast<int>(n);
        } else if (opt == "--id-start") {
            if (!parse_decimal(value, -2147483647L, 2147483647L, &n)) return bad("32-bit integer");
            o->id_start = static_cast<int>(n);
        } else if (opt == "--records") {
            o->records_file = value;
        } else if (opt == "--batches") {
            o->batches.clear();
            std::string v = value;
            size_t pos = 0;
            while (pos <= v.size()) {
                size_t comma = v.find(',', pos);
                if (comma == std::string::npos) comma = v.size();
                if (!parse_decimal(v.substr(pos, comma - pos).c_str(), 1, 400, &n))
                    return bad("a list of 1..400");
                o->batches.push_back(static_cast<int>(n));
                pos = comma + 1;
            }
        } else if (opt == "--wait-clients") {
            if (!parse_decimal(value, 0, 16, &n)) return bad("0..16");
            o->wait_clients = static_cast<int>(n);
        } else {
            *error = "unknown option " + opt;
            return false;
        }
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
