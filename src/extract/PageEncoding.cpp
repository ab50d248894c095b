#include "extract/PageEncoding.h"

#include "ebook/DocumentEncoding.h"

namespace extract {

namespace {

// How far into a page its charset is looked for. Browsers stop at 1024 bytes; pages that
// put scripts and comments first still name it a little further on.
constexpr qsizetype kMetaScanBytes = 16 * 1024;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// The value after "charset" (and '=') at `at`, up to a quote, space or ';'.
QByteArray CharsetValue(QByteArrayView text, qsizetype at) {
    qsizetype i = at + 7;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    if (i >= text.size() || text[i] != '=')
        return QByteArray();
    ++i;
    while (i < text.size() && (IsSpace(text[i]) || text[i] == '"' || text[i] == '\''))
        ++i;
    const qsizetype start = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '"' && text[i] != '\'' && text[i] != ';' &&
           text[i] != '>' && text[i] != '/')
        ++i;
    return text.sliced(start, i - start).toByteArray().toLower();
}

// The names pages use for what iconv knows better under a superset's name, as browsers
// read them: a page labelled GB2312 or Shift_JIS uses the vendors' extensions.
QByteArray Canonical(QByteArray name) {
    static const struct {
        const char* label;
        const char* name;
    } kAliases[] = {
        {"gb2312", "gb18030"},
        {"gbk", "gb18030"},
        {"x-gbk", "gb18030"},
        {"chinese", "gb18030"},
        {"shift_jis", "cp932"},
        {"shift-jis", "cp932"},
        {"sjis", "cp932"},
        {"x-sjis", "cp932"},
        {"ms_kanji", "cp932"},
        {"windows-31j", "cp932"},
        {"euc-kr", "cp949"},
        {"ks_c_5601-1987", "cp949"},
        {"iso-8859-9", "windows-1254"},
        {"latin5", "windows-1254"},
        {"tis-620", "cp874"},
        {"iso-8859-11", "cp874"},
        {"unicode", "utf-8"},
        {"x-user-defined", "windows-1252"},
    };
    for (const auto& alias : kAliases)
        if (name == alias.label)
            return alias.name;
    return name;
}

} // namespace

QByteArray ContentTypeCharset(QByteArrayView contentType) {
    const QByteArray lower = contentType.toByteArray().toLower();
    const qsizetype at = lower.indexOf("charset");
    return at < 0 ? QByteArray() : CharsetValue(lower, at);
}

QByteArray MetaCharset(QByteArrayView page) {
    const QByteArray head = page.first(qMin(page.size(), kMetaScanBytes)).toByteArray().toLower();
    for (qsizetype at = head.indexOf("<meta"); at >= 0; at = head.indexOf("<meta", at + 5)) {
        const qsizetype end = head.indexOf('>', at);
        const QByteArrayView tag = QByteArrayView(head).sliced(at, (end < 0 ? head.size() : end) - at);
        // Both <meta charset="..."> and the charset inside a Content-Type's content.
        const qsizetype charset = tag.indexOf("charset");
        if (charset >= 0) {
            const QByteArray value = CharsetValue(tag, charset);
            if (!value.isEmpty())
                return value;
        }
    }
    return QByteArray();
}

QByteArray PageToUtf8(QByteArrayView page, QByteArrayView contentType) {
    const QByteArray bytes = page.toByteArray();
    const bool bom =
        bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
    if (bom)
        return ebook::DocumentToUtf8(bytes);
    QByteArray charset = Canonical(ContentTypeCharset(contentType));
    if (charset.isEmpty()) {
        // A page cannot name UTF-16 in its own bytes; browsers take that name for UTF-8.
        charset = Canonical(MetaCharset(page));
        if (charset.startsWith("utf-16") || charset.startsWith("utf-32"))
            charset = "utf-8";
    }
    if (charset.isEmpty() || charset.startsWith("utf-16") || charset.startsWith("utf-32"))
        return ebook::DocumentToUtf8(bytes);
    return ebook::DecodeAs(page, charset);
}

} // namespace extract
