#pragma once

#include "model/OutlineItem.h"

#include <QString>

class QIODevice;

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

// The channel file keeps the lower-case attribute names the phone reads; an exported
// file spells them as other feed readers expect (xmlUrl, htmlUrl, a text on every outline).
enum class OpmlForm { Channel, Export };

// Writes the tree as OPML (UTF-8, CR LF) beside the target and renames it into place,
// so a failure leaves the previous file whole. On failure returns false and, when
// `error` is given, says why.
bool WriteOpmlFile(const QString& path, const OutlineTree& tree, OpmlForm form = OpmlForm::Channel,
                   QString* error = nullptr);

// Writes the document to an open device; false when a write fails.
bool WriteOpml(QIODevice& out, const OutlineTree& tree, OpmlForm form = OpmlForm::Channel);

// Writes one node with its subtree, but not its following siblings; false when a write fails.
bool WriteOutline(QIODevice& out, const OutlineTree& tree, OutlineTree::Node node,
                  OpmlForm form = OpmlForm::Channel);
