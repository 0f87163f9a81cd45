#pragma once
// A private nginx on loopback for one test or benchmark: its own prefix,
// configuration and logs in a temporary folder, a free port, stopped and
// reaped when the object goes away (and, should the test process die, ended
// by the kernel's parent-death signal). Either an origin serving a folder or
// a caching reverse proxy in front of one, configured from the sample
// docs/nginx-branch-cache.conf.
#include "tests/support/NginxAccessLog.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// An origin serving `root` under "/".
struct NginxOrigin {
    std::filesystem::path root;
    // ETag and Last-Modified as nginx sends them by default; false: neither,
    // and conditional requests are answered in full.
    bool validators = true;
    // false: Range is ignored (max_ranges 0), every answer is the whole file.
    bool ranges = true;
    // true: one range per request; a request for several gets the whole file (max_ranges 1).
    bool oneRangePerRequest = false;
    // Bytes per second per response; 0 = no limit. Lets a test stop a client part-way.
    std::uint64_t rateLimit = 0;
};

// A caching reverse proxy in front of an origin listening on 127.0.0.1:`originPort`.
struct NginxCache {
    int originPort = 0;
    // How long the cache serves what it holds before asking the origin
    // again, in nginx's notation; empty: the sample's own minute.
    std::string validFor{};
};

// A forward HTTP proxy (what http_proxy or [Update] Proxy= names): requests
// for http://HOST:PORT/... are passed on to HOST:PORT, which must be an
// address, not a name.
struct NginxForwardProxy {};

class NginxServer {
public:
    // Throws std::runtime_error (with nginx's error log) when it does not start.
    explicit NginxServer(const NginxOrigin& origin);
    explicit NginxServer(const NginxCache& cache);
    explicit NginxServer(const NginxForwardProxy& proxy);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by `path` (which starts with "/").
    std::string url(const std::string& path) const;
    // The folder holding the configuration, the logs and the cache.
    const std::filesystem::path& folder() const { return dir_.path(); }

    // Stops nginx, cutting every connection in flight (a client sees its
    // download break off), and starts it again on the same port with the
    // same configuration; the access log goes on (without lines for the
    // requests cut).
    void restart();

    // The requests answered so far, in the order nginx finished them.
    std::vector<AccessLogEntry> requests() const;
    // Waits until at least `count` requests are logged (nginx writes a line
    // just after the response's last byte, so a client may see the answer
    // first); returns what is logged then, however many.
    std::vector<AccessLogEntry> waitForRequests(std::size_t count,
                                                std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    void start(const std::string& serverBlocks);
    bool launch(); // false when the port was taken
    void stop();

    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string serverBlocks_;
};

} // namespace testsupport
