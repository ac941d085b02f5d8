// Line or no buffering of standard output and error as stdbuf(1) asks for
// it: stdbuf passes the request in _STDBUF_O and _STDBUF_E to a helper
// library it preloads, which exists only for the machine's own
// architecture. orvi-sim-emulate leaves that helper out of an emulated
// program's preload list, and the board library of the program's own
// architecture applies the request instead ("L" line, "0" none; a buffer
// size keeps the default). Natively both run, to the same effect.
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void apply(FILE* stream, const char* request) {
    if (request == nullptr) return;
    if (std::strcmp(request, "L") == 0) std::setvbuf(stream, nullptr, _IOLBF, 0);
    else if (std::strcmp(request, "0") == 0) std::setvbuf(stream, nullptr, _IONBF, 0);
}

__attribute__((constructor)) void apply_stdbuf_request() {
    apply(stdout, std::getenv("_STDBUF_O"));
    apply(stderr, std::getenv("_STDBUF_E"));
}

}  // namespace
