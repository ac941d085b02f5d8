// Server side: a listening endpoint per channel, an I/O thread that admits
// subscribers and takes control commands, and writes fanned out to every
// subscriber without ever waiting for one.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <orvi/brannic_pipe.h>
#include "pipe_common.h"

using namespace brannic_pipe_internal;

namespace {

// Most pending (not yet introduced) connections and subscribers a channel
// keeps; beyond that the oldest pending one, or the newcomer, is refused.
constexpr size_t kMaxPending = 32;
constexpr size_t kMaxSubscribers = 64;
// Queue room per subscriber; the kernel caps it at twice net.core.wmem_max.
constexpr int kSubscriberSendBuffer = 1 << 20;

struct Subscriber {
    int fd;
    int id;
    std::string name;
};

struct ServerRun {
    int ch = 0;
    std::string location;  // "/run/zpx/NAME/"
    int listen_fd = -1;
    int lock_fd = -1;
    int wake_fd = -1;
    bool owns_files = false;  // the lock is ours and no other server answers
    std::atomic<bool> stop{false};
    std::thread thread;
    std::thread::id thread_id;
    cJSON* info = nullptr;
    std::vector<Subscriber> subscribers;  // guarded by the slot mutex
    std::vector<int> pending;             // I/O thread only
    int next_client_id = 0;               // I/O thread only
    bool told_full = false;               // I/O thread only: refusals are reported once
};

struct ServerSlot {
    std::mutex m;
    std::shared_ptr<ServerRun> run;
    bool creating = false;
    pipe_server_control_cb control_cb = nullptr;
    void* control_ctx = nullptr;
    pipe_server_connect_cb connect_cb = nullptr;
    void* connect_ctx = nullptr;
    pipe_server_disconnect_cb disconnect_cb = nullptr;
    void* disconnect_ctx = nullptr;
    std::atomic<uint64_t> dropped{0};
};

// Never destroyed: an I/O thread may still be running while the process exits.
ServerSlot* slots() {
    static ServerSlot* all = new ServerSlot[PIPE_SERVER_MAX_CHANNELS];
    return all;
}

bool valid_channel(int ch) { return ch >= 0 && ch < PIPE_SERVER_MAX_CHANNELS; }

std::string file_in(const ServerRun& run, const char* file) { return run.location + file; }

int write_info_file(const ServerRun& run) {
    char* text = cJSON_Print(run.info);
    if (text == nullptr) {
        fprintf(stderr, "pipe server: cannot print the info of %s\n", run.location.c_str());
        return -1;
    }
    const std::string temp = file_in(run, kInfoTempFile);
    const std::string final_path = file_in(run, kInfoFile);
    int result = -1;
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "pipe server: cannot write %s: %s\n", temp.c_str(), strerror(errno));
    } else {
        const size_t len = strlen(text);
        size_t done = 0;
        bool ok = true;
        while (ok && done < len) {
            const ssize_t n = write(fd, text + done, len - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ok = false; else done += static_cast<size_t>(n);
        }
        if (ok && write(fd, "\n", 1) != 1) ok = false;
        if (ok && fsync(fd) != 0) ok = false;
        if (close(fd) != 0) ok = false;
        if (ok && rename(temp.c_str(), final_path.c_str()) == 0) {
            result = 0;
        } else {
            fprintf(stderr, "pipe server: cannot write %s: %s\n", final_path.c_str(), strerror(errno));
            unlink(temp.c_str());
        }
    }
    cJSON_free(text);
    return result;
}

// Takes the channel's lock file. The lock dies with its holder, so a crashed
// server never keeps the name; a live one makes this fail with EWOULDBLOCK.
int take_lock(const std::string& path) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return -1;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int saved = errno;
            close(fd);
            errno = saved;
            return -1;
        }
        // A closing server unlinks the file it held; a lock on that orphan
        // would exclude nobody, so make sure we hold the file that is there.
        struct stat held, named;
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            return fd;
        }
        close(fd);
    }
    errno = EAGAIN;
    return -1;
}

int bind_listener(const std::string& location) {
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::string path = location + kSocketFile;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    unlink(path.c_str());  // stale endpoint of a server that died
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

void release_run(ServerRun& run) {
    // The endpoint goes first so that clients stop finding this server.
    if (run.listen_fd >= 0) {
        unlink(file_in(run, kSocketFile).c_str());
        close(run.listen_fd);
        run.listen_fd = -1;
    }
    for (const Subscriber& s : run.subscribers) close(s.fd);
    run.subscribers.clear();
    for (int fd : run.pending) close(fd);
    run.pending.clear();
    if (run.wake_fd >= 0) {
        close(run.wake_fd);
        run.wake_fd = -1;
    }
    if (run.owns_files) {
        unlink(file_in(run, kInfoFile).c_str());
        unlink(file_in(run, kInfoTempFile).c_str());
        // Unlinked while still held, so no newcomer locks a file we drop.
        unlink(file_in(run, kLockFile).c_str());
    }
    if (run.lock_fd >= 0) {
        close(run.lock_fd);
        run.lock_fd = -1;
    }
    if (run.owns_files) {
        rmdir(run.location.c_str());  // fails harmlessly if others left files there
        run.owns_files = false;
    }
    if (run.info != nullptr) {
        cJSON_Delete(run.info);
        run.info = nullptr;
    }
}

struct ControlTarget {
    pipe_server_control_cb cb = nullptr;
    void* ctx = nullptr;
};

ControlTarget control_target(ServerSlot& slot) {
    std::lock_guard<std::mutex> lock(slot.m);
    return {slot.control_cb, slot.control_ctx};
}

void call_control(const ControlTarget& target, int ch, const char* text, int bytes) {
    if (target.cb == nullptr) return;
    std::string copy(text, static_cast<size_t>(bytes));  // NUL-terminated for the callback
    target.cb(ch, &copy[0], bytes, target.ctx);
}

class ServerLoop {
public:
    ServerLoop(ServerSlot& slot, std::shared_ptr<ServerRun> run)
        : slot_(slot), run_(std::move(run)), buffer_(PIPE_MAX_MESSAGE_BYTES + 1) {}

    void operator()() {
        while (!run_->stop.load()) {
            build_poll_set();
            const int n = poll(fds_.data(), fds_.size(), -1);
            if (n < 0) {
                if (errno == EINTR) continue;
                fprintf(stderr, "pipe server %d: poll: %s\n", run_->ch, strerror(errno));
                return;
            }
            if (run_->stop.load()) return;
            if (!handle_ready()) return;
        }
    }

private:
    void build_poll_set() {
        fds_.clear();
        fds_.push_back({run_->wake_fd, POLLIN, 0});
        fds_.push_back({run_->listen_fd, POLLIN, 0});
        for (int fd : run_->pending) fds_.push_back({fd, POLLIN, 0});
        n_pending_ = run_->pending.size();
        std::lock_guard<std::mutex> lock(slot_.m);
        for (const Subscriber& s : run_->subscribers) fds_.push_back({s.fd, POLLIN, 0});
    }

    // Returns false once the channel was closed by a callback.
    bool handle_ready() {
        if (fds_[0].revents != 0) {
            uint64_t value;
            if (read(run_->wake_fd, &value, sizeof value) < 0) {
                // Nothing to do: the wake-up only makes us look at the flag.
            }
            return false;
        }
        std::vector<int> ready_pending;
        std::vector<int> ready_subscribers;
        for (size_t i = 0; i < n_pending_; ++i) {
            if (fds_[2 + i].revents != 0) ready_pending.push_back(fds_[2 + i].fd);
        }
        for (size_t i = 2 + n_pending_; i < fds_.size(); ++i) {
            if (fds_[i].revents != 0) ready_subscribers.push_back(fds_[i].fd);
        }
        for (int fd : ready_pending) {
            if (!introduce(fd)) return false;
        }
        for (int fd : ready_subscribers) {
            if (!serve_subscriber(fd)) return false;
        }
        if (fds_[1].revents != 0) accept_all();
        return true;
    }

    void accept_all() {
        for (;;) {
            const int fd = accept4(run_->listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
                    fprintf(stderr, "pipe server %d: accept: %s\n", run_->ch, strerror(errno));
                }
                return;
            }
            if (run_->pending.size() >= kMaxPending) {
                close(run_->pending.front());
                run_->pending.erase(run_->pending.begin());
            }
            run_->pending.push_back(fd);
        }
    }

    void forget_pending(int fd) {
        for (size_t i = 0; i < run_->pending.size(); ++i) {
            if (run_->pending[i] == fd) {
                run_->pending.erase(run_->pending.begin() + static_cast<long>(i));
                return;
            }
        }
    }

    ssize_t receive(int fd) {
        for (;;) {
            const ssize_t n = recv(fd, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    }

    // First packet of a new connection: a subscriber's hello or a control command.
    bool introduce(int fd) {
        const ssize_t n = receive(fd);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        forget_pending(fd);
        if (n <= 0) {
            close(fd);
            return true;
        }
        if (buffer_[0] == kTagControl) {
            // The answer and the call use the same callback, registered or not.
            const ControlTarget target = control_target(slot_);
            const char reply = target.cb != nullptr ? kTagAck : kTagNoControl;
            if (send(fd, &reply, 1, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
                // The sender gave up waiting; the command still counts.
            }
            close(fd);
            call_control(target, run_->ch, buffer_.data() + 1, static_cast<int>(n - 1));
            return !run_->stop.load();
        }
        if (buffer_[0] != kTagHello) {
            close(fd);
            return true;
        }
        size_t name_len = static_cast<size_t>(n - 1);
        if (name_len >= PIPE_MAX_NAME_LEN) name_len = PIPE_MAX_NAME_LEN - 1;
        std::string name(buffer_.data() + 1, name_len);
        const int id = run_->next_client_id++;
        pipe_server_connect_cb cb;
        void* ctx;
        {
            std::lock_guard<std::mutex> lock(slot_.m);
            if (run_->subscribers.size() >= kMaxSubscribers) {
                // Refused clients retry; say it once, not at every retry.
                if (!run_->told_full) {
                    fprintf(stderr, "pipe server %d: refusing client \"%s\": %zu clients connected\n", run_->ch,
                            name.c_str(), run_->subscribers.size());
                    run_->told_full = true;
                }
                close(fd);
                return true;
            }
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSubscriberSendBuffer, sizeof kSubscriberSendBuffer);
            // The welcome goes out under the lock that writes take, so that it
            // is the first packet and no write after it is missed.
            const char welcome[2] = {kTagWelcome, kProtocolVersion};
            if (send(fd, welcome, sizeof welcome, MSG_DONTWAIT | MSG_NOSIGNAL) != sizeof welcome) {
                close(fd);
                return true;
            }
            run_->subscribers.push_back({fd, id, name});
            cb = slot_.connect_cb;
            ctx = slot_.connect_ctx;
        }
        if (cb != nullptr) cb(run_->ch, id, &name[0], ctx);
        return !run_->stop.load();
    }

    bool serve_subscriber(int fd) {
        const ssize_t n = receive(fd);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n > 0) {
            if (buffer_[0] == kTagControl) {
                call_control(control_target(slot_), run_->ch, buffer_.data() + 1, static_cast<int>(n - 1));
                return !run_->stop.load();
            }
            return true;  // nothing else is expected from a subscriber
        }
        // Hung up (or broken): drop it from the delivery list.
        Subscriber gone{-1, -1, std::string()};
        pipe_server_disconnect_cb cb;
        void* ctx;
        {
            std::lock_guard<std::mutex> lock(slot_.m);
            for (size_t i = 0; i < run_->subscribers.size(); ++i) {
                if (run_->subscribers[i].fd == fd) {
                    gone = run_->subscribers[i];
                    run_->subscribers.erase(run_->subscribers.begin() + static_cast<long>(i));
                    break;
                }
            }
            cb = slot_.disconnect_cb;
            ctx = slot_.disconnect_ctx;
        }
        if (gone.fd < 0) return true;
        close(fd);
        if (cb != nullptr) cb(run_->ch, gone.id, &gone.name[0], ctx);
        return !run_->stop.load();
    }

    ServerSlot& slot_;
    std::shared_ptr<ServerRun> run_;
    std::vector<char> buffer_;
    std::vector<pollfd> fds_;
    size_t n_pending_ = 0;
};

int fail_create(ServerSlot& slot, ServerRun& run, int code) {
    release_run(run);
    std::lock_guard<std::mutex> lock(slot.m);
    slot.creating = false;
    return code;
}

// The pipe's directory, its lock and its listening socket: 0, or the
// error code pipe_server_create returns.
int claim_location(ServerRun& run) {
    const char* location = run.location.c_str();
    if (mkdir(PIPE_DIR, 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "pipe server: cannot create %s: %s\n", PIPE_DIR, strerror(errno));
        return PIPE_ERROR_SYSTEM;
    }
    if (mkdir(location, 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "pipe server: cannot create %s: %s\n", location, strerror(errno));
        return PIPE_ERROR_SYSTEM;
    }
    run.lock_fd = take_lock(file_in(run, kLockFile));
    if (run.lock_fd < 0) {
        if (errno == EWOULDBLOCK) return PIPE_ERROR_SERVER_RUNNING;
        fprintf(stderr, "pipe server: cannot lock %s: %s\n", location, strerror(errno));
        return PIPE_ERROR_SYSTEM;
    }
    // Somebody answering on the endpoint without holding the lock is still
    // a live server; anything else there is left over from a crash.
    const int probe = connect_to_pipe(location, true);
    if (probe >= 0 || errno == EAGAIN) {
        if (probe >= 0) close(probe);
        return PIPE_ERROR_SERVER_RUNNING;
    }
    run.owns_files = true;
    run.wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    run.listen_fd = run.wake_fd < 0 ? -1 : bind_listener(location);
    if (run.listen_fd < 0) {
        fprintf(stderr, "pipe server: cannot listen on %s%s: %s\n", location, kSocketFile, strerror(errno));
        return PIPE_ERROR_SYSTEM;
    }
    return 0;
}

// The info file that clients read before they connect.
int publish_info(ServerRun& run, const char* type, const char* server_name) {
    const std::string pipe_name = name_of_location(run.location);
    run.info = cJSON_CreateObject();
    if (run.info == nullptr) return PIPE_ERROR_SYSTEM;
    cJSON_AddStringToObject(run.info, "name", pipe_name.c_str());
    cJSON_AddStringToObject(run.info, "location", run.location.c_str());
    cJSON_AddStringToObject(run.info, "type", type != nullptr ? type : "");
    cJSON_AddStringToObject(run.info, "server_name", server_name != nullptr ? server_name : "");
    cJSON_AddNumberToObject(run.info, "server_pid", static_cast<double>(getpid()));
    cJSON_AddNumberToObject(run.info, "max_message_bytes", PIPE_MAX_MESSAGE_BYTES);
    return write_info_file(run) != 0 ? PIPE_ERROR_SYSTEM : 0;
}

int start_server_thread(ServerSlot& slot, const std::shared_ptr<ServerRun>& run) {
    slot.dropped.store(0);
    try {
        run->thread = start_quiet_thread(ServerLoop(slot, run));
    } catch (const std::exception& e) {
        fprintf(stderr, "pipe server: cannot start its thread: %s\n", e.what());
        return PIPE_ERROR_SYSTEM;
    }
    run->thread_id = run->thread.get_id();
    return 0;
}

}  // namespace

extern "C" int pipe_server_create(int ch, const char* name, const char* type, const char* server_name) {
    if (!valid_channel(ch) || name == nullptr) return PIPE_ERROR_INVALID_ARG;
    char location[PIPE_MAX_PATH_LEN];
    if (pipe_expand_location_string(name, location) != 0) return PIPE_ERROR_INVALID_PATH;
    ServerSlot& slot = slots()[ch];
    {
        std::lock_guard<std::mutex> lock(slot.m);
        if (slot.run || slot.creating) return PIPE_ERROR_CHANNEL_IN_USE;
        slot.creating = true;
    }
    auto run = std::make_shared<ServerRun>();
    run->ch = ch;
    run->location = location;

    int r = claim_location(*run);
    if (r == 0) r = publish_info(*run, type, server_name);
    if (r == 0) r = start_server_thread(slot, run);
    if (r != 0) return fail_create(slot, *run, r);
    std::lock_guard<std::mutex> lock(slot.m);
    slot.run = run;
    slot.creating = false;
    return 0;
}

#define SET_SERVER_CB(field, ctx_field)                     \
    if (!valid_channel(ch)) return PIPE_ERROR_INVALID_ARG; \
    ServerSlot& slot = slots()[ch];                         \
    std::lock_guard<std::mutex> lock(slot.m);               \
    slot.field = cb;                                        \
    slot.ctx_field = context;                               \
    return 0

extern "C" int pipe_server_set_control_cb(int ch, pipe_server_control_cb cb, void* context) {
    SET_SERVER_CB(control_cb, control_ctx);
}

extern "C" int pipe_server_set_connect_cb(int ch, pipe_server_connect_cb cb, void* context) {
    SET_SERVER_CB(connect_cb, connect_ctx);
}

extern "C" int pipe_server_set_disconnect_cb(int ch, pipe_server_disconnect_cb cb, void* context) {
    SET_SERVER_CB(disconnect_cb, disconnect_ctx);
}

extern "C" int pipe_server_write(int ch, const void* data, int bytes) {
    if (!valid_channel(ch) || data == nullptr || bytes <= 0 || bytes > PIPE_MAX_MESSAGE_BYTES) {
        return PIPE_ERROR_INVALID_ARG;
    }
    ServerSlot& slot = slots()[ch];
    std::lock_guard<std::mutex> lock(slot.m);
    if (!slot.run) return PIPE_ERROR_NOT_CONNECTED;
    uint64_t dropped = 0;
    for (const Subscriber& s : slot.run->subscribers) {
        const ssize_t n = send(s.fd, data, static_cast<size_t>(bytes), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) ++dropped;
        // Other failures mean the client is gone; the I/O thread removes it.
    }
    if (dropped != 0) slot.dropped.fetch_add(dropped);
    return 0;
}

extern "C" int pipe_server_get_num_clients(int ch) {
    if (!valid_channel(ch)) return PIPE_ERROR_INVALID_ARG;
    ServerSlot& slot = slots()[ch];
    std::lock_guard<std::mutex> lock(slot.m);
    if (!slot.run) return PIPE_ERROR_NOT_CONNECTED;
    return static_cast<int>(slot.run->subscribers.size());
}

extern "C" uint64_t pipe_server_get_dropped(int ch) {
    if (!valid_channel(ch)) return 0;
    return slots()[ch].dropped.load();
}

extern "C" cJSON* pipe_server_get_info_json_ptr(int ch) {
    if (!valid_channel(ch)) return nullptr;
    ServerSlot& slot = slots()[ch];
    std::lock_guard<std::mutex> lock(slot.m);
    return slot.run ? slot.run->info : nullptr;
}

extern "C" int pipe_server_update_info(int ch) {
    if (!valid_channel(ch)) return PIPE_ERROR_INVALID_ARG;
    ServerSlot& slot = slots()[ch];
    std::lock_guard<std::mutex> lock(slot.m);
    if (!slot.run) return PIPE_ERROR_NOT_CONNECTED;
    return write_info_file(*slot.run) == 0 ? 0 : PIPE_ERROR_SYSTEM;
}

extern "C" void pipe_server_close(int ch) {
    if (!valid_channel(ch)) return;
    ServerSlot& slot = slots()[ch];
    std::shared_ptr<ServerRun> run;
    {
        std::lock_guard<std::mutex> lock(slot.m);
        run = std::move(slot.run);
        slot.run.reset();
        if (run) slot.creating = true;  // the slot stays busy until released
    }
    if (!run) return;
    run->stop.store(true);
    const uint64_t one = 1;
    if (write(run->wake_fd, &one, sizeof one) < 0) {
        // An eventfd write fails only on overflow, which still wakes the thread.
    }
    // From one of this channel's own callbacks the thread cannot be joined;
    // it ends as soon as that callback returns and touches nothing else.
    if (std::this_thread::get_id() == run->thread_id) {
        run->thread.detach();
    } else {
        run->thread.join();
    }
    {
        std::lock_guard<std::mutex> lock(slot.m);
        release_run(*run);
        slot.creating = false;
    }
}

extern "C" void pipe_server_close_all(void) {
    for (int ch = 0; ch < PIPE_SERVER_MAX_CHANNELS; ++ch) pipe_server_close(ch);
}
