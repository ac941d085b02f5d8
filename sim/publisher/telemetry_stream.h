// What the simulated transmitter publishes on its telemetry pipe: the
// publisher's options and the records it builds.
#pragma once

#include <string>
#include <vector>

#include <orvi/pipe_records.h>

enum class BadKind { None, Partial, Magic };

struct PublisherOptions {
    std::string pipe = "vtx_latency";
    double rate_hz = 30.0;
    int batch = 1;
    int start_delay_ms = 0;
    long count = -1;  // -1: unlimited
    bool hold = false;
    long restart_every = 0;  // 0: never
    int restart_gap_ms = 0;
    long bad_every = 0;
    BadKind bad_kind = BadKind::None;
    int frequency = -1, mcs = -1, power = -1;  // -1: from the board
    bool h264 = false;
    int id_start = 1;
    std::string records_file;
    std::vector<int> batches{1};
    int wait_clients = 0;
};

// False with a message in *error. "--help" sets *help.
bool parse_publisher_options(int argc, char** argv, PublisherOptions* opts, bool* help,
                             std::string* error);

struct TransmitterView {
    int frequency;
    int mcs;
    int power;
    double temperature_c;
    double power_dbm;
};

// Record k (from 0) of the generated stream.
vtx_data_t make_telemetry_record(long k, const PublisherOptions& opts, const TransmitterView& tx);

// Byte sizes of the writes that publish `total_bytes` of a records file in
// batches of the given record counts (the last count repeats); a trailing
// piece shorter than a record goes out as it is.
std::vector<size_t> record_file_writes(size_t total_bytes, const std::vector<int>& batches);

extern const char* const kPublisherUsage;
