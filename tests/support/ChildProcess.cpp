#include "tests/support/ChildProcess.h"

#include "tests/support/TempDir.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace testsupport {

int ChildResult::exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

bool ChildResult::killedBy(int signal) const { return WIFSIGNALED(status) && WTERMSIG(status) == signal; }

namespace {

// In the child: `file` (or /dev/null) in place of descriptor `fd`. Only calls
// that are safe between fork and exec.
void redirect(int fd, const char* file, int flags)
{
    const int opened = ::open(file, flags, 0644);
    if (opened < 0)
        ::_exit(127);
    ::dup2(opened, fd);
    ::close(opened);
}

} // namespace

ChildProcess::ChildProcess(const Start& start) : start_(start)
{
    // Everything the child needs is made before the fork.
    const std::string program = start.program.string();
    const std::string folder = start.folder.string();
    const std::string out = start.out.string();
    const std::string err = start.err.string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : start.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0)
        throw std::system_error(errno, std::generic_category(), "fork");
    if (pid_ == 0) {
        if (!folder.empty() && ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        redirect(STDIN_FILENO, "/dev/null", O_RDONLY);
        if (!out.empty())
            redirect(STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
        if (!err.empty())
            redirect(STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

void ChildProcess::signal(int signal) const { ::kill(pid_, signal); }

ChildResult ChildProcess::wait(std::chrono::milliseconds limit)
{
    ChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const pid_t ended = ::waitpid(pid_, &result.status, WNOHANG);
        if (ended == pid_)
            break;
        if (ended < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "waitpid");
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &result.status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    readOutput(result);
    return result;
}

} // namespace testsupport
