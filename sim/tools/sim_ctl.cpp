// orvi-sim-ctl: sets a board up and shows its state.
//
//   orvi-sim-ctl check [board options]          validate the options only
//   orvi-sim-ctl init CONFIG [board options]    write CONFIG and a fresh state
//   orvi-sim-ctl show                           print the state of this board
//   orvi-sim-ctl truth [MHZ MCS IDX [C]]        the RF model's truth on this board
//   orvi-sim-ctl meter                          a power meter's reading of the output, dBm
//   orvi-sim-ctl unit [N]                       the parameters of a unit
//   orvi-sim-ctl degrade output|detector DB     the unit loses DB dB from now on
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board_options.h"
#include "board_state.h"
#include "i2c_bus_model.h"
#include "rf_model.h"
#include "tool_support.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: orvi-sim-ctl check [board options]\n"
                 "       orvi-sim-ctl init CONFIG [board options]\n"
                 "       orvi-sim-ctl show\n"
                 "       orvi-sim-ctl truth [MHZ MCS IDX [C]]\n"
                 "       orvi-sim-ctl meter\n"
                 "       orvi-sim-ctl unit [N]\n"
                 "       orvi-sim-ctl degrade output|detector DB\n");
    return 2;
}

bool parse_number(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

void print_unit(const RfUnit& u) {
    std::printf("unit=%d tempco_db_per_c=%.4f\n", u.number, u.tempco_db_per_c);
    for (int b = 0; b < RF_BANDS; ++b) {
        std::printf("band=%s gain_db=%.3f step_scale=%.4f psat_db=%.3f smoothness_scale=%.3f "
                    "ripple_db=%.3f ripple_phase=%.3f\n",
                    rf_band_token(b), u.gain_db[b], u.step_scale[b], u.psat_db[b],
                    u.smoothness_scale[b], u.ripple_db[b], u.ripple_phase[b]);
    }
    std::printf("backoff_db=");
    for (int m = 0; m < 8; ++m) std::printf(m ? ",%.3f" : "%.3f", u.backoff_db[m]);
    std::printf("\n");
    for (int ch = 0; ch < 2; ++ch) {
        std::printf("detector=%d slope_scale=%.4f offset_mv=%.3f\n", ch, u.det_slope_scale[ch],
                    u.det_offset_mv[ch]);
    }
}

// Sets the output or detector loss of the running board; programs on it
// meet the new value at their next conversion.
int degrade(const char* path, const char* value) {
    const bool output = std::strcmp(path, "output") == 0;
    if (!output && std::strcmp(path, "detector") != 0) {
        std::fprintf(stderr, "orvi-sim-ctl: unknown path '%s' for degrade (output or detector)\n",
                     path);
        return 1;
    }
    double db = 0;
    if (!parse_loss_db(value, &db)) {
        std::fprintf(stderr, "orvi-sim-ctl: bad value '%s' for degrade %s (dB, -40..40)\n", value,
                     path);
        return 1;
    }
    ToolBoard board;
    if (!open_tool_board("orvi-sim-ctl", &board)) return 1;
    if (!board.shared) {
        // A change no other process would see must not pass for one.
        std::fprintf(stderr, "orvi-sim-ctl: no board state at %s\n", board.cfg.state_path.c_str());
        return 1;
    }
    (output ? board.state->output_loss_db : board.state->detector_loss_db).store(db);
    return 0;
}

// check / init: the board options validated, and for init written with a
// fresh state.
int check_or_init(const std::string& cmd, int argc, char** argv) {
    const int first = cmd == "init" ? 3 : 2;
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

int show(int, char**) {
    ToolBoard board;
    if (!open_tool_board("orvi-sim-ctl", &board)) return 1;
    double t = update_temperature(board.state, board.cfg,
                                  board_now_ns(board.state, real_monotonic_ns()));
    std::printf("frequency=%d mcs=%d power=%d temperature=%.2f stop_test=%d virtual_ns=%lld",
                board.state->frequency.load(), board.state->mcs.load(), board.state->power.load(),
                t, board.state->stop_test.load(),
                static_cast<long long>(board.state->virtual_ns.load()));
    // Only a degraded board says so, so the line stays as it was otherwise.
    const RfDrift drift = board_drift(board.state);
    if (drift.output_loss_db != 0 || drift.detector_loss_db != 0)
        std::printf(" output_loss_db=%.3f detector_loss_db=%.3f", drift.output_loss_db,
                    drift.detector_loss_db);
    std::printf("\n");
    return 0;
}

int unit_command(int argc, char** argv) {
    double n = 0;
    if (argc > 3 || (argc == 3 && (!parse_number(argv[2], &n) || n < 0))) return usage();
    print_unit(rf_unit(static_cast<int>(n)));
    return 0;
}

// The settings the truth or the meter is asked for: the board's own, or
// MHZ MCS IDX [C] from the command line.
struct board_point_t {
    int frequency;
    int mcs;
    int power;
    double temperature_c;
};

bool board_point(const ToolBoard& board, int argc, char** argv, board_point_t* point) {
    double t = update_temperature(board.state, board.cfg,
                                  board_now_ns(board.state, real_monotonic_ns()));
    double frequency = board.state->frequency.load(), mcs = board.state->mcs.load(),
           power = board.state->power.load();
    if (argc >= 5 && (!parse_number(argv[2], &frequency) || !parse_number(argv[3], &mcs) ||
                      !parse_number(argv[4], &power) || (argc == 6 && !parse_number(argv[5], &t))))
        return false;
    *point = {static_cast<int>(frequency), static_cast<int>(mcs), static_cast<int>(power), t};
    return true;
}

// What the board's RF model gives now, or for the settings asked; tests and
// benchmarks read it, the programs under test never do.
int truth(int argc, char** argv) {
    if (argc != 2 && argc != 5 && argc != 6) return usage();
    ToolBoard board;
    if (!open_tool_board("orvi-sim-ctl", &board)) return 1;
    board_point_t at;
    if (!board_point(board, argc, argv, &at)) return usage();
    RfUnit unit = rf_unit(board.cfg.unit);
    int channel = rf_band_of(at.frequency) == 0 ? 0 : 1;
    const RfDrift drift = board_drift(board.state);
    double mv = rf_detector_mv(board.cfg, unit, drift, channel, at.frequency, at.mcs, at.power,
                               at.temperature_c);
    std::printf("frequency=%d mcs=%d power=%d temperature=%.3f dbm=%.4f mv=%.3f code=%d\n",
                at.frequency, at.mcs, at.power, at.temperature_c,
                rf_true_dbm(unit, drift, at.frequency, at.mcs, at.power, at.temperature_c), mv,
                rf_adc_code(mv > board.cfg.saturate_mv ? board.cfg.saturate_mv : mv));
    return 0;
}

// A bench power meter on the transmitter's output: the truth, off by the
// meter's own error of up to METER_ERROR_DB. The error is seeded by the
// board's seed and the settings, so the same reading comes back for the same
// settings, as a meter's calibration error would.
constexpr double METER_ERROR_DB = 0.1;

int meter(int argc, char** argv) {
    if (argc != 2) return usage();
    ToolBoard board;
    if (!open_tool_board("orvi-sim-ctl", &board)) return 1;
    board_point_t at;
    board_point(board, argc, argv, &at);
    const RfUnit unit = rf_unit(board.cfg.unit);
    const double dbm =
        rf_true_dbm(unit, board_drift(board.state), at.frequency, at.mcs, at.power, at.temperature_c);
    const uint64_t settings = static_cast<uint64_t>(at.frequency) * 100000u +
                              static_cast<uint64_t>(at.mcs) * 100u + static_cast<uint64_t>(at.power);
    const double error = METER_ERROR_DB * rf_noise_unit(board.cfg.seed ^ 0x6D65746572ull, settings);
    std::printf("%.2f\n", dbm + error);
    return 0;
}

int degrade_command(int argc, char** argv) {
    if (argc != 4) return usage();
    return degrade(argv[2], argv[3]);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string cmd = argv[1];
    if (cmd == "check" || cmd == "init") return check_or_init(cmd, argc, argv);
    static const struct {
        const char* name;
        int (*run)(int, char**);
    } COMMANDS[] = {
        {"show", show},   {"unit", unit_command},   {"truth", truth},
        {"meter", meter}, {"degrade", degrade_command},
    };
    for (const auto& command : COMMANDS) {
        if (cmd == command.name) return command.run(argc, argv);
    }
    return usage();
}
