// The subscription to the transmitter's telemetry on "vtx_latency": the
// callbacks keep the last record's frequency, MCS and power index in
// g_frequency, g_mcs and g_power_idx (monitor_state.h).
#pragma once

constexpr int VTX_PIPE_CHANNEL = 0;
constexpr int VTX_PIPE_BUFFER_BYTES = 32768;

// Registers the callbacks and opens the client; the open's result (negative
// on failure).
int init_vtx_pipe();

void _connect_cb(int channel, void* context);
void _disconnect_cb(int channel, void* context);
void _vtx_data_cb(int channel, char* data, int bytes, void* context);
