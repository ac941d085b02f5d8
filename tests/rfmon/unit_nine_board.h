// orvi-rfmon on a board with unit 9, its noise and temperature held: the
// fixture of the field check's and the drift watch's end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

class UnitNineOnBoard : public testing::Test {
  protected:
    // `script` in sh on a board with unit 9, noise and temperature held; R
    // runs orvi-rfmon -d 1 (X as the shell itself, for a background
    // monitor whose pid is $!), $D is a scratch folder. `more` holds the
    // clock (virtual time, or a scaled clock where monitoring must keep up
    // with the publisher's real-time records) and other board options.
    ProcessResult on_board(const std::string& script,
                           const std::vector<std::string>& more = {"--virtual-time"}) {
        const std::string rfmon = program_shell_words("rfmon/orvi-rfmon") + " -d 1";
        RunOptions options;
        options.timeout_ms = 120000;
        std::vector<std::string> board = {"--publisher", "", "--unit", "9", "--noise-mv", "0", "--temp-rise", "0",
                                          "--log", dir_ + "/tools.log"};
        board.insert(board.end(), more.begin(), more.end());
        return run_on_board(board,
                            {"/bin/sh", "-c",
                             "R() { " + rfmon + " \"$@\"; }\nX() { exec " + rfmon + " \"$@\"; }\nD=" +
                                 shell_quote(dir_) + "\n" + script},
                            options);
    }
    const ScratchDir scratch_{"orvi-field-check-test"};
    const std::string dir_ = scratch_.path();
};

