#pragma once
// A tree-view control as the department services fill and walk it. Nodes
// belong to the control; a node pointer stays valid until clear().
#include <string>

namespace platform {

// A node of a TreeView; each implementation derives its own node type from it.
class TreeNode {
protected:
    TreeNode() = default;
    ~TreeNode() = default;
};

class TreeView {
public:
    virtual ~TreeView() = default;

    // Removes every node.
    virtual void clear() = 0;
    virtual void repaint() = 0;
    // The selected node; nullptr when none is.
    virtual TreeNode* selected() const = 0;

    // A new node as the last sibling of `sibling`, or the last top-level node when `sibling` is nullptr.
    virtual TreeNode* add(TreeNode* sibling, const std::u16string& text) = 0;
    // A new node as the last child of `parent`, or the last top-level node when `parent` is nullptr.
    virtual TreeNode* addChild(TreeNode* parent, const std::u16string& text) = 0;

    // The integer kept with a node for the image to draw (the services keep a
    // department code there); -1 until set.
    virtual void setImageIndex(TreeNode* node, int index) = 0;
    virtual int imageIndex(const TreeNode* node) const = 0;
    // The integer kept with a node for its state image; -1 until set.
    virtual void setStateIndex(TreeNode* node, int index) = 0;

    // The number of nodes, and the node at `position` in depth-first order.
    virtual int count() const = 0;
    virtual TreeNode* item(int position) const = 0;
    // The first node shown at the top of the view; nullptr for an empty tree.
    virtual TreeNode* topItem() const = 0;
    // Shows the children of `node`, not their children.
    virtual void expand(TreeNode* node) = 0;
    // The node after `node` in depth-first order; nullptr after the last.
    virtual TreeNode* next(const TreeNode* node) const = 0;
    virtual TreeNode* firstChild(const TreeNode* node) const = 0;
};

} // namespace platform
