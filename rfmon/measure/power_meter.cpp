#include "power_meter.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tool_runner.h"

extern char** environ;

namespace {

// A meter prints one number; anything longer is not a reading.
constexpr size_t MAX_METER_OUTPUT = 256;

std::vector<std::string> meter_environment(const meter_point_t& point) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "ORVI_TRIM_", 10) != 0) env.emplace_back(*e);
    }
    env.push_back("ORVI_TRIM_FREQUENCY=" + std::to_string(point.frequency));
    env.push_back("ORVI_TRIM_MCS=" + std::to_string(point.mcs));
    env.push_back("ORVI_TRIM_LEVEL=" + std::to_string(point.level));
    return env;
}

// Starts the shell with its standard output on a new pipe; the read end in
// *out_fd.
bool start_meter(const char* command, std::vector<std::string>& env, pid_t* pid, int* out_fd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::fflush(stdout);
    const int error = spawn_shell(command, &actions, envp.data(), pid);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        errno = error;
        return false;
    }
    *out_fd = fds[0];
    return true;
}

std::string read_all(int fd, bool* too_long) {
    std::string text;
    char buffer[128];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (text.size() < MAX_METER_OUTPUT) text.append(buffer, static_cast<size_t>(got));
    }
    *too_long = text.size() >= MAX_METER_OUTPUT;
    return text;
}

}  // namespace

bool parse_meter_dbm(const std::string& text, double* dbm) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(start, &end);
    if (end == start || errno != 0 || !std::isfinite(value)) return false;
    // strtod skips leading white space; only trailing white space may follow.
    for (const char* c = end; *c; ++c) {
        if (*c != ' ' && *c != '\t' && *c != '\n' && *c != '\r') return false;
    }
    *dbm = value;
    return true;
}

bool read_meter_command(const char* command, const meter_point_t& point, double* dbm,
                        std::string* why) {
    std::vector<std::string> env = meter_environment(point);
    pid_t pid = 0;
    int fd = -1;
    if (!start_meter(command, env, &pid, &fd)) {
        *why = std::string("the meter command could not be started: ") + std::strerror(errno);
        return false;
    }
    bool too_long = false;
    const std::string output = read_all(fd, &too_long);
    close(fd);
    const int status = wait_for_child(pid);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *why = status != -1 && WIFEXITED(status)
                   ? "the meter command exited with status " + std::to_string(WEXITSTATUS(status))
                   : std::string("the meter command did not end normally");
        return false;
    }
    if (too_long || !parse_meter_dbm(output, dbm)) {
        *why = "the meter command printed something that is not one number in dBm";
        return false;
    }
    return true;
}

bool read_meter_from_operator(const meter_point_t& point, double* dbm, std::string* why) {
    std::printf("Power level %d at %d MHz, MCS %d: enter the power meter's reading in dBm: ",
                point.level, point.frequency, point.mcs);
    std::fflush(stdout);
    char line[MAX_METER_OUTPUT];
    if (!std::fgets(line, sizeof line, stdin)) {
        *why = "no reading was entered";
        return false;
    }
    if (!parse_meter_dbm(line, dbm)) {
        *why = std::string("the entry is not one number in dBm");
        return false;
    }
    return true;
}
