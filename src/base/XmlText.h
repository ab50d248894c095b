#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <optional>
#include <string_view>

// How a value is escaped for XML.
enum class XmlEscaping {
    // Character data, or an attribute value whose blanks may be read as spaces: &, <, > and
    // " become entities, tabs and line breaks stay as they are.
    Text,
    // An attribute value that must read back exactly as it was: ' as well, and tab, line
    // feed and carriage return as character references, which a reader does not normalise.
    ExactAttribute,
};

// No byte of the input takes more than this many bytes escaped ("&quot;").
inline constexpr qsizetype kXmlEscapedGrowth = 6;

// Whatever comes in, what these put out is well-formed UTF-8 XML text: broken UTF-8 becomes
// U+FFFD (so that the loss shows) and the characters XML 1.0 forbids (the C0 controls but
// tab, line feed and carriage return, and U+FFFE, U+FFFF) are left out.
void AppendXmlEscaped(QByteArray& out, QByteArrayView utf8, XmlEscaping how = XmlEscaping::Text);

inline QByteArray XmlEscaped(QByteArrayView utf8, XmlEscaping how = XmlEscaping::Text) {
    QByteArray out;
    AppendXmlEscaped(out, utf8, how);
    return out;
}

// The same into a buffer with room for kXmlEscapedGrowth bytes per byte of `utf8`;
// returns the end of what was written.
char* EscapeXmlInto(char* out, std::string_view utf8, XmlEscaping how = XmlEscaping::Text);

// The code point of the UTF-8 sequence at `at`, or -1 when it is not one (overlong,
// surrogate, beyond U+10FFFF, cut off); `length` gets the bytes it takes (1 when invalid).
int DecodeUtf8(QByteArrayView utf8, qsizetype at, int& length);

// Appends one code point as UTF-8.
void AppendUtf8(QByteArray& out, char32_t codePoint);

// Mends the ampersands that keep a document from being well-formed: a bare '&' becomes
// "&amp;". A character reference ("&#233;", "&#xE9;") is kept, and so is a named one
// ("&name;") unless `named` says otherwise: given the whole reference, it returns what
// stands in its place, or nothing when the '&' is to be escaped as a bare one. CDATA
// sections, comments and processing instructions are left alone. A document in UTF-16
// (with a byte-order mark or starting with '<') is mended in its own code units, and
// keeps its named references. Returns whether anything changed.
bool MendBareAmpersands(QByteArray& xml,
                        const std::function<std::optional<QByteArray>(QByteArrayView reference)>& named = {});
