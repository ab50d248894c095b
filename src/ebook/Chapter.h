#pragma once

#include "ebook/FeedDocument.h"
#include "ebook/HtmlSanitizer.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <vector>

namespace ebook {

// What a chapter is made from besides its feed document.
struct ChapterSource {
    QString address;              // the record's address
    QByteArray subscriptionTitle; // from the channel block, UTF-8; may be empty
    QLocale locale;               // dates are written in it, in the local time zone
    ImageHook image;              // unset: images become their alternative text
    QByteArray stylesheet = "style.css";
};

// What the table of contents needs of a chapter, which is all the book keeps of it.
struct ChapterOutline {
    QByteArray title;                 // plain text, UTF-8
    std::vector<QByteArray> articles; // plain-text titles; article n has the anchor "a<n+1>"
    QByteArray language;              // well-formed language tag, or empty
    bool isFeed = false;
};

// One XHTML content document for one feed: its title and description, then each article
// with its title, date, author, link on the web and sanitised body. A document that is
// not a feed gives a chapter that says so in one sentence.
QByteArray WriteChapter(const Feed& feed, const ChapterSource& source, ChapterOutline* outline);

// A language tag as BCP 47 writes it ("en_us" gives "en-US"), or empty when it is none.
QByteArray NormalizedLanguage(QByteArrayView tag);

// The plain text of a feed's title or of an article's title.
QByteArray PlainText(const FeedText& text);

} // namespace ebook
