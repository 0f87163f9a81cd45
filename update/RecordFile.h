#pragma once
// Small records the updater keeps in its update folder: a first line naming
// the kind of record, then "key=value" lines. Values are escaped so that any
// text fits on its line. A record that is missing, of another kind or not
// readable reads as nothing: the updater then knows nothing, which is never
// an error.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

using RecordFields = std::map<std::string, std::string>;

std::optional<RecordFields> readRecordFile(const std::filesystem::path& path, const std::string& kind);

// Written under a temporary name and renamed over `path`; with `durable`
// the data and the folder entry are on the disk before this returns.
// Throws std::system_error when the file cannot be written.
void writeRecordFile(const std::filesystem::path& path, const std::string& kind, const RecordFields& fields,
                     bool durable);

// The number a field holds (nothing unless the whole value is one).
std::optional<std::uint64_t> recordNumber(const RecordFields& fields, const std::string& key);
std::optional<std::int64_t> recordSignedNumber(const RecordFields& fields, const std::string& key);
