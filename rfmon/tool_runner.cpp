#include "tool_runner.h"

#include <cstdio>
#include <cstdlib>

int run_tool(const char* command) {
    std::fflush(stdout);
    std::fflush(stderr);
    return std::system(command);
}

bool configure_vtx(const char* option, int value) {
    char command[SHELL_COMMAND_BYTES];
    std::snprintf(command, sizeof command, "orvi-configure-vtx %s %d", option, value);
    return run_tool(command) != -1;
}
