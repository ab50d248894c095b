#include "ebook/XmlText.h"

namespace ebook {

namespace {

bool IsXmlChar(int c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

} // namespace

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

void AppendXmlEscaped(QByteArray& out, QByteArrayView utf8) {
    out.reserve(out.size() + utf8.size() + utf8.size() / 8);
    qsizetype plain = 0; // start of the bytes that go out as they are
    const auto flush = [&](qsizetype to) { out.append(utf8.data() + plain, to - plain); };
    for (qsizetype i = 0; i < utf8.size();) {
        const char c = utf8[i];
        const char* entity = nullptr;
        switch (c) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        default:
            break;
        }
        if (entity) {
            flush(i);
            out.append(entity);
            plain = ++i;
            continue;
        }
        if (uchar(c) >= 0x20 && uchar(c) < 0x80) {
            ++i;
            continue;
        }
        int length;
        const int codePoint = DecodeUtf8(utf8, i, length);
        if (codePoint >= 0 && IsXmlChar(codePoint)) {
            i += length;
            continue;
        }
        flush(i);
        i += length;
        plain = i;
    }
    flush(utf8.size());
}

} // namespace ebook
