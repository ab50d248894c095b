#include "model/PellavoDoc.h"

CPellavoDoc::CPellavoDoc()
    : m_pRoot(std::make_unique<COutlineItem>()), m_pHead(std::make_unique<COutlineHead>()) {}

bool CPellavoDoc::LoadOutline(const QString& path, OpmlParseError* error) {
    return ParseOutlineFile(path, m_pHead, m_pRoot, error);
}

void CPellavoDoc::SetModel(std::unique_ptr<COutlineHead> head, std::unique_ptr<COutlineItem> root) {
    m_pHead = std::move(head);
    m_pRoot = std::move(root);
}
