#pragma once
// The tree-view control over a QTreeWidget of one column. Each item keeps its
// image index and state index; the view does not draw them, the form that
// owns the widget decides what they show.
#include "platform/TreeView.h"

#include <QTreeWidget>

namespace platform {

class QtTreeNode : public QTreeWidgetItem, public TreeNode {
public:
    static constexpr int Type = QTreeWidgetItem::UserType + 1;
    explicit QtTreeNode(const QString& text) : QTreeWidgetItem(QStringList{text}, Type) {}

    int ImageIndex = -1;
    int StateIndex = -1;
};

class QtTreeView : public TreeView {
public:
    // Fills and walks `widget`, which stays the caller's.
    explicit QtTreeView(QTreeWidget& widget);

    void clear() override;
    void repaint() override;
    TreeNode* selected() const override;
    TreeNode* add(TreeNode* sibling, const std::u16string& text) override;
    TreeNode* addChild(TreeNode* parent, const std::u16string& text) override;
    void setImageIndex(TreeNode* node, int index) override;
    int imageIndex(const TreeNode* node) const override;
    void setStateIndex(TreeNode* node, int index) override;
    int count() const override;
    TreeNode* item(int position) const override;
    TreeNode* topItem() const override;
    void expand(TreeNode* node) override;
    TreeNode* next(const TreeNode* node) const override;
    TreeNode* firstChild(const TreeNode* node) const override;

    QTreeWidget& widget() const { return widget_; }
    // The node of a widget item; nullptr for an item this view did not add.
    static QtTreeNode* node(QTreeWidgetItem* item);
    static QtTreeNode* node(TreeNode* node) { return static_cast<QtTreeNode*>(node); }
    static const QtTreeNode* node(const TreeNode* node) { return static_cast<const QtTreeNode*>(node); }

private:
    QTreeWidget& widget_;
};

} // namespace platform
