#include "tool_runner.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "safety_limits.h"

extern char** environ;

namespace {

void describe_failure(const tool_failure_t& failure, char* text, size_t size) {
    const int status = failure.status;
    if (status == -1) {
        std::snprintf(text, size, "%s", std::strerror(failure.error));
    } else if (WIFEXITED(status)) {
        std::snprintf(text, size, "orvi-configure-vtx exited with status %d", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        std::snprintf(text, size, "orvi-configure-vtx was ended by signal %d", WTERMSIG(status));
    } else {
        std::snprintf(text, size, "orvi-configure-vtx ended with wait status %d", status);
    }
}

}  // namespace

int spawn_shell(const char* command, const posix_spawn_file_actions_t* actions,
                char* const* envp, pid_t* pid) {
    char shell[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {shell, dash_c, const_cast<char*>(command), nullptr};
    return posix_spawn(pid, "/bin/sh", actions, nullptr, argv, envp ? envp : environ);
}

int run_tool(const char* command) {
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = 0;
    const int error = spawn_shell(command, nullptr, nullptr, &pid);
    if (error != 0) {
        errno = error;
        return -1;
    }
    // A signal handled meanwhile must not lose the tool's status.
    return wait_for_child(pid);
}

int wait_for_child(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

bool configure_vtx(const char* option, int value, tool_failure_t* failure) {
    char command[SHELL_COMMAND_BYTES];
    std::snprintf(command, sizeof command, "orvi-configure-vtx %s %d", option, value);
    const int status = run_tool(command);
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    *failure = {status, errno};
    return false;
}

void report_configure_failure(const char* what, const tool_failure_t& failure) {
    char why[128];
    describe_failure(failure, why, sizeof why);
    std::fprintf(stderr, "%s: %s\n", what, why);
}

bool set_minimum_power(const char* after) {
    return set_minimum_power_reporting(stdout, after);
}

bool set_minimum_power_reporting(std::FILE* report, const char* after) {
    tool_failure_t failure{};
    if (configure_vtx("-p", POWER_LEVEL_MIN, &failure)) {
        std::fprintf(report, "Safety measure: Power level set to 1 (minimum) after %s\n", after);
        return true;
    }
    char why[128];
    describe_failure(failure, why, sizeof why);
    std::fprintf(stderr,
                 "Failed to set power level to 1 after %s: %s; the power may still be high\n",
                 after, why);
    return false;
}
