// The telemetry publisher (telemetry_publisher): records that follow the
// transmitter, batches, bad writes, records files, a late start and real time
// on a virtual-time board.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <orvi/pipe_records.h>
#include "board_runs.h"

namespace {

struct Record {
    unsigned magic;
    int id, frequency, mcs, power, frame;
};

struct Delivery {
    int bytes;
    std::vector<Record> records;
};

std::vector<Delivery> parse_deliveries(const std::string& out) {
    std::vector<Delivery> d;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        int bytes = 0;
        Record rec{};
        if (std::sscanf(line.c_str(), "delivery %d", &bytes) == 1) {
            d.push_back({bytes, {}});
        } else if (std::sscanf(line.c_str(), "magic=%x id=%d frequency=%d mcs=%d power=%d frame=%d",
                               &rec.magic, &rec.id, &rec.frequency, &rec.mcs, &rec.power,
                               &rec.frame) == 6 &&
                   !d.empty()) {
            d.back().records.push_back(rec);
        }
    }
    return d;
}

std::string telemetry_probe() { return binary_path("tests/sim/sim_telemetry_probe"); }

TEST(SimBoard, PublisherRecordsFollowTheTransmitter) {
    ProcessResult r = on_board({"--publisher", "--rate 200", "--frequency", "5180", "--mcs", "3"},
                               {telemetry_probe(), "vtx_latency", "60", "10000",
                                "orvi-configure-vtx -p 33 -m 1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<Delivery> d = parse_deliveries(r.out);
    ASSERT_EQ(d.size(), 60u);
    int first = d[0].records.at(0).id;
    for (size_t i = 0; i < d.size(); ++i) {
        ASSERT_EQ(d[i].bytes, 81);
        ASSERT_EQ(d[i].records.size(), 1u);
        const Record& rec = d[i].records[0];
        EXPECT_EQ(rec.magic, PIPE_RECORD_MAGIC);
        EXPECT_EQ(rec.id, first + static_cast<int>(i));
        EXPECT_EQ(rec.frequency, 5180);
        EXPECT_EQ(rec.frame, (rec.id - 1) % 30 == 0 ? 19 : 1);
    }
    EXPECT_EQ(d[0].records[0].power, 20);
    EXPECT_EQ(d[0].records[0].mcs, 3);
    EXPECT_EQ(d.back().records[0].power, 33);
    EXPECT_EQ(d.back().records[0].mcs, 1);
}

TEST(SimBoard, PublisherBatchesAndBadBatches) {
    struct Case {
        const char* args;
        std::vector<int> sizes;
        std::vector<std::vector<int>> ids;
        std::vector<unsigned> first_magic;
    };
    const unsigned M = PIPE_RECORD_MAGIC;
    const std::vector<Case> cases = {
        {"--wait-clients 1 --batch 3 --count 7 --hold", {243, 243, 81},
         {{1, 2, 3}, {4, 5, 6}, {7}}, {M, M, M}},
        {"--wait-clients 1 --count 4 --bad-every 2:partial --hold --h264", {81, 80, 81, 80},
         {{1}, {}, {3}, {}}, {M, 0, M, 0}},
        {"--wait-clients 1 --count 3 --bad-every 3:magic --hold --id-start 100", {81, 81, 81},
         {{100}, {101}, {102}}, {M, M, 0xDEADBEEF}},
        {"--wait-clients 1 --count 4 --restart-every 2:300 --hold", {81, 81, 81, 81},
         {{1}, {2}, {3}, {4}}, {M, M, M, M}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ProcessResult r = on_board(
            {"--publisher", c.args},
            {telemetry_probe(), "vtx_latency", std::to_string(c.sizes.size()), "10000"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::vector<Delivery> d = parse_deliveries(r.out);
        ASSERT_EQ(d.size(), c.sizes.size());
        for (size_t i = 0; i < d.size(); ++i) {
            EXPECT_EQ(d[i].bytes, c.sizes[i]);
            std::vector<int> ids;
            for (const auto& rec : d[i].records) ids.push_back(rec.id);
            if (c.sizes[i] % 81 == 0) {
                EXPECT_EQ(ids, c.ids[i]);
                EXPECT_EQ(d[i].records.at(0).magic, c.first_magic[i]);
            }
        }
    }
}

TEST(SimBoard, PublisherPlaysARecordsFileByteForByte) {
    const ScratchDir dir("orvi-sim-test");
    std::string file = dir / "records.bin";
    std::string bytes;
    for (int id : {7, 8, 9}) {
        vtx_data_t rec;
        std::memset(&rec, 0, sizeof rec);
        rec.magic_number = id == 8 ? 0x11223344u : PIPE_RECORD_MAGIC;
        rec.id = id;
        rec.frequency = 2412;
        rec.mcs = 2;
        rec.power_idx = id;
        rec.frame_type = 65;
        bytes.append(reinterpret_cast<const char*>(&rec), sizeof rec);
    }
    bytes.append(40, 'x');
    std::ofstream(file, std::ios::binary) << bytes;
    ProcessResult r = on_board(
        {"--publisher", "--records " + file + " --batches 2,1 --wait-clients 1 --hold"},
        {telemetry_probe(), "vtx_latency", "3", "10000"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "delivery 162\n"
              "magic=4f525649 id=7 frequency=2412 mcs=2 power=7 frame=65 fec=0 in=0.00 out=0.00\n"
              "magic=11223344 id=8 frequency=2412 mcs=2 power=8 frame=65 fec=0 in=0.00 out=0.00\n"
              "delivery 81\n"
              "magic=4f525649 id=9 frequency=2412 mcs=2 power=9 frame=65 fec=0 in=0.00 out=0.00\n"
              "delivery 40\n");
}

TEST(SimBoard, ClientsMeetAPublisherThatStartsLate) {
    ProcessResult r = on_board({"--publisher", "--start-delay 400 --rate 100"},
                               {telemetry_probe(), "vtx_latency", "5", "10000"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(parse_deliveries(r.out).size(), 5u);
}

TEST(SimBoard, PublisherStartedByHandKeepsRealTimeOnAVirtualTimeBoard) {
    ProcessResult r = shell_on_board(
        {"--virtual-time"},
        binary_path("sim/vtx-telemetry-publisher") + " --count 20 --rate 200; echo status $?;"
        " orvi-sim-ctl show | cut -d' ' -f6");
    EXPECT_EQ(r.out, "status 0\nvirtual_ns=0\n") << r.err;
}

}  // namespace
