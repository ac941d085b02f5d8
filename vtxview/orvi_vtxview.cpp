// orvi-vtxview: shows the transmitter's telemetry records as they arrive.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <orvi/brannic_pipe.h>
#include <orvi/diagnostics.h>
#include "encoding_scheme.h"
#include "telemetry_view.h"

namespace {

const char* const WRAP_OFF = "\033[?7l";
const char* const WRAP_ON = "\033[?7h";
constexpr int64_t TEST_TIMEOUT_NS = 5000000000LL;

telemetry_view_t g_view;
char PIPE_LOCATION[PIPE_MAX_PATH_LEN];
char* pipe_path = PIPE_LOCATION;

void print_usage() {
    std::printf(
        "\n"
        "typical usage\n"
        "/# orvi-vtxview\n"
        "\n"
        "This will print out vtx data from Brannic Pipe Architecture.\n"
        "By default this opens the pipe \"vtx\"/\n"
        "but this can be changed with the --pipe option.\n"
        "\n"
        "Range in meters will always print. Additional options are:\n"
        "-h, --help                  print this help message\n"
        "-n, --newline               print each sample on a new line\n"
        "-p, --pipe {pipe_name}      optionally specify the pipe name\n"
        "-t, --test                  test mode - print PASSED or FAILED and return 0 or 1\n"
        "-j, --json                  format test output as json\n"
        "-k, --json_human            format test output as human readable json\n");
}

// 0 to run, otherwise the exit status.
int parse_opts(int argc, char* argv[], bool* pipe_given) {
    static const struct option long_options[] = {
        {"help", no_argument, nullptr, 'h'},      {"newline", no_argument, nullptr, 'n'},
        {"save", no_argument, nullptr, 's'},      {"pipe", required_argument, nullptr, 'p'},
        {"test", no_argument, nullptr, 't'},      {"json", no_argument, nullptr, 'j'},
        {"json_human", no_argument, nullptr, 'k'}, {nullptr, 0, nullptr, 0}};
    int c;
    while ((c = getopt_long(argc, argv, "hnsp:tjk", long_options, nullptr)) != -1) {
        switch (c) {
            case 'n': g_view.en_newline = 1; break;
            case 's': g_view.save_to_file = true; break;
            case 'p':
                if (pipe_expand_location_string(optarg, pipe_path) < 0) {
                    std::fprintf(stderr, "Invalid pipe name: %s\n", optarg);
                    return 255;
                }
                *pipe_given = true;
                break;
            case 't': g_view.test_mode = true; break;
            case 'j': g_view.json_mode = true; break;
            case 'k':
                g_view.json_mode = true;
                g_view.json_human = true;
                break;
            default:
                print_usage();
                return 255;
        }
    }
    return 0;
}

// Wrapping is switched off only outside JSON mode, and only that is undone:
// JSON output stays nothing but JSON.
void restore_wrapping() {
    if (!g_view.json_mode) std::fputs(WRAP_ON, stdout);
}

void _connect_cb(int /*ch*/, void* /*context*/) { view_print_header(g_view); }

void _disconnect_cb(int /*ch*/, void* /*context*/) { view_print_disconnect(g_view); }

void _helper_cb(int /*ch*/, char* data, int bytes, void* /*context*/) {
    view_handle_delivery(g_view, data, bytes);
}

void _print_json(vtx_data_t* record) { view_print_json(g_view, *record); }

}  // namespace

int main(int argc, char* argv[]) {
    bool pipe_given = false;
    if (int status = parse_opts(argc, argv, &pipe_given); status != 0) return status;

    enable_signal_handler();
    main_running = 1;
    g_view.running = &main_running;

    if (!g_view.json_mode) std::fputs(WRAP_OFF, stdout);

    // Known before the first record can arrive, so no row is named with a guessed codec.
    g_view.current_encoding_scheme = get_encoding_scheme(g_view.current_encoding_scheme);

    pipe_client_set_simple_helper_cb(0, _helper_cb, nullptr);
    pipe_client_set_connect_cb(0, _connect_cb, nullptr);
    pipe_client_set_disconnect_cb(0, _disconnect_cb, nullptr);

    if (!pipe_given) std::snprintf(PIPE_LOCATION, sizeof PIPE_LOCATION, "%s%s", PIPE_DIR, "vtx_latency");

    const int opened = pipe_client_open(0, pipe_path, "inspect-vtx", CLIENT_FLAG_EN_SIMPLE_HELPER, 32768);
    if (opened < 0) {
        pipe_print_error(opened);
        restore_wrapping();
        return 255;
    }

    const int64_t start = time_monotonic_ns();
    while (main_running) {
        usleep(200000);
        if (g_view.test_mode && time_monotonic_ns() - start > TEST_TIMEOUT_NS) main_running = 0;
    }

    if (!g_view.json_mode && !g_view.test_mode) std::printf("\nclosing and exiting\n");
    pipe_client_close_all();

    if (g_view.test_mode && !g_view.json_mode) {
        std::fputs(g_view.test_passed ? "PASSED" : "FAILED", stdout);
        restore_wrapping();
        return g_view.test_passed ? 0 : 1;
    }
    if (g_view.test_mode) {
        // A failed test ends with the FAILED object, after the failing record if one came.
        if (!g_view.test_passed) {
            vtx_data_t none;
            std::memset(&none, 0, sizeof none);
            none.id = -1;
            _print_json(&none);
        }
        restore_wrapping();
        return 0;
    }
    restore_wrapping();
    return 0;
}
