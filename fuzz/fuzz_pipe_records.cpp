// The five record validators over arbitrary deliveries.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <orvi/pipe_records.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A private copy, so that reading past the delivery is caught.
    std::vector<char> buffer(data, data + size);
    char* bytes = size ? buffer.data() : nullptr;
    const int n = static_cast<int>(size);
    int count = -1;

    struct {
        const void* result;
        int record_size;
    } results[] = {
        {orvi_vtx_validate_pipe_data(bytes, n, &count), 81},
        {validate_ext_fc_status_pipe_data(bytes, n, &count), 8},
        {orvi_modem_doodle_validate_pipe_data(bytes, n, &count), 32},
        {pipe_validate_ndc_coords_data(reinterpret_cast<const uint8_t*>(bytes), n, &count), 24},
        {pipe_validate_bbox_data(reinterpret_cast<const uint8_t*>(bytes), n, &count), 92},
    };
    for (const auto& r : results) {
        // An accepted batch is whole records; a rejected one has no records.
        if (r.result && (n % r.record_size != 0)) std::abort();
    }
    if (orvi_vtx_validate_pipe_data(bytes, n, &count)) {
        if (count != n / 81) std::abort();
        for (int i = 0; i < count; ++i) {
            vtx_data_t record;
            std::memcpy(&record, bytes + i * 81, sizeof record);
            if (record.magic_number != PIPE_RECORD_MAGIC) std::abort();
        }
    } else if (count != 0) {
        std::abort();
    }
    orvi_vtx_validate_pipe_data(bytes, -n - 1, &count);
    return 0;
}
