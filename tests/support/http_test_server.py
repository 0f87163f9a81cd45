#!/usr/bin/env python3
"""Loopback HTTP server for the fetch tests and benchmarks.

Listens on 127.0.0.1 on a free port and prints the port as the first line on
stdout. Ends when its stdin closes (the test that started it went away) or on
SIGTERM. Standard library only. With --cert and --key it speaks HTTPS.
A test under Wine, which can hand a Linux process no pipe, names files
instead: --port-file receives the port, and the server ends once the file
--while-exists names is gone.

Paths:
  /ok/N                 200 with N deterministic bytes (byte i is i % 251)
  /status/CODE          that status with a short text body and no Location
  /redirect/PATH        302 to /PATH, with a body of its own
  /empty                200 with an empty body
  /cut/ANNOUNCED/SENT   200 announcing ANNOUNCED bytes, sending SENT, then closing
  /chunked-cut          chunked 200 whose connection closes before the last chunk
  /slow/PIECES/MS       200 with PIECES blocks of 1024 bytes, MS milliseconds apart
  /trickle/BYTES/MS     200 announcing 1 MiB, then BYTES bytes every MS milliseconds
  /agent                200 with the request's User-Agent as body
  /echo/ANYTHING        200 with the request target as it arrived as body
  http://HOST/PATH      any of these, asked of the server as of a proxy
  /endless              200 without a length, sending blocks until the client goes
  /versioned/N          N pattern bytes with an ETag and a Last-Modified: 304 to
                        If-None-Match or If-Modified-Since naming them, 206 to
                        "Range: bytes=FROM-" unless If-Range names another version
  /headers              200 with the request's header lines as body
  /modified/LM/DATE     200 with a Last-Modified LM seconds from now and a Date
                        DATE seconds from now ("none": no Date)
  /files/NAME           200 with the file NAME (percent-decoded) of the --root folder (sendfile)
"""
import argparse
import os
import signal
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def pattern(n):
    block = bytes(i % 251 for i in range(251))
    return (block * (n // 251 + 1))[:n]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."

    def log_message(self, *args):
        pass

    def head(self, code, length=None, extra=()):
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.close_connection = True

    def body(self, code, data, extra=()):
        self.head(code, len(data), extra)
        self.wfile.write(data)

    def versioned(self, size):
        etag, modified = '"v1"', "Wed, 09 Dec 2026 10:00:00 GMT"
        validators = [("ETag", etag), ("Last-Modified", modified)]
        if self.headers.get("If-None-Match") == etag or self.headers.get("If-Modified-Since") == modified:
            self.head(304, None, validators)
            return
        data = pattern(size)
        wanted = self.headers.get("Range", "")
        if_range = self.headers.get("If-Range")
        if wanted.startswith("bytes=") and wanted.endswith("-") and if_range in (None, etag, modified):
            start = int(wanted[6:-1])
            if start >= size:
                self.body(416, b"", [("Content-Range", "bytes */%d" % size)])
                return
            self.body(206, data[start:], validators + [("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))])
            return
        self.body(200, data, validators)

    def do_GET(self):
        # A proxy is sent the whole URL; this server answers it as the origin
        # would, so that one server plays both (/echo shows what arrived).
        target = self.path
        if target.startswith("http://"):
            target = "/" + target.split("/", 3)[3] if target.count("/") >= 3 else "/"
        parts = [p for p in target.split("/") if p]
        try:
            self.route(parts)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def route(self, parts):
        kind = parts[0] if parts else ""
        if kind == "ok" and len(parts) == 2:
            self.body(200, pattern(int(parts[1])))
        elif kind == "status" and len(parts) == 2:
            code = int(parts[1])
            self.body(code, b"status %d body" % code)
        elif kind == "redirect" and len(parts) >= 2:
            self.body(302, b"redirect body", [("Location", "/" + "/".join(parts[1:]))])
        elif kind == "empty":
            self.body(200, b"")
        elif kind == "cut" and len(parts) == 3:
            self.head(200, int(parts[1]))
            self.wfile.write(pattern(int(parts[2])))
            self.wfile.flush()
        elif kind == "chunked-cut":
            self.head(200, None, [("Transfer-Encoding", "chunked")])
            self.wfile.write(b"400\r\n" + pattern(1024) + b"\r\n")
            self.wfile.flush()
        elif kind == "slow" and len(parts) == 3:
            pieces, delay = int(parts[1]), int(parts[2]) / 1000.0
            data = pattern(pieces * 1024)
            self.head(200, len(data))
            for i in range(pieces):
                self.wfile.write(data[i * 1024:(i + 1) * 1024])
                self.wfile.flush()
                time.sleep(delay)
        elif kind == "trickle" and len(parts) == 3:
            size, delay = int(parts[1]), int(parts[2]) / 1000.0
            self.head(200, 1 << 20)
            for i in range(0, 1 << 20, size):
                self.wfile.write(pattern(size))
                self.wfile.flush()
                time.sleep(delay)
        elif kind == "versioned" and len(parts) == 2:
            self.versioned(int(parts[1]))
        elif kind == "modified" and len(parts) == 3:
            now = time.time()
            self.send_response_only(200)
            if parts[2] != "none":
                self.send_header("Date", self.date_time_string(now + int(parts[2])))
            self.send_header("Last-Modified", self.date_time_string(now + int(parts[1])))
            self.send_header("Content-Length", "2")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            self.wfile.write(b"ok")
        elif kind == "headers":
            self.body(200, str(self.headers).encode("latin-1"))
        elif kind == "agent":
            self.body(200, self.headers.get("User-Agent", "").encode("utf-8"))
        elif kind == "echo":
            # http.server decodes the request line as Latin-1: this gives back its bytes.
            self.body(200, self.path.encode("latin-1"))
        elif kind == "endless":
            self.head(200)
            block = pattern(64 * 1024)
            while True:
                self.wfile.write(block)
        elif kind == "files" and len(parts) == 2 and urllib.parse.unquote(parts[1]) not in (".", ".."):
            path = os.path.join(self.root, urllib.parse.unquote(parts[1]))
            if not os.path.isfile(path):
                self.body(404, b"no such file")
                return
            with open(path, "rb") as f:
                self.head(200, os.fstat(f.fileno()).st_size)
                self.wfile.flush()
                self.connection.sendfile(f)
        else:
            self.body(404, b"not found")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert", help="serve HTTPS with this PEM certificate")
    parser.add_argument("--key", help="and this PEM key")
    parser.add_argument("--port-file", help="write the port here, not to stdout")
    parser.add_argument("--while-exists", help="end once this file is gone, not when stdin closes")
    args = parser.parse_args()
    Handler.root = args.root

    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))

    def watch_stdin():
        # The parent holds our stdin; when it goes away, so do we.
        sys.stdin.buffer.read()
        os._exit(0)

    def watch_file():
        while os.path.exists(args.while_exists):
            time.sleep(0.2)
        os._exit(0)

    threading.Thread(target=watch_file if args.while_exists else watch_stdin, daemon=True).start()
    if args.port_file:
        with open(args.port_file + ".new", "w") as out:
            out.write(str(server.server_address[1]))
        os.replace(args.port_file + ".new", args.port_file)
    else:
        print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
