// 81-byte test records (the size of the telemetry record) that carry their
// own sequence number and a content pattern derived from it, so a receiver
// can tell a whole, untouched batch from a split, joined or damaged one.
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>

constexpr int kRecordBytes = 81;

inline char record_byte(uint32_t id, int i) { return static_cast<char>((id * 31u + static_cast<uint32_t>(i) * 7u) & 0xffu); }

inline std::string make_batch(uint32_t first_id, int count) {
    std::string out(static_cast<size_t>(count) * kRecordBytes, '\0');
    for (int r = 0; r < count; ++r) {
        const uint32_t id = first_id + static_cast<uint32_t>(r);
        char* rec = &out[static_cast<size_t>(r) * kRecordBytes];
        memcpy(rec, &id, sizeof id);
        for (int i = 4; i < kRecordBytes; ++i) rec[i] = record_byte(id, i);
    }
    return out;
}

// "BYTES FIRST LAST ok" for a batch of consecutive intact records, with
// "bad" in place of "ok" for anything else.
inline std::string describe_batch(const char* data, int bytes) {
    if (bytes <= 0 || bytes % kRecordBytes != 0) return std::to_string(bytes) + " - - bad";
    uint32_t first = 0, last = 0;
    bool ok = true;
    for (int r = 0; r < bytes / kRecordBytes; ++r) {
        const char* rec = data + static_cast<size_t>(r) * kRecordBytes;
        uint32_t id;
        memcpy(&id, rec, sizeof id);
        if (r == 0) first = id;
        else if (id != last + 1) ok = false;
        last = id;
        for (int i = 4; i < kRecordBytes; ++i) {
            if (rec[i] != record_byte(id, i)) ok = false;
        }
    }
    return std::to_string(bytes) + " " + std::to_string(first) + " " + std::to_string(last) + (ok ? " ok" : " bad");
}
