// Programs that must never touch the machine's real /run/zpx, /data or
// /etc/quillon restart themselves inside sim/orvi-sim-run.
#pragma once

// Returns 0 when already inside the runner. Otherwise replaces the process
// with the runner re-running this program with the same arguments; returns
// -1 (after a perror naming `program`) only if that fails.
int reexec_inside_hermetic_runner(int argc, char** argv, const char* program);

// True inside sim/orvi-sim-run (or a board, which runs inside it).
bool inside_hermetic_runner();
