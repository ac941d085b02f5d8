// Stand-in for the transmitter's command tool: records the call and notes
// when the latency test is told to stop.
#include <cstring>

#include "tool_support.h"

int main(int argc, char** argv) {
    constexpr const char* kTool = "orvi-send-command";
    ToolBoard board;
    if (!open_tool_board(kTool, &board)) return 1;
    if (!log_tool_call(board, kTool, argc, argv)) return 1;
    if (board.cfg.send_command_status != 0) return board.cfg.send_command_status;
    if (argc == 4 && std::strcmp(argv[1], "vtx_latency") == 0 &&
        std::strcmp(argv[2], "stop_test") == 0 && std::strcmp(argv[3], "1") == 0) {
        board.state->stop_test.store(1);
    }
    return 0;
}
