#include "view/TreeOutline.h"

#include "view/CPellavoView.h"

#include <QTreeWidget>

namespace {

const QTreeWidgetItem* NodeItem(OutlineTree::Node node) {
    return static_cast<const QTreeWidgetItem*>(node);
}

} // namespace

OutlineTree::Node TreeOutline::TopLevel() const {
    return m_tree.topLevelItemCount() ? m_tree.topLevelItem(0) : nullptr;
}

OutlineTree::Node TreeOutline::FirstChild(Node node) const {
    const QTreeWidgetItem* child = NodeItem(node)->child(0);
    if (child)
        m_positions.insert(child, 0);
    return child;
}

OutlineTree::Node TreeOutline::NextSibling(Node node) const {
    const QTreeWidgetItem* item = NodeItem(node);
    const QTreeWidgetItem* parent = item->parent();
    // Only the first top-level node is ever written.
    if (!parent)
        return nullptr;
    const auto known = m_positions.constFind(node);
    const int position =
        known != m_positions.constEnd() ? *known : parent->indexOfChild(const_cast<QTreeWidgetItem*>(item));
    m_positions.remove(node);
    const QTreeWidgetItem* next = parent->child(position + 1);
    if (next)
        m_positions.insert(next, position + 1);
    return next;
}

const COutlineItem* TreeOutline::Item(Node node) const {
    return CPellavoView::ItemOf(NodeItem(node));
}
