// Runs the transmitter's tools and the bus scans through the shell.
//
// Everything printed before a tool runs must come out before the tool's own
// output, also when standard output is a pipe or a file: both streams are
// flushed first.
#pragma once

constexpr int SHELL_COMMAND_BYTES = 256;

// system(command) after the flush; its raw status (-1: no shell started).
int run_tool(const char* command);

// "orvi-configure-vtx <option> <value>" (option "-F", "-m" or "-p"). Only a
// shell that did not start counts as a failure: false then, errno set.
bool configure_vtx(const char* option, int value);
