// Link capacity, measured input bit rate and RC channel access.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <orvi/mavlink_types.h>
#include <orvi/vtx_export.h>

// Capacity of one spatial stream at `mcs` in bytes per second (frequency in
// MHz picks the band, bandwidth 40 or more the 40 MHz table); 0 for an MCS
// the tables do not hold.
ORVI_VTX_EXPORT int get_max_bitrate(int mcs, int frequency, int bandwidth);

// Input bit rate in Mbit/s over rings of frame sizes and capture times (ns),
// `next_slot` being the slot written next; 0.0 when it cannot be told (too
// few frames, inconsistent rings, no time elapsed).
ORVI_VTX_EXPORT double _calc_input_bitrate_mbps(int next_slot,
                                                const std::vector<uint64_t>& frame_bytes,
                                                const std::vector<int64_t>& frame_times_ns);

// Raw value of RC channel 1 to 18, 65535 for any other channel (or no message).
ORVI_VTX_EXPORT uint16_t
get_toggle_channel_value(int channel, const std::shared_ptr<__mavlink_rc_channels_t>& rc);
