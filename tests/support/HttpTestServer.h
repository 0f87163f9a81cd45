#pragma once
// Starts the loopback HTTP test server (http_test_server.py) on a free port
// and stops it when the object goes away.
#include <string>
#ifndef _WIN32
#include <sys/types.h>
#endif

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

#ifdef _WIN32
    // Under Wine the server is a Linux process: it runs while the file
    // "alive" in this folder is there, and writes its port to "port".
    std::string controlFolder_;
#else
    pid_t pid_ = -1;
    int stdinFd_ = -1; // closing it also ends the server should we crash
#endif
    int port_ = 0;
    std::string scheme_ = "http";
    std::string certificateFolder_; // removed with the server
};

} // namespace testsupport
