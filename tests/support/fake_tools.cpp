#include "fake_tools.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "files.h"

FakeTools::FakeTools(const std::vector<std::string>& tools) {
    for (const auto& tool : tools) {
        const std::string base = dir_ / tool;
        std::string script =
            "#!/bin/sh\n"
            "{ printf '%s' '" + tool + "'; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; printf '\\n'; } >> '" +
            dir_ / "calls.log'\n"
            "[ -f '" + base + ".out' ] && cat '" + base + ".out'\n"
            "[ -f '" + base + ".err' ] && cat '" + base + ".err' >&2\n"
            "[ -f '" + base + ".status' ] && exit \"$(cat '" + base + ".status')\"\n"
            "exit 0\n";
        write_file(base, script);
        chmod(base.c_str(), 0755);
    }
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "/usr/bin:/bin";
    setenv("PATH", (dir_.path() + ":" + saved_path_).c_str(), 1);
}

FakeTools::~FakeTools() { setenv("PATH", saved_path_.c_str(), 1); }

void FakeTools::set_output(const std::string& tool, const std::string& text) {
    write_file(dir_ / tool + ".out", text);
}

void FakeTools::set_error(const std::string& tool, const std::string& text) {
    write_file(dir_ / tool + ".err", text);
}

void FakeTools::set_status(const std::string& tool, int status) {
    write_file(dir_ / tool + ".status", std::to_string(status));
}

void FakeTools::reset(const std::string& tool) {
    for (const char* suffix : {".out", ".err", ".status"}) std::remove((dir_ / tool + suffix).c_str());
}

std::vector<std::string> FakeTools::calls() const { return lines_of(read_file(dir_ / "calls.log")); }

void FakeTools::clear_calls() { std::remove((dir_ / "calls.log").c_str()); }
