// What the board's tests share: running programs on a fresh board and the
// texts the I2C client and Debian's i2cdetect print there.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

ProcessResult on_board(const std::vector<std::string>& options,
                       const std::vector<std::string>& command, int timeout_ms = 60000);
ProcessResult shell_on_board(const std::vector<std::string>& options, const std::string& script,
                             int timeout_ms = 60000);

// tests/sim/sim_i2c_client, and its command line for DEVICE and STEPS.
std::string client();
std::vector<std::string> words_of(const std::string& text);
std::vector<std::string> client_steps(const std::string& device, const std::string& steps);

// The table Debian's i2cdetect -r prints for a bus holding `present`
// (every row ends in a blank).
std::string i2cdetect_table(const std::vector<int>& present);

// The client's line for a 32-byte buffer of eight (ch0, ch1) word pairs,
// and for n zero bytes.
std::string words(unsigned ch0, unsigned ch1);
std::string zeros(int n);

// The channel-1 codes of every 32-byte buffer the client printed.
std::vector<int> channel1_codes(const std::string& out);

// Client steps that set the ADS7142 up for sequences of both channels.
extern const char* const kConfigureAdc;

struct FaultCase {
    const char* name;
    std::vector<std::string> options;
    const char* steps;
    std::string expected;
};
