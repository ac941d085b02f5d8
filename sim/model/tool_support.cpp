#include "tool_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board_options.h"

bool open_tool_board(const char* tool, ToolBoard* board) {
    const char* path = std::getenv(SIM_BOARD_ENV);
    if (path == nullptr || *path == '\0') {
        std::fprintf(stderr, "%s: not on a simulated board (%s is not set)\n", tool, SIM_BOARD_ENV);
        return false;
    }
    std::string error;
    if (!load_board_config(&board->cfg, path, &error)) {
        std::fprintf(stderr, "%s: %s\n", tool, error.c_str());
        return false;
    }
    board->state = attach_board_state(board->cfg, &board->shared);
    if (board->state == nullptr) {
        std::fprintf(stderr, "%s: cannot map the board state\n", tool);
        return false;
    }
    return true;
}

bool log_tool_call(const ToolBoard& board, const char* tool, int argc, char** argv) {
    std::string line = tool;
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    line += "\n";
    int fd = ::open(board.cfg.tools_log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", tool, board.cfg.tools_log.c_str(),
                     std::strerror(errno));
        return false;
    }
    bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    if (!ok) std::fprintf(stderr, "%s: cannot write %s\n", tool, board.cfg.tools_log.c_str());
    return ok;
}

bool parse_decimal(const char* text, long lo, long hi, long* out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}
