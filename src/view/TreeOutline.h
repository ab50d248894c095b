#pragma once

#include "model/OpmlWriter.h"

#include <QHash>

class QTreeWidget;

// The tree view's nodes, in the order it shows them, as the writer walks them.
class TreeOutline : public OutlineTree {
public:
    explicit TreeOutline(const QTreeWidget& tree) : m_tree(tree) {}

    Node TopLevel() const override;
    Node FirstChild(Node node) const override;
    Node NextSibling(Node node) const override;
    const COutlineItem* Item(Node node) const override;

private:
    const QTreeWidget& m_tree;
    // The position under its parent of each node handed out and not yet passed on,
    // so that walking a long sibling list never searches it.
    mutable QHash<Node, int> m_positions;
};
