#include "model/OutlineItem.h"

#include "model/OutlineTree.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

namespace {

char* CopyString(const char* value) {
    if (!value)
        return nullptr;
    const size_t size = std::strlen(value) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (!copy)
        throw std::bad_alloc();
    std::memcpy(copy, value, size);
    return copy;
}

// Clone drops empty strings, so a copied item never carries an empty title or address.
char* CopyNonEmpty(const char* value) {
    return value && *value ? CopyString(value) : nullptr;
}

} // namespace

COutlineItem::~COutlineItem() {
    for (char* field :
         {m_pszTitle, m_pszType, m_pszHtmlUrl, m_pszXmlUrl, m_pszText, m_pszVersion, m_pszDescription})
        std::free(field);

    // Everything this item owns is destroyed from one chain through m_pNext: the
    // children go in front of the following siblings, and an item that still has
    // children hands its first child to the front of the chain before it goes. Each
    // item is deleted only once it owns nothing, so no destructor ever nests.
    COutlineItem* chain = m_pNext;
    m_pNext = nullptr;
    while (COutlineItem* child = m_pFirstChild) {
        m_pFirstChild = child->m_pNext;
        child->m_pNext = chain;
        chain = child;
    }
    while (chain) {
        if (COutlineItem* child = chain->m_pFirstChild) {
            chain->m_pFirstChild = child->m_pNext;
            child->m_pNext = chain;
            chain = child;
        } else {
            COutlineItem* next = chain->m_pNext;
            chain->m_pNext = nullptr;
            delete chain;
            chain = next;
        }
    }
}

void COutlineItem::AppendChild(COutlineItem* item) {
    if (!item)
        return;
    item->m_pParent = this;
    item->m_pNext = nullptr;
    if (!m_pFirstChild) {
        item->m_pPrev = nullptr;
        m_pFirstChild = item;
        return;
    }
    COutlineItem* last = m_pFirstChild;
    while (last->m_pNext)
        last = last->m_pNext;
    last->m_pNext = item;
    item->m_pPrev = last;
}

void COutlineItem::RemoveChild(COutlineItem* item) {
    if (!item || !m_pFirstChild)
        return;
    if (item->m_pPrev)
        item->m_pPrev->m_pNext = item->m_pNext;
    else
        m_pFirstChild = item->m_pNext;
    if (item->m_pNext)
        item->m_pNext->m_pPrev = item->m_pPrev;
    item->m_pNext = nullptr;
    item->m_pPrev = nullptr;
}

bool COutlineItem::InsertChildAfter(COutlineItem* item, COutlineItem* after) {
    if (!item || !after)
        return false;
    item->m_pParent = this;
    item->m_pPrev = after;
    item->m_pNext = after->m_pNext;
    if (after->m_pNext)
        after->m_pNext->m_pPrev = item;
    after->m_pNext = item;
    return true;
}

COutlineItem* COutlineItem::Clone() const {
    return CloneOutline(ModelOutlineTree(this), this);
}

COutlineItem* COutlineItem::CloneAlone() const {
    auto copy = std::make_unique<COutlineItem>();
    copy->m_pszTitle = CopyNonEmpty(m_pszTitle);
    copy->m_pszType = CopyNonEmpty(m_pszType);
    copy->m_pszHtmlUrl = CopyNonEmpty(m_pszHtmlUrl);
    copy->m_pszXmlUrl = CopyNonEmpty(m_pszXmlUrl);
    copy->m_pszText = CopyNonEmpty(m_pszText);
    copy->m_pszVersion = CopyNonEmpty(m_pszVersion);
    copy->m_pszDescription = CopyNonEmpty(m_pszDescription);
    return copy.release();
}

void COutlineItem::SetString(char*& field, const char* value) {
    char* copy = CopyString(value);
    std::free(field);
    field = copy;
}

COutlineHead::~COutlineHead() {
    for (char* field : {m_pszTitle, m_pszDateCreated, m_pszDateModified, m_pszOwnerName, m_pszOwnerEmail})
        std::free(field);
}
