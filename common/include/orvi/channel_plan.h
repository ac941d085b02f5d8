// The radio channel plan shared by every program: planned channels and
// their centre frequencies, bands, 40 MHz pairing and scan steps.
#pragma once

#include <map>

#include <orvi/common_export.h>

// Fixed underlying type: callers pass plain integers (only SCAN_UP is
// tested, any other value steps down).
enum scan_direction_e : int {
    SCAN_DOWN = 0,
    SCAN_UP = 1,
};

// Channel number to centre frequency in MHz, ascending.
extern ORVI_COMMON_EXPORT const std::map<int, int> all_channels;      // 41 channels, both bands
extern ORVI_COMMON_EXPORT const std::map<int, int> band_2g_channels;  // channels 1 to 14
extern ORVI_COMMON_EXPORT const std::map<int, int> band_5g_channels;  // channels 36 to 173

// Centre frequency of a planned channel, or -1 (with a message on stderr).
ORVI_COMMON_EXPORT int channel_to_frequency(int channel);
// Planned channel whose centre frequency is `frequency`, or -1 (with a message on stderr).
ORVI_COMMON_EXPORT int frequency_to_channel(int frequency);
// 1 for 5 GHz (above 5179 MHz), 0 otherwise; the plan is not consulted.
ORVI_COMMON_EXPORT int frequency_to_band(int frequency);
// 1 for 5 GHz (channel above 35), 0 otherwise; the plan is not consulted.
ORVI_COMMON_EXPORT int channel_to_band(int channel);
// "HT40+" or "HT40-": where the secondary 20 MHz channel of a 40 MHz pair lies.
ORVI_COMMON_EXPORT const char* bw_for_frequency(int frequency);
// Neighbouring planned channel, wrapping around the ring of all 41 channels;
// an unplanned channel is returned unchanged.
ORVI_COMMON_EXPORT int get_next_channel(int channel, scan_direction_e direction);
