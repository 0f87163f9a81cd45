#pragma once
// Starts the loopback HTTP test server (http_test_server.py) on a free port
// and stops it when the object goes away.
#include <string>
#include <sys/types.h>

namespace testsupport {

class HttpTestServer {
public:
    // `root` is the folder served under /files/. With `https`, the server
    // speaks HTTPS with a fresh self-signed certificate, which no client
    // trusts. Throws std::runtime_error when the server does not start.
    explicit HttpTestServer(const std::string& root = ".", bool https = false);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" (or https) followed by `path` (which starts with "/").
    std::string url(const std::string& path) const;

private:
    void stop();

    pid_t pid_ = -1;
    int stdinFd_ = -1; // closing it also ends the server should we crash
    int port_ = 0;
    std::string scheme_ = "http";
    std::string certificateFolder_; // removed with the server
};

} // namespace testsupport
