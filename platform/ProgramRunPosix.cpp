#include "ProgramRun.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

constexpr std::size_t kKeptErrorText = 4096;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string ending(int status)
{
    if (WIFSIGNALED(status))
        return "ended by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return {};
}

} // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit)
{
    ProgramResult result;
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        result.problem = std::strerror(errno);
        return result;
    }
    Fd readEnd(errorPipe[0]);
    Fd writeEnd(errorPipe[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
    // A process group of its own: whatever the program starts is stopped with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (spawned != 0) {
        result.problem = std::strerror(spawned);
        return result;
    }

    // The program's end is what is waited for, not the end of its standard
    // error: a child it leaves behind may hold that open. What it wrote
    // until it ended is read.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string errorText;
    bool open = true;
    const auto readAvailable = [&] {
        char buffer[1024];
        for (;;) {
            const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                open = got < 0 && errno == EAGAIN;
                return;
            }
            if (errorText.size() < kKeptErrorText)
                errorText.append(buffer, static_cast<std::size_t>(got));
        }
    };
    ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);
    bool ended = false;
    for (;;) {
        // Ended, but not reaped yet: its number cannot be reused for the group's kill below.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == EINTR)
            ;
        if (info.si_pid == pid) {
            ended = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        // The end of a program is not announced on a descriptor: it is
        // looked for at least every few milliseconds.
        pollfd watched{readEnd.get(), POLLIN, 0};
        const int ready = ::poll(&watched, open ? 1 : 0, static_cast<int>(std::min<long long>(left.count(), 20)));
        if (ready > 0)
            readAvailable();
    }
    if (ended && open)
        readAvailable();
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
        ;
    if (!ended) {
        result.problem = "did not end within " + std::to_string(limit.count() / 1000) + " s";
        return result;
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.problem = WIFEXITED(status) ? errorText : ending(status);
    return result;
}

} // namespace platform
