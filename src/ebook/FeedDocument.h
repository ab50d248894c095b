#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <vector>

namespace ebook {

enum class FeedFormat { NotAFeed, Rss, Rdf, Atom03, Atom10 };

// A piece of text from a feed, UTF-8, with what it holds.
struct FeedText {
    enum class Kind {
        Text,     // plain text
        Entities, // plain text in which publishers put HTML character references (RSS titles)
        Html,     // HTML (RSS descriptions, Atom type="html"; type="xhtml" is given as its markup)
    };
    QByteArray value;
    Kind kind = Kind::Text;
    QUrl base; // what relative links in it are resolved against

    bool IsEmpty() const { return value.trimmed().isEmpty(); }
};

struct Article {
    FeedText title;
    QUrl link;       // on the web: the link, else a guid that is a permalink; http(s) only
    QByteArray date; // as the feed gives it
    QByteArray id;   // the guid or Atom id as the feed gives it, trimmed; may be empty
    QByteArray author;
    FeedText body; // the richest the item offers
    // A picture the item offers beside its body: an image enclosure, else a media:content
    // of an image type, else a media:thumbnail; http(s) only.
    QUrl picture;
};

struct Feed {
    FeedFormat format = FeedFormat::NotAFeed;
    FeedText title;
    FeedText description;
    QUrl link;
    QByteArray language; // as the feed gives it
    std::vector<Article> articles;
    bool complete = true; // false when the document broke off; what came before is here
};

// Reads a feed document as a news feed file stores it (so perhaps without its document
// type declaration and its first default namespace): RSS 0.91, 0.92, 2.0, RSS 1.0 and 0.90
// (RDF), Atom 0.3 and 1.0, with the content, Dublin Core, Atom and Media RSS namespaces
// under any prefix. Formats are told apart by their elements. A document that is not XML, or whose
// root is no feed's, gives format NotAFeed.
Feed ReadFeedDocument(const QByteArray& document, const QUrl& documentUrl);

// An item of a feed document: where it is, as offsets into the document's bytes, and its
// guid or Atom id, exactly as ReadFeedDocument gives it in Article::id.
struct ItemSpan {
    qsizetype begin = 0; // at its start tag's '<'
    qsizetype end = 0;   // just past its end tag
    QByteArray id;       // never empty
};

// The items of a feed document whose ids a quick reading can vouch for, in document order,
// found without reading their contents, for a reader that needs only to know which items a
// document carries. An item without an id, or whose id this reading cannot be sure of, is
// left out; so is every item of a document it cannot follow: one in a multi-byte encoding,
// with a document type declaration (which may define entities), with namespaces that make the
// feed's own elements another vocabulary's, or whose markup does not nest.
std::vector<ItemSpan> ScanFeedItems(const QByteArray& document);

// The document without the items of `spans` (in document order, as ScanFeedItems gives
// them); ReadFeedDocument reads the rest as it read it in the whole document.
QByteArray WithoutItems(const QByteArray& document, const std::vector<ItemSpan>& spans);

} // namespace ebook
