// Subscribes to a telemetry pipe and prints each delivery: its size, then
// one line per whole record. Exits after N deliveries or after a time limit.
//
//   sim_telemetry_probe PIPE N [LIMIT_MS] [SHELL COMMAND after the first delivery]
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <orvi/brannic_pipe.h>
#include <orvi/pipe_records.h>

namespace {

std::mutex g_lock;
std::vector<std::string> g_lines;
std::atomic<int> g_deliveries{0};

void on_data(int, char* data, int bytes, void*) {
    std::string out = "delivery " + std::to_string(bytes) + "\n";
    for (int off = 0; off + static_cast<int>(sizeof(vtx_data_t)) <= bytes; off += sizeof(vtx_data_t)) {
        vtx_data_t r;
        std::memcpy(&r, data + off, sizeof r);
        char line[256];
        std::snprintf(line, sizeof line,
                      "magic=%08x id=%d frequency=%d mcs=%d power=%d frame=%d fec=%d in=%.2f out=%.2f\n",
                      r.magic_number, r.id, r.frequency, r.mcs, r.power_idx, r.frame_type, r.fec,
                      r.input_mbps, r.output_mbps);
        out += line;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    g_lines.push_back(out);
    g_deliveries.fetch_add(1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: sim_telemetry_probe PIPE N [LIMIT_MS] [CMD]\n");
        return 2;
    }
    int want = std::atoi(argv[2]);
    int limit_ms = argc > 3 ? std::atoi(argv[3]) : 5000;
    const char* cmd = argc > 4 ? argv[4] : nullptr;
    char path[64];
    pipe_expand_location_string(argv[1], path);
    pipe_client_set_simple_helper_cb(0, on_data, nullptr);
    if (pipe_client_open(0, path, "sim-probe", CLIENT_FLAG_EN_SIMPLE_HELPER, 65536) < 0) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    bool ran = false;
    for (int waited = 0; waited < limit_ms && g_deliveries.load() < want; waited += 5) {
        if (cmd && !ran && g_deliveries.load() > 0) {
            ran = std::system(cmd) >= 0;
        }
        usleep(5000);
    }
    pipe_client_close_all();
    std::lock_guard<std::mutex> lock(g_lock);
    for (int i = 0; i < want && i < static_cast<int>(g_lines.size()); ++i) std::fputs(g_lines[i].c_str(), stdout);
    return g_deliveries.load() >= want ? 0 : 3;
}
