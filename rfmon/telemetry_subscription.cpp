#include "telemetry_subscription.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include <orvi/brannic_pipe.h>
#include <orvi/diagnostics.h>
#include "monitor_state.h"
#include <orvi/pipe_records.h>

namespace {

// Written by the pipe library's thread beside g_frequency, g_mcs and
// g_power_idx, as one per process as the subscription itself: the record's
// arrival, set last (release) so that a reader that sees it sees the time.
static_assert(std::atomic<int64_t>::is_always_lock_free, "the telemetry time must be lock-free");
std::atomic<bool> g_received{false};
std::atomic<int64_t> g_newest_ns{0};

}  // namespace

bool telemetry_received(int64_t* newest_ns) {
    if (!g_received.load(std::memory_order_acquire)) return false;
    if (newest_ns) *newest_ns = g_newest_ns.load(std::memory_order_relaxed);
    return true;
}

int init_vtx_pipe() {
    std::snprintf(VTX_PIPE_PATH, sizeof VTX_PIPE_PATH, "%s%s", "/run/zpx/", "vtx_latency");
    pipe_client_set_connect_cb(VTX_PIPE_CHANNEL, _connect_cb, nullptr);
    pipe_client_set_disconnect_cb(VTX_PIPE_CHANNEL, _disconnect_cb, nullptr);
    pipe_client_set_simple_helper_cb(VTX_PIPE_CHANNEL, _vtx_data_cb, nullptr);
    // VTX_PIPE_PATH: the pipe subscribed to, as set just above.
    return pipe_client_open(VTX_PIPE_CHANNEL, VTX_PIPE_PATH, "orvi-rfmon",
                            CLIENT_FLAG_EN_SIMPLE_HELPER, VTX_PIPE_BUFFER_BYTES);
}

void _connect_cb(int, void*) { std::puts("Connected to VTX Latency pipe"); }

void _disconnect_cb(int, void*) { std::puts("Disconnected from VTX Latency pipe"); }

void _vtx_data_cb(int, char* data, int bytes, void*) {
    int n_packets = 0;
    vtx_data_t* records = orvi_vtx_validate_pipe_data(data, bytes, &n_packets);
    if (records == nullptr || n_packets == 0) return;
    // Only the newest record counts. The buffer is byte-aligned: copy it out.
    vtx_data_t last;
    std::memcpy(&last, data + static_cast<size_t>(n_packets - 1) * sizeof(vtx_data_t),
                sizeof last);
    g_frequency.store(last.frequency, std::memory_order_relaxed);
    g_mcs.store(last.mcs, std::memory_order_relaxed);
    g_power_idx.store(last.power_idx, std::memory_order_relaxed);
    g_newest_ns.store(time_monotonic_ns(), std::memory_order_relaxed);
    g_received.store(true, std::memory_order_release);
}
