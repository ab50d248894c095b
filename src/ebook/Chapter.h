#pragma once

#include "ebook/FeedDocument.h"
#include "ebook/HtmlSanitizer.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <functional>
#include <vector>

namespace ebook {

// What a chapter is made from besides its feed document.
struct ChapterSource {
    QString address;              // the record's address
    QByteArray subscriptionTitle; // from the channel block, UTF-8; may be empty
    QLocale locale;               // dates are written in it, in the local time zone
    ImageHook image;              // unset: images become their alternative text
};

// What the table of contents needs of a chapter, which is all the book keeps of it.
struct ChapterOutline {
    QByteArray title;                 // plain text, UTF-8
    std::vector<QByteArray> articles; // plain-text titles; article n has the anchor "a<n+1>"
    QByteArray language;              // well-formed language tag, or empty
    bool isFeed = false;
};

// A feed's chapter in pieces of flow content, so that a book can cut it between articles.
struct ChapterText {
    QByteArray intro;                 // the title as a heading, the description, notes
    std::vector<QByteArray> articles; // each an <article id="a<n+1>">
    QByteArray closing;               // a note after the articles; may be empty
};

// The chapter of one feed: its title and description, then each article with its title,
// date, author, link on the web and sanitised body. A document that is not a feed gives a
// chapter that says so in one sentence.
ChapterText MakeChapter(const Feed& feed, const ChapterSource& source, ChapterOutline* outline);

// The chapter as one XHTML content document, opening with the list of its articles
// (when it has more than one) linked to them.
QByteArray WriteChapter(const Feed& feed, const ChapterSource& source, ChapterOutline* outline);

// An XHTML content document (UTF-8, with the book's stylesheet) around flow content.
QByteArray XhtmlDocument(const QByteArray& title, const QByteArray& language, const QByteArray& body,
                         bool epubNamespace = false);

// The linked list of articles `from` to `to` (not included) of a chapter, which opens it:
// `href(n)` is where article n is.
QByteArray ArticleList(const std::vector<QByteArray>& titles, int from, int to,
                       const std::function<QByteArray(int)>& href);

// A language tag as BCP 47 writes it ("en_us" gives "en-US"), or empty when it is none or
// its primary language is no ISO 639 language.
QByteArray NormalizedLanguage(QByteArrayView tag);

// The plain text of a feed's title or of an article's title: markup that publishers put
// into a title meant as text ("750ft<sup>2</sup>") is taken out, references decoded.
QByteArray PlainText(const FeedText& text);

} // namespace ebook
