#pragma once
// The department hierarchy of the working-time database held in memory, and
// the filling of a tree view from it. Reading STRUCTURE once and walking it
// here gives the same nodes as one query per parent node, in a fixed number
// of statements.
#include "platform/TreeView.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace departments {

// One row of STRUCTURE with the short name of its child department.
struct Link {
    int Child = 0;       // CHILD_ID; a null reads as 0
    std::string Name;    // NAIM_K, 8-bit; empty when DEPARTM lacks the child
    bool Known = false;  // DEPARTM has the child (what an inner join keeps)
};

// The rows of STRUCTURE grouped by parent, each group in the order given to
// Add (the order of POS).
class Hierarchy {
public:
    void Add(std::optional<int> parent, Link link);

    // Rows whose PARENT_ID is 0 or null.
    const std::vector<Link>& Roots() const { return roots_; }
    // Rows whose PARENT_ID equals `parent`; a null PARENT_ID matches no code.
    const std::vector<Link>& ChildrenOf(int parent) const;

private:
    std::vector<Link> roots_;
    std::unordered_map<int, std::vector<Link>> children_;
    std::vector<Link> none_;
};

// Levels read below a branch row: at the last one only the first row counts,
// which bounds the walk even when STRUCTURE holds a cycle.
constexpr int DeepestLevel = 8;

// Adds department nodes to a tree view, each with the department's code as
// its image index, and remembers which codes the tree shows.
class TreeFiller {
public:
    explicit TreeFiller(platform::TreeView& view) : view_(view) {}

    // A top-level node after `after` (or the last one when `after` is nullptr).
    platform::TreeNode* AddTop(platform::TreeNode* after, const std::string& name, int code);
    // The last child of `parent` (a top-level node when `parent` is nullptr).
    platform::TreeNode* AddChild(platform::TreeNode* parent, const std::string& name, int code);
    // The rows below department `code`, each under `parent` and followed by
    // the levels below it, down to DeepestLevel.
    void AddBranch(const Hierarchy& hierarchy, platform::TreeNode* parent, int code);

    bool Shows(int code) const { return shown_.count(code) > 0; }

private:
    void AddLevel(const Hierarchy& hierarchy, int level, platform::TreeNode* parent, int parentCode);

    platform::TreeView& view_;
    std::unordered_set<int> shown_;
};

// The codes of `code`'s descendants as ",c1,c2..." depth first, parents
// before children, siblings in order; links whose child DEPARTM lacks are
// left out. `level` is the level of the rows below `code`.
void AppendDescendants(const Hierarchy& hierarchy, int level, int code, std::string& out);

} // namespace departments
