#pragma once

#include "ebook/HtmlSanitizer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QUrl>

#include <optional>

namespace extract {

// Pages larger than this are not read: no article is that long, and the parse of a page
// takes memory that grows with it.
constexpr qsizetype kMaxPageBytes = qsizetype(5) << 20;

struct Article {
    QByteArray xhtml;         // flow content, well-formed XHTML that passed the e-book's sanitiser
    QByteArray title;         // the page's own title (UTF-8), or empty
    qsizetype textLength = 0; // characters of plain text in xhtml
};

struct PageInput {
    QByteArrayView bytes;       // the page as it came
    QUrl address;               // where it came from: links and pictures resolve against it
    QByteArrayView contentType; // the HTTP Content-Type header, when known
    ebook::ImageHook image;     // what a picture becomes; unset: an <img/> with its address
};

// The article of a web page: its own text, figures and pictures, without the site's
// navigation, headers and footers, side bars, share buttons, comments, lists of other
// articles and notices. Nothing when the page holds no article or is over kMaxPageBytes.
std::optional<Article> FindArticle(const PageInput& page);

// The number of characters of plain text in a piece of XHTML, spaces collapsed.
qsizetype TextLength(QByteArrayView html);

} // namespace extract
