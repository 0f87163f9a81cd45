#include "tests/support/NginxAccessLog.h"

#include "tests/support/TempDir.h"

#include <stdexcept>

namespace testsupport {

namespace {

constexpr std::size_t fieldCount = 11;

// nginx writes a missing value as "-" and escapes '"', '\\' and control bytes as \xHH.
std::string unescape(const std::string& field)
{
    if (field == "-")
        return {};
    std::string value;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] == 'x') {
            value.push_back(static_cast<char>(std::stoi(field.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            value.push_back(field[i]);
        }
    }
    return value;
}

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', begin);
        fields.push_back(line.substr(begin, tab == std::string::npos ? std::string::npos : tab - begin));
        if (tab == std::string::npos)
            return fields;
        begin = tab + 1;
    }
}

AccessLogEntry parseLine(const std::string& line)
{
    const std::vector<std::string> f = splitTabs(line);
    if (f.size() != fieldCount)
        throw std::runtime_error("nginx access log: not a line of the test format: " + line);
    AccessLogEntry e;
    e.method = unescape(f[0]);
    e.uri = unescape(f[1]);
    e.status = std::stoi(f[2]);
    e.bodyBytes = std::stoull(f[3]);
    e.bytesSent = std::stoull(f[4]);
    e.complete = f[5] == "OK";
    e.range = unescape(f[6]);
    e.ifNoneMatch = unescape(f[7]);
    e.ifModifiedSince = unescape(f[8]);
    e.ifRange = unescape(f[9]);
    e.cacheStatus = unescape(f[10]);
    return e;
}

} // namespace

std::string accessLogFormat(const std::string& name)
{
    // Fields in the order parseLine reads them.
    return "log_format " + name +
           " '$request_method\\t$request_uri\\t$status\\t$body_bytes_sent\\t$bytes_sent\\t$request_completion"
           "\\t$http_range\\t$http_if_none_match\\t$http_if_modified_since\\t$http_if_range"
           "\\t$upstream_cache_status';";
}

std::vector<AccessLogEntry> parseAccessLog(const std::string& text)
{
    std::vector<AccessLogEntry> entries;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            break; // a line still being written
        if (end > begin)
            entries.push_back(parseLine(text.substr(begin, end - begin)));
        begin = end + 1;
    }
    return entries;
}

std::vector<AccessLogEntry> readAccessLog(const std::filesystem::path& file)
{
    return parseAccessLog(readFileBytes(file));
}

std::uint64_t bodyBytesServed(const std::vector<AccessLogEntry>& entries, const std::string& uri)
{
    std::uint64_t sum = 0;
    for (const AccessLogEntry& e : entries)
        if (uri.empty() || e.uri == uri)
            sum += e.bodyBytes;
    return sum;
}

} // namespace testsupport
