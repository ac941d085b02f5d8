// Internals shared by the client and server halves of brannic_pipe.
//
// Transport: one Unix-domain SOCK_SEQPACKET listening socket per server
// channel, "<pipe folder>/socket". The first packet a connection sends says
// what it is:
//   'H' + client name   a subscriber; the server answers 'W' + version once
//                       the client is on its delivery list, then sends each
//                       server write as one packet of the raw bytes
//   'C' + command text  a control command; the server answers 'A' (handed to
//                       the control callback) or 'N' (no control callback)
// A subscriber may also send 'C' packets later on its connection.
#pragma once

#include <signal.h>

#include <string>
#include <thread>
#include <utility>

namespace brannic_pipe_internal {

constexpr char kTagHello = 'H';
constexpr char kTagWelcome = 'W';
constexpr char kTagControl = 'C';
constexpr char kTagAck = 'A';
constexpr char kTagNoControl = 'N';
constexpr char kProtocolVersion = 1;

constexpr const char* kSocketFile = "socket";
constexpr const char* kInfoFile = "info";
constexpr const char* kInfoTempFile = ".info.tmp";
constexpr const char* kLockFile = ".lock";

// Longest pipe name that still fits PIPE_DIR + name + "/" + NUL in 64 bytes.
constexpr int kMaxPipeNameLen = 64 - 9 - 1 - 1;

// Pipe name of a valid location ("/run/zpx/NAME/" -> "NAME").
std::string name_of_location(const std::string& location);

// Connects a SOCK_SEQPACKET socket to the pipe folder's endpoint without
// blocking. Returns the descriptor or -1 with errno set (ENOENT and
// ECONNREFUSED: no server; EAGAIN: the server's backlog is full).
int connect_to_pipe(const std::string& location, bool nonblocking);

// Starts a thread with the process-stop signals blocked, so that SIGINT,
// SIGTERM and SIGHUP land on the application's threads and interrupt their
// sleeps instead of the library's waits.
template <class Body>
std::thread start_quiet_thread(Body&& body) {
    sigset_t stop_signals, previous;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    sigaddset(&stop_signals, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
    std::thread thread;
    try {
        thread = std::thread(std::forward<Body>(body));
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

}  // namespace brannic_pipe_internal
