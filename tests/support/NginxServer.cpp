#include "tests/support/NginxServer.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

const char* nginxProgram()
{
    const char* own = std::getenv("TAVREL_NGINX");
    return own && *own ? own : "/usr/sbin/nginx";
}

// A port nobody listens on now; nginx binds it a moment later, and a start
// that loses the race is retried with another.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    if (port == 0)
        throw std::runtime_error("nginx: no free port on 127.0.0.1");
    return port;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Run as root, nginx's workers would switch to an unprivileged user that
// cannot read a test's private folders; they stay who we are.
std::string workerUser()
{
    if (::geteuid() != 0)
        return {}; // nginx cannot switch users then anyway
    const passwd* user = ::getpwuid(::geteuid());
    const group* group = ::getgrgid(::getegid());
    if (!user || !group)
        return {};
    return std::string("user ") + user->pw_name + " " + group->gr_name + ";\n";
}

std::string mainConfiguration(const std::filesystem::path& dir, const std::string& serverBlocks)
{
    const std::string d = dir.string();
    std::string text;
    text += "daemon off;\nmaster_process on;\nworker_processes 1;\n";
    text += "pid " + d + "/nginx.pid;\n";
    text += "error_log " + d + "/error.log info;\n";
    text += workerUser();
    text += "events { worker_connections 256; }\n";
    text += "http {\n";
    text += accessLogFormat("tavrel_test") + "\n";
    text += "access_log " + d + "/access.log tavrel_test;\n";
    // The compiled-in temporary folders are the system's.
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        text += std::string(kind) + "_temp_path " + d + "/temp/" + kind + ";\n";
    text += "default_type application/octet-stream;\nsendfile on;\nkeepalive_timeout 5s;\n";
    text += serverBlocks;
    text += "}\n";
    return text;
}

std::string originServer(const NginxOrigin& origin)
{
    std::string location;
    if (!origin.validators)
        // An empty Last-Modified in add_header removes the one the file would give.
        location += "etag off;\nif_modified_since off;\nadd_header Last-Modified \"\";\n";
    if (!origin.ranges)
        location += "max_ranges 0;\n";
    else if (origin.oneRangePerRequest)
        location += "max_ranges 1;\n";
    if (origin.rateLimit > 0)
        location += "limit_rate " + std::to_string(origin.rateLimit) + ";\n";
    return "server {\nlisten @LISTEN@;\nroot " + std::filesystem::absolute(origin.root).string() + ";\nlocation / {\n" +
           location + "}\n}\n";
}

std::string cacheServers(const std::filesystem::path& dir, int originPort, const std::string& validFor)
{
    std::string sample = readFileBytes(TAVREL_NGINX_CACHE_SAMPLE);
    if (sample.empty())
        throw std::runtime_error("nginx: cannot read the sample " + std::string(TAVREL_NGINX_CACHE_SAMPLE));
    replaceAll(sample, "@ORIGIN@", "http://127.0.0.1:" + std::to_string(originPort));
    replaceAll(sample, "@CACHE_FOLDER@", (dir / "cache").string());
    if (!validFor.empty()) {
        const std::string valid = "proxy_cache_valid 200 206 1m;";
        if (sample.find(valid) == std::string::npos)
            throw std::runtime_error("nginx: the sample has no \"" + valid + "\" to shorten");
        replaceAll(sample, valid, "proxy_cache_valid 200 206 " + validFor + ";");
    }
    return sample;
}

} // namespace

NginxServer::NginxServer(const NginxOrigin& origin) : dir_("tavrel-nginx") { start(originServer(origin)); }

NginxServer::NginxServer(const NginxCache& cache) : dir_("tavrel-nginx-cache")
{
    start(cacheServers(dir_.path(), cache.originPort, cache.validFor));
}

NginxServer::NginxServer(const NginxForwardProxy&) : dir_("tavrel-nginx-proxy")
{
    // The request's Host names the server; an address needs no resolver.
    start("server {\nlisten @LISTEN@;\nlocation / {\nproxy_pass http://$http_host;\n}\n}\n");
}

NginxServer::~NginxServer() { stop(); }

void NginxServer::start(const std::string& serverBlocks)
{
    // Requests to the loopback server must not go through a proxy that the
    // environment of a CI machine may name.
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);

    serverBlocks_ = serverBlocks;
    std::filesystem::create_directories(dir_.path() / "temp");
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freePort();
        if (launch())
            return;
    }
    throw std::runtime_error("nginx: no free port after 5 attempts");
}

void NginxServer::restart()
{
    stop();
    // The port is free again at once: nginx listens with SO_REUSEADDR.
    if (!launch())
        throw std::runtime_error("nginx: port " + std::to_string(port_) + " was taken during the restart");
}

bool NginxServer::launch()
{
    const std::filesystem::path dir = dir_.path();
    const std::string configuration = (dir / "nginx.conf").string();
    const std::string errorLog = (dir / "error.log").string();
    const std::string output = (dir / "output.log").string();
    const std::string prefix = dir.string() + "/";
    const std::string program = nginxProgram();
    const pid_t parent = ::getpid();

    std::string servers = serverBlocks_;
    replaceAll(servers, "@LISTEN@", "127.0.0.1:" + std::to_string(port_));
    std::filesystem::remove(dir / "nginx.pid");
    writeFileBytes(configuration, mainConfiguration(dir, servers));

    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("nginx: fork failed");
    if (pid_ == 0) {
        // Should the test die without reaching the destructor, the kernel
        // sends the master SIGTERM, which ends it and its workers.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0)
            ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execl(program.c_str(), program.c_str(), "-p", prefix.c_str(), "-c", configuration.c_str(), "-e",
                errorLog.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }

    // Up when its pid file is written (after it bound the port) and the port answers.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            const std::string log = readFileBytes(errorLog) + readFileBytes(output);
            if (log.find("Address already in use") != std::string::npos)
                return false;
            throw std::runtime_error("nginx (" + program + ") did not start: " + log);
        }
        if (std::filesystem::exists(dir / "nginx.pid") && accepts(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop();
    throw std::runtime_error("nginx (" + program + ") did not answer within 10 s: " + readFileBytes(errorLog));
}

void NginxServer::stop()
{
    if (pid_ <= 0)
        return;
    // SIGTERM: the master ends its workers and waits for them.
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
}

std::string NginxServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<AccessLogEntry> NginxServer::requests() const { return readAccessLog(dir_.path() / "access.log"); }

std::vector<AccessLogEntry> NginxServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<AccessLogEntry> entries = requests();
    while (entries.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        entries = requests();
    }
    return entries;
}

} // namespace testsupport
