// The tree-view control over a QTreeWidget, offscreen: where new nodes go,
// depth-first order, and what each node keeps.
#include "platform/qt/QtTreeView.h"

#include <QTreeWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string textOf(const platform::TreeNode* node)
{
    return node ? platform::QtTreeView::node(node)->text(0).toStdString() : "<none>";
}

TEST(QtTreeViewTest, NodesGoWhereAskedAndAreWalkedDepthFirst)
{
    QTreeWidget widget;
    platform::QtTreeView view(widget);
    EXPECT_EQ(view.count(), 0);
    EXPECT_EQ(view.topItem(), nullptr);
    EXPECT_EQ(view.item(0), nullptr);

    platform::TreeNode* a = view.add(nullptr, u"a");
    platform::TreeNode* a1 = view.addChild(a, u"a1");
    view.add(a1, u"a2"); // after a sibling below a: below a too
    platform::TreeNode* b = view.add(a, u"b");
    view.addChild(nullptr, u"c");
    view.addChild(view.firstChild(a), u"a1x");

    std::vector<std::string> order;
    for (int i = 0; i < view.count(); ++i)
        order.push_back(textOf(view.item(i)));
    EXPECT_EQ(order, (std::vector<std::string>{"a", "a1", "a1x", "a2", "b", "c"}));
    std::vector<std::string> walked;
    for (platform::TreeNode* node = view.topItem(); node; node = view.next(node))
        walked.push_back(textOf(node));
    EXPECT_EQ(walked, order);
    EXPECT_EQ(view.item(6), nullptr);
    EXPECT_EQ(view.firstChild(b), nullptr);

    EXPECT_EQ(view.imageIndex(b), -1);
    EXPECT_EQ(platform::QtTreeView::node(b)->StateIndex, -1);
    view.setImageIndex(b, 42);
    view.setStateIndex(b, 0);
    EXPECT_EQ(view.imageIndex(b), 42);
    EXPECT_EQ(platform::QtTreeView::node(b)->StateIndex, 0);

    view.expand(a);
    EXPECT_TRUE(widget.topLevelItem(0)->isExpanded());
    EXPECT_FALSE(widget.topLevelItem(0)->child(0)->isExpanded()) << "one level only";

    EXPECT_EQ(view.selected(), nullptr);
    widget.setCurrentItem(widget.topLevelItem(1));
    EXPECT_EQ(textOf(view.selected()), "b");

    view.clear();
    EXPECT_EQ(view.count(), 0);
    EXPECT_EQ(view.selected(), nullptr);
}

TEST(QtTreeViewTest, TheTopItemIsTheFirstRowShown)
{
    QTreeWidget widget;
    platform::QtTreeView view(widget);
    for (int i = 0; i < 200; ++i)
        view.add(nullptr, u"row " + std::u16string(1, u'0' + i % 10));
    widget.resize(200, 100);
    widget.show();
    EXPECT_EQ(view.topItem(), view.item(0));
    widget.scrollToItem(widget.topLevelItem(150), QAbstractItemView::PositionAtTop);
    EXPECT_EQ(view.topItem(), view.item(150));
}

} // namespace
