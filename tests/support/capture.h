// What a piece of in-process code writes to standard output and error.
#pragma once

#include <functional>
#include <string>

struct Captured {
    std::string out;
    std::string err;
};

// Runs `body` with file descriptors 1 and 2 (C stdio and iostreams alike)
// redirected, and returns what was written to each.
Captured capture_output(const std::function<void()>& body);
