#include "FuzzChecks.h"

#include "ebook/HtmlSanitizer.h"
#include "extract/ArticleFinder.h"

namespace pellavo::fuzz {

QString CheckArticleFinder(const QByteArray& input) {
    if (input.isEmpty())
        return QString();
    static const char* const kContentTypes[] = {"", "text/html; charset=utf-8",
                                                "text/html; charset=iso-8859-1",
                                                "text/html; charset=shift_jis", "text/html; charset=no-such"};
    const QByteArrayView contentType(kContentTypes[uchar(input[0]) % std::size(kContentTypes)]);
    const QByteArray page = input.mid(1);
    const std::optional<extract::Article> article = extract::FindArticle(
        {page, QUrl(QStringLiteral("https://site.example/a/b.html")), contentType, ebook::ImageAltText});
    if (!article)
        return QString();
    if (article->textLength <= 0)
        return QStringLiteral("an article was found without text");
    return XhtmlProblem("<div xmlns=\"http://www.w3.org/1999/xhtml\">" + article->xhtml + "</div>");
}

} // namespace pellavo::fuzz
