#include "guardian.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "decimal_text.h"
#include "interruption.h"
#include "run_lock.h"
#include "tool_runner.h"

extern char** environ;

namespace {

// ---- the run's side ----

// The link to the guardian: one per process, as the guardian is, and reached
// from a fault's signal handler, so it cannot be handed down as a parameter.
int g_to_guardian = -1;  // the run's end of the socket pair, inherited by its tools
pid_t g_guardian_pid = 0;

// ---- the guardian's side: async-signal-safe only, straight to the kernel ----

// A preloaded library's wrappers (the simulated board has some for the
// descriptor calls) need not be async-signal-safe; the kernel is.
ssize_t sys_read(int fd, void* buffer, size_t size) {
    return syscall(SYS_read, fd, buffer, size);
}
ssize_t sys_write(int fd, const void* text, size_t size) {
    return syscall(SYS_write, fd, text, size);
}
void sys_close(int fd) {
    syscall(SYS_close, fd);
}
void sys_dup_onto(int from, int to) {
    syscall(SYS_dup3, from, to, 0);
}
void sys_close_on_exec(int fd) {
    syscall(SYS_fcntl, fd, F_SETFD, FD_CLOEXEC);
}

size_t text_length(const char* text) {
    size_t n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

// One line built without allocating; what does not fit is dropped.
struct line_t {
    char text[1536];
    size_t length;

    void add(const char* part) {
        for (size_t i = 0; part[i] != '\0' && length + 1 < sizeof text; ++i)
            text[length++] = part[i];
        text[length] = '\0';
    }
    void add_number(long value) {
        char digits[DECIMAL_TEXT_MAX + 1];
        digits[put_decimal(value, digits)] = '\0';
        add(digits);
    }
};

struct guardian_setup_t {
    int from_run;  // its end of the socket pair
    int lock_fd;   // -1 without a run lock
    int null_fd;
    long run_pid;
};

// Every signal that can be ignored is, so that nothing but SIGKILL ends the
// guardian; the faults keep their default, and SIGCHLD too, which waiting
// for the tools needs. Ignored signals that were pending are dropped.
void ignore_signals() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction keep_default {};
    keep_default.sa_handler = SIG_DFL;
    sigemptyset(&keep_default.sa_mask);
    for (int s = 1; s < NSIG; ++s) {
        if (s == SIGKILL || s == SIGSTOP)
            continue;
        sigaction(s, is_fault_signal(s) || s == SIGCHLD ? &keep_default : &ignore, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Closes every descriptor but 0, 1, 2 and `keep` (ascending, above 2).
void close_all_but(const int* keep, int count) {
    unsigned first = 3;
    for (int i = 0; i <= count; ++i) {
        const unsigned last = i < count ? static_cast<unsigned>(keep[i]) - 1 : ~0U;
        if (first <= last && syscall(SYS_close_range, first, last, 0) != 0) {
            // Kernels before 5.9: one by one, as far as a run can have opened.
            for (unsigned fd = first; fd <= last && fd < 4096; ++fd)
                sys_close(static_cast<int>(fd));
        }
        if (i < count)
            first = static_cast<unsigned>(keep[i]) + 1;
    }
}

// Standard input and output on /dev/null, standard error kept, the link and
// the lock kept away from the tools, every other descriptor of the run shut.
void arrange_descriptors(const guardian_setup_t& s) {
    sys_dup_onto(s.null_fd, 0);
    sys_dup_onto(s.null_fd, 1);
    int keep[2] = {s.from_run, s.lock_fd};
    int count = s.lock_fd >= 0 ? 2 : 1;
    if (count == 2 && keep[0] > keep[1]) {
        keep[0] = s.lock_fd;
        keep[1] = s.from_run;
    }
    close_all_but(keep, count);
    sys_close_on_exec(s.from_run);
    if (s.lock_fd >= 0)
        sys_close_on_exec(s.lock_fd);
}

// Taking no memory of its own, the guardian should be the last process the
// out-of-memory killer picks; only a privileged process may ask for that.
void shun_the_oom_killer() {
    const long fd = syscall(SYS_openat, AT_FDCWD, "/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    sys_write(static_cast<int>(fd), "-1000", 5);
    sys_close(static_cast<int>(fd));
}

// What the run has said: "D" done, "F<n>" the fault signal n ends it,
// "T<path>" a temporary table file exists, "t" it is gone.
struct run_news_t {
    bool done;
    int fault;
    char temporary[1024];
    char line[1100];
    size_t line_length;
    bool line_too_long;
};

void take_line(run_news_t* news) {
    const char* line = news->line;
    if (line[0] == 'D') {
        news->done = true;
    } else if (line[0] == 'F') {
        int n = 0;
        for (const char* c = line + 1; *c >= '0' && *c <= '9'; ++c) n = n * 10 + (*c - '0');
        news->fault = n;
    } else if (line[0] == 'T' && news->line_length - 1 < sizeof news->temporary) {
        std::memcpy(news->temporary, line + 1, news->line_length);  // the terminator included
    } else if (line[0] == 't') {
        news->temporary[0] = '\0';
    }
}

// Reads until the run says it is done (true) or the link ends (false).
bool follow_run(int from_run, run_news_t* news) {
    char chunk[512];
    for (;;) {
        const ssize_t n = sys_read(from_run, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] != '\n') {
                if (news->line_length + 1 < sizeof news->line)
                    news->line[news->line_length++] = chunk[i];
                else
                    news->line_too_long = true;
                continue;
            }
            news->line[news->line_length] = '\0';
            if (!news->line_too_long && news->line_length > 0)
                take_line(news);
            news->line_length = 0;
            news->line_too_long = false;
            if (news->done)
                return true;
        }
    }
}

// "/bin/sh -c command" with the default signal actions (a broken pipe
// stays ignored: the tools may write to a closed standard error); its wait
// status, -1 when it could not be started.
int run_shell(const char* command) {
    const pid_t pid = _Fork();
    if (pid == 0) {
        struct sigaction keep_default {};
        keep_default.sa_handler = SIG_DFL;
        sigemptyset(&keep_default.sa_mask);
        for (int s = 1; s < NSIG; ++s) {
            if (s != SIGPIPE)
                sigaction(s, &keep_default, nullptr);
        }
        char shell[] = "sh";
        char dash_c[] = "-c";
        char* argv[] = {shell, dash_c, const_cast<char*>(command), nullptr};
        execve("/bin/sh", argv, environ);
        _exit(127);
    }
    if (pid < 0)
        return -1;
    return wait_for_child(pid);
}

void add_tool_failure(line_t* line, int status) {
    if (status == -1) {
        line->add("orvi-configure-vtx could not be started");
    } else if (WIFEXITED(status)) {
        line->add("orvi-configure-vtx exited with status ");
        line->add_number(WEXITSTATUS(status));
    } else {
        line->add("orvi-configure-vtx was ended by signal ");
        line->add_number(WIFSIGNALED(status) ? WTERMSIG(status) : status);
    }
}

// The way down of a run that died, and the one line that says so.
void take_over(const guardian_setup_t& s, const run_news_t& news) {
    // A run refused from now on names the process that still holds the lock.
    if (s.lock_fd >= 0)
        write_lock_holder(s.lock_fd, static_cast<int>(getpid()));
    const int power = run_shell("orvi-configure-vtx -p 1");
    const bool power_set = power != -1 && WIFEXITED(power) && WEXITSTATUS(power) == 0;
    if (news.temporary[0] != '\0')
        syscall(SYS_unlinkat, AT_FDCWD, news.temporary, 0);
    const int stop = run_shell("orvi-send-command vtx_latency stop_test 1");

    line_t what = {};
    what.add("orvi-rfmon (process ");
    what.add_number(s.run_pid);
    what.add(") ended without finishing its run");
    if (news.fault != 0) {
        const char* name = sigabbrev_np(news.fault);
        what.add(name ? " (SIG" : " (signal ");
        if (name)
            what.add(name);
        else
            what.add_number(news.fault);
        what.add(")");
    }
    line_t line = {};
    line.add(power_set ? "Safety measure: Power level set to 1 (minimum) after "
                       : "Failed to set power level to 1 after ");
    line.add(what.text);
    if (!power_set) {
        line.add(": ");
        add_tool_failure(&line, power);
        line.add("; the power may still be high");
    }
    if (stop != 0)
        line.add("; failed to stop the vtx_latency test");
    line.add("\n");
    sys_write(2, line.text, line.length);
}

[[noreturn]] void guard(const guardian_setup_t& s) {
    setsid();
    ignore_signals();
    arrange_descriptors(s);
    shun_the_oom_killer();
    run_news_t news = {};
    if (!follow_run(s.from_run, &news))
        take_over(s, news);
    _exit(0);
}

// Also from a fault handler. A guardian that is gone is noticed elsewhere
// (guardian_lost), never by a SIGPIPE, whatever the process does with it.
void send_to_guardian(const char* text, size_t length) {
    if (g_to_guardian < 0)
        return;
    while (syscall(SYS_sendto, g_to_guardian, text, length, MSG_NOSIGNAL, nullptr, 0) < 0 &&
           errno == EINTR) {
    }
}

}  // namespace

bool start_guardian(int lock_fd) {
    if (g_guardian_pid > 0)
        return true;
    // A socket pair rather than a pipe only so that writing to a guardian
    // that is gone cannot raise SIGPIPE; it ends with end of file all the same.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::fprintf(stderr, "Error: Cannot start the power guardian: %s; nothing was changed\n",
                     std::strerror(errno));
        return false;
    }
    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    const guardian_setup_t setup = {ends[0], lock_fd, null_fd, static_cast<long>(getpid())};
    // A signal to the run's group must not reach the child before it has
    // left the group and ignores it.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = null_fd >= 0 ? fork() : -1;
    if (pid == 0)
        guard(setup);
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(ends[0]);
    if (null_fd >= 0)
        close(null_fd);
    if (pid < 0) {
        close(ends[1]);
        std::fprintf(stderr, "Error: Cannot start the power guardian: %s; nothing was changed\n",
                     std::strerror(error));
        return false;
    }
    // The tools the run starts inherit its end: a tool still setting a
    // power level when the run dies keeps the guardian waiting until it is
    // done, so that its level can never land after the guardian's power 1.
    fcntl(ends[1], F_SETFD, 0);
    g_to_guardian = ends[1];
    g_guardian_pid = pid;
    return true;
}

void dismiss_guardian() {
    if (g_guardian_pid <= 0)
        return;
    send_to_guardian("D\n", 2);
    close(g_to_guardian);
    g_to_guardian = -1;
    // It leaves at once; waiting frees the lock it shares before the run
    // goes on or exits, so that the next run finds the board free.
    int status = 0;
    while (waitpid(g_guardian_pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_guardian_pid = 0;
}

bool guardian_lost(int* pid) {
    if (g_guardian_pid <= 0)
        return false;
    int status = 0;
    const pid_t ended = waitpid(g_guardian_pid, &status, WNOHANG);
    if (ended == 0 || (ended < 0 && errno != ECHILD))
        return false;
    *pid = static_cast<int>(g_guardian_pid);
    close(g_to_guardian);
    g_to_guardian = -1;
    g_guardian_pid = 0;
    return true;
}

void tell_guardian_fault(int signal_number) {
    char text[DECIMAL_TEXT_MAX + 2] = {'F'};
    size_t n = 1 + put_decimal(signal_number, text + 1);
    text[n++] = '\n';
    send_to_guardian(text, n);
}

void tell_guardian_temporary_file(const char* path) {
    if (path == nullptr) {
        send_to_guardian("t\n", 2);
        return;
    }
    const size_t length = text_length(path);
    if (length > 1000)
        return;
    char text[1003];
    text[0] = 'T';
    std::memcpy(text + 1, path, length);
    text[length + 1] = '\n';
    send_to_guardian(text, length + 2);
}
