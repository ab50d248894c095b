#pragma once

#include "model/OpmlReader.h"
#include "model/OutlineItem.h"
#include "testsupport.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace pellavo::test {

// Sends the reader's trace lines to a file (or nowhere) while it lives, so that
// large loads do not flood the test log and tests can read what was written.
class StdoutRedirect {
public:
    explicit StdoutRedirect(const QString& path = QStringLiteral("/dev/null")) {
        std::fflush(stdout);
        m_saved = dup(fileno(stdout));
        if (std::FILE* target = std::fopen(QFile::encodeName(path).constData(), "w")) {
            dup2(fileno(target), fileno(stdout));
            std::fclose(target);
        }
    }
    ~StdoutRedirect() {
        std::fflush(stdout);
        dup2(m_saved, fileno(stdout));
        close(m_saved);
    }
    StdoutRedirect(const StdoutRedirect&) = delete;
    StdoutRedirect& operator=(const StdoutRedirect&) = delete;

private:
    int m_saved;
};

struct Model {
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    OpmlParseError error;
    bool ok = false;
};

inline Model loadQuietly(const QString& path) {
    Model model;
    StdoutRedirect quiet;
    model.ok = ParseOutlineFile(path, model.head, model.root, &model.error);
    return model;
}

inline COutlineItem* makeItem(const char* title, const char* xmlUrl = nullptr) {
    auto* item = new COutlineItem;
    COutlineItem::SetString(item->m_pszTitle, title);
    COutlineItem::SetString(item->m_pszXmlUrl, xmlUrl);
    return item;
}

// The shape of a small tree in one line: titles ("-" for none), a feed marked with
// "*", children in parentheses, e.g. "G(A*,B*),C*".
inline QString shape(const COutlineItem* first) {
    QString out;
    for (const COutlineItem* item = first; item; item = item->m_pNext) {
        if (item != first)
            out += QLatin1Char(',');
        out += item->m_pszTitle ? QString::fromUtf8(item->m_pszTitle) : QStringLiteral("-");
        if (item->IsFeed())
            out += QLatin1Char('*');
        if (item->m_pFirstChild)
            out += QLatin1Char('(') + shape(item->m_pFirstChild) + QLatin1Char(')');
    }
    return out;
}

// Wraps outline elements in a minimal OPML document.
inline QByteArray opml(const QByteArray& body, const QByteArray& declaration = "<?xml version=\"1.0\"?>") {
    return declaration + "\n<opml version=\"1.0\">\n<head><title>T</title></head>\n<body>\n" + body +
           "\n</body>\n</opml>\n";
}

} // namespace pellavo::test
