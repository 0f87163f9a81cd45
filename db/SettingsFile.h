#pragma once
// The settings file "Tavrel.INI": single keys read and written straight
// through to the file (no cached copy), in 8-bit text of the ANSI code page.
#include "platform/ProfileFile.h"

#include <filesystem>
#include <memory>
#include <string>

class TSettingsFile {
public:
    explicit TSettingsFile(const std::filesystem::path& path);

    const std::filesystem::path& FileName() const { return file_.path(); }
    // The file itself, for readers below the data module (the update engine).
    const platform::ProfileFile& profile() const { return file_; }

    // A missing key, or one that is not a decimal integer, reads as Default.
    int ReadInteger(const std::string& Section, const std::string& Ident, int Default) const;
    // A missing key reads as Default; a key present with an empty value reads as empty.
    std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) const;

    // Both throw std::runtime_error naming the file when the write is refused.
    void WriteInteger(const std::string& Section, const std::string& Ident, int Value);
    void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);

private:
    platform::ProfileFile file_;
};

// The program's settings file, created once at start-up and kept until exit.
extern std::unique_ptr<TSettingsFile> UserIniFile;
