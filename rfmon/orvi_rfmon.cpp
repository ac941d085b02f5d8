// orvi-rfmon: measures and calibrates the transmitter's output power through
// the board's RF power detector.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "command_line.h"
#include "interruption.h"
#include "monitor_modes.h"
#include "monitor_state.h"
#include "sensor_data.h"
#include "telemetry_subscription.h"
#include "trim_run.h"

namespace {

// A descriptor 0, 1 or 2 that the caller left closed (">&-", a careless
// service file) would go to the next file opened: the bus, a table or the
// run lock, and every line printed would be written into it. Each is opened
// on /dev/null before anything else is opened.
bool keep_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (open("/dev/null", O_RDWR) != fd) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!keep_standard_streams()) return 1;
    // A closed output is a write error that the run handles (interruption.h),
    // not a signal that ends it wherever it is. Children must be waited for
    // (the tools, the guardian), whatever the caller left for SIGCHLD.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGCHLD, SIG_DFL);
    // The monitor ends only by a signal and often writes into a pipe or a
    // log file: each line must be out when it is printed, not in a block
    // that the signal throws away. Standard error stays unbuffered, so the
    // two streams keep their order in a shared file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    monitor_settings_t settings;
    const int mode = parse_arguments(argc, argv, &settings);
    if (mode == PARSE_FAILED) return early_failure_status(argc, argv);
    if (mode == PARSE_HELP_SHOWN) return 0;

    // One record for the whole run, so that a cycle without a temperature
    // shows the last one read.
    sensor_data_t record;

    // I2C_DEVICE: the bus the command line chose.
    const int fd = open(I2C_DEVICE, O_RDWR);
    if (fd < 0) {
        std::perror("Failed to open the i2c bus");
        return early_failure_status(argc, argv);
    }
    // The pipe library's threads leave every signal the run notes to the
    // main thread, whose waits they must cut short.
    const sigset_t mask = block_interruptions();
    const int pipe_opened = init_vtx_pipe();
    restore_signal_mask(mask);
    if (pipe_opened < 0) {
        std::fputs("Failed to initialize VTX pipe\n", stderr);
        close(fd);
        return early_failure_status(argc, argv);
    }
    // Their last lines come after the way down: a failed write there still
    // makes the exit status say so.
    if (mode == MODE_FIELD_CHECK) return status_with_output_checked(run_field_check(fd, settings));
    if (mode == MODE_TRIM) return status_with_output_checked(run_trim(fd, trim_request(settings)));
    if (mode == MODE_FULL_CALIBRATION || mode == MODE_FAST_CALIBRATION) {
        return status_with_output_checked(run_calibration(fd, mode, settings));
    }
    return run_monitoring(fd, &record, settings);
}
