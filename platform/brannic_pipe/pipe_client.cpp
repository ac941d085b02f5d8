// Client side: one thread per open channel that finds its server, keeps
// the connection and hands every packet to the callbacks; and the one-shot
// control command.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <orvi/brannic_pipe.h>
#include "pipe_common.h"

using namespace brannic_pipe_internal;

namespace {

// How often a client looks for a server that is not there (poll timeout,
// so it is real time even under a virtual clock).
constexpr int kRetryMs = 50;
// How long a server may take to admit a client or acknowledge a command.
constexpr int kAnswerMs = 2000;
constexpr int kDefaultBufferBytes = 32768;

struct ClientRun {
    int ch = 0;
    std::string location;
    std::string name;
    int flags = 0;
    size_t buffer_bytes = 0;
    int wake_fd = -1;
    std::thread thread;
    std::atomic<bool> connected{false};
    std::atomic<bool> stop_requested{false};  // lock-free copy of stop for the I/O waits
    // Guarded by g_mx:
    bool stop = false;
    bool in_callback = false;
    bool in_close = false;  // its thread is inside a close call from a callback
    bool exited = false;
    int live_fd = -1;       // the connected socket while the thread reads it

    ~ClientRun() {
        if (wake_fd >= 0) close(wake_fd);
    }
};

struct Callbacks {
    pipe_client_connect_cb connect_cb = nullptr;
    void* connect_ctx = nullptr;
    pipe_client_disconnect_cb disconnect_cb = nullptr;
    void* disconnect_ctx = nullptr;
    pipe_client_simple_cb simple_cb = nullptr;
    void* simple_ctx = nullptr;
};

struct ClientSlot {
    std::shared_ptr<ClientRun> run;
    std::shared_ptr<ClientRun> closing;  // being stopped; concurrent closers wait for it
    Callbacks cbs;
};

// One lock and one condition for all client channels: closing from inside a
// callback has to see the state of every other channel at once.
std::mutex g_mx;
std::condition_variable g_cv;
// Never destroyed: threads may still run while the process exits.
ClientSlot* slots() {
    static ClientSlot* all = new ClientSlot[PIPE_CLIENT_MAX_CHANNELS];
    return all;
}
thread_local ClientRun* tl_current = nullptr;

bool valid_channel(int ch) { return ch >= 0 && ch < PIPE_CLIENT_MAX_CHANNELS; }

class ClientLoop {
public:
    explicit ClientLoop(std::shared_ptr<ClientRun> run) : run_(std::move(run)) {}

    void operator()() {
        tl_current = run_.get();
        buffer_.resize(std::max(run_->buffer_bytes, static_cast<size_t>(PIPE_MAX_MESSAGE_BYTES)));
        while (!run_->stop_requested.load()) {
            watch_folders();
            const int fd = join_server();
            if (fd < 0) {
                if (!wait_wake(watch_fd_, kRetryMs)) break;
                drain_watch();
                continue;
            }
            unwatch();
            run_->connected.store(true);
            bool go_on = call_connect();
            if (go_on) go_on = receive_until_lost(fd);
            run_->connected.store(false);
            close(fd);
            if (!go_on || !call_disconnect()) break;
        }
        if (watch_fd_ >= 0) close(watch_fd_);
        std::lock_guard<std::mutex> lock(g_mx);
        run_->exited = true;
        ClientSlot& slot = slots()[run_->ch];
        if (slot.closing == run_) slot.closing.reset();
        g_cv.notify_all();
    }

private:
    // Creations in the pipe folders wake a waiting client at once; the retry
    // period stays as the fallback (no inotify, or a missed event). Watches
    // are added again before every attempt (the pipe folder comes and goes
    // with its server, and a watch dies with its folder) and removed while
    // connected, so that no events pile up unread. The instance is made on
    // the first wait and kept: closing one stalls for milliseconds.
    void watch_folders() {
        if (watch_fd_ < 0) watch_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch_fd_ < 0) return;
        const uint32_t events = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
        for (const char* folder : {PIPE_DIR, run_->location.c_str()}) {
            const int wd = inotify_add_watch(watch_fd_, folder, events);
            if (wd >= 0 && std::find(watches_.begin(), watches_.end(), wd) == watches_.end()) {
                watches_.push_back(wd);
            }
        }
    }

    void unwatch() {
        if (watch_fd_ < 0) return;
        for (int wd : watches_) inotify_rm_watch(watch_fd_, wd);
        watches_.clear();
        drain_watch();
    }

    void drain_watch() {
        if (watch_fd_ < 0) return;
        alignas(inotify_event) char events[4096];
        while (read(watch_fd_, events, sizeof events) > 0) {
        }
    }

    // Waits for fd to become readable (fd may be -1) or for a stop request.
    // Returns false on a stop request; true when fd is readable or time ran out.
    bool wait_wake(int fd, int timeout_ms) {
        pollfd fds[2] = {{run_->wake_fd, POLLIN, 0}, {fd, POLLIN, 0}};
        for (;;) {
            const int n = poll(fds, fd >= 0 ? 2 : 1, timeout_ms);
            if (n < 0 && errno == EINTR) continue;
            if (run_->stop_requested.load()) return false;
            return true;
        }
    }

    // Connects, introduces this client and waits for the server's welcome,
    // after which every write of the server reaches us. -1 if no server.
    int join_server() {
        const int fd = connect_to_pipe(run_->location, true);
        if (fd < 0) return -1;
        std::string hello(1, kTagHello);
        hello += run_->name;
        if (send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size()) ||
            !wait_wake(fd, kAnswerMs)) {
            close(fd);
            return -1;
        }
        char welcome[2];
        const ssize_t n = recv(fd, welcome, sizeof welcome, MSG_DONTWAIT);
        if (n != 2 || welcome[0] != kTagWelcome) {
            close(fd);
            return -1;
        }
        return fd;
    }

    // Returns false when the channel is being closed, true when the server went away.
    // Reads block (one system call per message); a closer wakes the read by
    // shutting the socket down, which it may do only while it is published here.
    bool receive_until_lost(int fd) {
        const int fl = fcntl(fd, F_GETFL);
        if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) return true;
        {
            std::lock_guard<std::mutex> lock(g_mx);
            if (run_->stop) return false;
            run_->live_fd = fd;
        }
        bool lost = false;
        while (!lost) {
            iovec iov{buffer_.data(), buffer_.size()};
            msghdr msg;
            memset(&msg, 0, sizeof msg);
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            const ssize_t n = recvmsg(fd, &msg, 0);
            if (n > 0) {
                if (msg.msg_flags & MSG_TRUNC) {
                    // Never hand out part of a packet: drop it whole.
                    fprintf(stderr, "pipe client %d: dropped a packet larger than %zu bytes\n", run_->ch,
                            buffer_.size());
                    continue;
                }
                if ((run_->flags & CLIENT_FLAG_EN_SIMPLE_HELPER) && !call_simple(static_cast<int>(n))) break;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            lost = true;  // end of stream, or our own shutdown from a closer
        }
        std::lock_guard<std::mutex> lock(g_mx);
        run_->live_fd = -1;
        return !run_->stop;
    }

    // Each callback starts only while the channel is open, and marks itself
    // running so that a closer can wait for it to end.
    template <class Call>
    bool run_callback(Call call) {
        std::unique_lock<std::mutex> lock(g_mx);
        if (run_->stop) return false;
        ClientSlot& slot = slots()[run_->ch];
        run_->in_callback = true;
        const Callbacks callbacks = slot.cbs;
        lock.unlock();
        call(callbacks);
        lock.lock();
        run_->in_callback = false;
        const bool go_on = !run_->stop;
        lock.unlock();
        g_cv.notify_all();
        return go_on;
    }

    bool call_connect() {
        return run_callback([&](const Callbacks& cbs) {
            if (cbs.connect_cb != nullptr) cbs.connect_cb(run_->ch, cbs.connect_ctx);
        });
    }

    bool call_disconnect() {
        return run_callback([&](const Callbacks& cbs) {
            if (cbs.disconnect_cb != nullptr) cbs.disconnect_cb(run_->ch, cbs.disconnect_ctx);
        });
    }

    bool call_simple(int bytes) {
        return run_callback([&](const Callbacks& cbs) {
            if (cbs.simple_cb != nullptr) cbs.simple_cb(run_->ch, buffer_.data(), bytes, cbs.simple_ctx);
        });
    }

    std::shared_ptr<ClientRun> run_;
    std::vector<char> buffer_;
    int watch_fd_ = -1;
    std::vector<int> watches_;
};

}  // namespace

extern "C" int pipe_client_set_connect_cb(int ch, pipe_client_connect_cb cb, void* context) {
    if (!valid_channel(ch)) return PIPE_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> lock(g_mx);
    slots()[ch].cbs.connect_cb = cb;
    slots()[ch].cbs.connect_ctx = context;
    return 0;
}

extern "C" int pipe_client_set_disconnect_cb(int ch, pipe_client_disconnect_cb cb, void* context) {
    if (!valid_channel(ch)) return PIPE_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> lock(g_mx);
    slots()[ch].cbs.disconnect_cb = cb;
    slots()[ch].cbs.disconnect_ctx = context;
    return 0;
}

extern "C" int pipe_client_set_simple_helper_cb(int ch, pipe_client_simple_cb cb, void* context) {
    if (!valid_channel(ch)) return PIPE_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> lock(g_mx);
    slots()[ch].cbs.simple_cb = cb;
    slots()[ch].cbs.simple_ctx = context;
    return 0;
}

extern "C" int pipe_client_open(int ch, const char* path, const char* client_name, int flags,
                                int buffer_bytes) {
    if (!valid_channel(ch)) return PIPE_ERROR_INVALID_ARG;
    if ((flags & ~CLIENT_FLAG_EN_SIMPLE_HELPER) != 0 || buffer_bytes < 0) return PIPE_ERROR_INVALID_ARG;
    if (client_name != nullptr && strlen(client_name) >= PIPE_MAX_NAME_LEN) return PIPE_ERROR_INVALID_ARG;
    char location[PIPE_MAX_PATH_LEN];
    if (path == nullptr) return PIPE_ERROR_INVALID_ARG;
    if (pipe_expand_location_string(path, location) != 0) return PIPE_ERROR_INVALID_PATH;

    auto run = std::make_shared<ClientRun>();
    run->ch = ch;
    run->location = location;
    run->name = (client_name != nullptr && client_name[0] != '\0') ? client_name : "unnamed";
    run->flags = flags;
    run->buffer_bytes = static_cast<size_t>(buffer_bytes > 0 ? buffer_bytes : kDefaultBufferBytes);
    run->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (run->wake_fd < 0) {
        perror("pipe_client_open: eventfd");
        return PIPE_ERROR_SYSTEM;
    }
    std::lock_guard<std::mutex> lock(g_mx);
    ClientSlot& slot = slots()[ch];
    if (slot.run) return PIPE_ERROR_CHANNEL_IN_USE;
    try {
        run->thread = start_quiet_thread(ClientLoop(run));
    } catch (const std::exception& e) {
        fprintf(stderr, "pipe_client_open: cannot start its thread: %s\n", e.what());
        return PIPE_ERROR_SYSTEM;
    }
    slot.run = run;
    return 0;
}

extern "C" void pipe_client_close(int ch) {
    if (!valid_channel(ch)) return;
    ClientSlot& slot = slots()[ch];
    std::unique_lock<std::mutex> lock(g_mx);
    const bool owner = static_cast<bool>(slot.run);
    std::shared_ptr<ClientRun> run = owner ? slot.run : slot.closing;
    if (!run) return;
    if (owner) {
        slot.closing = slot.run;
        slot.run.reset();
        run->stop = true;
        run->stop_requested.store(true);
        const uint64_t one = 1;
        if (write(run->wake_fd, &one, sizeof one) < 0) {
            // Fails only when the counter is full, which wakes the thread as well.
        }
        if (run->live_fd >= 0) shutdown(run->live_fd, SHUT_RDWR);
    }
    if (run.get() == tl_current) {
        // Closing one's own channel from its callback: the thread ends when
        // the callback returns, without another callback.
        if (owner) run->thread.detach();
        return;
    }
    ClientRun* self = tl_current;
    if (self != nullptr) {
        // On another channel's thread: wait for this channel's callback to
        // end unless that callback is itself closing (it may be waiting for us).
        self->in_close = true;
        g_cv.notify_all();
        g_cv.wait(lock, [&] { return run->exited || !run->in_callback || run->in_close; });
        self->in_close = false;
        const bool finished = run->exited;
        lock.unlock();
        if (owner) {
            if (finished) run->thread.join(); else run->thread.detach();
        }
        return;
    }
    g_cv.wait(lock, [&] { return run->exited; });
    lock.unlock();
    if (owner) run->thread.join();
}

extern "C" void pipe_client_close_all(void) {
    for (int ch = 0; ch < PIPE_CLIENT_MAX_CHANNELS; ++ch) pipe_client_close(ch);
}

extern "C" int pipe_client_is_connected(int ch) {
    if (!valid_channel(ch)) return 0;
    std::lock_guard<std::mutex> lock(g_mx);
    const ClientSlot& slot = slots()[ch];
    return slot.run && slot.run->connected.load() ? 1 : 0;
}

extern "C" int pipe_send_control_cmd(const char* pipe, const char* command) {
    if (pipe == nullptr || command == nullptr) return PIPE_ERROR_INVALID_ARG;
    char location[PIPE_MAX_PATH_LEN];
    if (pipe_expand_location_string(pipe, location) != 0) return PIPE_ERROR_INVALID_PATH;
    const size_t len = strlen(command);
    if (len + 1 > static_cast<size_t>(PIPE_MAX_MESSAGE_BYTES)) return PIPE_ERROR_INVALID_ARG;
    const int fd = connect_to_pipe(location, true);
    if (fd < 0) return PIPE_ERROR_NOT_CONNECTED;
    std::string packet(1, kTagControl);
    packet.append(command, len);
    int result = PIPE_ERROR_NOT_CONNECTED;
    if (send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(packet.size())) {
        pollfd pfd{fd, POLLIN, 0};
        int n;
        do {
            n = poll(&pfd, 1, kAnswerMs);
        } while (n < 0 && errno == EINTR);
        char reply = 0;
        if (n > 0 && recv(fd, &reply, 1, MSG_DONTWAIT) == 1) {
            if (reply == kTagAck) result = 0;
            else if (reply == kTagNoControl) result = PIPE_ERROR_OTHER;
        }
    }
    close(fd);
    return result;
}
