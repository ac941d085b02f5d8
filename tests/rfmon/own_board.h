// Rows of the in-process device tests that each need a simulated board set
// up their own way (faults, scripted converter words): the test program
// starts itself again on a fresh board of its own (made by orvi-sim-ctl
// init inside this program's runner, so a child costs no new namespace),
// running only the current test, and there only the rows that share that
// board's setup.
//
// Every such board runs in virtual time, without noise, at a steady 25 °C,
// with both devices on bus 1, and logs its I2C transactions, its sleeps and
// the transmitter tools' calls for the take_* helpers below.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct BoardSetup {
    BoardSetup(std::vector<std::string> board_options = {}, std::vector<std::string> script = {},
               bool by_power = false)
        : options(std::move(board_options)),
          adc_script(std::move(script)),
          script_by_power(by_power) {}
    std::vector<std::string> options;     // board options (sim/README.md)
    std::vector<std::string> adc_script;  // buffer lines for --adc-script (none: the RF model)
    bool script_by_power;                 // the lines go to --adc-script-power instead
};

// In the test program: starts the child once per setup, row and test, fails
// the test if the child fails, and returns false. In the child: true for the
// rows of its own setup and row name. Rows whose faults count transfers from
// the process's start need a board each: give them different `row` names.
bool on_board(const BoardSetup& setup, const std::string& row = "");

// /dev/i2c-1 with `address` selected (-1: left to the code under test),
// closed with the object; the logs start empty when it opens.
class BoardBus {
  public:
    explicit BoardBus(int address = -1);
    ~BoardBus();
    BoardBus(const BoardBus&) = delete;
    BoardBus& operator=(const BoardBus&) = delete;
    const int fd;
};

// What happened since the last call (or since the bus opened): the I2C log lines
// without "<pid> i2c-1 ", the sleeps in microseconds, and the arguments of
// each orvi-configure-vtx call, one line each.
std::vector<std::string> take_i2c_trace();
std::vector<long long> take_sleeps_us();
std::string take_configure_calls();
