#include "HttpClient.h"
#include "HttpHeadFields.h"
#include "HttpRanges.h"
#include "ReceiveRate.h"

#include <curl/curl.h>

#include <cctype>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <thread>

namespace platform {

namespace {

// libcurl wants one global initialisation per process before the first handle.
void initialiseCurlOnce()
{
    static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (rc != CURLE_OK)
        throw std::runtime_error(std::string("libcurl: ") + curl_easy_strerror(rc));
}

struct EasyHandleDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};

struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool sameName(std::string_view a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

// State of one transfer, shared with the write callback.
struct Transfer {
    CURL* handle = nullptr;
    HttpBodySink* sink = nullptr;
    bool begun = false;
    bool stopped = false;           // the sink declined the body or refused a block
    HttpResponseHead head;          // headers of the latest response; redirects start it anew
    std::string lastModified, date; // as sent, weighed against each other once all fields are in
    std::uint64_t received = 0;
    std::exception_ptr error; // an exception of the sink, rethrown outside libcurl
    ReceivePacer pacer{0};

    std::string status() const
    {
        long code = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
        return code > 0 ? std::to_string(code) : std::string();
    }

    std::optional<std::uint64_t> contentLength() const
    {
        curl_off_t length = -1;
        curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length < 0)
            return std::nullopt;
        return static_cast<std::uint64_t>(length);
    }

    bool begin()
    {
        begun = true;
        head.status = status();
        head.contentLength = contentLength();
        readLastModified(lastModified, date, std::time(nullptr), head);
        if (!sink->begin(head))
            stopped = true;
        return !stopped;
    }
};

// One header line of a response; a status line starts the next response.
size_t onHeader(char* data, size_t, size_t size, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const std::string line(data, size);
    if (line.rfind("HTTP/", 0) == 0) {
        t->head = HttpResponseHead{};
        t->lastModified.clear();
        t->date.clear();
        return size;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return size;
    const std::string_view name = trimmedField(std::string_view(line).substr(0, colon));
    const std::string_view value = trimmedField(std::string_view(line).substr(colon + 1));
    if (sameName(name, "ETag"))
        t->head.etag = value;
    else if (sameName(name, "Last-Modified"))
        t->lastModified = value;
    else if (sameName(name, "Date"))
        t->date = value;
    else if (sameName(name, "Content-Range"))
        readContentRange(value, t->head);
    else if (sameName(name, "Content-Type"))
        t->head.contentType = value;
    return size;
}

size_t onBody(char* data, size_t, size_t size, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    // Exceptions must not unwind through libcurl's C frames.
    try {
        // libcurl skips the bodies of redirects it follows, so the first body
        // byte belongs to the final response and its status is known here.
        if (!t->begun && !t->begin())
            return 0;
        if (!t->sink->write(data, size)) {
            t->stopped = true;
            return 0;
        }
        t->received += size;
        // Blocks are a tenth of a second's worth under a cap, so the sink
        // is still asked often enough.
        std::this_thread::sleep_for(t->pacer.after(size));
        return size;
    } catch (...) {
        t->error = std::current_exception();
        t->stopped = true;
        return 0;
    }
}

// Called by libcurl about once a second also while nothing arrives, so that
// a stalled transfer can be given up.
int onTick(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* t = static_cast<Transfer*>(user);
    try {
        if (t->sink->stillWanted())
            return 0;
    } catch (...) {
        t->error = std::current_exception();
    }
    t->stopped = true;
    return 1;
}

// Conditions of the request. A "Pragma: no-cache" that some libcurl
// versions add on the way through a proxy is taken out: caches in front of
// the release server must be able to answer, unless the request asks past them.
// A modification date in the future (kept before such dates were refused) is
// not sent: it would make every later release look unchanged until then.
curl_slist* requestHeaders(const HttpRequest& request)
{
    curl_slist* list = curl_slist_append(nullptr, request.pastCaches ? "Pragma: no-cache" : "Pragma:");
    if (request.pastCaches)
        list = curl_slist_append(list, "Cache-Control: no-cache");
    if (!request.ifNoneMatch.empty())
        list = curl_slist_append(list, ("If-None-Match: " + request.ifNoneMatch).c_str());
    if (!request.ifModifiedSince.empty() && !dateAfter(request.ifModifiedSince, std::time(nullptr)))
        list = curl_slist_append(list, ("If-Modified-Since: " + request.ifModifiedSince).c_str());
    if (request.rangeFrom > 0 && !request.ifRange.empty())
        list = curl_slist_append(list, ("If-Range: " + request.ifRange).c_str());
    return list;
}

class CurlHttpClient : public HttpClient {
public:
    HttpResult get(const HttpRequest& request, HttpBodySink& sink) override
    {
        initialiseCurlOnce();
        std::unique_ptr<CURL, EasyHandleDeleter> handle(curl_easy_init());
        if (!handle)
            return HttpResult{{}, false, "libcurl: cannot create a handle", false};
        CURL* h = handle.get();

        Transfer transfer;
        transfer.handle = h;
        transfer.sink = &sink;
        char errorText[CURL_ERROR_SIZE] = {};

        curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(h, CURLOPT_USERAGENT, request.userAgent.c_str());
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
        // Only web addresses: a release URL must not reach files or other
        // services, neither directly nor through a redirect.
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        // Proxies: libcurl takes http_proxy, https_proxy, all_proxy and
        // no_proxy from the environment when no proxy option is set.
        if (!request.proxy.empty())
            curl_easy_setopt(h, CURLOPT_PROXY, request.proxy.c_str());
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        // Slow and stalled transfers are the sink's to give up (stillWanted);
        // here only a server that never answers is.
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);
        std::unique_ptr<curl_slist, HeaderListDeleter> headers(requestHeaders(request));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        const std::string range =
            request.ranges.empty() ? std::to_string(request.rangeFrom) + "-" : rangeSpec(request.ranges);
        if (request.rangeFrom > 0 || !request.ranges.empty())
            curl_easy_setopt(h, CURLOPT_RANGE, range.c_str());
        // The cap: libcurl's own (CURLOPT_MAX_RECV_SPEED_LARGE) lets the
        // first megabytes of a transfer through at full speed, so the reads
        // are paced here instead, as in the WinInet client.
        transfer.pacer = ReceivePacer(request.maxReceiveBytesPerSecond);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
        // Larger blocks than the default: fewer callbacks on big archives.
        // Under a rate cap smaller ones: libcurl checks its cap between
        // reads, and reads many blocks in one go while data is waiting.
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE,
                         static_cast<long>(ReceivePacer(request.maxReceiveBytesPerSecond).blockSize(128 * 1024)));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onTick);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

        const CURLcode rc = curl_easy_perform(h);
        if (transfer.error)
            std::rethrow_exception(transfer.error);

        HttpResult result;
        result.status = transfer.status();
        if (rc != CURLE_OK) {
            result.malformedUrl = rc == CURLE_URL_MALFORMAT;
            result.error = errorText[0] ? errorText : curl_easy_strerror(rc);
            return result;
        }
        // An empty body never reaches the write callback.
        if (!transfer.begun && !transfer.begin())
            return result;
        if (transfer.stopped)
            return result;
        if (!bodyAsAnnounced(transfer.head.status, transfer.contentLength(), transfer.received)) {
            result.error = "body shorter than announced";
            return result;
        }
        result.bodyComplete = true;
        return result;
    }
};

} // namespace

std::unique_ptr<HttpClient> makeHttpClient() { return std::make_unique<CurlHttpClient>(); }

} // namespace platform
