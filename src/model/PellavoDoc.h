#pragma once

#include "model/OpmlReader.h"
#include "model/OutlineItem.h"

#include <QString>

#include <memory>

// The one document: owns the subscription model.
class CPellavoDoc {
public:
    CPellavoDoc();

    // Replaces the model with the contents of an OPML file (see ParseOutlineFile).
    bool LoadOutline(const QString& path, OpmlParseError* error = nullptr);

    // Installs a model built elsewhere (reload after Undo, Import); the old one is destroyed.
    void SetModel(std::unique_ptr<COutlineHead> head, std::unique_ptr<COutlineItem> root);

    QString GetTitle() const { return m_strTitle; }

    std::unique_ptr<COutlineItem> m_pRoot;
    std::unique_ptr<COutlineHead> m_pHead;

private:
    QString m_strTitle = QStringLiteral("Corvantis");
};
