#pragma once

// One outline of the subscription list: a group, or a feed when m_pszXmlUrl is set.
//
// The strings are owned UTF-8 copies; null means the attribute is absent, an empty
// string that it is present but empty. An item owns its first child and its next
// sibling, so destroying an item destroys its subtree and every sibling after it:
// unlink it with RemoveChild first to destroy it alone. Destruction is iterative,
// so neither long sibling lists nor deep nesting can exhaust the stack.
class COutlineItem {
public:
    COutlineItem() = default;
    virtual ~COutlineItem();

    COutlineItem(const COutlineItem&) = delete;
    COutlineItem& operator=(const COutlineItem&) = delete;

    // Links `item` after the last child; null is ignored.
    void AppendChild(COutlineItem* item);
    // Unlinks a child of this item and clears its sibling links; its parent link stays.
    void RemoveChild(COutlineItem* item);
    // Links `item` directly after `after`, which must be a child of this item.
    bool InsertChildAfter(COutlineItem* item, COutlineItem* after);
    // Deep copy of this item and its subtree, never of its following siblings.
    // Empty strings become null in the copy.
    COutlineItem* Clone() const;
    // Copy of this item's strings alone, without children or links; empty strings become null.
    COutlineItem* CloneAlone() const;

    bool IsFeed() const { return m_pszXmlUrl != nullptr; }

    // Replaces an owned string with a copy of `value` (null clears it).
    static void SetString(char*& field, const char* value);

    char* m_pszTitle = nullptr;
    char* m_pszType = nullptr;
    char* m_pszHtmlUrl = nullptr;
    char* m_pszXmlUrl = nullptr;
    char* m_pszText = nullptr;
    char* m_pszVersion = nullptr;
    char* m_pszDescription = nullptr;

    COutlineItem* m_pFirstChild = nullptr;
    COutlineItem* m_pNext = nullptr;
    COutlineItem* m_pPrev = nullptr;
    COutlineItem* m_pParent = nullptr;
};

// The OPML head as read from a file; nothing but the reader fills it.
class COutlineHead {
public:
    COutlineHead() = default;
    virtual ~COutlineHead();

    COutlineHead(const COutlineHead&) = delete;
    COutlineHead& operator=(const COutlineHead&) = delete;

    char* m_pszTitle = nullptr;
    char* m_pszDateCreated = nullptr;
    char* m_pszDateModified = nullptr;
    char* m_pszOwnerName = nullptr;
    char* m_pszOwnerEmail = nullptr;
};
