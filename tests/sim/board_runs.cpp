#include "board_runs.h"

#include <cstdio>
#include <sstream>

ProcessResult on_board(const std::vector<std::string>& options,
                       const std::vector<std::string>& command, int timeout_ms) {
    RunOptions run;
    run.timeout_ms = timeout_ms;
    return run_on_board(options, command, run);
}

ProcessResult shell_on_board(const std::vector<std::string>& options, const std::string& script,
                             int timeout_ms) {
    return on_board(options, {"sh", "-c", script}, timeout_ms);
}

std::string client() { return binary_path("tests/sim/sim_i2c_client"); }

std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

std::vector<std::string> client_steps(const std::string& device, const std::string& steps) {
    std::vector<std::string> argv{client(), device};
    for (const auto& w : words_of(steps)) argv.push_back(w);
    return argv;
}

std::string i2cdetect_table(const std::vector<int>& present) {
    std::string out = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
    char cell[8];
    for (int row = 0; row < 0x80; row += 16) {
        std::snprintf(cell, sizeof cell, "%02x:", row);
        out += cell;
        for (int col = 0; col < 16; ++col) {
            int addr = row + col;
            bool here = false;
            for (int p : present) here = here || p == addr;
            if (addr < 0x08 || addr > 0x77) out += "   ";
            else if (here) std::snprintf(cell, sizeof cell, " %02x", addr), out += cell;
            else out += " --";
        }
        out += " \n";
    }
    return out;
}

std::string words(unsigned ch0, unsigned ch1) {
    std::string out = "read 32";
    char b[40];
    for (int i = 0; i < 8; ++i) {
        std::snprintf(b, sizeof b, " %02x %02x %02x %02x", ch0 >> 8, ch0 & 0xFF, ch1 >> 8,
                      ch1 & 0xFF);
        out += b;
    }
    return out + "\n";
}

std::vector<int> channel1_codes(const std::string& out) {
    std::vector<int> codes;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("read 32 ", 0) != 0) continue;
        std::istringstream bytes(line.substr(8));
        std::vector<unsigned> b;
        for (std::string h; bytes >> h;) b.push_back(std::stoul(h, nullptr, 16));
        for (size_t w = 1; w < 16; w += 2) codes.push_back(static_cast<int>((b[2 * w] << 8 | b[2 * w + 1]) >> 4));
    }
    return codes;
}

std::string zeros(int n) {
    std::string out = "read " + std::to_string(n);
    for (int i = 0; i < n; ++i) out += " 00";
    return out + "\n";
}

const char* const kConfigureAdc =
    "select 0x1d w 08 17 0a ; w 08 14 01 ; w 08 17 00 ; w 08 28 02 ; w 08 24 00 ; w 08 1c 06 ; "
    "w 08 20 03 ;";
