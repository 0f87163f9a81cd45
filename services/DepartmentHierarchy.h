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
    std::u16string Name; // NAIM_K; empty when DEPARTM lacks the child
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

struct StructureRow {
    std::optional<int> Parent;
    std::optional<int> Child;
};

// A row of DEPARTM.
struct Department {
    std::optional<int> Code;
    std::u16string Name;
};

// The hierarchy that STRUCTURE left-joined with DEPARTM on CHILD_ID = CODE
// and ordered by POS gives: a link for every department row with the child's
// code (a null code matches nothing), or one without a name when there is
// none. `rows` come in the database's order by POS, which alone knows where
// its system puts nulls and how it sorts a POS that is not a number.
Hierarchy JoinByPosition(const std::vector<StructureRow>& rows, const std::vector<Department>& departments);

// Levels read below a branch row: at the last one only the first row counts,
// which bounds the walk even when STRUCTURE holds a cycle.
constexpr int DeepestLevel = 8;

// Adds department nodes to a tree view, each with the department's code as
// its image index, and remembers which codes the tree shows.
class TreeFiller {
public:
    explicit TreeFiller(platform::TreeView& view) : view_(view) {}

    // A top-level node after `after` (or the last one when `after` is nullptr).
    platform::TreeNode* AddTop(platform::TreeNode* after, const std::u16string& name, int code);
    // The last child of `parent` (a top-level node when `parent` is nullptr).
    platform::TreeNode* AddChild(platform::TreeNode* parent, const std::u16string& name, int code);
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
// before children, siblings in order. `level` is the level of the rows below
// `code`.
void AppendDescendants(const Hierarchy& hierarchy, int level, int code, std::string& out);

} // namespace departments
