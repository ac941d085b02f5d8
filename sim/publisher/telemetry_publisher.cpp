// vtx-telemetry-publisher: plays the transmitter service's side of the
// telemetry pipe, from the simulated board's state or from a records file.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board_options.h"
#include "board_state.h"
#include <orvi/brannic_pipe.h>
#include "i2c_bus_model.h"
#include "rf_model.h"
#include "telemetry_stream.h"

namespace {

constexpr int kChannel = 0;
constexpr const char* kName = "vtx-telemetry-publisher";

struct Board {
    BoardConfig cfg;
    BoardShared* state = nullptr;
};

// Sleeps up to ms, waking early when a signal clears main_running.
void pause_ms(long ms) {
    while (ms > 0 && main_running.load()) {
        long step = ms < 50 ? ms : 50;
        timespec ts{0, step * 1000000L};
        nanosleep(&ts, nullptr);
        ms -= step;
    }
}

bool create_pipe(const PublisherOptions& o) {
    int r = pipe_server_create(kChannel, o.pipe.c_str(), "vtx_data_t", kName);
    if (r < 0) {
        std::fprintf(stderr, "%s: cannot create pipe %s (%d)\n", kName, o.pipe.c_str(), r);
        return false;
    }
    return true;
}

void wait_for_clients(const PublisherOptions& o) {
    while (main_running.load() && pipe_server_get_num_clients(kChannel) < o.wait_clients)
        pause_ms(10);
}

TransmitterView view_of(const Board& board, const PublisherOptions& o) {
    TransmitterView tx{5805, 3, 20, 35.0, 0};
    if (board.state) {
        tx.frequency = board.state->frequency.load();
        tx.mcs = board.state->mcs.load();
        tx.power = board.state->power.load();
        tx.temperature_c = update_temperature(board.state, board.cfg,
                                              board_now_ns(board.state, real_monotonic_ns()));
    }
    if (o.frequency >= 0) tx.frequency = o.frequency;
    if (o.mcs >= 0) tx.mcs = o.mcs;
    if (o.power >= 0) tx.power = o.power;
    // The transmitter's own estimate: the typical unit's curve, not this unit's truth.
    tx.power_dbm = tx.power > 0 ? rf_output_dbm(rf_unit(0), tx.frequency, tx.mcs, tx.power,
                                                RF_REFERENCE_C)
                                : 0;
    return tx;
}

int publish_file(const PublisherOptions& o) {
    std::ifstream in(o.records_file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read %s\n", kName, o.records_file.c_str());
        return 1;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!create_pipe(o)) return 1;
    wait_for_clients(o);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long period_ns = static_cast<long>(1e9 / o.rate_hz);
    size_t pos = 0;
    for (size_t n : record_file_writes(bytes.size(), o.batches)) {
        if (!main_running.load()) break;
        pipe_server_write(kChannel, bytes.data() + pos, static_cast<int>(n));
        pos += n;
        next.tv_nsec += period_ns;
        while (next.tv_nsec >= 1000000000L) next.tv_nsec -= 1000000000L, ++next.tv_sec;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    return 0;
}

int publish_generated(const PublisherOptions& o, const Board& board) {
    if (!create_pipe(o)) return 1;
    wait_for_clients(o);
    const long period_ns = static_cast<long>(1e9 / o.rate_hz);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    std::vector<vtx_data_t> batch(static_cast<size_t>(o.batch));
    long k = 0, writes = 0, since_restart = 0;
    while (main_running.load() && (o.count < 0 || k < o.count)) {
        TransmitterView tx = view_of(board, o);
        size_t n = static_cast<size_t>(o.batch);
        if (o.count >= 0 && o.count - k < static_cast<long>(n)) n = static_cast<size_t>(o.count - k);
        for (size_t i = 0; i < n; ++i) batch[i] = make_telemetry_record(k + static_cast<long>(i), o, tx);
        ++writes;
        size_t bytes = n * sizeof(vtx_data_t);
        if (o.bad_every > 0 && writes % o.bad_every == 0) {
            if (o.bad_kind == BadKind::Partial) {
                --bytes;
            } else {
                const uint32_t wrong = 0xDEADBEEF;
                std::memcpy(&batch[0].magic_number, &wrong, sizeof wrong);
            }
        }
        pipe_server_write(kChannel, batch.data(), static_cast<int>(bytes));
        k += static_cast<long>(n);
        since_restart += static_cast<long>(n);
        if (o.restart_every > 0 && since_restart >= o.restart_every) {
            since_restart = 0;
            pipe_server_close(kChannel);
            pause_ms(o.restart_gap_ms);
            if (!main_running.load()) break;
            if (!create_pipe(o)) return 1;
            wait_for_clients(o);
            clock_gettime(CLOCK_MONOTONIC, &next);
        }
        next.tv_nsec += period_ns;
        while (next.tv_nsec >= 1000000000L) next.tv_nsec -= 1000000000L, ++next.tv_sec;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    return 0;
}

// The publisher keeps real time even when started on a board with virtual
// time: it leaves the board library out of its own preload list.
void run_without_board_library(char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libi2c-sim.so") == nullptr) return;
    std::string kept;
    std::string list = preload;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find_first_of(": ", pos);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(pos, end - pos);
        if (!item.empty() && item.find("libi2c-sim.so") == std::string::npos)
            kept += (kept.empty() ? "" : ":") + item;
        pos = end + 1;
    }
    if (kept.empty()) unsetenv("LD_PRELOAD");
    else setenv("LD_PRELOAD", kept.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("vtx-telemetry-publisher: re-exec without the board library");
}

}  // namespace

int main(int argc, char** argv) {
    run_without_board_library(argv);
    PublisherOptions o;
    bool help = false;
    std::string error;
    if (!parse_publisher_options(argc, argv, &o, &help, &error)) {
        std::fprintf(stderr, "%s: %s\n%s", kName, error.c_str(), kPublisherUsage);
        return 2;
    }
    if (help) {
        std::fputs(kPublisherUsage, stdout);
        return 0;
    }

    Board board;
    if (const char* path = std::getenv(SIM_BOARD_ENV); path && *path) {
        if (!load_board_config(&board.cfg, path, &error)) {
            std::fprintf(stderr, "%s: %s\n", kName, error.c_str());
            return 1;
        }
        board.state = attach_board_state(board.cfg);
    }

    enable_signal_handler();
    main_running.store(1);
    pause_ms(o.start_delay_ms);
    if (!main_running.load()) return 0;

    int status = o.records_file.empty() ? publish_generated(o, board) : publish_file(o);
    if (status == 0 && o.hold) {
        while (main_running.load()) pause_ms(100);
    }
    pipe_server_close_all();
    return status;
}
