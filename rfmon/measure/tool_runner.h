// Runs the transmitter's tools and the bus scans through the shell.
//
// Everything printed before a tool runs must come out before the tool's own
// output, also when standard output is a pipe or a file: both streams are
// flushed first.
#pragma once

#include <spawn.h>

#include <cstdio>

constexpr int SHELL_COMMAND_BYTES = 256;

// Starts "/bin/sh -c command" with `actions` (nullptr: none) and the
// environment `envp` (nullptr: this process's), flushing and waiting for
// nothing; 0 with the shell's id in *pid, else the error number.
int spawn_shell(const char* command, const posix_spawn_file_actions_t* actions,
                char* const* envp, pid_t* pid);

// "/bin/sh -c command" after the flush, waited for; its wait status as
// system() gives it (-1: no shell started, errno set). Unlike system(), the
// caller's handling of SIGINT and SIGQUIT stays as it is while the tool
// runs, so an interruption meant for orvi-rfmon is never lost; the tool gets
// the caller's ignored signals and the default action for the others.
int run_tool(const char* command);

// The wait status of child `pid`, a signal handled meanwhile retried; -1
// when it cannot be waited for. Async-signal-safe, so that a forked
// guardian may use it.
int wait_for_child(int pid);

// Why a tool failed: its wait status, or -1 with the errno of a start that
// failed.
typedef struct tool_failure_t {
    int status;
    int error;
} tool_failure_t;

// "orvi-configure-vtx <option> <value>" (option "-F", "-m" or "-p"). True
// only when the tool ran and exited with status 0: a tool that refuses has
// not changed the transmitter. False with why in *failure.
bool configure_vtx(const char* option, int value, tool_failure_t* failure);

// After a failed configure_vtx(): one line on standard error, `what`
// followed by why (the system's error text when no shell started, else the
// tool's exit status or the signal that ended it).
void report_configure_failure(const char* what, const tool_failure_t& failure);

// The power-1 step that ends a sweep, a failed search or an interrupted
// run. On success prints "Safety measure: Power level set to 1 (minimum)
// after <after>"; otherwise one error line saying that the power may still
// be high. Returns whether the power was set.
bool set_minimum_power(const char* after);

// The same with the success line on `report` (standard error when standard
// output cannot be written).
bool set_minimum_power_reporting(std::FILE* report, const char* after);
