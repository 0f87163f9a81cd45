#pragma once
// Reads the pages and the table of contents of a compiled HTML help file
// (.chm) through chmlib.
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct chmFile;

namespace core {

class HelpChmFile {
public:
    // nullptr when the file is missing or is not a readable help file.
    static std::unique_ptr<HelpChmFile> open(const std::string& path);
    ~HelpChmFile();
    HelpChmFile(const HelpChmFile&) = delete;
    HelpChmFile& operator=(const HelpChmFile&) = delete;

    // The bytes of a page ("25.html" or "/25.html"); nothing when the file
    // has no such page or it cannot be read whole.
    std::optional<std::string> read(const std::string& page) const;

    // The entries of the table of contents (the file's .hhc sitemap), in
    // order; level 0 is the top. Empty when the file has none.
    struct ContentsEntry {
        std::string name;
        std::string page;
        int level = 0;
    };
    std::vector<ContentsEntry> contents() const;

    // Paths of all HTML pages in the file, "/" first.
    std::vector<std::string> pages() const;

private:
    explicit HelpChmFile(chmFile* handle) : handle_(handle) {}
    chmFile* handle_;
};

// The entries of a sitemap (.hhc) text.
std::vector<HelpChmFile::ContentsEntry> parseHelpSitemap(const std::string& sitemap);

} // namespace core
