// Which band a transmitter frequency (MHz) belongs to. The band number is
// the frequency / 100 (fraction dropped). Each user has its own ranges on
// purpose, so each rule is named for what it serves.
#pragma once

// A reading's channel 1 table: 23-25 "2.4", 50-55 "5.1", 56-59 "5.8";
// nullptr for any other band number (the reading warns and uses "5.8").
const char* reading_band_key(int frequency);

// The power search's band: 23-25 gives 2.4, 50-52 5.1, 57-59 5.8 (narrower
// than the readings' ranges: 53-56 has no band here); 0.0 for any other.
// The integer part of the frequency counts.
double search_band(double frequency);

// The search measures channel 0 for the 2.4 band, channel 1 for the others.
bool search_band_uses_channel0(double band);

// A calibration table's band: the token of the calibration tables, the key
// of the conversion tables, the detector channel a sweep reads, and the
// frequency the built-in reference curves were measured at, the one
// frequency of the band that a fast calibration covers.
typedef struct sweep_band_t {
    const char* token;
    const char* key;
    int channel;
    int anchor_frequency;
} sweep_band_t;

// "2_4"/"2.4"/0/2412, "5_1"/"5.1"/1/5180, "5_8"/"5.8"/1/5805, in this order.
constexpr int SWEEP_BAND_COUNT = 3;
extern const sweep_band_t SWEEP_BANDS[SWEEP_BAND_COUNT];

// A sweep's band: 23-25 "2_4", 50-55 "5_1", 56-59 "5_8"; false for any other
// band number.
bool sweep_band(int frequency, sweep_band_t* band);

// A sweep's band as its index in SWEEP_BANDS: by frequency (the ranges of
// sweep_band()), by table token ("2_4") or by conversion key ("2.4"); -1
// for none.
int sweep_band_index_of_frequency(int frequency);
int sweep_band_index_of_token(const char* token);
int sweep_band_index_of_key(const char* key);

// The band of a table token ("2_4", "5_1", "5_8"); nullptr for any other.
const sweep_band_t* sweep_band_of_token(const char* token);

// One of the three anchor frequencies (2412, 5180, 5805 MHz).
bool is_anchor_frequency(int frequency);

// Channel 1's label in the monitoring line: "5.1" below 5500 MHz (2.4 GHz
// frequencies included), "5.8" otherwise.
const char* channel1_label(int frequency);
