// orvi-rfmon: measures and calibrates the transmitter's output power through
// the board's RF power detector.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "command_line.h"
#include "monitor_modes.h"
#include "monitor_state.h"
#include "sensor_data.h"
#include "telemetry_subscription.h"

int main(int argc, char** argv) {
    // The monitor ends only by a signal and often writes into a pipe or a
    // log file: each line must be out when it is printed, not in a block
    // that the signal throws away. Standard error stays unbuffered, so the
    // two streams keep their order in a shared file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int mode = parse_arguments(argc, argv);
    if (mode == PARSE_FAILED) return early_failure_status(argc, argv);
    if (mode == PARSE_HELP_SHOWN) return 0;

    // One record for the whole run, so that a cycle without a temperature
    // shows the last one read.
    sensor_data_t record;

    const int fd = open(I2C_DEVICE, O_RDWR);
    if (fd < 0) {
        std::perror("Failed to open the i2c bus");
        return early_failure_status(argc, argv);
    }
    if (init_vtx_pipe() < 0) {
        std::fputs("Failed to initialize VTX pipe\n", stderr);
        close(fd);
        return early_failure_status(argc, argv);
    }
    const monitor_settings_t settings = monitor_settings();
    if (mode == MODE_FIELD_CHECK) return run_field_check(fd, settings);
    if (mode == MODE_FULL_CALIBRATION || mode == MODE_FAST_CALIBRATION) {
        return run_calibration(fd, mode, settings);
    }
    return run_monitoring(fd, &record, settings);
}
