#include "model/OpmlReader.h"

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

// Reads the XML as a sequence of code units: bytes, or 16-bit units of UTF-16.
class UnitView {
public:
    explicit UnitView(const QByteArray& bytes) : m_bytes(bytes) {
        const auto byte = [&](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0x100; };
        if ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == '<' && byte(1) == 0))
            m_width = 2, m_bigEndian = false;
        else if ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0 && byte(1) == '<'))
            m_width = 2, m_bigEndian = true;
    }
    qsizetype Count() const { return m_bytes.size() / m_width; }
    uint At(qsizetype i) const {
        if (m_width == 1)
            return uchar(m_bytes[i]);
        const uint first = uchar(m_bytes[2 * i]), second = uchar(m_bytes[2 * i + 1]);
        return m_bigEndian ? first << 8 | second : second << 8 | first;
    }
    void Append(QByteArray& out, char ascii) const {
        if (m_width == 1)
            out.append(ascii);
        else if (m_bigEndian)
            out.append('\0').append(ascii);
        else
            out.append(ascii).append('\0');
    }
    qsizetype Width() const { return m_width; }

private:
    const QByteArray& m_bytes;
    qsizetype m_width = 1;
    bool m_bigEndian = false;
};

bool IsNameUnit(uint c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80)
        return true;
    return !first && ((c >= '0' && c <= '9') || c == '.' || c == '-');
}

// Whether the ampersand at `at` starts an entity or character reference.
bool StartsReference(const UnitView& units, qsizetype at) {
    const qsizetype count = units.Count();
    qsizetype i = at + 1;
    if (i < count && units.At(i) == '#') {
        ++i;
        const bool hex = i < count && units.At(i) == 'x';
        if (hex)
            ++i;
        const qsizetype digits = i;
        for (; i < count; ++i) {
            const uint c = units.At(i);
            const bool digit =
                (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
            if (!digit)
                break;
        }
        return i > digits && i < count && units.At(i) == ';';
    }
    const qsizetype name = i;
    while (i < count && IsNameUnit(units.At(i), i == name))
        ++i;
    return i > name && i < count && units.At(i) == ';';
}

// Many files in the wild carry addresses like "?a=1&b=2" unescaped. Returns true
// when it found and escaped such ampersands.
bool EscapeBareAmpersands(QByteArray& bytes) {
    const UnitView units(bytes);
    QByteArray out;
    qsizetype copied = 0;
    for (qsizetype i = 0; i < units.Count(); ++i) {
        if (units.At(i) != '&' || StartsReference(units, i))
            continue;
        if (out.isEmpty())
            out.reserve(bytes.size() + bytes.size() / 16);
        out.append(bytes.constData() + copied * units.Width(), (i - copied) * units.Width());
        for (char c : {'&', 'a', 'm', 'p', ';'})
            units.Append(out, c);
        copied = i + 1;
    }
    if (out.isEmpty())
        return false;
    out.append(bytes.constData() + copied * units.Width(), bytes.size() - copied * units.Width());
    bytes = std::move(out);
    return true;
}

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
    if (!EscapeBareAmpersands(bytes))
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
