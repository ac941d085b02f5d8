// orvi-rfmon's monitoring in real time on the simulated board:
//   - allocations of one 300-sample reading (process_sensor_data, after a
//     first reading has loaded the tables), counted by a malloc hook;
//   - the wall time of that reading against its 300 x 100 us of pauses;
//   - the monitoring cycle period of the real orvi-rfmon against the
//     mandated waits (300 x 100 us + 500 ms), from the arrival times of its
//     lines, and its peak resident memory (/usr/bin/time -v).
// Started outside the board, the program runs itself on it.
//
//   build/bench/measurement/bench_monitor_cycle [cycles]   (default 20)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "sensor_data.h"
#include "sensor_processing.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMandatedCycleS = 300 * 100e-6 + 0.5;

int run_on_board(int argc, char** argv) {
    std::vector<std::string> args = {
        ORVI_SOURCE_DIR "/sim/orvi-sim-board", "--build", ORVI_BINARY_DIR, "--publisher", "", "--"};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    std::vector<char*> raw;
    for (auto& a : args) raw.push_back(a.data());
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    std::perror("bench_monitor_cycle: cannot start the board");
    return 1;
}

void reading_allocations() {
    const int fd = open("/dev/i2c-1", O_RDWR);
    if (fd < 0) {
        std::perror("bench_monitor_cycle: /dev/i2c-1");
        return;
    }
    sensor_data_t record{};
    if (process_sensor_data(&record, fd, 3, 5805, 300, 0.0001) != 0) {
        std::fprintf(stderr, "bench_monitor_cycle: first reading failed\n");
        close(fd);
        return;
    }
    // The hook must see what it is shown, or its zero means nothing.
    allocation_counter_arm(true);
    delete new std::string(100, 'x');
    allocation_counter_arm(false);
    const size_t probe = allocation_counter_value();

    allocation_counter_arm(true);
    const auto start = Clock::now();
    const int result = process_sensor_data(&record, fd, 3, 5805, 300, 0.0001);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    allocation_counter_arm(false);
    close(fd);
    std::printf("reading: result %d, %d samples, %.2f mV -> %.2f dBm\n", result,
                record.sample_count, record.ch1_mv, record.ch1_dbm);
    std::printf("reading: allocations during a 300-sample reading: %zu (hook check: %zu seen)\n",
                allocation_counter_value(), probe);
    std::printf("reading: %.2f ms for 300 samples, pauses alone 30.00 ms, ratio %.3f\n",
                seconds * 1e3, seconds / 0.030);
}

void monitoring_cycle(int cycles) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return;
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        execlp("/usr/bin/time", "/usr/bin/time", "-v", "stdbuf", "-oL",
               ORVI_BINARY_DIR "/rfmon/orvi-rfmon", "-d", "1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    FILE* lines = fdopen(out[0], "r");
    std::vector<Clock::time_point> stamps;
    char line[1024];
    while (static_cast<int>(stamps.size()) < cycles + 1 && std::fgets(line, sizeof line, lines)) {
        if (std::strncmp(line, "2.4 GHz (CH0):", 14) == 0)
            stamps.push_back(Clock::now());
    }
    kill(-pid, SIGINT);  // time waits on; orvi-rfmon ends and time reports
    std::string report;
    FILE* errors = fdopen(err[0], "r");
    while (std::fgets(line, sizeof line, errors)) report += line;
    std::fclose(errors);
    std::fclose(lines);
    waitpid(pid, nullptr, 0);

    if (stamps.size() < 2) {
        std::fprintf(stderr, "bench_monitor_cycle: too few monitoring lines\n%s", report.c_str());
        return;
    }
    const double span = std::chrono::duration<double>(stamps.back() - stamps.front()).count();
    const double period = span / static_cast<double>(stamps.size() - 1);
    std::printf("monitoring: %zu cycles, period %.1f ms, mandated %.1f ms, ratio %.4f\n",
                stamps.size() - 1, period * 1e3, kMandatedCycleS * 1e3, period / kMandatedCycleS);
    const char* key = "Maximum resident set size (kbytes): ";
    const size_t at = report.find(key);
    if (at != std::string::npos) {
        const long kb = std::atol(report.c_str() + at + std::strlen(key));
        std::printf(
            "monitoring: peak resident memory %ld KiB (%.2f MiB), simulator preload "
            "included\n",
            kb, kb / 1024.0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("ORVI_SIM_BOARD"))
        return run_on_board(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 20;
    // Our own progress lines would mix with the reading's.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    reading_allocations();
    monitoring_cycle(cycles > 1 ? cycles : 20);
    return 0;
}
