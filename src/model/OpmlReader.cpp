#include "model/OpmlReader.h"

#include "base/XmlText.h"
#include "model/ExpatImpl.h"

#include <QBuffer>
#include <QFile>

#include <cstdio>
#include <string>

namespace {

constexpr int kChunkSize = 256;
constexpr char kRootTitle[] = "My Subscriptions";

// Element and attribute names are matched in ASCII whatever the locale, so that a
// Turkish locale does not keep "TITLE" from matching "title".
bool EqualsNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z')
            ca = char(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z')
            cb = char(cb - 'A' + 'a');
        if (ca != cb)
            return false;
        if (!ca)
            return true;
    }
}

template <class Record> struct Field {
    const char* name;
    char* Record::*member;
};
constexpr Field<COutlineItem> kItemFields[] = {
    {"title", &COutlineItem::m_pszTitle},
    {"type", &COutlineItem::m_pszType},
    {"htmlurl", &COutlineItem::m_pszHtmlUrl},
    {"xmlurl", &COutlineItem::m_pszXmlUrl},
    {"text", &COutlineItem::m_pszText},
    {"version", &COutlineItem::m_pszVersion},
    {"description", &COutlineItem::m_pszDescription},
};

constexpr Field<COutlineHead> kHeadFields[] = {
    {"title", &COutlineHead::m_pszTitle},
    {"datecreated", &COutlineHead::m_pszDateCreated},
    {"datemodified", &COutlineHead::m_pszDateModified},
    {"ownername", &COutlineHead::m_pszOwnerName},
    {"owneremail", &COutlineHead::m_pszOwnerEmail},
};

class COutlineParser : public ExpatImpl<COutlineParser> {
public:
    COutlineParser(COutlineHead& head, COutlineItem& root, OpmlTrace trace)
        : m_head(head), m_root(root), m_pCurrent(&root), m_bTrace(trace == OpmlTrace::On) {}

    enum class Result { Ok, XmlError, OtherError };

    // Feeds the device to expat in fixed chunks, so memory never grows with the file.
    Result Parse(QIODevice& in, OpmlParseError* error) {
        if (!Create())
            return Fail(error, 0, QStringLiteral("The XML parser could not be created."));
        SetUnknownEncodingHandler(&SingleByteEncodingHandler, nullptr);
        for (bool last = false; !last;) {
            void* buffer = GetBuffer(kChunkSize);
            if (!buffer)
                return Fail(error, GetCurrentLineNumber(),
                            QString::fromUtf8(XML_ErrorString(GetErrorCode())));
            const qint64 read = in.read(static_cast<char*>(buffer), kChunkSize);
            if (read < 0)
                return Fail(error, GetCurrentLineNumber(), in.errorString());
            last = read == 0 || in.atEnd();
            if (!ParseBuffer(int(read), last)) {
                Fail(error, GetCurrentLineNumber(), QString::fromUtf8(XML_ErrorString(GetErrorCode())));
                return Result::XmlError;
            }
        }
        return Result::Ok;
    }

    void OnStartElement(const XML_Char* name, const XML_Char** attributes) {
        if (EqualsNoCase(name, "opml")) {
            if (m_bTrace)
                std::fputs("We got an OPML document.\n", stdout);
        } else if (EqualsNoCase(name, "outline")) {
            m_state = State::InOutline;
            auto* item = new COutlineItem;
            // Appending after the remembered last child keeps long sibling lists linear.
            if (m_pLastChild)
                m_pCurrent->InsertChildAfter(item, m_pLastChild);
            else
                m_pCurrent->AppendChild(item);
            m_pCurrent = item;
            m_pLastChild = nullptr;
            for (const XML_Char** attribute = attributes; attribute[0]; attribute += 2) {
                for (const auto& field : kItemFields) {
                    if (EqualsNoCase(attribute[0], field.name)) {
                        COutlineItem::SetString(item->*field.member, attribute[1]);
                        break;
                    }
                }
                if (m_bTrace)
                    std::printf("Attribute %s: %s\n", attribute[0], attribute[1]);
            }
        } else if (EqualsNoCase(name, "head")) {
            m_state = State::InHead;
        }
    }

    void OnEndElement(const XML_Char* name) {
        // Only the end of an outline closes the current item: an unknown element
        // inside an outline must not move its later children up a level.
        if (EqualsNoCase(name, "outline")) {
            if (m_pCurrent != &m_root) {
                m_pLastChild = m_pCurrent;
                m_pCurrent = m_pCurrent->m_pParent;
            }
            return;
        }
        if (m_state != State::InHead)
            return;
        if (EqualsNoCase(name, "head")) {
            m_state = State::None;
            return;
        }
        for (const auto& field : kHeadFields) {
            if (EqualsNoCase(name, field.name)) {
                COutlineItem::SetString(m_head.*field.member, m_text.c_str());
                return;
            }
        }
    }

    void OnCharacterData(const XML_Char* text, int length) { m_text.assign(text, size_t(length)); }

private:
    enum class State { None, InHead, InOutline };

    static Result Fail(OpmlParseError* error, qint64 line, const QString& reason) {
        if (error) {
            error->line = line;
            error->reason = reason;
        }
        return Result::OtherError;
    }

    COutlineHead& m_head;
    COutlineItem& m_root;
    COutlineItem* m_pCurrent;
    COutlineItem* m_pLastChild = nullptr;
    State m_state = State::None;
    std::string m_text;
    bool m_bTrace;
};

void NewModel(std::unique_ptr<COutlineHead>& head, std::unique_ptr<COutlineItem>& root) {
    head.reset();
    root.reset();
    head = std::make_unique<COutlineHead>();
    root = std::make_unique<COutlineItem>();
    COutlineItem::SetString(root->m_pszTitle, kRootTitle);
}

COutlineParser::Result ParseInto(QIODevice& in, std::unique_ptr<COutlineHead>& head,
                                 std::unique_ptr<COutlineItem>& root, OpmlParseError* error,
                                 OpmlTrace trace) {
    NewModel(head, root);
    COutlineParser parser(*head, *root, trace);
    return parser.Parse(in, error);
}

} // namespace

bool ParseOutline(QIODevice& in, std::unique_ptr<COutlineHead>& head, std::unique_ptr<COutlineItem>& root,
                  OpmlParseError* error, OpmlTrace trace) {
    const COutlineParser::Result result = ParseInto(in, head, root, error, trace);
    if (result != COutlineParser::Result::XmlError || !in.seek(0))
        return result == COutlineParser::Result::Ok;

    // One readAll is one read of the device, which may hand out less than it holds.
    QByteArray bytes;
    for (QByteArray piece; !(piece = in.readAll()).isEmpty();)
        bytes += piece;
    // Many files in the wild carry addresses like "?a=1&b=2" unescaped.
    if (!MendBareAmpersands(bytes))
        return false;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return ParseInto(buffer, head, root, error, trace) == COutlineParser::Result::Ok;
}

bool ParseOutlineFile(const QString& path, std::unique_ptr<COutlineHead>& head,
                      std::unique_ptr<COutlineItem>& root, OpmlParseError* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        NewModel(head, root);
        if (error) {
            error->line = 0;
            error->reason = file.errorString();
        }
        return false;
    }
    return ParseOutline(file, head, root, error, OpmlTrace::On);
}
