// The pipe record validators against hand-built buffers, messages byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <orvi/pipe_records.h>

namespace {

using Validator = std::function<void*(unsigned char* data, int bytes, int* n_packets)>;

struct RecordKind {
    const char* name;  // as in the messages
    int size;
    int magic_offset;
    Validator validate;
};

const std::vector<RecordKind>& record_kinds() {
    static const std::vector<RecordKind> kinds = {
        {"VTX", 81, 0,
         [](unsigned char* d, int b, int* n) -> void* {
             return orvi_vtx_validate_pipe_data(reinterpret_cast<char*>(d), b, n);
         }},
        {"external_fc_status_t", 8, 0,
         [](unsigned char* d, int b, int* n) -> void* {
             return validate_ext_fc_status_pipe_data(reinterpret_cast<char*>(d), b, n);
         }},
        {"ndc_coords_t", 24, 0,
         [](unsigned char* d, int b, int* n) -> void* {
             return pipe_validate_ndc_coords_data(d, b, n);
         }},
        {"Tflite", 92, 0,
         [](unsigned char* d, int b, int* n) -> void* {
             return pipe_validate_bbox_data(d, b, n);
         }},
        {"Doodle stats", 32, 4,
         [](unsigned char* d, int b, int* n) -> void* {
             return orvi_modem_doodle_validate_pipe_data(reinterpret_cast<char*>(d), b, n);
         }},
    };
    return kinds;
}

// `count` records of the kind, each with the magic in place and the other
// bytes non-zero so that a validator looking in the wrong place fails.
std::vector<unsigned char> batch(const RecordKind& kind, int count) {
    std::vector<unsigned char> bytes(static_cast<size_t>(kind.size) * count, 0xA5);
    for (int i = 0; i < count; i++) {
        std::memcpy(&bytes[static_cast<size_t>(i) * kind.size + kind.magic_offset],
                    &PIPE_RECORD_MAGIC, 4);
    }
    return bytes;
}

void put_word(std::vector<unsigned char>& bytes, size_t at, uint32_t word) {
    std::memcpy(&bytes[at], &word, 4);
}

struct Outcome {
    void* result;
    int n_packets;
    std::string err;
};

Outcome validate(const RecordKind& kind, unsigned char* data, int bytes) {
    Outcome out{nullptr, 12345, ""};
    testing::internal::CaptureStderr();
    out.result = kind.validate(data, bytes, &out.n_packets);
    out.err = testing::internal::GetCapturedStderr();
    return out;
}

std::string prefix(const RecordKind& kind) {
    return std::string("ERROR validating ") + kind.name + " data received through pipe: ";
}

}  // namespace

TEST(PipeRecords, MagicIsLittleEndianOrviInMemory) {
    unsigned char bytes[4];
    std::memcpy(bytes, &PIPE_RECORD_MAGIC, 4);
    EXPECT_EQ(bytes[0], 0x49);
    EXPECT_EQ(bytes[1], 0x56);
    EXPECT_EQ(bytes[2], 0x52);
    EXPECT_EQ(bytes[3], 0x4F);
    EXPECT_EQ(PIPE_RECORD_MAGIC, 1330796105u);
}

// Every validator, every outcome: result, count, and the exact stderr text.
TEST(PipeRecords, ValidatorsAcceptAndRejectWithExactMessages) {
    for (const RecordKind& kind : record_kinds()) {
        SCOPED_TRACE(kind.name);

        // Zero bytes with a buffer: valid, empty, silent.
        std::vector<unsigned char> empty(1, 0);
        Outcome out = validate(kind, empty.data(), 0);
        EXPECT_EQ(out.result, empty.data());
        EXPECT_EQ(out.n_packets, 0);
        EXPECT_EQ(out.err, "");

        // Negative count beats the null test.
        out = validate(kind, nullptr, -1);
        EXPECT_EQ(out.result, nullptr);
        EXPECT_EQ(out.n_packets, 0);
        EXPECT_EQ(out.err, prefix(kind) + "number of bytes = -1\n");

        out = validate(kind, nullptr, kind.size);
        EXPECT_EQ(out.result, nullptr);
        EXPECT_EQ(out.n_packets, 0);
        EXPECT_EQ(out.err, prefix(kind) + "got NULL data pointer\n");

        // Two whole records.
        std::vector<unsigned char> two = batch(kind, 2);
        const std::vector<unsigned char> original = two;
        out = validate(kind, two.data(), 2 * kind.size);
        EXPECT_EQ(out.result, two.data());
        EXPECT_EQ(out.n_packets, 2);
        EXPECT_EQ(out.err, "");
        EXPECT_EQ(two, original);

        // Two bytes short of two records.
        const int partial = 2 * kind.size - 2;
        out = validate(kind, two.data(), partial);
        EXPECT_EQ(out.result, nullptr);
        EXPECT_EQ(out.n_packets, 0);
        EXPECT_EQ(out.err, prefix(kind) + "read partial packet\nread " + std::to_string(partial) +
                               " bytes, but it should be a multiple of " +
                               std::to_string(kind.size) + "\n");

        // Three records, the second and third bad: every record is checked,
        // words print as signed decimals.
        std::vector<unsigned char> three = batch(kind, 3);
        put_word(three, kind.size + kind.magic_offset, 0x12345678u);
        put_word(three, 2 * kind.size + kind.magic_offset, 0xFFFFFFFFu);
        const std::vector<unsigned char> three_before = three;
        out = validate(kind, three.data(), 3 * kind.size);
        EXPECT_EQ(out.result, nullptr);
        EXPECT_EQ(out.n_packets, 0);
        EXPECT_EQ(out.err,
                  "ERROR got magic number 305419896, expected 1330796105\n"
                  "ERROR got magic number -1, expected 1330796105\n" +
                      prefix(kind) + "2 of 3 packets failed\n");
        EXPECT_EQ(three, three_before);

        // A bad first record alone also rejects the good ones after it.
        std::vector<unsigned char> first_bad = batch(kind, 2);
        put_word(first_bad, kind.magic_offset, 0);
        out = validate(kind, first_bad.data(), 2 * kind.size);
        EXPECT_EQ(out.result, nullptr);
        EXPECT_EQ(out.n_packets, 0);
        EXPECT_EQ(out.err, "ERROR got magic number 0, expected 1330796105\n" + prefix(kind) +
                               "1 of 2 packets failed\n");
    }
}

TEST(PipeRecords, VtxBatchSizesOf162And160Bytes) {
    const RecordKind& vtx = record_kinds()[0];
    std::vector<unsigned char> two = batch(vtx, 2);
    Outcome out = validate(vtx, two.data(), 162);
    EXPECT_EQ(out.result, two.data());
    EXPECT_EQ(out.n_packets, 2);
    out = validate(vtx, two.data(), 160);
    EXPECT_EQ(out.result, nullptr);
    EXPECT_EQ(out.err,
              "ERROR validating VTX data received through pipe: read partial packet\n"
              "read 160 bytes, but it should be a multiple of 81\n");
}

TEST(PipeRecords, DoodleMagicIsTheSecondWord) {
    const RecordKind& doodle = record_kinds()[4];
    std::vector<unsigned char> bytes(32, 0);
    put_word(bytes, 0, PIPE_RECORD_MAGIC);
    put_word(bytes, 4, 7);
    Outcome out = validate(doodle, bytes.data(), 32);
    EXPECT_EQ(out.result, nullptr);
    EXPECT_EQ(out.err,
              "ERROR got magic number 7, expected 1330796105\n"
              "ERROR validating Doodle stats data received through pipe: 1 of 1 packets failed\n");

    put_word(bytes, 0, 7);
    put_word(bytes, 4, PIPE_RECORD_MAGIC);
    out = validate(doodle, bytes.data(), 32);
    EXPECT_EQ(out.result, bytes.data());
    EXPECT_EQ(out.n_packets, 1);
    EXPECT_EQ(out.err, "");
}

// A record at an odd address inside a delivered buffer reads back whole when
// copied out, field by field at the documented offsets.
TEST(PipeRecords, VtxRecordFieldsAtTheirWireOffsets) {
    std::vector<unsigned char> wire(1 + 81, 0);
    unsigned char* rec = wire.data() + 1;
    auto put32 = [&](int at, int32_t v) { std::memcpy(rec + at, &v, 4); };
    std::memcpy(rec, &PIPE_RECORD_MAGIC, 4);
    put32(4, 77);
    rec[40] = 0xEE;
    put32(41, 19);
    double temperature = 41.5;
    std::memcpy(rec + 45, &temperature, 8);
    put32(65, 20);
    put32(69, 5805);
    put32(73, 3);
    put32(77, 25);

    int n = 0;
    testing::internal::CaptureStderr();
    vtx_data_t* records = orvi_vtx_validate_pipe_data(reinterpret_cast<char*>(rec), 81, &n);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(records, nullptr);
    ASSERT_EQ(n, 1);
    vtx_data_t copy;
    std::memcpy(&copy, records, sizeof copy);
    // Fields of a packed record are read by value: gtest binds references.
    EXPECT_EQ(int32_t{copy.id}, 77);
    EXPECT_EQ(uint8_t{copy.reserved_flag}, 0xEE);
    EXPECT_EQ(int32_t{copy.frame_type}, 19);
    EXPECT_EQ(double{copy.temperature_c}, 41.5);
    EXPECT_EQ(int32_t{copy.power_idx}, 20);
    EXPECT_EQ(int32_t{copy.frequency}, 5805);
    EXPECT_EQ(int32_t{copy.mcs}, 3);
    EXPECT_EQ(int32_t{copy.fec}, 25);
}

TEST(PipeRecords, IsBitSet) {
    struct Row {
        uint8_t value;
        int bit;
        int expected;
    };
    const Row rows[] = {
        {0x80, 7, 1}, {0x80, 6, 0}, {0x01, 0, 1}, {0x02, 0, 0}, {0x02, 1, 1}, {0xFF, 8, 0},
        {0xFF, 31, 0}, {0xFF, 32, 0}, {0xFF, -1, 0}, {0xFF, 1000, 0}, {0x00, 3, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(is_bit_set(row.value, row.bit), row.expected)
            << "value " << int(row.value) << " bit " << row.bit;
    }
}
