#include "model/OutlineTree.h"

#include <memory>
#include <utility>
#include <vector>

OutlineTree::Node ModelOutlineTree::FirstChild(Node node) const {
    return static_cast<const COutlineItem*>(node)->m_pFirstChild;
}

OutlineTree::Node ModelOutlineTree::NextSibling(Node node) const {
    return static_cast<const COutlineItem*>(node)->m_pNext;
}

COutlineItem* CloneOutline(const OutlineTree& tree, OutlineTree::Node node) {
    // Linked into the copy as soon as it is made, every item is freed with it should a
    // later one fail; and the pending list, not the stack, holds the depth.
    std::unique_ptr<COutlineItem> copy(tree.Item(node)->CloneAlone());
    std::vector<std::pair<OutlineTree::Node, COutlineItem*>> pending{{node, copy.get()}};
    while (!pending.empty()) {
        const auto [source, target] = pending.back();
        pending.pop_back();
        COutlineItem* last = nullptr;
        for (OutlineTree::Node child = tree.FirstChild(source); child; child = tree.NextSibling(child)) {
            COutlineItem* childCopy = tree.Item(child)->CloneAlone();
            // After the last one copied rather than appended, so that long lists cost no walk.
            if (last)
                target->InsertChildAfter(childCopy, last);
            else
                target->AppendChild(childCopy);
            last = childCopy;
            pending.emplace_back(child, childCopy);
        }
    }
    return copy.release();
}
