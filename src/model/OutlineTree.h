#pragma once

#include "model/OutlineItem.h"

// A read-only tree of nodes in display order. The tree view implements it over its
// nodes; ModelOutlineTree walks the model's own links.
class OutlineTree {
public:
    using Node = const void*;
    virtual ~OutlineTree() = default;
    // The single top-level node (the root "My Subscriptions"), or null for an empty tree.
    virtual Node TopLevel() const = 0;
    virtual Node FirstChild(Node node) const = 0;
    virtual Node NextSibling(Node node) const = 0;
    virtual const COutlineItem* Item(Node node) const = 0;
};

class ModelOutlineTree : public OutlineTree {
public:
    explicit ModelOutlineTree(const COutlineItem* root) : m_pRoot(root) {}
    Node TopLevel() const override { return m_pRoot; }
    Node FirstChild(Node node) const override;
    Node NextSibling(Node node) const override;
    const COutlineItem* Item(Node node) const override { return static_cast<const COutlineItem*>(node); }

private:
    const COutlineItem* m_pRoot;
};

// Deep copy of a node's item and the items below it, linked in the order the tree
// walks them; never of the node's following siblings. Empty strings become null.
COutlineItem* CloneOutline(const OutlineTree& tree, OutlineTree::Node node);
