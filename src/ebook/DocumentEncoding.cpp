#include "ebook/DocumentEncoding.h"

#include "base/XmlText.h"
#include "ebook/HtmlSanitizer.h"

#include <QByteArrayView>
#include <QHash>
#include <QStringDecoder>

#include <cerrno>
#include <iconv.h>

namespace ebook {

namespace {

// The printable characters windows-1252 puts where ISO-8859-1 has C1 controls; the
// five positions it leaves undefined keep their ISO-8859-1 meaning.
constexpr char16_t kWindows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t Windows1252(uchar byte) {
    return byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte;
}

QByteArray FromWindows1252(QByteArrayView bytes) {
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes)
        AppendUtf8(out, Windows1252(uchar(c)));
    return out;
}

// Where the next U+0080..U+009F starts, from `from` on; -1 when there is none. In UTF-8 it
// takes two bytes, the first 0xC2.
qsizetype FindC1(QByteArrayView utf8, qsizetype from) {
    for (qsizetype at = utf8.indexOf('\xC2', from); at >= 0 && at + 1 < utf8.size();
         at = utf8.indexOf('\xC2', at + 1)) {
        if (uchar(utf8[at + 1]) >= 0x80 && uchar(utf8[at + 1]) < 0xA0)
            return at;
    }
    return -1;
}

// UTF-8 kept as it is, with every byte that is not part of a sequence read as windows-1252.
QByteArray MendUtf8(QByteArrayView bytes) {
    qsizetype i = 0;
    int length;
    while (i < bytes.size() && DecodeUtf8(bytes, i, length) >= 0)
        i += length;
    if (i == bytes.size())
        return bytes.toByteArray();
    QByteArray out = bytes.first(i).toByteArray();
    while (i < bytes.size()) {
        if (DecodeUtf8(bytes, i, length) >= 0)
            out.append(bytes.data() + i, length);
        else
            AppendUtf8(out, Windows1252(uchar(bytes[i])));
        i += length;
    }
    return out;
}

// The value of the encoding pseudo-attribute of a leading XML declaration, lower case.
QByteArray DeclaredEncoding(QByteArrayView text) {
    if (!text.startsWith("<?xml"))
        return QByteArray();
    const qsizetype end = text.indexOf("?>");
    const QByteArrayView declaration = text.first(end < 0 ? qMin<qsizetype>(text.size(), 256) : end);
    const qsizetype name = declaration.indexOf("encoding");
    if (name < 0)
        return QByteArray();
    qsizetype i = name + 8;
    while (i < declaration.size() &&
           (declaration[i] == ' ' || declaration[i] == '=' || declaration[i] == '\t'))
        ++i;
    if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
        return QByteArray();
    const qsizetype close = declaration.indexOf(declaration[i], i + 1);
    if (close < 0)
        return QByteArray();
    return declaration.sliced(i + 1, close - i - 1).toByteArray().trimmed().toLower();
}

class Iconv {
public:
    explicit Iconv(const QByteArray& from) : m_cd(iconv_open("UTF-8", from.constData())) {}
    ~Iconv() {
        if (Ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool Ok() const { return m_cd != iconv_t(-1); }

    // Converts the whole input; a byte the encoding has no character for becomes U+FFFD.
    QByteArray Convert(QByteArrayView in) {
        QByteArray out(in.size() * 2 + 16, Qt::Uninitialized);
        char* inPtr = const_cast<char*>(in.data());
        size_t inLeft = size_t(in.size());
        size_t done = 0;
        while (inLeft > 0) {
            char* outPtr = out.data() + done;
            size_t outLeft = size_t(out.size()) - done;
            const size_t result = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            done = size_t(outPtr - out.data());
            if (result != size_t(-1))
                break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
            } else if (errno == EILSEQ) {
                if (size_t(out.size()) - done < 3)
                    out.resize(out.size() * 2);
                memcpy(out.data() + done, "\xEF\xBF\xBD", 3);
                done += 3;
                ++inPtr;
                --inLeft;
            } else {
                break; // a sequence cut off at the end
            }
        }
        out.resize(qsizetype(done));
        return out;
    }

private:
    iconv_t m_cd;
};

bool IsLatin1Name(const QByteArray& name) {
    static const char* const kNames[] = {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1",    "latin-1",
                                         "l1",         "us-ascii",  "ascii",      "cp1252",    "windows-1252",
                                         "cp819",      "ibm819",    "x-cp1252",   "iso-ir-100"};
    for (const char* known : kNames)
        if (name == known)
            return true;
    return false;
}

} // namespace

QByteArrayView MendC1Controls(QByteArrayView utf8, QByteArray& buffer) {
    qsizetype at = FindC1(utf8, 0);
    if (at < 0)
        return utf8;
    buffer.clear();
    buffer.reserve(utf8.size() + 8);
    qsizetype from = 0;
    for (; at >= 0; at = FindC1(utf8, from)) {
        buffer.append(utf8.data() + from, at - from);
        AppendUtf8(buffer, Windows1252(uchar(utf8[at + 1])));
        from = at + 2;
    }
    buffer.append(utf8.data() + from, utf8.size() - from);
    return buffer;
}

QByteArray DocumentToUtf8(const QByteArray& document) {
    const QByteArrayView bytes(document);
    const auto unit = [&](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0x100u; };
    if (unit(0) == 0xEF && unit(1) == 0xBB && unit(2) == 0xBF)
        return MendUtf8(bytes.sliced(3));
    std::optional<QStringConverter::Encoding> wide;
    if (unit(0) == 0xFF && unit(1) == 0xFE && unit(2) == 0 && unit(3) == 0)
        wide = QStringConverter::Utf32LE;
    else if (unit(0) == 0 && unit(1) == 0 && unit(2) == 0xFE && unit(3) == 0xFF)
        wide = QStringConverter::Utf32BE;
    else if ((unit(0) == 0xFF && unit(1) == 0xFE) || (unit(0) == '<' && unit(1) == 0))
        wide = QStringConverter::Utf16LE;
    else if ((unit(0) == 0xFE && unit(1) == 0xFF) || (unit(0) == 0 && unit(1) == '<'))
        wide = QStringConverter::Utf16BE;
    if (wide) {
        QStringDecoder decoder(*wide, QStringConverter::Flag::Default);
        return QString(decoder(bytes)).toUtf8();
    }
    return DecodeAs(bytes, DeclaredEncoding(bytes));
}

QByteArray DecodeAs(QByteArrayView bytes, const QByteArray& encoding) {
    // A declared UTF-16 in a document of single bytes is what a server that re-encoded
    // the document without mending its declaration leaves behind.
    if (encoding.isEmpty() || encoding == "utf-8" || encoding == "utf8" || encoding.startsWith("utf-16") ||
        encoding.startsWith("utf-32"))
        return MendUtf8(bytes);
    if (IsLatin1Name(encoding))
        return FromWindows1252(bytes);
    Iconv converter(encoding);
    return converter.Ok() ? converter.Convert(bytes) : MendUtf8(bytes);
}

bool MendReferences(QByteArray& utf8) {
    QHash<QByteArray, QByteArray> decoded;
    return MendBareAmpersands(utf8, [&decoded](QByteArrayView reference) -> std::optional<QByteArray> {
        static const char* const kPredefined[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
        for (const char* entity : kPredefined) {
            if (reference == entity)
                return reference.toByteArray();
        }
        auto found = decoded.constFind(reference.toByteArray());
        if (found == decoded.constEnd()) {
            const QByteArray value = DecodeCharacterReferences(reference);
            QByteArray references;
            if (value != reference) {
                for (const char32_t codePoint : QString::fromUtf8(value).toUcs4())
                    references += "&#" + QByteArray::number(uint(codePoint)) + ';';
            }
            found = decoded.insert(reference.toByteArray(), references);
        }
        if (found->isEmpty())
            return std::nullopt;
        return *found;
    });
}

} // namespace ebook
