#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QUrl>

#include <functional>

namespace ebook {

// An image of an article, as the sanitiser found it.
struct ImageInfo {
    QUrl source;      // resolved and of an allowed scheme, or empty
    QByteArray alt;   // UTF-8
    QByteArray title; // UTF-8
};

// Decides what an image becomes: the XHTML to put in its place, which must be phrasing
// content (text, or an <img/> of a picture stored in the book).
using ImageHook = std::function<QByteArray(const ImageInfo&)>;

// What an image becomes when the book carries no pictures: its alternative text.
QByteArray ImageAltText(const ImageInfo& image);

struct HtmlOptions {
    QUrl base;         // relative links are resolved against it; without it they are dropped
    ImageHook image;   // unset: ImageAltText
    int textLimit = 0; // how much plain text (bytes) to collect alongside, for a title
};

struct SanitizedHtml {
    QByteArray xhtml;       // flow content, well-formed XHTML
    QByteArray text;        // the first textLimit bytes or so of its plain text, spaces collapsed
    bool shortened = false; // the HTML was too large to take whole: it was cut
};

// Parses HTML (a fragment, as a feed carries it) with an HTML5 parser and writes it back as
// XHTML through an allow-list: paragraphs, headings, lists, links, emphasis, quotes, code
// and pre, tables and figures stay; scripts, styles, frames, objects, embeds, applets,
// forms, meta, link and base go with everything in them; other elements give way to their
// content; attributes are dropped but for links, citations, table spans, list starts and
// text direction, and a URL stays only when it resolves to http, https (or, for links,
// mailto). What stays is nested the way EPUB reading systems validate it: a block inside a
// paragraph or a heading gives way to its content, stray list content is put into items.
// HTML escaped twice (no tags, but "&lt;p&gt;") is unescaped once first. The tree is walked
// without recursion, however deep the input nests.
SanitizedHtml SanitizeHtml(QByteArrayView html, const HtmlOptions& options);

// The text of an HTML fragment, spaces collapsed, without the content of scripts and styles.
QByteArray HtmlToText(QByteArrayView html);

// Decodes the HTML character references (named, decimal and hexadecimal) of plain text;
// everything else, '<' included, stays as it is.
QByteArray DecodeCharacterReferences(QByteArrayView text);

// `raw` resolved against `base` when it is relative, if the result is http or https (or
// mailto when `allowMail`); otherwise an empty URL. Spaces at either end and tabs and
// line breaks inside are ignored, as browsers ignore them.
QUrl SafeUrl(const QUrl& base, QByteArrayView raw, bool allowMail);

// Spaces, tabs and line breaks collapsed to single spaces, none at either end.
QByteArray CollapseSpaces(QByteArrayView text);

} // namespace ebook
