// The HTTP client on Windows: WinInet, part of every Windows. Its calls
// block, so one transfer runs on a thread of its own while the caller's
// thread hands the body to the sink and asks it once a second whether the
// transfer is still wanted; giving up closes the transfer's handles, which
// ends a call that waits for the network.
#include "HttpClient.h"
#include "HttpHeadFields.h"
#include "HttpRanges.h"
#include "HttpUrl.h"
#include "ReceiveRate.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

struct InternetHandleCloser {
    void operator()(void* handle) const { ::InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

constexpr int kMaxRedirects = 20;
constexpr DWORD kBlockSize = 128 * 1024;
// Bytes read ahead of the sink before the transfer thread waits for it.
constexpr std::size_t kMaxQueued = 4 * 1024 * 1024;
// Slow and stalled transfers are the sink's to give up; these only end a
// server that never answers, or a call that would otherwise wait forever.
constexpr DWORD kConnectTimeoutMs = 60 * 1000;
constexpr DWORD kReceiveTimeoutMs = 5 * 60 * 1000;

std::string environment(const char* lower, const char* upper = nullptr)
{
    if (const char* value = std::getenv(lower); value && *value)
        return value;
    if (const char* value = upper ? std::getenv(upper) : nullptr; value && *value)
        return value;
    return {};
}

// The proxy of a request as libcurl chooses it: none for a host no_proxy
// names, the request's own, else http_proxy or https_proxy by the URL's
// scheme, else all_proxy. Nothing: the system's settings decide.
std::optional<std::string> proxyFor(const HttpRequest& request, const HttpUrl& url)
{
    if (proxyBypassed(url.host, environment("no_proxy", "NO_PROXY")))
        return std::string();
    if (!request.proxy.empty())
        return request.proxy;
    // Only the lower-case http_proxy: a web server's CGI sets HTTP_PROXY from a request header.
    std::string proxy = url.https ? environment("https_proxy", "HTTPS_PROXY") : environment("http_proxy");
    if (proxy.empty())
        proxy = environment("all_proxy", "ALL_PROXY");
    if (!proxy.empty())
        return proxy;
    return std::nullopt;
}

std::string errorText(DWORD code, const HttpUrl& url)
{
    switch (code) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return "Could not resolve host: " + url.host;
    case ERROR_INTERNET_CANNOT_CONNECT: return "Failed to connect to " + url.host + " port " + std::to_string(url.port);
    case ERROR_INTERNET_TIMEOUT: return "Timeout was reached";
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET: return "Connection to " + url.host + " broke off";
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return "SSL certificate problem: the certificate of " + url.host + " is not trusted (WinInet error " +
               std::to_string(code) + ")";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return "SSL connect error with " + url.host;
    default: break;
    }
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                             FORMAT_MESSAGE_IGNORE_INSERTS,
                         ::GetModuleHandleW(L"wininet.dll"), code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string described = "WinInet error " + std::to_string(code);
    if (length && text)
        described += ": " + std::string(trimmedField(text));
    if (text)
        ::LocalFree(text);
    return described;
}

// A header field of the response; empty when it has none.
std::string field(HINTERNET request, const char* name)
{
    // The buffer names the field on the way in and holds its value on the way out.
    const auto query = [&](std::string& buffer) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const bool found = ::HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr);
        buffer.resize(found ? size : size + 1);
        return found;
    };
    std::string buffer = name;
    buffer.resize(256);
    if (!query(buffer)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return {};
        buffer.replace(0, std::strlen(name), name);
        if (!query(buffer))
            return {};
    }
    return std::string(trimmedField(buffer));
}

std::string statusOf(HINTERNET request)
{
    DWORD code = 0;
    DWORD size = sizeof code;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
        return {};
    return std::to_string(code);
}

bool isRedirect(const std::string& status)
{
    return status == "301" || status == "302" || status == "303" || status == "307" || status == "308";
}

// Conditions of the request, as header lines. Caches on the way are asked to
// step aside only when the request says so: they must be able to answer.
// A modification date in the future is not sent (see HttpClientCurl.cpp).
std::string requestHeaders(const HttpRequest& request)
{
    std::string headers;
    if (request.pastCaches)
        headers += "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
    if (!request.ifNoneMatch.empty())
        headers += "If-None-Match: " + request.ifNoneMatch + "\r\n";
    if (!request.ifModifiedSince.empty() && !dateAfter(request.ifModifiedSince, std::time(nullptr)))
        headers += "If-Modified-Since: " + request.ifModifiedSince + "\r\n";
    if (!request.ranges.empty()) {
        headers += "Range: bytes=" + rangeSpec(request.ranges) + "\r\n";
    } else if (request.rangeFrom > 0) {
        headers += "Range: bytes=" + std::to_string(request.rangeFrom) + "-\r\n";
        if (!request.ifRange.empty())
            headers += "If-Range: " + request.ifRange + "\r\n";
    }
    return headers;
}

// One GET and its redirects, run by the transfer thread; what it learns is
// handed to the caller's thread through the members under `mutex`.
class Transfer {
public:
    Transfer(const HttpRequest& request, const HttpUrl& url) : request_(request), url_(url) {}

    // The transfer thread.
    void run()
    {
        HttpResult outcome;
        try {
            outcome = exchange();
        } catch (const std::exception& error) {
            outcome.error = error.what();
        }
        const std::lock_guard lock(mutex);
        result = outcome;
        finished = true;
        changed.notify_all();
    }

    // Called by the caller's thread: nothing more is wanted. Closing the
    // handles ends the call the transfer thread may be waiting in.
    void abandon()
    {
        const std::lock_guard lock(mutex);
        abandoned = true;
        closeHandles();
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    // Set by the transfer thread.
    std::optional<HttpResponseHead> head;
    std::deque<std::string> blocks;
    std::size_t queued = 0;
    bool finished = false;
    HttpResult result;
    // Set by the caller's thread.
    bool headAnswered = false;
    bool bodyWanted = false;
    bool abandoned = false;

private:
    // Children before their parent: closing a parent closes its children too.
    void closeHandles()
    {
        requestHandle_.reset();
        connection_.reset();
        session_.reset();
    }

    HttpResult exchange()
    {
        HttpResult outcome;
        std::string location = request_.url;
        for (int redirects = 0;; ++redirects) {
            const std::optional<HttpUrl> url = redirects == 0 ? std::optional<HttpUrl>(url_) : parseHttpUrl(location);
            if (!url) {
                outcome.error = "Redirect to " + location + ": not an http or https URL";
                return outcome;
            }
            HINTERNET request = open(*url, outcome);
            if (!request)
                return outcome;
            outcome.status = statusOf(request);
            const std::string next = field(request, "Location");
            if (isRedirect(outcome.status) && !next.empty()) {
                if (redirects == kMaxRedirects) {
                    outcome.error = "Maximum (" + std::to_string(kMaxRedirects) + ") redirects followed";
                    return outcome;
                }
                location = redirectTarget(*url, next);
                continue;
            }
            return body(request, outcome.status, *url);
        }
    }

    // Sends the request to `url`; its handle, or null with the outcome's error set.
    HINTERNET open(const HttpUrl& url, HttpResult& outcome)
    {
        {
            const std::lock_guard lock(mutex);
            closeHandles();
        }
        const std::optional<std::string> proxy = proxyFor(request_, url);
        std::optional<HttpUrl> proxyUrl;
        if (proxy && !proxy->empty()) {
            proxyUrl = parseProxy(*proxy);
            if (!proxyUrl) {
                outcome.error = "Unsupported proxy " + *proxy;
                return nullptr;
            }
        }
        const std::string proxyName = proxyUrl ? proxyUrl->host + ":" + std::to_string(proxyUrl->port) : std::string();
        const DWORD access = !proxy     ? INTERNET_OPEN_TYPE_PRECONFIG
                             : proxyUrl ? INTERNET_OPEN_TYPE_PROXY
                                        : INTERNET_OPEN_TYPE_DIRECT;
        HINTERNET session =
            ::InternetOpenA(request_.userAgent.c_str(), access, proxyUrl ? proxyName.c_str() : nullptr, nullptr, 0);
        if (!keep(session_, session, outcome, url))
            return nullptr;
        for (const DWORD option :
             {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT}) {
            DWORD timeout = option == INTERNET_OPTION_CONNECT_TIMEOUT ? kConnectTimeoutMs : kReceiveTimeoutMs;
            ::InternetSetOptionA(session, option, &timeout, sizeof timeout);
        }
        HINTERNET connection =
            ::InternetConnectA(session, url.host.c_str(), static_cast<INTERNET_PORT>(url.port),
                               url.user.empty() ? nullptr : url.user.c_str(),
                               url.user.empty() ? nullptr : url.password.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
        if (!keep(connection_, connection, outcome, url))
            return nullptr;
        // No cache of WinInet's own, no cookies, no dialogs; redirects are
        // followed here, only to http and https, as many as libcurl would.
        DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                      INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
        if (url.https)
            flags |= INTERNET_FLAG_SECURE;
        const char* anyType[] = {"*/*", nullptr};
        HINTERNET request =
            ::HttpOpenRequestA(connection, "GET", url.target.c_str(), nullptr, nullptr, anyType, flags, 0);
        if (!keep(requestHandle_, request, outcome, url))
            return nullptr;
        if (proxyUrl && !proxyUrl->user.empty()) {
            ::InternetSetOptionA(request, INTERNET_OPTION_PROXY_USERNAME, proxyUrl->user.data(),
                                 static_cast<DWORD>(proxyUrl->user.size()));
            ::InternetSetOptionA(request, INTERNET_OPTION_PROXY_PASSWORD, proxyUrl->password.data(),
                                 static_cast<DWORD>(proxyUrl->password.size()));
        }
        std::string headers = requestHeaders(request_);
        if (!::HttpSendRequestA(request, headers.empty() ? nullptr : headers.c_str(),
                                static_cast<DWORD>(headers.size()), nullptr, 0)) {
            outcome.error = errorText(::GetLastError(), url);
            return nullptr;
        }
        return request;
    }

    // Keeps a new handle for abandon() to close; false, with the outcome's
    // error set, when there is none or the caller gave up meanwhile.
    bool keep(InternetHandle& slot, HINTERNET handle, HttpResult& outcome, const HttpUrl& url)
    {
        const DWORD error = ::GetLastError();
        const std::lock_guard lock(mutex);
        if (handle)
            slot.reset(handle);
        if (abandoned) {
            slot.reset();
            outcome.error = "Transfer abandoned";
            return false;
        }
        if (!handle)
            outcome.error = errorText(error, url);
        return handle != nullptr;
    }

    // The final response: its head to the caller, then its body while wanted.
    HttpResult body(HINTERNET request, const std::string& status, const HttpUrl& url)
    {
        HttpResult outcome;
        outcome.status = status;
        HttpResponseHead final;
        final.status = status;
        final.contentLength = decimalNumber(field(request, "Content-Length"));
        final.etag = field(request, "ETag");
        readLastModified(field(request, "Last-Modified"), field(request, "Date"), std::time(nullptr), final);
        readContentRange(field(request, "Content-Range"), final);
        final.contentType = field(request, "Content-Type");
        {
            std::unique_lock lock(mutex);
            head = final;
            changed.notify_all();
            changed.wait(lock, [this] { return headAnswered || abandoned; });
            if (abandoned || !bodyWanted)
                return outcome;
        }
        std::uint64_t received = 0;
        // WinInet has no rate cap of its own: reads are paced.
        ReceivePacer pacer(request_.maxReceiveBytesPerSecond);
        std::string block;
        for (;;) {
            DWORD available = 0;
            if (!::InternetQueryDataAvailable(request, &available, 0, 0)) {
                outcome.error = errorText(::GetLastError(), url);
                return outcome;
            }
            block.resize(std::clamp<DWORD>(available, 1, static_cast<DWORD>(pacer.blockSize(kBlockSize))));
            DWORD read = 0;
            if (!::InternetReadFile(request, block.data(), static_cast<DWORD>(block.size()), &read)) {
                outcome.error = errorText(::GetLastError(), url);
                return outcome;
            }
            if (read == 0)
                break;
            block.resize(read);
            received += read;
            const auto pause = pacer.after(read);
            std::unique_lock lock(mutex);
            changed.wait_for(lock, pause, [this] { return abandoned; });
            changed.wait(lock, [this] { return queued < kMaxQueued || abandoned; });
            if (abandoned)
                return outcome;
            queued += read;
            blocks.push_back(std::move(block));
            changed.notify_all();
        }
        if (!bodyAsAnnounced(status, final.contentLength, received)) {
            outcome.error = "body shorter than announced";
            return outcome;
        }
        outcome.bodyComplete = true;
        return outcome;
    }

    const HttpRequest& request_;
    const HttpUrl url_;
    InternetHandle session_;
    InternetHandle connection_;
    InternetHandle requestHandle_;
};

// The transfer thread; whatever way the caller leaves, it gives up the
// transfer and waits for the thread's end.
class TransferThread {
public:
    explicit TransferThread(Transfer& transfer) : transfer_(transfer), thread_([&transfer] { transfer.run(); }) {}
    ~TransferThread()
    {
        transfer_.abandon();
        thread_.join();
    }
    TransferThread(const TransferThread&) = delete;
    TransferThread& operator=(const TransferThread&) = delete;

private:
    Transfer& transfer_;
    std::thread thread_;
};

class WinInetHttpClient : public HttpClient {
public:
    HttpResult get(const HttpRequest& request, HttpBodySink& sink) override
    {
        const std::optional<HttpUrl> url = parseHttpUrl(request.url);
        if (!url)
            return HttpResult{{}, false, "URL rejected: Malformed input to a URL function", true};
        Transfer transfer(request, *url);
        bool stopped = false;
        {
            TransferThread thread(transfer);
            stopped = !deliver(transfer, sink);
        }
        HttpResult result = transfer.result;
        if (stopped) {
            result.bodyComplete = false;
            if (result.error.empty())
                result.error = "Transfer stopped by its receiver";
        }
        return result;
    }

private:
    // Hands the head and the body to the sink on this thread, asking it
    // once a second whether the transfer is still wanted. False when the
    // sink stopped it.
    static bool deliver(Transfer& transfer, HttpBodySink& sink)
    {
        using Clock = std::chrono::steady_clock;
        auto nextTick = Clock::now() + std::chrono::seconds(1);
        std::unique_lock lock(transfer.mutex);
        for (;;) {
            transfer.changed.wait_until(lock, nextTick, [&] {
                return (transfer.head && !transfer.headAnswered) || !transfer.blocks.empty() || transfer.finished;
            });
            if (transfer.head && !transfer.headAnswered) {
                const HttpResponseHead head = *transfer.head;
                lock.unlock();
                const bool wanted = sink.begin(head);
                lock.lock();
                transfer.headAnswered = true;
                transfer.bodyWanted = wanted;
                transfer.changed.notify_all();
                if (!wanted)
                    return false;
            }
            while (!transfer.blocks.empty()) {
                const std::string block = std::move(transfer.blocks.front());
                transfer.blocks.pop_front();
                transfer.queued -= block.size();
                transfer.changed.notify_all();
                lock.unlock();
                const bool wanted = sink.write(block.data(), block.size());
                lock.lock();
                if (!wanted)
                    return false;
            }
            if (transfer.finished)
                return true;
            if (Clock::now() >= nextTick) {
                lock.unlock();
                const bool wanted = sink.stillWanted();
                lock.lock();
                if (!wanted)
                    return false;
                nextTick = Clock::now() + std::chrono::seconds(1);
            }
        }
    }
};

} // namespace

std::unique_ptr<HttpClient> makeHttpClient() { return std::make_unique<WinInetHttpClient>(); }

} // namespace platform
