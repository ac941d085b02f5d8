// brannic_pipe across real processes: servers and clients in helper
// processes (pipe_peer) talking to clients and servers in this one.
// Runs inside sim/orvi-sim-run, which gives it its own empty /run/zpx.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <orvi/brannic_pipe.h>
#include "pipe_test_records.h"
#include "test_support.h"

namespace {

long long now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// A peer's answers may take longer when it runs under an emulator.
long long scaled(int timeout_ms) { return static_cast<long long>(timeout_ms * program_time_factor()); }

// A pipe_peer process with its standard input and output in our hands.
class Peer {
public:
    explicit Peer(const std::vector<std::string>& args) {
        int to_child[2], from_child[2];
        if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return;
        std::vector<std::string> argv = program_command("tests/platform/pipe_peer");
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            dup2(to_child[0], 0);
            dup2(from_child[1], 1);
            std::vector<char*> cargv;
            for (auto& a : argv) cargv.push_back(&a[0]);
            cargv.push_back(nullptr);
            execvp(cargv[0], cargv.data());
            _exit(127);
        }
        close(to_child[0]);
        close(from_child[1]);
        in_ = to_child[1];
        out_ = from_child[0];
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    ~Peer() {
        if (in_ >= 0) close(in_);
        if (pid_ > 0 && !reaped_) {
            // Give it a moment to leave by itself after losing its input.
            const long long end = now_ms() + 2000;
            int status;
            while (waitpid(pid_, &status, WNOHANG) == 0) {
                if (now_ms() > end) {
                    kill(pid_, SIGKILL);
                    waitpid(pid_, &status, 0);
                    break;
                }
                poll(nullptr, 0, 5);
            }
        }
        if (out_ >= 0) close(out_);
    }

    void send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(in_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // Next output line, or "" after timeout_ms or at end of output.
    std::string line(int timeout_ms = 5000) {
        if (lines_.empty() && !read_more(now_ms() + scaled(timeout_ms))) return std::string();
        std::string out = lines_.front();
        lines_.erase(lines_.begin());
        return out;
    }

    // The first line starting with prefix, taken out of the output wherever
    // it is (its threads print in any order); the other lines stay. "" if
    // none came within timeout_ms.
    std::string expect(const std::string& prefix, int timeout_ms = 5000) {
        const long long end = now_ms() + scaled(timeout_ms);
        size_t scanned = 0;
        for (;;) {
            for (; scanned < lines_.size(); ++scanned) {
                if (lines_[scanned].compare(0, prefix.size(), prefix) == 0) {
                    std::string out = lines_[scanned];
                    lines_.erase(lines_.begin() + static_cast<long>(scanned));
                    return out;
                }
            }
            if (!read_more(end)) return std::string();
        }
    }

    void kill_hard() {
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
        reaped_ = true;
    }

    // Exit status after "exit" (or -1 if it did not end within 5 s).
    int finish() {
        send("exit");
        const long long end = now_ms() + 5000;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (now_ms() > end) return -1;
            poll(nullptr, 0, 5);
        }
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    std::string partial_;
    std::vector<std::string> lines_;

    // Reads until at least one more whole line arrived; false at the deadline or end of output.
    bool read_more(long long deadline) {
        const size_t before = lines_.size();
        while (lines_.size() == before) {
            const long long left = deadline - now_ms();
            if (left <= 0) return false;
            pollfd pfd{out_, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
            char chunk[4096];
            const ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return false;
            partial_.append(chunk, static_cast<size_t>(n));
            size_t nl;
            while ((nl = partial_.find('\n')) != std::string::npos) {
                lines_.push_back(partial_.substr(0, nl));
                partial_.erase(0, nl + 1);
            }
        }
        return true;
    }
};

// What the callbacks of one in-process client channel saw.
struct Recorder {
    std::mutex m;
    std::condition_variable cv;
    int connects = 0;
    int disconnects = 0;
    std::vector<std::string> deliveries;  // describe_batch of each

    template <class Pred>
    bool wait(Pred pred, int timeout_ms = 5000) {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return pred(*this); });
    }
    int n_connects() { std::lock_guard<std::mutex> l(m); return connects; }
    int n_disconnects() { std::lock_guard<std::mutex> l(m); return disconnects; }
    size_t n_deliveries() { std::lock_guard<std::mutex> l(m); return deliveries.size(); }
};

void on_connect(int, void* ctx) {
    auto* r = static_cast<Recorder*>(ctx);
    std::lock_guard<std::mutex> lock(r->m);
    ++r->connects;
    r->cv.notify_all();
}
void on_disconnect(int, void* ctx) {
    auto* r = static_cast<Recorder*>(ctx);
    std::lock_guard<std::mutex> lock(r->m);
    ++r->disconnects;
    r->cv.notify_all();
}
void on_data(int, char* data, int bytes, void* ctx) {
    auto* r = static_cast<Recorder*>(ctx);
    std::lock_guard<std::mutex> lock(r->m);
    r->deliveries.push_back(describe_batch(data, bytes));
    r->cv.notify_all();
}

int open_recorded(int ch, const std::string& path, Recorder& r, const char* name = "test-client") {
    pipe_client_set_connect_cb(ch, on_connect, &r);
    pipe_client_set_disconnect_cb(ch, on_disconnect, &r);
    pipe_client_set_simple_helper_cb(ch, on_data, &r);
    return pipe_client_open(ch, path.c_str(), name, CLIENT_FLAG_EN_SIMPLE_HELPER, 32768);
}

// "BYTES FIRST LAST ok" of write number i of a run of writes of `batch` records.
std::string expected_delivery(int i, int batch, uint32_t start = 0) {
    const uint32_t first = start + static_cast<uint32_t>(i * batch);
    return std::to_string(batch * kRecordBytes) + " " + std::to_string(first) + " " +
           std::to_string(first + static_cast<uint32_t>(batch) - 1) + " ok";
}

// The server notices hang-ups on its own thread: ask until the count is right.
std::string wait_for_clients(Peer& server, int n) {
    const std::string wanted = "clients " + std::to_string(n);
    std::string got;
    for (int i = 0; i < 200 && got != wanted; ++i) {
        if (i > 0) poll(nullptr, 0, 10);
        server.send("clients");
        got = server.expect("clients");
    }
    return got;
}

class Pipe : public ::testing::Test {
protected:
    void TearDown() override {
        pipe_client_close_all();
        pipe_server_close_all();
        // Registrations outlive a close; these point at this test's recorders.
        for (int ch = 0; ch < PIPE_CLIENT_MAX_CHANNELS; ++ch) {
            pipe_client_set_connect_cb(ch, nullptr, nullptr);
            pipe_client_set_disconnect_cb(ch, nullptr, nullptr);
            pipe_client_set_simple_helper_cb(ch, nullptr, nullptr);
        }
        for (int ch = 0; ch < PIPE_SERVER_MAX_CHANNELS; ++ch) {
            pipe_server_set_connect_cb(ch, nullptr, nullptr);
            pipe_server_set_disconnect_cb(ch, nullptr, nullptr);
            pipe_server_set_control_cb(ch, nullptr, nullptr);
        }
    }
    // Outlive every channel: TearDown closes them first.
    Recorder r, a, b;
};

// Cases that talk to pipe_peer processes (CTest runs them apart: a foreign
// build cannot start its own programs without binfmt_misc).
class PipeWithPeers : public Pipe {};

TEST(PipeLocation, ExpandsNamesAndRefusesBadOnes) {
    struct Case {
        std::string input;
        int result;
        std::string path;
    };
    const std::string max_name(53, 'a');
    const std::vector<Case> cases = {
        {"vtx_latency", 0, "/run/zpx/vtx_latency/"},
        {"vtx_latency/", 0, "/run/zpx/vtx_latency/"},
        {"/run/zpx/vtx_latency", 0, "/run/zpx/vtx_latency/"},
        {"/run/zpx/vtx_latency/", 0, "/run/zpx/vtx_latency/"},
        {"cpu-stats2.v1", 0, "/run/zpx/cpu-stats2.v1/"},
        {max_name, 0, "/run/zpx/" + max_name + "/"},
        {"/run/zpx/" + max_name, 0, "/run/zpx/" + max_name + "/"},
        {max_name + "a", PIPE_ERROR_INVALID_PATH, ""},
        {"", PIPE_ERROR_INVALID_PATH, ""},
        {"/", PIPE_ERROR_INVALID_PATH, ""},
        {"/run/zpx/", PIPE_ERROR_INVALID_PATH, ""},
        {"/run/zpx", PIPE_ERROR_INVALID_PATH, ""},
        {"/tmp/vtx", PIPE_ERROR_INVALID_PATH, ""},
        {"..", PIPE_ERROR_INVALID_PATH, ""},
        {".", PIPE_ERROR_INVALID_PATH, ""},
        {"/run/zpx/../etc", PIPE_ERROR_INVALID_PATH, ""},
        {".hidden", PIPE_ERROR_INVALID_PATH, ""},
        {"a/b", PIPE_ERROR_INVALID_PATH, ""},
        {"vtx//", PIPE_ERROR_INVALID_PATH, ""},
        {"/run/zpx//vtx", PIPE_ERROR_INVALID_PATH, ""},
        {"vtx latency", PIPE_ERROR_INVALID_PATH, ""},
        {"vtx\nlatency", PIPE_ERROR_INVALID_PATH, ""},
        {"vtx\tx", PIPE_ERROR_INVALID_PATH, ""},
        {"caf\xc3\xa9", PIPE_ERROR_INVALID_PATH, ""},
        {std::string(200, 'b'), PIPE_ERROR_INVALID_PATH, ""},
    };
    for (const Case& c : cases) {
        char path[PIPE_MAX_PATH_LEN];
        memset(path, 'x', sizeof path);
        EXPECT_EQ(pipe_expand_location_string(c.input.c_str(), path), c.result) << c.input;
        EXPECT_EQ(std::string(path), c.path) << c.input;
    }
    char path[PIPE_MAX_PATH_LEN];
    EXPECT_EQ(pipe_expand_location_string(nullptr, path), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(pipe_expand_location_string("vtx", nullptr), PIPE_ERROR_INVALID_ARG);
}

TEST(PipeFormats, NamesEveryImageFormat) {
    const std::vector<std::pair<int, std::string>> cases = {
        {IMAGE_FORMAT_RAW8, "RAW8"}, {IMAGE_FORMAT_NV12, "NV12"}, {IMAGE_FORMAT_YUV420, "YUV420"},
        {IMAGE_FORMAT_RGB, "RGB"},   {IMAGE_FORMAT_H264, "H264"}, {IMAGE_FORMAT_H265, "H265"},
        {IMAGE_FORMAT_JPG, "JPG"},   {-1, "UNKNOWN"},             {7, "UNKNOWN"},
    };
    for (const auto& c : cases) EXPECT_EQ(std::string(pipe_image_format_to_string(c.first)), c.second);
}

TEST(PipeErrors, PrintsOneLineForEachCode) {
    const std::vector<std::pair<int, std::string>> cases = {
        {PIPE_ERROR_OTHER, "Pipe error -1: unspecified failure\n"},
        {PIPE_ERROR_INVALID_ARG, "Pipe error -2: invalid argument (channel out of range, null or bad value)\n"},
        {PIPE_ERROR_INVALID_PATH, "Pipe error -3: invalid pipe name or path\n"},
        {PIPE_ERROR_CHANNEL_IN_USE, "Pipe error -4: channel already in use\n"},
        {PIPE_ERROR_SERVER_RUNNING, "Pipe error -5: a server is already running on this pipe\n"},
        {PIPE_ERROR_SYSTEM, "Pipe error -6: system call failed\n"},
        {PIPE_ERROR_NOT_CONNECTED, "Pipe error -7: no server is running on this pipe\n"},
        {-42, "Pipe error -42: unknown error code\n"},
        {0, "Pipe: no error (0)\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        pipe_print_error(c.first);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.second);
    }
}

TEST(PipeSignals, StopSignalsClearMainRunning) {
    ASSERT_EQ(enable_signal_handler(), 0);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        main_running = 1;
        ASSERT_EQ(raise(sig), 0);
        EXPECT_EQ(main_running.load(), 0) << "signal " << sig;
    }
    main_running = 1;
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
}

TEST_F(Pipe, OpenRefusesOnlyBadArguments) {
    EXPECT_EQ(open_recorded(-1, "/run/zpx/args", r), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(open_recorded(PIPE_CLIENT_MAX_CHANNELS, "/run/zpx/args", r), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(open_recorded(0, "/run/zpx/../args", r), PIPE_ERROR_INVALID_PATH);
    EXPECT_EQ(pipe_client_open(0, nullptr, "x", 1, 32768), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(pipe_client_open(0, "args", "x", 6, 32768), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(pipe_client_open(0, "args", "x", 1, -1), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(pipe_client_open(0, "args", std::string(PIPE_MAX_NAME_LEN, 'n').c_str(), 1, 32768),
              PIPE_ERROR_INVALID_ARG);
    // No server: the open still succeeds and the client waits for one.
    EXPECT_EQ(open_recorded(0, "/run/zpx/args", r), 0);
    EXPECT_EQ(pipe_client_is_connected(0), 0);
    EXPECT_EQ(open_recorded(0, "/run/zpx/args", r), PIPE_ERROR_CHANNEL_IN_USE);
    pipe_client_close(0);
    EXPECT_EQ(open_recorded(0, "args", r), 0);
    EXPECT_EQ(r.n_connects(), 0);
    // Registrations stay across a close and a new open.
    pipe_client_close(0);
    ASSERT_EQ(pipe_client_open(0, "args", "again", CLIENT_FLAG_EN_SIMPLE_HELPER, 0), 0);
    ASSERT_EQ(pipe_server_create(0, "args", "t", "s"), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 1; }));
    ASSERT_EQ(pipe_server_write(0, "xyz", 3), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 1; }));
    EXPECT_EQ(r.deliveries[0], "3 - - bad");
}

TEST_F(PipeWithPeers, ClientBeforeServerThenReconnectsAfterRestart) {
    ASSERT_EQ(open_recorded(0, "/run/zpx/restart", r, "orvi-rfmon"), 0);
    poll(nullptr, 0, 100);  // the client looks for its server a few times first
    EXPECT_EQ(r.n_connects(), 0);

    auto server = std::make_unique<Peer>(std::vector<std::string>{"server", "restart", "telemetry", "vtx"});
    ASSERT_EQ(server->expect("created"), "created 0");
    EXPECT_EQ(server->expect("connect"), "connect 0 orvi-rfmon");
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 1; }));
    EXPECT_EQ(pipe_client_is_connected(0), 1);
    server->send("write 3 1");
    ASSERT_EQ(server->expect("wrote"), "wrote 3");
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 3; }));

    EXPECT_EQ(server->finish(), 0);
    server.reset();
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.disconnects == 1; }));
    EXPECT_EQ(pipe_client_is_connected(0), 0);

    server = std::make_unique<Peer>(std::vector<std::string>{"server", "restart", "telemetry", "vtx"});
    ASSERT_EQ(server->expect("created"), "created 0");
    EXPECT_EQ(server->expect("connect"), "connect 0 orvi-rfmon");
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 2; }));
    server->send("write 2 1");
    ASSERT_EQ(server->expect("wrote"), "wrote 2");
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 5; }));
    EXPECT_EQ(server->finish(), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.disconnects == 2; }));

    std::lock_guard<std::mutex> lock(r.m);
    const std::vector<std::string> expected = {
        expected_delivery(0, 1), expected_delivery(1, 1), expected_delivery(2, 1),
        expected_delivery(0, 1), expected_delivery(1, 1)};
    EXPECT_EQ(r.deliveries, expected);
    EXPECT_EQ(r.connects, 2);
    EXPECT_EQ(r.disconnects, 2);
}

TEST_F(PipeWithPeers, BatchesOfRecordsArriveWholeAndInOrder) {
    Peer server({"server", "batches", "telemetry", "vtx"});
    ASSERT_EQ(server.expect("created"), "created 0");
    ASSERT_EQ(open_recorded(0, "batches", r), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 1; }));
    // Few enough to fit the client's queue even if it has not run yet.
    server.send("write 100 10");
    ASSERT_EQ(server.expect("wrote"), "wrote 1000");
    server.send("write 100 1");
    ASSERT_EQ(server.expect("wrote"), "wrote 1100");
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 200; }));
    std::vector<std::string> expected;
    for (int i = 0; i < 100; ++i) expected.push_back(expected_delivery(i, 10));
    for (int i = 0; i < 100; ++i) expected.push_back(expected_delivery(i, 1, 1000));
    std::lock_guard<std::mutex> lock(r.m);
    EXPECT_EQ(r.deliveries, expected);
    server.send("dropped");
    EXPECT_EQ(server.expect("dropped"), "dropped 0");
}

TEST_F(PipeWithPeers, SeveralClientsEachGetEveryWriteAndSurviveAPeerDying) {
    Peer server({"server", "fanout", "telemetry", "vtx"});
    ASSERT_EQ(server.expect("created"), "created 0");
    ASSERT_EQ(open_recorded(0, "fanout", a, "client-a"), 0);
    ASSERT_EQ(open_recorded(3, "/run/zpx/fanout/", b, "client-b"), 0);
    Peer remote({"client", "fanout", "client-c"});
    ASSERT_EQ(remote.expect("opened"), "opened 0");
    Peer doomed({"client", "fanout", "client-d"});
    ASSERT_EQ(doomed.expect("opened"), "opened 0");
    ASSERT_EQ(remote.expect("connect"), "connect");
    ASSERT_EQ(doomed.expect("connect"), "connect");
    ASSERT_TRUE(a.wait([](Recorder& x) { return x.connects == 1; }));
    ASSERT_TRUE(b.wait([](Recorder& x) { return x.connects == 1; }));
    server.send("clients");
    EXPECT_EQ(server.expect("clients"), "clients 4");

    server.send("write 50 10");
    doomed.kill_hard();  // dies while the server writes
    ASSERT_EQ(server.expect("wrote"), "wrote 500");
    server.send("write 50 10");
    ASSERT_EQ(server.expect("wrote"), "wrote 1000");
    EXPECT_EQ(wait_for_clients(server, 3), "clients 3");

    std::vector<std::string> expected;
    for (int i = 0; i < 100; ++i) expected.push_back(expected_delivery(i, 10));
    for (Recorder* r : {&a, &b}) {
        ASSERT_TRUE(r->wait([](Recorder& x) { return x.deliveries.size() == 100; }));
        std::lock_guard<std::mutex> lock(r->m);
        EXPECT_EQ(r->deliveries, expected);
    }
    for (int i = 0; i < 100; ++i) EXPECT_EQ(remote.line(), "data " + expected[static_cast<size_t>(i)]);
}

TEST_F(PipeWithPeers, StalledClientLosesOnlyItsOwnMessages) {
    Peer server({"server", "stall", "telemetry", "vtx"});
    ASSERT_EQ(server.expect("created"), "created 0");
    Peer stalled({"client", "stall", "slowpoke", "stall"});
    ASSERT_EQ(stalled.expect("opened"), "opened 0");
    ASSERT_EQ(stalled.expect("connect"), "connect");
    Recorder& healthy = r;
    ASSERT_EQ(open_recorded(0, "stall", healthy), 0);
    ASSERT_TRUE(healthy.wait([](Recorder& x) { return x.connects == 1; }));

    server.send("write 1 1");
    ASSERT_EQ(stalled.expect("stalled"), "stalled");
    EXPECT_EQ(stalled.line(), "data " + expected_delivery(0, 1));
    // Rounds of writes until the stalled client's queue is full and it
    // starts losing messages; the server must answer every round at once.
    int rounds = 0;
    uint64_t dropped = 0;
    size_t delivered = 1;
    while (dropped == 0 && rounds < 400) {
        server.send("write 20 100");
        ASSERT_NE(server.expect("wrote", 2000), "") << "server blocked in round " << rounds;
        ++rounds;
        delivered += 20;
        ASSERT_TRUE(healthy.wait([&](Recorder& x) { return x.deliveries.size() == delivered; }))
            << "healthy client starved in round " << rounds;
        server.send("dropped");
        const std::string d = server.expect("dropped");
        dropped = std::stoull(d.substr(8));
    }
    EXPECT_GT(dropped, 0u);
    EXPECT_LT(dropped, static_cast<uint64_t>(rounds) * 20);
    {
        std::lock_guard<std::mutex> lock(healthy.m);
        EXPECT_EQ(healthy.deliveries[0], expected_delivery(0, 1));
        for (size_t i = 1; i < healthy.deliveries.size(); ++i) {
            EXPECT_EQ(healthy.deliveries[i], expected_delivery(static_cast<int>(i - 1), 100, 1)) << i;
        }
    }
    // Unstalled, it gets what was queued (whole, in order), then new writes again.
    stalled.send("unstall");
    size_t seen = 0;
    uint32_t previous_last = 0;
    for (;;) {
        const std::string l = stalled.line(500);
        if (l.empty()) break;
        if (l.rfind("data ", 0) != 0) continue;
        ++seen;
        std::istringstream in(l.substr(5));
        std::string bytes, first, last, ok;
        in >> bytes >> first >> last >> ok;
        EXPECT_EQ(bytes + " " + ok, "8100 ok") << l;
        if (seen > 1) {
            EXPECT_GT(std::stoul(first), previous_last) << l;
        }
        previous_last = static_cast<uint32_t>(std::stoul(last));
    }
    EXPECT_EQ(static_cast<uint64_t>(seen), static_cast<uint64_t>(rounds) * 20 - dropped);
    server.send("write 1 3");
    ASSERT_NE(server.expect("wrote"), "");
    EXPECT_EQ(stalled.line(), "data " + expected_delivery(0, 3, 1 + static_cast<uint32_t>(rounds) * 20 * 100));
}

std::atomic<int> g_busy{0};
std::atomic<int> g_calls{0};

void busy_data(int, char*, int, void*) {
    g_busy = 1;
    g_calls.fetch_add(1);
    const long long end = now_ms() + 2;
    while (now_ms() < end) {
    }
    g_busy = 0;
}

TEST_F(PipeWithPeers, CloseAllJoinsAndNoCallbackRunsAfter) {
    Peer server({"server", "closeall", "telemetry", "vtx"});
    ASSERT_EQ(server.expect("created"), "created 0");
    g_calls = 0;
    for (int ch : {0, 1, 2}) {
        pipe_client_set_simple_helper_cb(ch, busy_data, nullptr);
        ASSERT_EQ(pipe_client_open(ch, "closeall", "busy", CLIENT_FLAG_EN_SIMPLE_HELPER, 32768), 0);
    }
    for (int i = 0; i < 3; ++i) EXPECT_NE(server.expect("connect"), "");
    server.send("write 300 1");
    const long long end = now_ms() + 5000;
    while (g_calls.load() < 10 && now_ms() < end) poll(nullptr, 0, 1);
    ASSERT_GE(g_calls.load(), 10);
    pipe_client_close_all();
    EXPECT_EQ(g_busy.load(), 0);
    const int calls = g_calls.load();
    EXPECT_EQ(pipe_client_is_connected(0), 0);
    server.send("write 50 1");
    ASSERT_NE(server.expect("wrote"), "");
    poll(nullptr, 0, 100);
    EXPECT_EQ(g_calls.load(), calls);
    EXPECT_EQ(wait_for_clients(server, 0), "clients 0");
}

std::atomic<int> g_close_returned{0};
std::atomic<int> g_calls_after_close{0};

void closing_data(int, char*, int, void*) {
    if (g_close_returned.load() != 0) g_calls_after_close.fetch_add(1);
    pipe_client_close_all();
    g_close_returned.fetch_add(1);
}

TEST_F(PipeWithPeers, CloseAllFromCallbacksOfTwoChannelsAtOnceDoesNotDeadlock) {
    Peer server({"server", "selfclose", "telemetry", "vtx"});
    ASSERT_EQ(server.expect("created"), "created 0");
    g_close_returned = 0;
    g_calls_after_close = 0;
    for (int ch : {4, 5}) {
        pipe_client_set_simple_helper_cb(ch, closing_data, nullptr);
        ASSERT_EQ(pipe_client_open(ch, "selfclose", "closer", CLIENT_FLAG_EN_SIMPLE_HELPER, 32768), 0);
    }
    for (int i = 0; i < 2; ++i) EXPECT_NE(server.expect("connect"), "");
    server.send("write 20 1");
    const long long end = now_ms() + 5000;
    while (g_close_returned.load() < 1 && now_ms() < end) poll(nullptr, 0, 1);
    ASSERT_GE(g_close_returned.load(), 1);
    pipe_client_close_all();  // and from here too, while they may still be closing
    const int returned = g_close_returned.load();
    EXPECT_GE(returned, 1);
    EXPECT_LE(returned, 2);
    poll(nullptr, 0, 100);
    EXPECT_EQ(g_close_returned.load(), returned);
    EXPECT_EQ(g_calls_after_close.load(), 0);
    // Both channels are free again.
    EXPECT_EQ(open_recorded(4, "selfclose", r), 0);
    EXPECT_EQ(open_recorded(5, "selfclose", r), 0);
}

void on_control(int, char* text, int bytes, void* ctx) {
    auto* r = static_cast<Recorder*>(ctx);
    std::lock_guard<std::mutex> lock(r->m);
    r->deliveries.push_back(std::string(text) + "|" + std::to_string(bytes));
    r->cv.notify_all();
}

TEST_F(PipeWithPeers, ControlCommandsReachTheServer) {
    EXPECT_EQ(pipe_send_control_cmd("cpu_stats2", "set_cpu_mode_perf_with_pitmode"), PIPE_ERROR_NOT_CONNECTED);
    EXPECT_EQ(pipe_send_control_cmd("../x", "a"), PIPE_ERROR_INVALID_PATH);
    EXPECT_EQ(pipe_send_control_cmd(nullptr, "a"), PIPE_ERROR_INVALID_ARG);
    {
        Peer server({"server", "cpu_stats2", "cpu", "orvi-sim"});
        ASSERT_EQ(server.expect("created"), "created 0");
        EXPECT_EQ(pipe_send_control_cmd("cpu_stats2", "set_cpu_mode_perf_with_pitmode"), 0);
        EXPECT_EQ(server.expect("control"), "control 30 set_cpu_mode_perf_with_pitmode");
        EXPECT_EQ(pipe_send_control_cmd("/run/zpx/cpu_stats2/", "stop_test 1"), 0);
        EXPECT_EQ(server.expect("control"), "control 11 stop_test 1");
        EXPECT_EQ(server.finish(), 0);
    }
    EXPECT_EQ(pipe_send_control_cmd("cpu_stats2", "again"), PIPE_ERROR_NOT_CONNECTED);

    // A server in this process, first without a control callback.
    ASSERT_EQ(pipe_server_create(2, "local_ctl", "cmd", "test"), 0);
    EXPECT_EQ(pipe_send_control_cmd("local_ctl", "ignored"), PIPE_ERROR_OTHER);
    ASSERT_EQ(pipe_server_set_control_cb(2, on_control, &r), 0);
    EXPECT_EQ(pipe_send_control_cmd("local_ctl", "hello world"), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 1; }));
    EXPECT_EQ(r.deliveries[0], "hello world|11");
}

TEST_F(PipeWithPeers, ExistsOnlyWhileAServerAnswers) {
    EXPECT_EQ(pipe_exists("exists"), 0);
    EXPECT_EQ(pipe_exists("../etc"), 0);
    auto server = std::make_unique<Peer>(std::vector<std::string>{"server", "exists", "t", "s"});
    ASSERT_EQ(server->expect("created"), "created 0");
    EXPECT_NE(pipe_exists("exists"), 0);
    EXPECT_NE(pipe_exists("/run/zpx/exists"), 0);
    EXPECT_NE(pipe_exists("/run/zpx/exists/"), 0);
    EXPECT_EQ(server->finish(), 0);
    EXPECT_EQ(pipe_exists("exists"), 0);
    struct stat st;
    EXPECT_NE(stat("/run/zpx/exists", &st), 0);  // a clean close leaves nothing behind

    server = std::make_unique<Peer>(std::vector<std::string>{"server", "exists", "t", "s"});
    ASSERT_EQ(server->expect("created"), "created 0");
    server->kill_hard();
    EXPECT_EQ(stat("/run/zpx/exists/socket", &st), 0);  // the crash left its endpoint
    EXPECT_EQ(pipe_exists("exists"), 0);
}

TEST_F(PipeWithPeers, CrashedServerIsReplacedButALiveOneIsNot) {
    ASSERT_EQ(open_recorded(0, "crash", r), 0);
    auto first = std::make_unique<Peer>(std::vector<std::string>{"server", "crash", "telemetry", "vtx"});
    ASSERT_EQ(first->expect("created"), "created 0");
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 1; }));

    // A second server on the same name, in another process and in this one.
    {
        Peer rival({"server", "crash", "telemetry", "rival"});
        EXPECT_EQ(rival.expect("created"), "created " + std::to_string(PIPE_ERROR_SERVER_RUNNING));
    }
    EXPECT_EQ(pipe_server_create(0, "crash", "telemetry", "rival"), PIPE_ERROR_SERVER_RUNNING);
    EXPECT_NE(pipe_exists("crash"), 0);  // the refused rivals did not disturb it

    first->kill_hard();
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.disconnects == 1; }));
    Peer second({"server", "crash", "telemetry", "vtx2"});
    ASSERT_EQ(second.expect("created"), "created 0");
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 2; }));
    second.send("write 1 10");
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 1; }));
    EXPECT_EQ(r.deliveries[0], expected_delivery(0, 10));
    const std::string info = read_file("/run/zpx/crash/info");
    EXPECT_NE(info.find("\"server_name\":\t\"vtx2\""), std::string::npos) << info;
}

TEST_F(PipeWithPeers, InfoFileDescribesTheServerAndFollowsUpdates) {
    Peer server({"server", "hires_small_encoded", "camera_image_metadata_t", "orvi-camera"});
    ASSERT_EQ(server.expect("created"), "created 0");
    cJSON* info = cJSON_Parse(read_file("/run/zpx/hires_small_encoded/info").c_str());
    ASSERT_NE(info, nullptr);
    auto str = [&](const char* key) {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(info, key);
        return cJSON_IsString(item) ? std::string(item->valuestring) : std::string("<missing>");
    };
    EXPECT_EQ(str("name"), "hires_small_encoded");
    EXPECT_EQ(str("location"), "/run/zpx/hires_small_encoded/");
    EXPECT_EQ(str("type"), "camera_image_metadata_t");
    EXPECT_EQ(str("server_name"), "orvi-camera");
    const cJSON* pid = cJSON_GetObjectItemCaseSensitive(info, "server_pid");
    ASSERT_TRUE(cJSON_IsNumber(pid));
    EXPECT_GT(pid->valueint, 1);
    EXPECT_NE(pid->valueint, static_cast<int>(getpid()));
    cJSON_Delete(info);

    server.send("info string_format H264");
    EXPECT_EQ(server.expect("updated"), "updated 0");
    info = cJSON_Parse(read_file("/run/zpx/hires_small_encoded/info").c_str());
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(str("string_format"), "H264");
    EXPECT_EQ(str("name"), "hires_small_encoded");
    cJSON_Delete(info);
    struct stat st;
    EXPECT_NE(stat("/run/zpx/hires_small_encoded/.info.tmp", &st), 0);
}

TEST_F(Pipe, ServerApiInThisProcess) {
    EXPECT_EQ(pipe_server_create(-1, "x", "t", "s"), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(pipe_server_create(PIPE_SERVER_MAX_CHANNELS, "x", "t", "s"), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(pipe_server_create(0, "a/b", "t", "s"), PIPE_ERROR_INVALID_PATH);
    EXPECT_EQ(pipe_server_write(0, "x", 1), PIPE_ERROR_NOT_CONNECTED);
    EXPECT_EQ(pipe_server_get_info_json_ptr(0), nullptr);
    EXPECT_EQ(pipe_server_update_info(0), PIPE_ERROR_NOT_CONNECTED);
    ASSERT_EQ(pipe_server_create(0, "local", "t", "s"), 0);
    EXPECT_EQ(pipe_server_create(0, "local2", "t", "s"), PIPE_ERROR_CHANNEL_IN_USE);
    EXPECT_EQ(pipe_server_create(1, "local", "t", "s"), PIPE_ERROR_SERVER_RUNNING);
    EXPECT_EQ(pipe_server_write(0, nullptr, 1), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(pipe_server_write(0, "x", 0), PIPE_ERROR_INVALID_ARG);
    std::string big(PIPE_MAX_MESSAGE_BYTES + 1, 'x');
    EXPECT_EQ(pipe_server_write(0, big.data(), static_cast<int>(big.size())), PIPE_ERROR_INVALID_ARG);
    EXPECT_EQ(pipe_server_write(0, "x", 1), 0);  // nobody listening is fine
    EXPECT_EQ(pipe_server_get_num_clients(0), 0);

    // Largest message, several writer threads: every delivery is one whole write.
    ASSERT_EQ(open_recorded(0, "local", r), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 1; }));
    EXPECT_EQ(pipe_server_get_num_clients(0), 1);
    big.resize(PIPE_MAX_MESSAGE_BYTES);
    ASSERT_EQ(pipe_server_write(0, big.data(), static_cast<int>(big.size())), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 1; }));
    EXPECT_EQ(r.deliveries[0], std::to_string(PIPE_MAX_MESSAGE_BYTES) + " - - bad");  // not records, but whole

    constexpr int kThreads = 4, kWrites = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kWrites; ++i) {
                const std::string batch = make_batch(static_cast<uint32_t>(t * 100000 + i * 5), 5);
                pipe_server_write(0, batch.data(), static_cast<int>(batch.size()));
            }
        });
    }
    for (auto& w : writers) w.join();
    const uint64_t dropped = pipe_server_get_dropped(0);
    ASSERT_TRUE(r.wait([&](Recorder& x) { return x.deliveries.size() + dropped == 1 + kThreads * kWrites; }));
    std::lock_guard<std::mutex> lock(r.m);
    for (size_t i = 1; i < r.deliveries.size(); ++i) {
        EXPECT_EQ(r.deliveries[i].substr(0, 4), "405 ");
        EXPECT_EQ(r.deliveries[i].substr(r.deliveries[i].size() - 3), " ok") << r.deliveries[i];
    }
}

// The library's threads keep the stop signals away from themselves, so a
// signal for the process interrupts the application's own wait.
TEST_F(Pipe, StopSignalsReachTheApplicationThread) {
    ASSERT_EQ(pipe_server_create(0, "signals", "t", "s"), 0);
    ASSERT_EQ(open_recorded(0, "signals", r), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 1; }));
    ASSERT_EQ(enable_signal_handler(), 0);
    main_running = 1;
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        const timespec pause{0, 100 * 1000 * 1000};
        nanosleep(&pause, nullptr);
        kill(parent, SIGTERM);
        _exit(0);
    }
    ASSERT_GT(child, 0);
    const int n = poll(nullptr, 0, 20000);
    const int err = errno;
    int status;
    waitpid(child, &status, 0);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(err, EINTR);
    EXPECT_EQ(main_running.load(), 0);
    // The pipe still works afterwards.
    ASSERT_EQ(pipe_server_write(0, "ok", 2), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 1; }));
    main_running = 1;
    signal(SIGTERM, SIG_DFL);
}

// A bare connection to a pipe's endpoint, as a foreign or broken program makes.
int raw_connect(const std::string& name) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "/run/zpx/%s/socket", name.c_str());
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST_F(Pipe, StrangersOnTheEndpointDoNotDisturbTheServer) {
    ASSERT_EQ(pipe_server_create(0, "strangers", "t", "s"), 0);
    std::vector<int> silent;
    for (int i = 0; i < 40; ++i) {  // more than the server keeps waiting
        const int fd = raw_connect("strangers");
        ASSERT_GE(fd, 0);
        silent.push_back(fd);
    }
    const int junk = raw_connect("strangers");
    ASSERT_GE(junk, 0);
    ASSERT_EQ(send(junk, "Zjunk", 5, MSG_NOSIGNAL), 5);
    const int empty = raw_connect("strangers");
    ASSERT_GE(empty, 0);
    ASSERT_EQ(send(empty, "", 0, MSG_NOSIGNAL), 0);  // a zero-length packet
    const int brief = raw_connect("strangers");
    ASSERT_GE(brief, 0);
    ASSERT_EQ(send(brief, "Hbrief", 6, MSG_NOSIGNAL), 6);
    close(brief);

    ASSERT_EQ(open_recorded(0, "strangers", r), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 1; }));
    const std::string batch = make_batch(7, 2);
    ASSERT_EQ(pipe_server_write(0, batch.data(), static_cast<int>(batch.size())), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.deliveries.size() == 1; }));
    EXPECT_EQ(r.deliveries[0], expected_delivery(0, 2, 7));
    const long long end = now_ms() + 5000;
    while (pipe_server_get_num_clients(0) != 1 && now_ms() < end) poll(nullptr, 0, 5);
    EXPECT_EQ(pipe_server_get_num_clients(0), 1);
    // The junk connection was closed by the server without an answer.
    char answer[8];
    EXPECT_EQ(recv(junk, answer, sizeof answer, 0), 0);
    for (int fd : silent) close(fd);
    close(junk);
    close(empty);
}

std::atomic<int> g_server_self_closed{0};

void closing_server_connect(int ch, int, char*, void*) {
    pipe_server_close(ch);
    g_server_self_closed = 1;
}

TEST_F(Pipe, ServerMayCloseItselfFromItsCallback) {
    g_server_self_closed = 0;
    pipe_server_set_connect_cb(1, closing_server_connect, nullptr);
    ASSERT_EQ(pipe_server_create(1, "selfserver", "t", "s"), 0);
    ASSERT_EQ(open_recorded(0, "selfserver", r), 0);
    const long long end = now_ms() + 5000;
    while (g_server_self_closed.load() == 0 && now_ms() < end) poll(nullptr, 0, 1);
    ASSERT_EQ(g_server_self_closed.load(), 1);
    EXPECT_EQ(pipe_exists("selfserver"), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.disconnects == 1; }));
    pipe_server_set_connect_cb(1, nullptr, nullptr);
    ASSERT_EQ(pipe_server_create(1, "selfserver", "t", "s"), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 2; }));
}

std::atomic<int> g_self_close_calls{0};

void self_closing_data(int ch, char*, int, void*) {
    g_self_close_calls.fetch_add(1);
    pipe_client_close(ch);
}

TEST_F(Pipe, ClientMayCloseItsOwnChannelFromItsCallback) {
    g_self_close_calls = 0;
    ASSERT_EQ(pipe_server_create(0, "selfclient", "t", "s"), 0);
    pipe_client_set_simple_helper_cb(7, self_closing_data, nullptr);
    ASSERT_EQ(pipe_client_open(7, "selfclient", "c", CLIENT_FLAG_EN_SIMPLE_HELPER, 0), 0);
    long long end = now_ms() + 5000;
    while (pipe_server_get_num_clients(0) != 1 && now_ms() < end) poll(nullptr, 0, 1);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(pipe_server_write(0, "abc", 3), 0);
    end = now_ms() + 5000;
    while (pipe_server_get_num_clients(0) != 0 && now_ms() < end) poll(nullptr, 0, 1);
    EXPECT_EQ(pipe_server_get_num_clients(0), 0);
    poll(nullptr, 0, 50);
    EXPECT_EQ(g_self_close_calls.load(), 1);
    EXPECT_EQ(pipe_client_is_connected(7), 0);
    // The channel can be opened again at once.
    ASSERT_EQ(open_recorded(7, "selfclient", r), 0);
    ASSERT_TRUE(r.wait([](Recorder& x) { return x.connects == 1; }));
}

}  // namespace

int main(int argc, char** argv) {
    // Never touch the machine's real pipe folder: run inside the board runner.
    if (reexec_inside_hermetic_runner(argc, argv, "pipe_tests") != 0) return 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
