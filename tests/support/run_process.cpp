#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

extern char** environ;

namespace {

long long now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

std::vector<std::string> merged_environment(const std::vector<std::string>& extra) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    for (const auto& entry : extra) vars[entry.substr(0, entry.find('='))] = entry;
    std::vector<std::string> out;
    for (auto& kv : vars) out.push_back(kv.second);
    return out;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
    ProcessResult result;
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (argv.empty() || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC) ||
        pipe2(in_pipe, O_CLOEXEC)) {
        result.err = "run_process: cannot create pipes";
        return result;
    }
    std::vector<std::string> env = merged_environment(options.env);
    std::vector<char*> envp, args;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto& a : argv_copy) args.push_back(a.data());
    args.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        execvpe(args[0], args.data(), envp.data());
        dprintf(2, "run_process: cannot run %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(err_pipe[0]);
        result.err = "run_process: fork failed";
        return result;
    }
    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    if (options.input.empty()) {
        close(in_pipe[1]);
        in_pipe[1] = -1;
    }

    const long long start = now_ms();
    bool stopped = false;
    int open_streams = 2;
    char buf[65536];
    while (open_streams > 0) {
        pollfd fds[3] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0},
                         {in_pipe[1], POLLOUT, 0}};
        long long elapsed = now_ms() - start;
        if (!stopped && ((options.stop_after_ms > 0 && elapsed >= options.stop_after_ms) ||
                         (options.stop_when && options.stop_when(result)))) {
            kill(-pid, SIGTERM);
            stopped = true;
        }
        if (elapsed >= options.timeout_ms) {
            kill(-pid, SIGKILL);
            result.timed_out = true;
            break;
        }
        int n = poll(fds, in_pipe[1] >= 0 ? 3 : 2, 50);
        if (n < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                (i == 0 ? out_pipe[0] : err_pipe[0]) = -1;
                --open_streams;
            }
        }
        if (in_pipe[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = write(in_pipe[1], options.input.data() + written,
                                options.input.size() - written);
            if (put > 0) written += static_cast<size_t>(put);
            if (put < 0 || written == options.input.size()) {
                close(in_pipe[1]);
                in_pipe[1] = -1;
            }
        }
    }
    if (out_pipe[0] >= 0) close(out_pipe[0]);
    if (err_pipe[0] >= 0) close(err_pipe[0]);
    if (in_pipe[1] >= 0) close(in_pipe[1]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Leftover background children of the run die with it.
    kill(-pid, SIGKILL);
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

std::string source_path(const std::string& relative) {
    return std::string(ORVI_SOURCE_DIR) + "/" + relative;
}

std::string binary_path(const std::string& relative) {
    return std::string(ORVI_BINARY_DIR) + "/" + relative;
}

namespace {

std::string env_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::vector<std::string> program_command(const std::string& relative) {
    std::vector<std::string> words;
    std::istringstream emulator(env_or_empty("ORVI_TEST_EMULATOR"));
    for (std::string word; emulator >> word;) words.push_back(word);
    const std::string dir = env_or_empty("ORVI_TEST_PROGRAM_DIR");
    words.push_back(dir.empty() ? binary_path(relative) : dir + "/" + relative);
    return words;
}

std::string program_shell_words(const std::string& relative) {
    std::string line;
    for (const auto& word : program_command(relative))
        line += (line.empty() ? "" : " ") + shell_quote(word);
    return line;
}

double program_time_factor() {
    const double factor = std::atof(env_or_empty("ORVI_TEST_TIME_FACTOR").c_str());
    return factor >= 1 ? factor : 1;
}

std::vector<std::string> board_wrapper() {
    std::vector<std::string> argv{source_path("sim/orvi-sim-board"), "--build", binary_path("")};
    const std::string dir = env_or_empty("ORVI_TEST_PROGRAM_DIR");
    if (!dir.empty() && !env_or_empty("ORVI_TEST_EMULATOR").empty())
        argv.insert(argv.end(), {"--emulated-build", dir});
    return argv;
}

ProcessResult run_on_board(const std::vector<std::string>& board,
                           const std::vector<std::string>& command, const RunOptions& options) {
    std::vector<std::string> argv = board_wrapper();
    argv.insert(argv.end(), board.begin(), board.end());
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
    return run_process(argv, options);
}

ProcessResult run_in_runner(const std::vector<std::string>& command, const RunOptions& options,
                            const std::string& setup) {
    std::vector<std::string> argv{source_path("sim/orvi-sim-run")};
    if (!setup.empty()) argv.insert(argv.end(), {"--setup", setup});
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
    return run_process(argv, options);
}

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
