// run_tool.cpp - process plumbing for the end-to-end tests.

#include "run_tool.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Feed `input` to `in_fd` (closed when done; -1 for none) while collecting
// `out_fd` and `err_fd` until both close. Pipes, not files, so that a file
// size limit set for the tool cannot cut its messages.
static void pump(int in_fd, const std::string &input, int out_fd, int err_fd, tool_result &r)
{
    std::size_t sent = 0;
    if (in_fd >= 0 && input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    while (out_fd >= 0 || err_fd >= 0 || in_fd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (out_fd >= 0)
            fds[n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0)
            fds[n++] = {err_fd, POLLIN, 0};
        if (in_fd >= 0)
            fds[n++] = {in_fd, POLLOUT, 0};
        if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("poll failed");
        }
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == in_fd) {
                ssize_t w = write(in_fd, input.data() + sent, input.size() - sent);
                if (w > 0)
                    sent += static_cast<std::size_t>(w);
                if (w <= 0 || sent == input.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            char buf[65536];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            std::string &dst = fds[i].fd == out_fd ? r.out : r.err;
            if (got > 0) {
                dst.append(buf, static_cast<std::size_t>(got));
            } else {
                close(fds[i].fd);
                (fds[i].fd == out_fd ? out_fd : err_fd) = -1;
            }
        }
    }
}

tool_result run_tool(const std::vector<std::string> &args, const std::string &dir,
                     const tool_options &opt)
{
    int in_pipe[2] = {-1, -1};
    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || (opt.stdin_pipe && pipe(in_pipe) != 0))
        throw std::runtime_error("pipe failed");
    signal(SIGPIPE, SIG_IGN);

    std::vector<char *> argv;
    for (const std::string &w : opt.wrapper)
        argv.push_back(const_cast<char *>(w.c_str()));
    const std::string bin = GEN_XML_BIN;
    argv.push_back(const_cast<char *>(opt.wrapper.empty() ? opt.argv0.c_str() : bin.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    // LeakSanitizer checks for leaks by tracing the process itself, which
    // it cannot do under a tracer such as strace: a wrapped tool is told not
    // to (the option is ignored by a build without sanitizers).
    std::string asan_options;
    if (!opt.wrapper.empty()) {
        const char *old = std::getenv("ASAN_OPTIONS");
        asan_options = old != nullptr && *old != '\0' ? std::string(old) + ":" : "";
        asan_options += "detect_leaks=0";
    }

    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (opt.stdin_pipe)
            dup2(in_pipe[0], 0);
        else
            dup2(open("/dev/null", O_RDONLY), 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            if (fd > 2)
                close(fd);
        signal(SIGPIPE, SIG_DFL);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        if (opt.fsize_limit >= 0) {
            // SIGXFSZ at its default action, as a shell starts the tool
            // under `ulimit -f`: the tool itself must keep it from killing
            // the run.
            signal(SIGXFSZ, SIG_DFL);
            rlimit rl{};
            rl.rlim_cur = rl.rlim_max = static_cast<rlim_t>(opt.fsize_limit);
            if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
                _exit(126);
        }
        if (opt.wrapper.empty()) {
            execv(GEN_XML_BIN, argv.data());
        } else {
            setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
            execvp(argv[0], argv.data());
        }
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (opt.stdin_pipe)
        close(in_pipe[0]);
    tool_result r{0, "", ""};
    pump(opt.stdin_pipe ? in_pipe[1] : -1, opt.stdin_data, out_pipe[0], err_pipe[0], r);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("waitpid failed");
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return r;
}

bool file_exists(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// mt19937's output sequence is fixed by the language standard.
std::string random_bytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char &c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}
