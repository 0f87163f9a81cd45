#include "services/DepartmentHierarchy.h"

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

Hierarchy JoinByPosition(const std::vector<StructureRow>& rows, const std::vector<Department>& departments)
{
    std::unordered_map<int, std::vector<const std::u16string*>> names;
    for (const Department& d : departments)
        if (d.Code)
            names[*d.Code].push_back(&d.Name);

    Hierarchy hierarchy;
    for (const StructureRow& row : rows) {
        const auto found = row.Child ? names.find(*row.Child) : names.end();
        if (found == names.end()) {
            hierarchy.Add(row.Parent, {row.Child.value_or(0), {}});
            continue;
        }
        for (const std::u16string* name : found->second)
            hierarchy.Add(row.Parent, {*row.Child, *name});
    }
    return hierarchy;
}

platform::TreeNode* TreeFiller::AddTop(platform::TreeNode* after, const std::u16string& name, int code)
{
    platform::TreeNode* node = view_.add(after, name);
    view_.setImageIndex(node, code);
    shown_.insert(code);
    return node;
}

platform::TreeNode* TreeFiller::AddChild(platform::TreeNode* parent, const std::u16string& name, int code)
{
    platform::TreeNode* node = view_.addChild(parent, name);
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
        out += ',';
        out += std::to_string(link.Child);
        if (level >= DeepestLevel)
            break;
        AppendDescendants(hierarchy, level + 1, link.Child, out);
    }
}

} // namespace departments
