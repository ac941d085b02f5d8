#include "fake_tools.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

FakeTools::FakeTools(const std::vector<std::string>& tools) {
    char templ[] = "/tmp/orvi-fake-tools-XXXXXX";
    if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
    for (const auto& tool : tools) {
        const std::string base = dir_ + "/" + tool;
        std::string script =
            "#!/bin/sh\n"
            "{ printf '%s' '" + tool + "'; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; printf '\\n'; } >> '" +
            dir_ + "/calls.log'\n"
            "[ -f '" + base + ".out' ] && cat '" + base + ".out'\n"
            "[ -f '" + base + ".err' ] && cat '" + base + ".err' >&2\n"
            "[ -f '" + base + ".status' ] && exit \"$(cat '" + base + ".status')\"\n"
            "exit 0\n";
        write_file(base, script);
        chmod(base.c_str(), 0755);
    }
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "/usr/bin:/bin";
    setenv("PATH", (dir_ + ":" + saved_path_).c_str(), 1);
}

FakeTools::~FakeTools() {
    setenv("PATH", saved_path_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void FakeTools::set_output(const std::string& tool, const std::string& text) {
    write_file(dir_ + "/" + tool + ".out", text);
}

void FakeTools::set_error(const std::string& tool, const std::string& text) {
    write_file(dir_ + "/" + tool + ".err", text);
}

void FakeTools::set_status(const std::string& tool, int status) {
    write_file(dir_ + "/" + tool + ".status", std::to_string(status));
}

void FakeTools::reset(const std::string& tool) {
    for (const char* suffix : {".out", ".err", ".status"}) std::remove((dir_ + "/" + tool + suffix).c_str());
}

std::vector<std::string> FakeTools::calls() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_ + "/calls.log");
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

void FakeTools::clear_calls() { std::remove((dir_ + "/calls.log").c_str()); }

namespace {
void flush_all() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
}

std::string read_stream(FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
    return text;
}
}  // namespace

Captured capture_output(const std::function<void()>& body) {
    flush_all();
    FILE* out_file = std::tmpfile();
    FILE* err_file = std::tmpfile();
    if (!out_file || !err_file) throw std::runtime_error("tmpfile failed");
    int saved_out = dup(1);
    int saved_err = dup(2);
    dup2(fileno(out_file), 1);
    dup2(fileno(err_file), 2);
    body();
    flush_all();
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    Captured captured{read_stream(out_file), read_stream(err_file)};
    std::fclose(out_file);
    std::fclose(err_file);
    return captured;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
