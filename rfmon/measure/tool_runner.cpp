#include "tool_runner.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "safety_limits.h"

extern char** environ;

namespace {

// What the last failed configure_vtx() saw: the wait status, or -1 with the
// errno of the failed start.
int g_failed_status = 0;
int g_failed_errno = 0;

void describe_failure(char* text, size_t size) {
    const int status = g_failed_status;
    if (status == -1) {
        std::snprintf(text, size, "%s", std::strerror(g_failed_errno));
    } else if (WIFEXITED(status)) {
        std::snprintf(text, size, "orvi-configure-vtx exited with status %d", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        std::snprintf(text, size, "orvi-configure-vtx was ended by signal %d", WTERMSIG(status));
    } else {
        std::snprintf(text, size, "orvi-configure-vtx ended with wait status %d", status);
    }
}

}  // namespace

int run_tool(const char* command) {
    std::fflush(stdout);
    std::fflush(stderr);
    char shell[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {shell, dash_c, const_cast<char*>(command), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ);
    if (error != 0) {
        errno = error;
        return -1;
    }
    // A signal handled meanwhile must not lose the tool's status.
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

bool configure_vtx(const char* option, int value) {
    char command[SHELL_COMMAND_BYTES];
    std::snprintf(command, sizeof command, "orvi-configure-vtx %s %d", option, value);
    const int status = run_tool(command);
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    g_failed_status = status;
    g_failed_errno = errno;
    return false;
}

void report_configure_failure(const char* what) {
    char why[128];
    describe_failure(why, sizeof why);
    std::fprintf(stderr, "%s: %s\n", what, why);
}

bool set_minimum_power(const char* after) {
    return set_minimum_power_reporting(stdout, after);
}

bool set_minimum_power_reporting(std::FILE* report, const char* after) {
    if (configure_vtx("-p", POWER_LEVEL_MIN)) {
        std::fprintf(report, "Safety measure: Power level set to 1 (minimum) after %s\n", after);
        return true;
    }
    char why[128];
    describe_failure(why, sizeof why);
    std::fprintf(stderr,
                 "Failed to set power level to 1 after %s: %s; the power may still be high\n",
                 after, why);
    return false;
}
