#include "capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

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
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
    return text;
}

}  // namespace

Captured capture_output(const std::function<void()>& body) {
    flush_all();
    FILE* out_file = std::tmpfile();
    FILE* err_file = std::tmpfile();
    if (out_file == nullptr || err_file == nullptr) {
        ADD_FAILURE() << "capture_output: no temporary file";
        if (out_file != nullptr) std::fclose(out_file);
        if (err_file != nullptr) std::fclose(err_file);
        body();
        return {};
    }
    const int saved_out = dup(1);
    const int saved_err = dup(2);
    dup2(fileno(out_file), 1);
    dup2(fileno(err_file), 2);
    body();
    flush_all();
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    return {read_stream(out_file), read_stream(err_file)};
}
