// The subscription to the transmitter's telemetry on "vtx_latency": the
// callbacks keep the last record's frequency, MCS and power index in
// g_frequency, g_mcs and g_power_idx (monitor_state.h).
#pragma once

#include <cstdint>

constexpr int VTX_PIPE_CHANNEL = 0;
constexpr int VTX_PIPE_BUFFER_BYTES = 32768;

// Registers the callbacks and opens the client; the open's result (negative
// on failure).
int init_vtx_pipe();

// Whether a record has come (until then g_frequency, g_mcs and g_power_idx
// hold their starting values, not the transmitter's), and the monotonic time
// (ns) of the newest in *newest_ns when one has.
bool telemetry_received(int64_t* newest_ns = nullptr);

void _connect_cb(int channel, void* context);
void _disconnect_cb(int channel, void* context);
void _vtx_data_cb(int channel, char* data, int bytes, void* context);
