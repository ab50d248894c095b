#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace ebook {

// Appends UTF-8 text escaped for XML character data or a double-quoted attribute value.
// Bytes that are not UTF-8 and characters that XML 1.0 forbids (most C0 controls, U+FFFE,
// U+FFFF) are left out, so whatever comes in, the output is well-formed.
void AppendXmlEscaped(QByteArray& out, QByteArrayView utf8);

inline QByteArray XmlEscaped(QByteArrayView utf8) {
    QByteArray out;
    AppendXmlEscaped(out, utf8);
    return out;
}

// The code point of the UTF-8 sequence at `at`, or -1 when it is not one (overlong,
// surrogate, beyond U+10FFFF, cut off); `length` gets the bytes it takes (1 when invalid).
int DecodeUtf8(QByteArrayView utf8, qsizetype at, int& length);

// Appends one code point as UTF-8.
void AppendUtf8(QByteArray& out, char32_t codePoint);

} // namespace ebook
