// orvi-sim-ctl: sets a board up and shows its state.
//
//   orvi-sim-ctl check [board options]          validate the options only
//   orvi-sim-ctl init CONFIG [board options]    write CONFIG and a fresh state
//   orvi-sim-ctl show                           print the state of this board
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "board_config.h"
#include "board_state.h"
#include "i2c_bus_model.h"
#include "tool_support.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: orvi-sim-ctl check [board options]\n"
                 "       orvi-sim-ctl init CONFIG [board options]\n"
                 "       orvi-sim-ctl show\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    if (cmd == "check" || cmd == "init") {
        int first = cmd == "init" ? 3 : 2;
        if (cmd == "init" && argc < 3) return usage();
        std::vector<std::string> args(argv + first, argv + argc);
        BoardConfig cfg;
        std::string error;
        if (!parse_board_options(&cfg, args, &error)) {
            std::fprintf(stderr, "orvi-sim-board: %s\n", error.c_str());
            return 2;
        }
        if (cmd == "check") return 0;
        if (!save_board_config(args, argv[2], &error) || !create_board_state(cfg, &error)) {
            std::fprintf(stderr, "orvi-sim-board: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (cmd == "show") {
        ToolBoard board;
        if (!open_tool_board("orvi-sim-ctl", &board)) return 1;
        double t = update_temperature(board.state, board.cfg,
                                      board_now_ns(board.state, real_monotonic_ns()));
        std::printf("frequency=%d mcs=%d power=%d temperature=%.2f stop_test=%d virtual_ns=%lld\n",
                    board.state->frequency.load(), board.state->mcs.load(),
                    board.state->power.load(), t, board.state->stop_test.load(),
                    static_cast<long long>(board.state->virtual_ns.load()));
        return 0;
    }
    return usage();
}
