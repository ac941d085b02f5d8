// The telemetry subscription: batches published on "vtx_latency" by a test
// server reach the three process-wide integers, and only whole valid batches
// count. Runs inside sim/orvi-sim-run (a private /run/zpx).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <orvi/brannic_pipe.h>
#include "monitor_state.h"
#include <orvi/pipe_records.h>
#include "telemetry_subscription.h"
#include "test_support.h"

namespace {

vtx_data_t record(int frequency, int mcs, int power_idx) {
    vtx_data_t r{};
    r.magic_number = PIPE_RECORD_MAGIC;
    r.id = frequency;
    r.frequency = frequency;
    r.mcs = mcs;
    r.power_idx = power_idx;
    r.fec = 25;
    return r;
}

std::vector<char> batch(const std::vector<vtx_data_t>& records) {
    std::vector<char> bytes(records.size() * sizeof(vtx_data_t));
    for (size_t i = 0; i < records.size(); i++) {
        std::memcpy(bytes.data() + i * sizeof(vtx_data_t), &records[i], sizeof(vtx_data_t));
    }
    return bytes;
}

struct Telemetry {
    int frequency, mcs, power_idx;
    bool operator==(const Telemetry& o) const {
        return frequency == o.frequency && mcs == o.mcs && power_idx == o.power_idx;
    }
};

std::ostream& operator<<(std::ostream& os, const Telemetry& t) {
    return os << t.frequency << "/" << t.mcs << "/" << t.power_idx;
}

Telemetry current() {
    return {g_frequency.load(), g_mcs.load(), g_power_idx.load()};
}

void set_current(const Telemetry& t) {
    g_frequency = t.frequency;
    g_mcs = t.mcs;
    g_power_idx = t.power_idx;
}

// Waits (bounded) for a condition that another thread makes true.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; i++) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// Sends this process's stdout and stderr to files that can be read while
// the pipe thread is still writing.
class OutputFiles {
public:
    OutputFiles() {
        std::fflush(stdout);
        std::fflush(stderr);
        saved_out_ = dup(1);
        saved_err_ = dup(2);
        int out = open((dir_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open((dir_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
        setvbuf(stdout, nullptr, _IONBF, 0);
    }
    ~OutputFiles() {
        std::fflush(stdout);
        dup2(saved_out_, 1);
        dup2(saved_err_, 2);
        close(saved_out_);
        close(saved_err_);
    }
    std::string out() const { return read(dir_ + "/out"); }
    std::string err() const { return read(dir_ + "/err"); }

private:
    static std::string read(const std::string& path) {
        std::fflush(stdout);
        return read_file(path);
    }
    const ScratchDir scratch_{"rfmon-telemetry"};
    const std::string& dir_ = scratch_.path();
    int saved_out_ = -1;
    int saved_err_ = -1;
};

}  // namespace

// The callback on its own, with buffers as the pipe hands them over (at
// any alignment).
TEST(VtxDataCallback, TakesTheLastRecordOfAValidBatchOnly) {
    set_current({5800, 0, 1});
    std::vector<char> three = batch({record(2412, 1, 5), record(5180, 2, 10), record(5805, 3, 20)});
    std::vector<char> shifted(three.size() + 1);
    std::memcpy(shifted.data() + 1, three.data(), three.size());

    testing::internal::CaptureStderr();
    _vtx_data_cb(0, shifted.data() + 1, static_cast<int>(three.size()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(current(), (Telemetry{5805, 3, 20}));

    struct Bad {
        const char* name;
        std::vector<char> bytes;
        int length;
        std::string err;
    };
    std::vector<char> bad_last = batch({record(2412, 1, 5), record(5180, 2, 10)});
    bad_last[81] = 0;
    std::vector<char> bad_first = batch({record(2412, 1, 5), record(5180, 2, 10)});
    bad_first[3] = 0x7F;
    const std::vector<Bad> rejected = {
        {"partial", batch({record(2412, 1, 5), record(5180, 2, 10)}), 161,
         "ERROR validating VTX data received through pipe: read partial packet\n"
         "read 161 bytes, but it should be a multiple of 81\n"},
        {"last record bad", bad_last, 162,
         "ERROR got magic number 1330796032, expected 1330796105\n"
         "ERROR validating VTX data received through pipe: 1 of 2 packets failed\n"},
        {"first record bad", bad_first, 162,
         "ERROR got magic number 2136102473, expected 1330796105\n"
         "ERROR validating VTX data received through pipe: 1 of 2 packets failed\n"},
        {"negative count", {}, -1,
         "ERROR validating VTX data received through pipe: number of bytes = -1\n"},
        {"empty", std::vector<char>(1), 0, ""},
    };
    for (const Bad& bad : rejected) {
        SCOPED_TRACE(bad.name);
        std::vector<char> copy = bad.bytes;
        testing::internal::CaptureStderr();
        _vtx_data_cb(0, copy.empty() ? nullptr : copy.data(), bad.length, nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), bad.err);
        EXPECT_EQ(current(), (Telemetry{5805, 3, 20}));
        EXPECT_EQ(copy, bad.bytes);
    }
}

// Through the real pipe: a server publishes, the subscription of
// init_vtx_pipe receives on the library's thread.
TEST(VtxPipe, PublishedBatchesReachTheTelemetryIntegers) {
    set_current({5800, 0, 1});
    OutputFiles output;
    ASSERT_EQ(pipe_server_create(0, "vtx_latency", "vtx_data_t", "test-publisher"), 0);
    ASSERT_GE(init_vtx_pipe(), 0);
    EXPECT_STREQ(VTX_PIPE_PATH, "/run/zpx/vtx_latency");
    ASSERT_TRUE(eventually([] { return pipe_server_get_num_clients(0) == 1; }));
    ASSERT_TRUE(eventually([&] { return output.out() == "Connected to VTX Latency pipe\n"; }))
        << output.out();

    std::vector<char> three = batch({record(2412, 1, 5), record(5180, 2, 10), record(5805, 3, 20)});
    ASSERT_EQ(pipe_server_write(0, three.data(), static_cast<int>(three.size())), 0);
    EXPECT_TRUE(eventually([] { return current() == Telemetry{5805, 3, 20}; })) << current();

    // A batch whose first two records are good but whose third is not.
    std::vector<char> bad = batch({record(2437, 4, 30), record(5200, 5, 40), record(5745, 6, 50)});
    bad[2 * 81] = 0;
    ASSERT_EQ(pipe_server_write(0, bad.data(), static_cast<int>(bad.size())), 0);
    const std::string rejected =
        "ERROR got magic number 1330796032, expected 1330796105\n"
        "ERROR validating VTX data received through pipe: 1 of 3 packets failed\n";
    ASSERT_TRUE(eventually([&] { return output.err() == rejected; })) << output.err();
    EXPECT_EQ(current(), (Telemetry{5805, 3, 20}));

    // A partial one.
    std::vector<char> partial = batch({record(2462, 7, 60)});
    ASSERT_EQ(pipe_server_write(0, partial.data(), 80), 0);
    const std::string rejected_too =
        rejected +
        "ERROR validating VTX data received through pipe: read partial packet\n"
        "read 80 bytes, but it should be a multiple of 81\n";
    ASSERT_TRUE(eventually([&] { return output.err() == rejected_too; })) << output.err();
    EXPECT_EQ(current(), (Telemetry{5805, 3, 20}));

    // One record alone.
    std::vector<char> one = batch({record(5500, 0, 63)});
    ASSERT_EQ(pipe_server_write(0, one.data(), static_cast<int>(one.size())), 0);
    EXPECT_TRUE(eventually([] { return current() == Telemetry{5500, 0, 63}; })) << current();

    pipe_server_close(0);
    EXPECT_TRUE(eventually([&] {
        return output.out() ==
               "Connected to VTX Latency pipe\nDisconnected from VTX Latency pipe\n";
    })) << output.out();
    pipe_client_close_all();
    EXPECT_EQ(output.err(), rejected_too);
}
