#include "HttpTestServer.h"

#ifndef _WIN32
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;
#endif

namespace testsupport {

#ifndef _WIN32
namespace {

// Reads the first line the server prints: its port.
std::string readLine(int fd)
{
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line.push_back(c);
    return line;
}

} // namespace

HttpTestServer::HttpTestServer(const std::string& root, bool https)
{
    // Requests to the loopback server must not go through a proxy that the
    // environment of a CI machine may name.
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);

    std::vector<std::string> args = {"python3", TAVREL_HTTP_TEST_SERVER, "--root", root};
    if (https) {
        scheme_ = "https";
        std::string folder = (std::filesystem::temp_directory_path() / "tavrel-cert-XXXXXX").string();
        if (!::mkdtemp(folder.data()))
            throw std::runtime_error("http test server: no folder for the certificate");
        certificateFolder_ = folder;
        const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout '" +
                                    folder + "/key.pem' -out '" + folder + "/cert.pem' > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            stop();
            throw std::runtime_error("http test server: openssl could not make a certificate");
        }
        args.insert(args.end(), {"--cert", folder + "/cert.pem", "--key", folder + "/key.pem"});
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        throw std::runtime_error("http test server: pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdinFd_ = in[1];
    if (rc != 0) {
        ::close(out[0]);
        ::close(stdinFd_);
        throw std::runtime_error("http test server: cannot start python3");
    }
    const std::string line = readLine(out[0]);
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        stop();
        throw std::runtime_error("http test server: no port announced");
    }
}

HttpTestServer::~HttpTestServer() { stop(); }

void HttpTestServer::stop()
{
    if (stdinFd_ >= 0) {
        ::close(stdinFd_);
        stdinFd_ = -1;
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (!certificateFolder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(certificateFolder_, ignored);
        certificateFolder_.clear();
    }
}

#endif

std::string HttpTestServer::url(const std::string& path) const
{
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
}

} // namespace testsupport
