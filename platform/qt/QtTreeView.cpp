#include "platform/qt/QtTreeView.h"

#include <QTreeWidgetItemIterator>

namespace platform {

namespace {

QString qs(const std::u16string& text) { return QString::fromStdU16String(text); }

QTreeWidgetItem* widgetItem(const TreeNode* node)
{
    return const_cast<QtTreeNode*>(static_cast<const QtTreeNode*>(node));
}

} // namespace

QtTreeView::QtTreeView(QTreeWidget& widget) : widget_(widget) {}

void QtTreeView::clear() { widget_.clear(); }

void QtTreeView::repaint() { widget_.viewport()->repaint(); }

TreeNode* QtTreeView::selected() const
{
    QTreeWidgetItem* current = widget_.currentItem();
    return current && current->isSelected() ? node(current) : nullptr;
}

TreeNode* QtTreeView::add(TreeNode* sibling, const std::u16string& text)
{
    return addChild(sibling ? node(widgetItem(sibling)->parent()) : nullptr, text);
}

TreeNode* QtTreeView::addChild(TreeNode* parent, const std::u16string& text)
{
    auto* created = new QtTreeNode(qs(text));
    if (parent)
        widgetItem(parent)->addChild(created);
    else
        widget_.addTopLevelItem(created);
    return created;
}

void QtTreeView::setImageIndex(TreeNode* target, int index) { node(target)->ImageIndex = index; }

int QtTreeView::imageIndex(const TreeNode* target) const { return node(target)->ImageIndex; }

void QtTreeView::setStateIndex(TreeNode* target, int index) { node(target)->StateIndex = index; }

int QtTreeView::count() const
{
    int total = 0;
    for (QTreeWidgetItemIterator it(&widget_); *it; ++it)
        ++total;
    return total;
}

TreeNode* QtTreeView::item(int position) const
{
    if (position < 0)
        return nullptr;
    QTreeWidgetItemIterator it(&widget_);
    for (int i = 0; *it && i < position; ++i)
        ++it;
    return *it ? node(*it) : nullptr;
}

TreeNode* QtTreeView::topItem() const
{
    // A hidden or never laid-out widget has no row at its top edge; its first
    // row is then the first top-level item, as after every refill.
    if (QTreeWidgetItem* shown = widget_.itemAt(0, 0))
        return node(shown);
    return widget_.topLevelItemCount() > 0 ? node(widget_.topLevelItem(0)) : nullptr;
}

void QtTreeView::expand(TreeNode* target) { widgetItem(target)->setExpanded(true); }

TreeNode* QtTreeView::next(const TreeNode* target) const
{
    QTreeWidgetItemIterator it(widgetItem(target));
    ++it;
    return *it ? node(*it) : nullptr;
}

TreeNode* QtTreeView::firstChild(const TreeNode* target) const
{
    QTreeWidgetItem* item = widgetItem(target);
    return item->childCount() > 0 ? node(item->child(0)) : nullptr;
}

QtTreeNode* QtTreeView::node(QTreeWidgetItem* item)
{
    return item && item->type() == QtTreeNode::Type ? static_cast<QtTreeNode*>(item) : nullptr;
}

} // namespace platform
