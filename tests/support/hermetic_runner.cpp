#include "hermetic_runner.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_process.h"

bool inside_hermetic_runner() { return std::getenv("ORVI_SIM_INSIDE") != nullptr; }

int reexec_inside_hermetic_runner(int argc, char** argv, const char* program) {
    if (inside_hermetic_runner()) return 0;
    std::vector<std::string> args{source_path("sim/orvi-sim-run"), "--", "/proc/self/exe"};
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) args[2] = std::string(self, static_cast<size_t>(n));
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    std::vector<char*> cargv;
    for (auto& a : args) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    execv(cargv[0], cargv.data());
    const std::string what = std::string(program) + ": cannot start sim/orvi-sim-run";
    std::perror(what.c_str());
    return -1;
}
