// Fixed-size records published on pipes, and their validators.
//
// Records are packed and in native byte order. A delivered buffer is only
// char-aligned, so readers copy a record out (std::memcpy into a local
// record) before using its fields; never cast a buffer offset to a record
// pointer and dereference it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <orvi/common_export.h>

constexpr uint32_t PIPE_RECORD_MAGIC = 0x4F525649;  // bytes 49 56 52 4F

#pragma pack(push, 1)
typedef struct vtx_data_t {
    uint32_t magic_number;
    int32_t id;
    float input_mbps;
    float output_mbps;
    float vtx_latency_ms;
    float frame_latency_ms;
    float fec_latency_ms;
    int32_t exposure_ns;
    int32_t packets_per_second;
    int32_t fragments;
    uint8_t reserved_flag;
    int32_t frame_type;
    double temperature_c;
    double power_dbm;
    uint8_t reserved_word[4];
    int32_t power_idx;
    int32_t frequency;
    int32_t mcs;
    int32_t fec;
} vtx_data_t;

typedef struct external_fc_status_t {
    uint32_t magic_number;
    uint8_t status[4];
} external_fc_status_t;

typedef struct ndc_coords_t {
    uint32_t magic_number;
    uint8_t payload[20];
} ndc_coords_t;

typedef struct tflite_box_t {
    uint32_t magic_number;
    uint8_t payload[88];
} tflite_box_t;

typedef struct doodle_stats_t {
    uint32_t header_word;
    uint32_t magic_number;
    uint8_t stats[24];
} doodle_stats_t;
#pragma pack(pop)

static_assert(sizeof(vtx_data_t) == 81, "vtx_data_t is 81 bytes on the wire");
static_assert(offsetof(vtx_data_t, id) == 4);
static_assert(offsetof(vtx_data_t, input_mbps) == 8);
static_assert(offsetof(vtx_data_t, output_mbps) == 12);
static_assert(offsetof(vtx_data_t, vtx_latency_ms) == 16);
static_assert(offsetof(vtx_data_t, frame_latency_ms) == 20);
static_assert(offsetof(vtx_data_t, fec_latency_ms) == 24);
static_assert(offsetof(vtx_data_t, exposure_ns) == 28);
static_assert(offsetof(vtx_data_t, packets_per_second) == 32);
static_assert(offsetof(vtx_data_t, fragments) == 36);
static_assert(offsetof(vtx_data_t, reserved_flag) == 40);
static_assert(offsetof(vtx_data_t, frame_type) == 41);
static_assert(offsetof(vtx_data_t, temperature_c) == 45);
static_assert(offsetof(vtx_data_t, power_dbm) == 53);
static_assert(offsetof(vtx_data_t, reserved_word) == 61);
static_assert(offsetof(vtx_data_t, power_idx) == 65);
static_assert(offsetof(vtx_data_t, frequency) == 69);
static_assert(offsetof(vtx_data_t, mcs) == 73);
static_assert(offsetof(vtx_data_t, fec) == 77);
static_assert(sizeof(external_fc_status_t) == 8);
static_assert(sizeof(ndc_coords_t) == 24);
static_assert(sizeof(tflite_box_t) == 92);
static_assert(sizeof(doodle_stats_t) == 32);
static_assert(offsetof(doodle_stats_t, magic_number) == 4);

// Each returns the buffer itself when every record in it carries the magic,
// with the record count in *n_packets; otherwise null with *n_packets 0
// (one message per fault on stderr). The buffer is never modified.
ORVI_COMMON_EXPORT vtx_data_t* orvi_vtx_validate_pipe_data(char* data, int bytes, int* n_packets);
ORVI_COMMON_EXPORT external_fc_status_t* validate_ext_fc_status_pipe_data(char* data, int bytes,
                                                                          int* n_packets);
ORVI_COMMON_EXPORT doodle_stats_t* orvi_modem_doodle_validate_pipe_data(char* data, int bytes,
                                                                        int* n_packets);
ORVI_COMMON_EXPORT ndc_coords_t* pipe_validate_ndc_coords_data(const uint8_t* data, int bytes,
                                                               int* n_packets);
ORVI_COMMON_EXPORT tflite_box_t* pipe_validate_bbox_data(const uint8_t* data, int bytes,
                                                         int* n_packets);

// 1 when bit `bit` (0 = least significant) of value is set; 0 for bits
// 8 and up, and for bit numbers outside 0..31.
ORVI_COMMON_EXPORT int is_bit_set(uint8_t value, int bit);
