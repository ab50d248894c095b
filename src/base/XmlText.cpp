#include "base/XmlText.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// What the escaping does with each byte: copy it, replace or drop it (an ASCII byte that
// needs an entity or that XML forbids), or check the UTF-8 sequence it starts.
enum ByteClass : unsigned char { Copy, Ascii, Lead };

constexpr std::array<ByteClass, 256> MakeByteClasses(XmlEscaping how) {
    std::array<ByteClass, 256> classes{};
    for (int c = 0; c < 256; ++c)
        classes[c] = c < 0x20 ? Ascii : c < 0x80 ? Copy : Lead;
    for (char c : {'&', '"', '<', '>'})
        classes[static_cast<unsigned char>(c)] = Ascii;
    if (how == XmlEscaping::Text) {
        for (char c : {'\t', '\n', '\r'})
            classes[static_cast<unsigned char>(c)] = Copy;
    } else {
        classes['\''] = Ascii;
    }
    return classes;
}
constexpr std::array<ByteClass, 256> kTextClasses = MakeByteClasses(XmlEscaping::Text);
constexpr std::array<ByteClass, 256> kExactClasses = MakeByteClasses(XmlEscaping::ExactAttribute);

std::string_view AsciiReplacement(unsigned char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '"':
        return "&quot;";
    case '\'':
        return "&apos;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '\t':
        return "&#9;";
    case '\n':
        return "&#10;";
    case '\r':
        return "&#13;";
    default:
        // The other control characters cannot appear in XML 1.0 at all, not even as references.
        return "";
    }
}

// Walks `utf8` and hands `put` the runs to copy and the replacements between them.
template <typename Put> void Escape(std::string_view utf8, XmlEscaping how, Put put) {
    const std::array<ByteClass, 256>& classes = how == XmlEscaping::Text ? kTextClasses : kExactClasses;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t size = utf8.size();
    size_t run = 0;
    for (size_t i = 0; i < size;) {
        const ByteClass byteClass = classes[s[i]];
        if (byteClass == Copy) {
            ++i;
            continue;
        }
        int length = 1;
        std::string_view replacement = ""; // the non-characters are dropped
        if (byteClass == Ascii) {
            replacement = AsciiReplacement(s[i]);
        } else {
            const int codePoint =
                DecodeUtf8(QByteArrayView(utf8.data(), qsizetype(size)), qsizetype(i), length);
            if (codePoint < 0) {
                replacement = "\xEF\xBF\xBD";
            } else if (codePoint != 0xFFFE && codePoint != 0xFFFF) {
                i += size_t(length);
                continue;
            }
        }
        put(std::string_view(utf8.data() + run, i - run));
        put(replacement);
        i += size_t(length);
        run = i;
    }
    put(std::string_view(utf8.data() + run, size - run));
}

} // namespace

void AppendXmlEscaped(QByteArray& out, QByteArrayView utf8, XmlEscaping how) {
    out.reserve(out.size() + utf8.size() + utf8.size() / 8);
    Escape(std::string_view(utf8.data(), size_t(utf8.size())), how,
           [&out](std::string_view part) { out.append(part.data(), qsizetype(part.size())); });
}

char* EscapeXmlInto(char* out, std::string_view utf8, XmlEscaping how) {
    Escape(utf8, how, [&out](std::string_view part) {
        std::memcpy(out, part.data(), part.size());
        out += part.size();
    });
    return out;
}

int DecodeUtf8(QByteArrayView utf8, qsizetype at, int& length) {
    const auto byte = [&](qsizetype i) { return i < utf8.size() ? uchar(utf8[i]) : 0u; };
    const uint first = byte(at);
    length = 1;
    if (first < 0x80)
        return int(first);
    int count;
    uint codePoint;
    if (first >= 0xC2 && first <= 0xDF)
        count = 1, codePoint = first & 0x1F;
    else if (first >= 0xE0 && first <= 0xEF)
        count = 2, codePoint = first & 0x0F;
    else if (first >= 0xF0 && first <= 0xF4)
        count = 3, codePoint = first & 0x07;
    else
        return -1;
    for (int i = 1; i <= count; ++i) {
        const uint next = byte(at + i);
        if ((next & 0xC0) != 0x80)
            return -1;
        codePoint = codePoint << 6 | (next & 0x3F);
    }
    static constexpr uint kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallest[count] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return -1;
    length = count + 1;
    return int(codePoint);
}

void AppendUtf8(QByteArray& out, char32_t c) {
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | c >> 6)).append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | c >> 12)).append(char(0x80 | (c >> 6 & 0x3F))).append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | c >> 18))
            .append(char(0x80 | (c >> 12 & 0x3F)))
            .append(char(0x80 | (c >> 6 & 0x3F)))
            .append(char(0x80 | (c & 0x3F)));
    }
}

namespace {

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
    bool HasAt(qsizetype i, std::string_view ascii) const {
        if (i + qsizetype(ascii.size()) > Count())
            return false;
        for (const char c : ascii) {
            if (At(i++) != uchar(c))
                return false;
        }
        return true;
    }
    // Where `ascii` next starts at or after `from`, or Count().
    qsizetype Find(std::string_view ascii, qsizetype from) const {
        for (qsizetype i = from; i < Count(); ++i) {
            if (HasAt(i, ascii))
                return i;
        }
        return Count();
    }
    void Append(QByteArray& out, QByteArrayView ascii) const {
        if (m_width == 1) {
            out.append(ascii);
            return;
        }
        for (const char c : ascii) {
            if (m_bigEndian)
                out.append('\0').append(c);
            else
                out.append(c).append('\0');
        }
    }
    QByteArrayView Bytes(qsizetype from, qsizetype to) const {
        return QByteArrayView(m_bytes).sliced(from * m_width, (to - from) * m_width);
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

bool IsDigit(uint c, bool hex) {
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// The end (past the ';') of the character reference at `at` (an '&'), or 0 when there is none.
qsizetype CharacterReferenceEnd(const UnitView& units, qsizetype at) {
    qsizetype i = at + 1;
    if (i >= units.Count() || units.At(i) != '#')
        return 0;
    const bool hex = ++i < units.Count() && units.At(i) == 'x';
    if (hex)
        ++i;
    const qsizetype digits = i;
    while (i < units.Count() && IsDigit(units.At(i), hex))
        ++i;
    return i > digits && i < units.Count() && units.At(i) == ';' ? i + 1 : 0;
}

// The same for an entity reference ("&name;").
qsizetype NamedReferenceEnd(const UnitView& units, qsizetype at) {
    const qsizetype name = at + 1;
    qsizetype i = name;
    while (i < units.Count() && IsNameUnit(units.At(i), i == name))
        ++i;
    return i > name && i < units.Count() && units.At(i) == ';' ? i + 1 : 0;
}

} // namespace

bool MendBareAmpersands(QByteArray& xml,
                        const std::function<std::optional<QByteArray>(QByteArrayView reference)>& named) {
    const UnitView units(xml);
    QByteArray out;
    qsizetype copied = 0; // in units
    bool changed = false;
    const auto replace = [&](qsizetype at, qsizetype end, QByteArrayView with) {
        if (!changed)
            out.reserve(xml.size() + xml.size() / 16);
        changed = true;
        out.append(units.Bytes(copied, at));
        units.Append(out, with);
        copied = end;
    };
    for (qsizetype i = 0; i < units.Count();) {
        const uint c = units.At(i);
        if (c == '<') {
            const char* close = units.HasAt(i, "<![CDATA[") ? "]]>"
                                : units.HasAt(i, "<!--")    ? "-->"
                                : units.HasAt(i, "<?")      ? "?>"
                                                            : nullptr;
            if (close) {
                i = std::min(units.Count(), units.Find(close, i + 2) + qsizetype(std::strlen(close)));
                continue;
            }
        }
        if (c != '&') {
            ++i;
            continue;
        }
        if (const qsizetype end = CharacterReferenceEnd(units, i)) {
            i = end;
            continue;
        }
        if (const qsizetype end = NamedReferenceEnd(units, i)) {
            if (!named || units.Width() != 1) {
                i = end;
                continue;
            }
            const QByteArrayView reference = units.Bytes(i, end);
            if (const std::optional<QByteArray> with = named(reference)) {
                if (*with != reference)
                    replace(i, end, *with);
                i = end;
                continue;
            }
        }
        replace(i, i + 1, "&amp;");
        ++i;
    }
    if (!changed)
        return false;
    out.append(units.Bytes(copied, units.Count()));
    // An odd byte at the end of UTF-16 is no unit, but it is the document's.
    out.append(QByteArrayView(xml).sliced(units.Count() * units.Width()));
    xml = std::move(out);
    return true;
}
