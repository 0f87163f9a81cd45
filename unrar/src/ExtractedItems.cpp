#include "unrar/src/ExtractedItems.h"

namespace unrar {

void ExtractedItems::noteFile(const FileId& root, const std::string& path, const FileId& file)
{
    trees_[root].files[path] = file;
}

void ExtractedItems::noteSymlink(const FileId& root, const std::string& path, const std::vector<std::string>& passes)
{
    Tree& tree = trees_[root];
    tree.files.erase(path); // the link took the file's name
    tree.passages.insert(passes.begin(), passes.end());
}

const FileId* ExtractedItems::writtenFile(const FileId& root, const std::string& path) const
{
    auto tree = trees_.find(root);
    if (tree == trees_.end())
        return nullptr;
    auto file = tree->second.files.find(path);
    return file == tree->second.files.end() ? nullptr : &file->second;
}

bool ExtractedItems::isPassedThrough(const FileId& root, const std::string& path) const
{
    auto tree = trees_.find(root);
    return tree != trees_.end() && tree->second.passages.count(path) != 0;
}

} // namespace unrar
