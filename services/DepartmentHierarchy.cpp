#include "services/DepartmentHierarchy.h"

#include "platform/TextCodec.h"

namespace departments {

void Hierarchy::Add(std::optional<int> parent, Link link)
{
    if (!parent || *parent == 0)
        roots_.push_back(link);
    if (parent)
        children_[*parent].push_back(std::move(link));
}

const std::vector<Link>& Hierarchy::ChildrenOf(int parent) const
{
    const auto found = children_.find(parent);
    return found == children_.end() ? none_ : found->second;
}

platform::TreeNode* TreeFiller::AddTop(platform::TreeNode* after, const std::string& name, int code)
{
    platform::TreeNode* node = view_.add(after, platform::ansiToUtf16(name));
    view_.setImageIndex(node, code);
    shown_.insert(code);
    return node;
}

platform::TreeNode* TreeFiller::AddChild(platform::TreeNode* parent, const std::string& name, int code)
{
    platform::TreeNode* node = view_.addChild(parent, platform::ansiToUtf16(name));
    view_.setImageIndex(node, code);
    shown_.insert(code);
    return node;
}

void TreeFiller::AddBranch(const Hierarchy& hierarchy, platform::TreeNode* parent, int code)
{
    for (const Link& link : hierarchy.ChildrenOf(code))
        AddLevel(hierarchy, 1, AddChild(parent, link.Name, link.Child), link.Child);
}

void TreeFiller::AddLevel(const Hierarchy& hierarchy, int level, platform::TreeNode* parent, int parentCode)
{
    for (const Link& link : hierarchy.ChildrenOf(parentCode)) {
        platform::TreeNode* node = AddChild(parent, link.Name, link.Child);
        if (level >= DeepestLevel)
            break;
        AddLevel(hierarchy, level + 1, node, link.Child);
    }
}

void AppendDescendants(const Hierarchy& hierarchy, int level, int code, std::string& out)
{
    for (const Link& link : hierarchy.ChildrenOf(code)) {
        if (!link.Known)
            continue;
        out += ',';
        out += std::to_string(link.Child);
        if (level >= DeepestLevel)
            break;
        AppendDescendants(hierarchy, level + 1, link.Child, out);
    }
}

} // namespace departments
