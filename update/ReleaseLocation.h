#pragma once
// Files the publisher puts beside the release: its signature and its .zck.
#include <string>

// The location of the file named as the release at `source` with `suffix`
// appended. Over HTTP the suffix goes before a query: the signature of
// ".../Release.rar?v=2" is ".../Release.rar.minisig?v=2".
inline std::string besideRelease(const std::string& source, bool http, const std::string& suffix)
{
    const std::size_t query = http ? source.find_first_of("?#") : std::string::npos;
    if (query == std::string::npos)
        return source + suffix;
    return source.substr(0, query) + suffix + source.substr(query);
}
