// Works the board lock from one process, for the tests of its exclusion
// across processes (and architectures) and of a holder that dies:
//   sim_lock_probe add N      N times: take the lock, add 1 to a counter, release
//   sim_lock_probe die        take the lock and die holding it (SIGKILL)
//   sim_lock_probe read       print the counter
// The counter is an 8-byte word kept, unaligned and non-atomic, in the
// register file of the ADC slot of the last device bus, which these tests
// never populate: only the lock keeps concurrent additions from being lost.
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board_state.h"
#include "tool_support.h"

namespace {

uint8_t* counter_bytes(BoardShared* s) { return s->adc[SIM_MAX_DEVICE_BUS].regs + 3; }

uint64_t load_counter(BoardShared* s) {
    uint64_t v;
    std::memcpy(&v, counter_bytes(s), sizeof v);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    ToolBoard board;
    if (argc < 2 || !open_tool_board("sim_lock_probe", &board)) return 2;
    std::string cmd = argv[1];
    BoardShared* s = board.state;
    if (cmd == "add" && argc == 3) {
        long n = std::atol(argv[2]);
        for (long i = 0; i < n; ++i) {
            lock_board(s);
            uint64_t v = load_counter(s) + 1;
            std::memcpy(counter_bytes(s), &v, sizeof v);
            unlock_board(s);
        }
        return 0;
    }
    if (cmd == "die") {
        lock_board(s);
        raise(SIGKILL);
    }
    if (cmd == "read") {
        lock_board(s);
        std::printf("%llu\n", static_cast<unsigned long long>(load_counter(s)));
        unlock_board(s);
        return 0;
    }
    return 2;
}
