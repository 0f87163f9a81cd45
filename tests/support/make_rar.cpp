// tavrel-make-rar FOLDER OUT_FOLDER STEM: packs every file and folder below
// FOLDER into OUT_FOLDER/STEM.rar (RAR 5.0, stored). A test helper for the
// demo and the benchmarks: release archives without an archiver.
#include "tests/support/RarWriter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: tavrel-make-rar FOLDER OUT_FOLDER STEM\n";
        return 64;
    }
    try {
        const fs::path root = argv[1];
        std::vector<fs::path> paths;
        for (const auto& e : fs::recursive_directory_iterator(root))
            paths.push_back(e.path());
        std::sort(paths.begin(), paths.end());

        tavrel::test::RarWriter writer(tavrel::test::RarFormat::Rar5);
        for (const auto& p : paths) {
            const std::string name = fs::relative(p, root).generic_string();
            if (fs::is_directory(p)) {
                writer.directory(name);
            } else {
                std::ifstream in(p, std::ios::binary);
                std::ostringstream data;
                data << in.rdbuf();
                writer.file(name, data.str());
            }
        }
        for (const auto& written : writer.write(argv[2], argv[3]))
            std::cout << written.string() << "\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "tavrel-make-rar: " << e.what() << "\n";
        return 1;
    }
}
