// Publish-to-callback latency and throughput of brannic_pipe for 81-byte
// records, beside a raw SOCK_SEQPACKET socketpair measured the same way in
// the same run as the floor.
//
// Latency: the publisher stamps the first record with CLOCK_MONOTONIC and
// writes; the receiver takes the difference on arrival and answers over a
// raw socketpair, and only then is the next message written, so nothing
// queues. Throughput: the publisher keeps a window of messages in flight
// and counts records that reached the callback per second.
//
//   bench_pipe [samples] [throughput_writes]
// It runs itself inside sim/orvi-sim-run, so the pipes it makes never land
// in the machine's real /run/zpx.
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <orvi/brannic_pipe.h>
#include "hermetic_runner.h"

namespace {

constexpr int kRecordBytes = 81;
constexpr int kWarmup = 2000;

int64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string make_message(int batch) {
    std::string m(static_cast<size_t>(batch) * kRecordBytes, '\0');
    for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<char>(i * 7);
    return m;
}

struct Stats {
    double median_us;
    double p99_us;
};

Stats summarise(std::vector<int64_t> ns) {
    std::sort(ns.begin(), ns.end());
    const auto at = [&](double q) { return ns[static_cast<size_t>(q * static_cast<double>(ns.size() - 1))] / 1000.0; };
    return {at(0.5), at(0.99)};
}

void stamp(std::string& message) {
    const int64_t t = now_ns();
    memcpy(&message[0], &t, sizeof t);
}

int64_t age_of(const char* data) {
    int64_t t;
    memcpy(&t, data, sizeof t);
    return now_ns() - t;
}

// ---- raw floor ----

Stats raw_latency(int batch, int samples) {
    int data[2], ack[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, data) != 0 || socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ack) != 0) {
        perror("socketpair");
        exit(1);
    }
    std::vector<int64_t> lat;
    lat.reserve(static_cast<size_t>(samples));
    const int total = kWarmup + samples;
    std::thread receiver([&] {
        std::vector<char> buf(65536);
        for (int i = 0; i < total; ++i) {
            const ssize_t n = recv(data[1], buf.data(), buf.size(), 0);
            if (n <= 0) break;
            const int64_t age = age_of(buf.data());
            if (i >= kWarmup) lat.push_back(age);
            const char one = 1;
            if (send(ack[1], &one, 1, 0) != 1) break;
        }
    });
    std::string message = make_message(batch);
    for (int i = 0; i < total; ++i) {
        stamp(message);
        if (send(data[0], message.data(), message.size(), 0) < 0) break;
        char one;
        if (recv(ack[0], &one, 1, 0) != 1) break;
    }
    receiver.join();
    for (int fd : {data[0], data[1], ack[0], ack[1]}) close(fd);
    return summarise(lat);
}

// ---- through the library ----

struct Receiver {
    int ack_fd = -1;
    int count = 0;
    std::vector<int64_t> lat;
    std::atomic<uint64_t> records{0};
};
Receiver g_rx;
std::atomic<int> g_connected{0};

void on_connect(int, void*) { g_connected = 1; }

void latency_cb(int, char* data, int, void*) {
    const int64_t age = age_of(data);
    if (g_rx.count++ >= kWarmup) g_rx.lat.push_back(age);
    const char one = 1;
    if (send(g_rx.ack_fd, &one, 1, 0) != 1) perror("ack");
}

void count_cb(int, char*, int bytes, void*) { g_rx.records.fetch_add(static_cast<uint64_t>(bytes / kRecordBytes)); }

void open_client(pipe_client_simple_cb cb) {
    g_connected = 0;
    pipe_client_set_connect_cb(0, on_connect, nullptr);
    pipe_client_set_simple_helper_cb(0, cb, nullptr);
    if (pipe_client_open(0, "bench_pipe", "bench", CLIENT_FLAG_EN_SIMPLE_HELPER, 32768) != 0) {
        fprintf(stderr, "bench_pipe: client open failed\n");
        exit(1);
    }
    while (g_connected.load() == 0) sched_yield();
}

Stats pipe_latency(int batch, int samples) {
    int ack[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ack) != 0) {
        perror("socketpair");
        exit(1);
    }
    g_rx.ack_fd = ack[1];
    g_rx.count = 0;
    g_rx.lat.clear();
    g_rx.lat.reserve(static_cast<size_t>(samples));
    open_client(latency_cb);
    std::string message = make_message(batch);
    for (int i = 0; i < kWarmup + samples; ++i) {
        stamp(message);
        if (pipe_server_write(0, message.data(), static_cast<int>(message.size())) != 0) break;
        char one;
        if (recv(ack[0], &one, 1, 0) != 1) break;
    }
    pipe_client_close_all();
    close(ack[0]);
    close(ack[1]);
    return summarise(g_rx.lat);
}

struct Rate {
    double records_per_s;
    uint64_t dropped;
};

Rate pipe_throughput(int batch, int writes) {
    constexpr uint64_t kWindow = 64;  // messages in flight
    g_rx.records = 0;
    open_client(count_cb);
    const uint64_t dropped_before = pipe_server_get_dropped(0);
    const std::string message = make_message(batch);
    const uint64_t per = static_cast<uint64_t>(batch);
    const int64_t start = now_ns();
    for (int i = 0; i < writes; ++i) {
        // Lost messages never arrive: count them as no longer in flight.
        while (static_cast<uint64_t>(i) * per - g_rx.records.load() -
                   (pipe_server_get_dropped(0) - dropped_before) * per >
               kWindow * per) {
            sched_yield();
        }
        pipe_server_write(0, message.data(), static_cast<int>(message.size()));
    }
    const uint64_t dropped = pipe_server_get_dropped(0) - dropped_before;
    const uint64_t expected = (static_cast<uint64_t>(writes) - dropped) * per;
    while (g_rx.records.load() < expected) sched_yield();
    const int64_t elapsed = now_ns() - start;
    pipe_client_close_all();
    return {static_cast<double>(expected) * 1e9 / static_cast<double>(elapsed), dropped};
}

// From a server's start to the connect callback of a client that was
// already waiting for it: the reconnection delay after a server restart.
Stats reconnect_delay(int restarts) {
    std::vector<int64_t> ns;
    std::atomic<int64_t> connected_at{0};
    pipe_client_set_connect_cb(
        1, [](int, void* ctx) { static_cast<std::atomic<int64_t>*>(ctx)->store(now_ns()); }, &connected_at);
    if (pipe_client_open(1, "bench_restart", "bench", 0, 0) != 0) exit(1);
    for (int i = 0; i < restarts; ++i) {
        connected_at = 0;
        const int64_t start = now_ns();
        if (pipe_server_create(1, "bench_restart", "bench", "bench_pipe") != 0) exit(1);
        while (connected_at.load() == 0) sched_yield();
        ns.push_back(connected_at.load() - start);
        pipe_server_close(1);
        while (pipe_client_is_connected(1)) sched_yield();
    }
    pipe_client_close_all();
    return summarise(ns);
}

}  // namespace

int main(int argc, char** argv) {
    if (reexec_inside_hermetic_runner(argc, argv, "bench_pipe") != 0) return 1;
    const int samples = argc > 1 ? atoi(argv[1]) : 20000;
    const int writes = argc > 2 ? atoi(argv[2]) : 200000;
    if (samples <= 0 || writes <= 0) {
        fprintf(stderr, "usage: bench_pipe [samples] [throughput_writes]\n");
        return 2;
    }
    const int rc = pipe_server_create(0, "bench_pipe", "bench", "bench_pipe");
    if (rc != 0) {
        pipe_print_error(rc);
        return 1;
    }
    printf("81-byte records, %d latency samples per case, %d writes per throughput case\n", samples, writes);
    printf("%-32s %10s %10s\n", "latency", "median_us", "p99_us");
    bool met = true;
    for (int batch : {1, 10}) {
        const Stats raw = raw_latency(batch, samples);
        const Stats lib = pipe_latency(batch, samples);
        printf("%-32s %10.2f %10.2f\n", ("raw socketpair, batch " + std::to_string(batch)).c_str(), raw.median_us,
               raw.p99_us);
        printf("%-32s %10.2f %10.2f   p99 = %.2fx floor\n", ("brannic_pipe, batch " + std::to_string(batch)).c_str(),
               lib.median_us, lib.p99_us, lib.p99_us / raw.p99_us);
        if (lib.p99_us > 3 * raw.p99_us) met = false;
    }
    printf("%-32s %14s %10s\n", "throughput", "records/s", "dropped");
    for (int batch : {1, 10}) {
        const Rate r = pipe_throughput(batch, writes);
        printf("%-32s %14.0f %10llu\n", ("brannic_pipe, batch " + std::to_string(batch)).c_str(), r.records_per_s,
               static_cast<unsigned long long>(r.dropped));
        if (batch == 10 && r.records_per_s < 500000) met = false;
    }
    const Stats restart = reconnect_delay(50);
    printf("%-32s %10.2f %10.2f\n", "server start to client connect", restart.median_us, restart.p99_us);
    pipe_server_close_all();
    printf("targets (p99 within 3x of the floor, 500000 records/s in batches of 10): %s\n", met ? "met" : "MISSED");
    return 0;
}
