#include <orvi/pipe_records.h>

#include <cstdio>
#include <cstring>

namespace {

struct record_layout {
    int size;          // bytes per record
    int magic_offset;  // where the magic word sits inside a record
    const char* name;  // as it appears in the messages
};

// One validation for every record type; only the layout differs. Returns
// true when the whole batch may be used (*n_packets then holds the count).
bool validate_batch(const void* data, int bytes, int* n_packets, const record_layout& layout) {
    int ignored = 0;
    if (n_packets == nullptr) n_packets = &ignored;
    *n_packets = 0;
    // The byte count is tested first so that a failed read (negative count,
    // often with no buffer) is reported as what it is.
    if (bytes < 0) {
        std::fprintf(stderr,
                     "ERROR validating %s data received through pipe: number of bytes = %d\n",
                     layout.name, bytes);
        return false;
    }
    if (data == nullptr) {
        std::fprintf(stderr,
                     "ERROR validating %s data received through pipe: got NULL data pointer\n",
                     layout.name);
        return false;
    }
    if (bytes % layout.size != 0) {
        std::fprintf(stderr,
                     "ERROR validating %s data received through pipe: read partial packet\n",
                     layout.name);
        std::fprintf(stderr, "read %d bytes, but it should be a multiple of %d\n", bytes,
                     layout.size);
        return false;
    }
    const int n = bytes / layout.size;
    const auto* base = static_cast<const unsigned char*>(data);
    int failed = 0;
    for (int i = 0; i < n; i++) {
        // The buffer is only byte-aligned: copy the word out.
        int32_t word = 0;
        std::memcpy(&word, base + static_cast<size_t>(i) * layout.size + layout.magic_offset,
                    sizeof word);
        if (static_cast<uint32_t>(word) != PIPE_RECORD_MAGIC) {
            std::fprintf(stderr, "ERROR got magic number %d, expected %d\n", word,
                         static_cast<int32_t>(PIPE_RECORD_MAGIC));
            failed++;
        }
    }
    if (failed > 0) {
        std::fprintf(stderr,
                     "ERROR validating %s data received through pipe: %d of %d packets failed\n",
                     layout.name, failed, n);
        return false;
    }
    *n_packets = n;
    return true;
}

}  // namespace

vtx_data_t* orvi_vtx_validate_pipe_data(char* data, int bytes, int* n_packets) {
    static constexpr record_layout layout{sizeof(vtx_data_t), 0, "VTX"};
    return validate_batch(data, bytes, n_packets, layout) ? reinterpret_cast<vtx_data_t*>(data)
                                                          : nullptr;
}

external_fc_status_t* validate_ext_fc_status_pipe_data(char* data, int bytes, int* n_packets) {
    static constexpr record_layout layout{sizeof(external_fc_status_t), 0,
                                          "external_fc_status_t"};
    return validate_batch(data, bytes, n_packets, layout)
               ? reinterpret_cast<external_fc_status_t*>(data)
               : nullptr;
}

doodle_stats_t* orvi_modem_doodle_validate_pipe_data(char* data, int bytes, int* n_packets) {
    static constexpr record_layout layout{sizeof(doodle_stats_t),
                                          offsetof(doodle_stats_t, magic_number), "Doodle stats"};
    return validate_batch(data, bytes, n_packets, layout)
               ? reinterpret_cast<doodle_stats_t*>(data)
               : nullptr;
}

ndc_coords_t* pipe_validate_ndc_coords_data(const uint8_t* data, int bytes, int* n_packets) {
    static constexpr record_layout layout{sizeof(ndc_coords_t), 0, "ndc_coords_t"};
    return validate_batch(data, bytes, n_packets, layout)
               ? reinterpret_cast<ndc_coords_t*>(const_cast<uint8_t*>(data))
               : nullptr;
}

tflite_box_t* pipe_validate_bbox_data(const uint8_t* data, int bytes, int* n_packets) {
    static constexpr record_layout layout{sizeof(tflite_box_t), 0, "Tflite"};
    return validate_batch(data, bytes, n_packets, layout)
               ? reinterpret_cast<tflite_box_t*>(const_cast<uint8_t*>(data))
               : nullptr;
}

int is_bit_set(uint8_t value, int bit) {
    // A shift by a negative count or by the width of int is undefined; such
    // bits are simply not set.
    if (bit < 0 || bit >= 32) return 0;
    return (static_cast<int>(value) >> bit) & 1;
}
