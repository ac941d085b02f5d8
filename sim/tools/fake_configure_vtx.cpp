// Stand-in for the transmitter's configuration tool: "-F MHz", "-m MCS" and
// "-p index" change the simulated transmitter, which the detector model and
// the telemetry publisher follow at once.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "i2c_bus_model.h"
#include "tool_support.h"

namespace {

constexpr const char* kTool = "orvi-configure-vtx";

}  // namespace

int main(int argc, char** argv) {
    ToolBoard board;
    if (!open_tool_board(kTool, &board)) return 1;
    if (!log_tool_call(board, kTool, argc, argv)) return 1;

    long frequency = -1, mcs = -1, power = -1;
    for (int i = 1; i < argc; i += 2) {  // option, value
        const char* opt = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long* target = nullptr;
        long lo = 0, hi = 0;
        if (std::strcmp(opt, "-F") == 0) target = &frequency, lo = 1, hi = 100000;
        else if (std::strcmp(opt, "-m") == 0) target = &mcs, lo = 0, hi = 31;
        else if (std::strcmp(opt, "-p") == 0) target = &power, lo = 0, hi = 63;
        if (target == nullptr) {
            std::fprintf(stderr, "%s: unknown option %s\n", kTool, opt);
            return 1;
        }
        if (!parse_decimal(value, lo, hi, target)) {
            std::fprintf(stderr, "%s: %s needs a value in %ld..%ld\n", kTool, opt, lo, hi);
            return 1;
        }
    }
    if (board.cfg.configure_status != 0) return board.cfg.configure_status;

    // The heat taken so far belongs to the old power.
    update_temperature(board.state, board.cfg, board_now_ns(board.state, real_monotonic_ns()));
    if (frequency >= 0) board.state->frequency.store(static_cast<int32_t>(frequency));
    if (mcs >= 0) board.state->mcs.store(static_cast<int32_t>(mcs));
    if (power >= 0) board.state->power.store(static_cast<int32_t>(power));
    return 0;
}
