// A pipe server or client in its own process, driven line by line on
// standard input; every event it sees is one line on standard output.
//
//   pipe_peer server NAME TYPE SERVER_NAME
//     commands: write COUNT BATCH | clients | dropped | info KEY VALUE | close | exit
//   pipe_peer client PATH CLIENT_NAME [stall]
//     commands: unstall | exit
//     with "stall" the first delivery's callback blocks until "unstall"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>

#include <orvi/brannic_pipe.h>
#include "pipe_test_records.h"

namespace {

std::mutex g_out_mx;

void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_out_mx);
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void server_connect(int, int id, char* name, void*) { say("connect " + std::to_string(id) + " " + name); }
void server_disconnect(int, int id, char* name, void*) {
    say("disconnect " + std::to_string(id) + " " + name);
}
void server_control(int, char* text, int bytes, void*) {
    say("control " + std::to_string(bytes) + " " + std::string(text));
}

int run_server(int argc, char** argv) {
    if (argc < 5) return 2;
    pipe_server_set_connect_cb(0, server_connect, nullptr);
    pipe_server_set_disconnect_cb(0, server_disconnect, nullptr);
    pipe_server_set_control_cb(0, server_control, nullptr);
    const int rc = pipe_server_create(0, argv[2], argv[3], argv[4]);
    say("created " + std::to_string(rc));
    uint32_t next_id = 0;
    char line[512];
    while (fgets(line, sizeof line, stdin) != nullptr) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd == "write") {
            int count = 0, batch = 0;
            in >> count >> batch;
            for (int i = 0; i < count; ++i) {
                const std::string message = make_batch(next_id, batch);
                next_id += static_cast<uint32_t>(batch);
                const int w = pipe_server_write(0, message.data(), static_cast<int>(message.size()));
                if (w != 0) {
                    say("write failed " + std::to_string(w));
                    break;
                }
            }
            say("wrote " + std::to_string(next_id));
        } else if (cmd == "clients") {
            say("clients " + std::to_string(pipe_server_get_num_clients(0)));
        } else if (cmd == "dropped") {
            say("dropped " + std::to_string(pipe_server_get_dropped(0)));
        } else if (cmd == "info") {
            std::string key, value;
            in >> key >> value;
            cJSON* info = pipe_server_get_info_json_ptr(0);
            if (info != nullptr) cJSON_AddStringToObject(info, key.c_str(), value.c_str());
            say("updated " + std::to_string(pipe_server_update_info(0)));
        } else if (cmd == "close") {
            pipe_server_close(0);
            say("closed");
        } else if (cmd == "exit") {
            break;
        }
    }
    pipe_server_close_all();
    return 0;
}

std::mutex g_stall_mx;
std::condition_variable g_stall_cv;
bool g_stall = false;
bool g_stalled_once = false;

void client_connect(int, void*) { say("connect"); }
void client_disconnect(int, void*) { say("disconnect"); }
void client_data(int, char* data, int bytes, void*) {
    say("data " + describe_batch(data, bytes));
    std::unique_lock<std::mutex> lock(g_stall_mx);
    if (g_stall && !g_stalled_once) {
        g_stalled_once = true;
        say("stalled");
        g_stall_cv.wait(lock, [] { return !g_stall; });
    }
}

int run_client(int argc, char** argv) {
    if (argc < 4) return 2;
    g_stall = argc > 4 && strcmp(argv[4], "stall") == 0;
    pipe_client_set_connect_cb(0, client_connect, nullptr);
    pipe_client_set_disconnect_cb(0, client_disconnect, nullptr);
    pipe_client_set_simple_helper_cb(0, client_data, nullptr);
    const int rc = pipe_client_open(0, argv[2], argv[3], CLIENT_FLAG_EN_SIMPLE_HELPER, 32768);
    say("opened " + std::to_string(rc));
    char line[512];
    while (fgets(line, sizeof line, stdin) != nullptr) {
        if (strncmp(line, "unstall", 7) == 0) {
            std::lock_guard<std::mutex> lock(g_stall_mx);
            g_stall = false;
            g_stall_cv.notify_all();
        } else if (strncmp(line, "exit", 4) == 0) {
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(g_stall_mx);
        g_stall = false;
        g_stall_cv.notify_all();
    }
    pipe_client_close_all();
    say("exiting");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "server") == 0) return run_server(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "client") == 0) return run_client(argc, argv);
    fprintf(stderr, "usage: pipe_peer server NAME TYPE SERVER_NAME | client PATH NAME [stall]\n");
    return 2;
}
