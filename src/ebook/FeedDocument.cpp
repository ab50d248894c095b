#include "ebook/FeedDocument.h"

#include "base/XmlText.h"
#include "ebook/DocumentEncoding.h"
#include "model/ExpatImpl.h"

#include <cstring>
#include <iterator>
#include <string_view>

namespace ebook {

namespace {

// Vocabularies the reader knows. Unprefixed elements are the core one whatever default
// namespace the document declared, since the news feed file's cleaning may have taken it.
enum class Vocab { Core, Content, DublinCore, DublinTerms, Rdf, Feedburner, Media, Other };

Vocab VocabOfUri(QByteArrayView uri) {
    static const struct {
        const char* uri;
        Vocab vocab;
    } kKnown[] = {
        {"http://www.w3.org/2005/Atom", Vocab::Core},
        {"http://purl.org/atom/ns#", Vocab::Core},
        {"http://purl.org/rss/1.0/", Vocab::Core},
        {"http://my.netscape.com/rdf/simple/0.9/", Vocab::Core},
        {"http://backend.userland.com/rss2", Vocab::Core},
        {"http://purl.org/rss/1.0/modules/content/", Vocab::Content},
        {"http://purl.org/dc/elements/1.1/", Vocab::DublinCore},
        {"http://purl.org/dc/terms/", Vocab::DublinTerms},
        {"http://www.w3.org/1999/02/22-rdf-syntax-ns#", Vocab::Rdf},
        {"http://rssnamespace.org/feedburner/ext/1.0", Vocab::Feedburner},
        {"http://search.yahoo.com/mrss/", Vocab::Media},
        {"http://search.yahoo.com/mrss", Vocab::Media},
    };
    for (const auto& known : kKnown)
        if (uri == known.uri)
            return known.vocab;
    return Vocab::Other;
}

// Publishers who forget to declare a prefix still mean the usual one.
Vocab VocabOfPrefix(QByteArrayView prefix) {
    if (prefix == "atom")
        return Vocab::Core;
    if (prefix == "content")
        return Vocab::Content;
    if (prefix == "dc")
        return Vocab::DublinCore;
    if (prefix == "dcterms")
        return Vocab::DublinTerms;
    if (prefix == "rdf")
        return Vocab::Rdf;
    if (prefix == "feedburner")
        return Vocab::Feedburner;
    if (prefix == "media")
        return Vocab::Media;
    return Vocab::Other;
}

enum class Role { Other, Root, Channel, Item, Author, Field, Media };

enum class Field {
    None,
    Title,
    Link,
    Guid,
    PlainGuid, // a guid that is no permalink: an identity only
    Id,
    Description,
    Encoded,
    Content,
    Summary,
    Language,
    Date,
    Author,
    Creator,
    AuthorName,
    OrigLink,
};

// Which of an item's times is shown: the first of these the item has.
int DateRank(Vocab vocab, QByteArrayView local) {
    if (vocab == Vocab::Core) {
        static const char* const kOrder[] = {"pubDate", "published", "issued",
                                             "updated", "modified",  "created"};
        for (int i = 0; i < int(std::size(kOrder)); ++i)
            if (local == kOrder[i])
                return i == 0 ? 1 : i + 2;
    }
    if (vocab == Vocab::DublinCore && local == "date")
        return 2;
    if (vocab == Vocab::DublinTerms && (local == "modified" || local == "created" || local == "issued"))
        return 10;
    return 0;
}

struct Frame {
    Role role;
    int namespaces; // declarations in force before this element
    QUrl base;
    bool explicitBase; // an xml:base on this element or one around it
};

struct Capture {
    Field field = Field::None;
    int depth = -1; // of the element whose content is captured
    bool markup = false;
    bool base64 = false;
    bool entities = false;
    FeedText::Kind kind = FeedText::Kind::Text;
    int rank = 0;
    QUrl base;
    bool explicitBase = false;
};

struct ItemState {
    Article article;
    FeedText encoded, content, description, summary;
    QUrl guidLink, alternate, origLink;
    QByteArray authors, creators, rssAuthor;
    int dateRank = 100;
    bool alternateIsPage = false;
    QUrl picture;
    int pictureRank = 100;
};

QByteArray AttributeValue(const XML_Char** attributes, const char* name) {
    for (const XML_Char** attribute = attributes; attribute[0]; attribute += 2)
        if (!strcmp(attribute[0], name))
            return QByteArray(attribute[1]);
    return QByteArray();
}

bool HasAttribute(const XML_Char** attributes, const char* name) {
    for (const XML_Char** attribute = attributes; attribute[0]; attribute += 2)
        if (!strcmp(attribute[0], name))
            return true;
    return false;
}

QByteArrayView LocalName(const char* name, QByteArrayView& prefix) {
    const QByteArrayView whole(name, qsizetype(strlen(name)));
    const qsizetype colon = whole.indexOf(':');
    prefix = colon < 0 ? QByteArrayView() : whole.first(colon);
    return colon < 0 ? whole : whole.sliced(colon + 1);
}

QUrl WebLink(const QUrl& base, QByteArrayView text) {
    const QByteArray trimmed = text.toByteArray().trimmed();
    if (trimmed.isEmpty())
        return QUrl();
    QUrl url(QString::fromUtf8(trimmed), QUrl::TolerantMode);
    if (url.isRelative() && base.isValid())
        url = base.resolved(url);
    const QString scheme = url.scheme().toLower();
    if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty())
        return url;
    return QUrl();
}

void AppendName(QByteArray& names, QByteArrayView name) {
    const QByteArray trimmed = name.toByteArray().simplified();
    if (trimmed.isEmpty())
        return;
    if (!names.isEmpty())
        names += ", ";
    names += trimmed;
}

// Whether an enclosure or a media object is a picture: by its type, else by its kind,
// else by how its address ends.
bool IsPictureType(const QByteArray& type, const QByteArray& medium, const QUrl& url) {
    const QByteArray mediaType = type.trimmed().toLower();
    if (!mediaType.isEmpty())
        return mediaType.startsWith("image/");
    const QByteArray kind = medium.trimmed().toLower();
    if (!kind.isEmpty())
        return kind == "image";
    const QString path = url.path().toLower();
    for (const char* suffix : {".jpg", ".jpeg", ".png", ".gif", ".webp"})
        if (path.endsWith(QLatin1String(suffix)))
            return true;
    return false;
}

// RSS wants an e-mail address in <author>, which most give as "jo@example.com (Jo Doe)".
QByteArray RssAuthorName(const QByteArray& text) {
    const QByteArray trimmed = text.simplified();
    const qsizetype open = trimmed.indexOf('(');
    if (open > 0 && trimmed.endsWith(')') && trimmed.left(open).contains('@'))
        return trimmed.mid(open + 1, trimmed.size() - open - 2).trimmed();
    return trimmed;
}

class FeedParser : public ExpatImpl<FeedParser> {
public:
    FeedParser(Feed& feed, const QUrl& documentUrl) : m_feed(feed), m_documentUrl(documentUrl) {}

    // Whether the whole document parsed.
    bool Parse(const QByteArray& utf8) {
        if (!Create())
            return false;
        XML_SetEncoding(m_p, "UTF-8");
        constexpr qsizetype kChunk = 1 << 20;
        for (qsizetype at = 0;; at += kChunk) {
            const qsizetype length = qMin(kChunk, utf8.size() - at);
            const bool last = at + length >= utf8.size();
            if (XML_Parse(m_p, utf8.constData() + at, int(length), last) != XML_STATUS_OK)
                return false;
            if (last)
                return true;
        }
    }

    void OnStartElement(const XML_Char* name, const XML_Char** attributes) {
        const int namespaces = int(m_namespaces.size());
        for (const XML_Char** attribute = attributes; attribute[0]; attribute += 2) {
            if (!strncmp(attribute[0], "xmlns", 5) && (attribute[0][5] == ':' || attribute[0][5] == 0))
                m_namespaces.push_back({attribute[0][5] ? attribute[0] + 6 : "", attribute[1]});
        }
        const Frame* parent = m_stack.empty() ? nullptr : &m_stack.back();
        QUrl base = parent ? parent->base : m_documentUrl;
        bool explicitBase = parent && parent->explicitBase;
        if (HasAttribute(attributes, "xml:base")) {
            const QUrl given(QString::fromUtf8(AttributeValue(attributes, "xml:base")), QUrl::TolerantMode);
            base = base.isValid() ? base.resolved(given) : given;
            explicitBase = true;
        }
        const int depth = int(m_stack.size());
        const Role parentRole = parent ? parent->role : Role::Other;

        if (m_capture.field != Field::None) {
            if (m_capture.markup) {
                QByteArrayView prefix;
                m_text.append('<').append(LocalName(name, prefix));
                for (const XML_Char** attribute = attributes; attribute[0]; attribute += 2) {
                    if (!strncmp(attribute[0], "xmlns", 5) || strchr(attribute[0], ':'))
                        continue;
                    m_text.append(' ').append(attribute[0]).append("=\"");
                    AppendXmlEscaped(m_text, MendC1Controls(attribute[1], m_mended));
                    m_text.append('"');
                }
                m_text.append('>');
            }
            m_stack.push_back({Role::Other, namespaces, base, explicitBase});
            return;
        }

        QByteArrayView prefix;
        const QByteArrayView local = LocalName(name, prefix);
        const Vocab vocab = VocabOf(prefix);
        Role role = Role::Other;
        if (depth == 0) {
            role = RootRole(vocab, local, attributes);
            if (m_feed.format == FeedFormat::NotAFeed) {
                XML_StopParser(m_p, XML_FALSE);
                return;
            }
            if (role == Role::Channel)
                Language(AttributeValue(attributes, "xml:lang"));
        } else if (parentRole == Role::Root && vocab == Vocab::Core && local == "channel") {
            role = Role::Channel;
        } else if ((parentRole == Role::Channel ||
                    (parentRole == Role::Root && m_feed.format == FeedFormat::Rdf)) &&
                   vocab == Vocab::Core && (local == "item" || local == "entry")) {
            role = Role::Item;
            m_item = ItemState();
        } else if ((parentRole == Role::Channel || parentRole == Role::Item) && vocab == Vocab::Core &&
                   (local == "author" || local == "contributor") && IsAtom()) {
            role = Role::Author;
        } else if ((parentRole == Role::Item || parentRole == Role::Media) && vocab == Vocab::Media) {
            // A media:content may hold its own thumbnail, a media:group several of both.
            if (local == "group" || local == "content")
                role = Role::Media;
            if (local == "content" || local == "thumbnail")
                MediaPicture(local == "content" ? 2 : 3, attributes, base);
        } else if (parentRole == Role::Item && vocab == Vocab::Core && local == "enclosure") {
            if (IsPictureType(AttributeValue(attributes, "type"), QByteArray(), QUrl()))
                Picture(1, WebLink(base, AttributeValue(attributes, "url")));
        } else if (parentRole == Role::Channel || parentRole == Role::Item || parentRole == Role::Author) {
            role = StartField(parentRole, vocab, local, attributes, depth, base, explicitBase);
        }
        m_stack.push_back({role, namespaces, base, explicitBase});
    }

    void OnEndElement(const XML_Char* name) {
        if (m_stack.empty())
            return;
        const Frame frame = m_stack.back();
        m_stack.pop_back();
        const int depth = int(m_stack.size());
        m_namespaces.resize(size_t(frame.namespaces));
        if (m_capture.field != Field::None) {
            if (depth == m_capture.depth) {
                EndField(frame);
            } else if (m_capture.markup) {
                QByteArrayView prefix;
                m_text.append("</").append(LocalName(name, prefix)).append('>');
            }
            return;
        }
        if (frame.role == Role::Item)
            EndItem();
    }

    void OnCharacterData(const XML_Char* text, int length) {
        if (m_capture.field == Field::None)
            return;
        const QByteArrayView view = MendC1Controls(QByteArrayView(text, length), m_mended);
        if (m_capture.markup)
            AppendXmlEscaped(m_text, view);
        else
            m_text.append(view);
    }

private:
    Vocab VocabOf(QByteArrayView prefix) const {
        for (auto it = m_namespaces.rbegin(); it != m_namespaces.rend(); ++it) {
            if (it->first == prefix) {
                const Vocab vocab = VocabOfUri(it->second);
                // An unknown default namespace is still the feed's own vocabulary.
                return prefix.isEmpty() && vocab == Vocab::Other ? Vocab::Core : vocab;
            }
        }
        return prefix.isEmpty() ? Vocab::Core : VocabOfPrefix(prefix);
    }

    bool IsAtom() const { return m_feed.format == FeedFormat::Atom03 || m_feed.format == FeedFormat::Atom10; }

    Role RootRole(Vocab vocab, QByteArrayView local, const XML_Char** attributes) {
        if (vocab == Vocab::Core && local == "rss") {
            m_feed.format = FeedFormat::Rss;
            return Role::Root;
        }
        if ((vocab == Vocab::Rdf || vocab == Vocab::Core) && local == "RDF") {
            m_feed.format = FeedFormat::Rdf;
            return Role::Root;
        }
        if (vocab == Vocab::Core && local == "feed") {
            const bool old = AttributeValue(attributes, "version").trimmed() == "0.3" ||
                             AttributeValue(attributes, "xmlns") == "http://purl.org/atom/ns#";
            m_feed.format = old ? FeedFormat::Atom03 : FeedFormat::Atom10;
            return Role::Channel;
        }
        return Role::Other;
    }

    void Language(const QByteArray& language) {
        if (m_feed.language.isEmpty())
            m_feed.language = language.trimmed();
    }

    // How an Atom text construct or content element holds its text.
    bool TextConstruct(const XML_Char** attributes) {
        const QByteArray type = AttributeValue(attributes, "type").trimmed().toLower();
        const QByteArray mode = AttributeValue(attributes, "mode").trimmed().toLower();
        m_capture.base64 = mode == "base64";
        if (type == "xhtml" || type == "application/xhtml+xml" || ((type == "text/html") && mode == "xml")) {
            m_capture.kind = FeedText::Kind::Html;
            m_capture.markup = true;
        } else if (type == "html" || type == "text/html") {
            m_capture.kind = FeedText::Kind::Html;
        } else if (type.isEmpty() || type == "text" || type.startsWith("text/")) {
            m_capture.kind = FeedText::Kind::Text;
        } else {
            return false; // a picture, a video, something else that is not text
        }
        return true;
    }

    Role StartField(Role parent, Vocab vocab, QByteArrayView local, const XML_Char** attributes, int depth,
                    const QUrl& base, bool explicitBase) {
        m_capture = Capture();
        m_capture.depth = depth;
        m_capture.base = base;
        m_capture.explicitBase = explicitBase;
        Field field = Field::None;
        const bool atom = IsAtom();
        if (parent == Role::Author) {
            if (vocab == Vocab::Core && local == "name")
                field = Field::AuthorName;
        } else if (vocab == Vocab::Core) {
            if (local == "title") {
                field = Field::Title;
                if (atom && !TextConstruct(attributes))
                    field = Field::None;
                else if (!atom)
                    m_capture.kind = FeedText::Kind::Entities;
            } else if (local == "link") {
                if (HasAttribute(attributes, "href"))
                    AtomLink(parent, attributes, base);
                else
                    field = Field::Link;
            } else if (local == "guid" && parent == Role::Item) {
                field = AttributeValue(attributes, "isPermaLink").trimmed().toLower() == "false"
                            ? Field::PlainGuid
                            : Field::Guid;
            } else if (local == "id" && parent == Role::Item && atom) {
                field = Field::Id;
            } else if (local == "description") {
                field = Field::Description;
                m_capture.kind = FeedText::Kind::Html;
            } else if (local == "subtitle" || local == "tagline" || local == "summary" ||
                       (local == "content" && parent == Role::Item && !HasAttribute(attributes, "src"))) {
                field = local == "content"   ? Field::Content
                        : local == "summary" ? Field::Summary
                                             : Field::Description;
                if (!TextConstruct(attributes))
                    field = Field::None;
            } else if (local == "language" && parent == Role::Channel) {
                field = Field::Language;
            } else if (local == "author" && parent == Role::Item) {
                field = Field::Author;
            } else if (const int rank = DateRank(vocab, local); rank && parent == Role::Item) {
                field = Field::Date;
                m_capture.rank = rank;
            }
        } else if (vocab == Vocab::Content && local == "encoded" && parent == Role::Item) {
            field = Field::Encoded;
            m_capture.kind = FeedText::Kind::Html;
        } else if (vocab == Vocab::DublinCore) {
            if (local == "language" && parent == Role::Channel)
                field = Field::Language;
            else if (local == "creator" && parent == Role::Item)
                field = Field::Creator;
            else if (local == "title" && parent == Role::Item && m_item.article.title.IsEmpty())
                field = Field::Title, m_capture.kind = FeedText::Kind::Entities;
            else if (local == "description")
                field = Field::Description, m_capture.kind = FeedText::Kind::Html;
            else if (const int rank = DateRank(vocab, local); rank && parent == Role::Item)
                field = Field::Date, m_capture.rank = rank;
        } else if (vocab == Vocab::DublinTerms) {
            if (const int rank = DateRank(vocab, local); rank && parent == Role::Item)
                field = Field::Date, m_capture.rank = rank;
        } else if (vocab == Vocab::Feedburner && local == "origLink" && parent == Role::Item) {
            field = Field::OrigLink;
        }
        m_capture.field = field;
        m_capture.depth = field == Field::None ? -1 : depth;
        m_text.clear();
        return field == Field::None ? Role::Other : Role::Field;
    }

    // The item's picture beside its body: the best ranked (lowest) of those it offers, the
    // first of equals.
    void Picture(int rank, const QUrl& url) {
        if (!url.isEmpty() && rank < m_item.pictureRank)
            m_item.picture = url, m_item.pictureRank = rank;
    }

    void MediaPicture(int rank, const XML_Char** attributes, const QUrl& base) {
        const QUrl url = WebLink(base, AttributeValue(attributes, "url"));
        if (rank == 3 ||
            IsPictureType(AttributeValue(attributes, "type"), AttributeValue(attributes, "medium"), url))
            Picture(rank, url);
    }

    void AtomLink(Role parent, const XML_Char** attributes, const QUrl& base) {
        const QByteArray rel = AttributeValue(attributes, "rel").trimmed().toLower();
        if (rel == "enclosure" && parent == Role::Item) {
            if (IsPictureType(AttributeValue(attributes, "type"), QByteArray(), QUrl()))
                Picture(1, WebLink(base, AttributeValue(attributes, "href")));
            return;
        }
        if (!rel.isEmpty() && rel != "alternate" &&
            rel != "http://www.iana.org/assignments/relation/alternate")
            return;
        const QUrl link = WebLink(base, AttributeValue(attributes, "href"));
        if (link.isEmpty())
            return;
        const QByteArray type = AttributeValue(attributes, "type").trimmed().toLower();
        const bool page = type.isEmpty() || type.contains("html");
        if (parent == Role::Item) {
            if (m_item.alternate.isEmpty() || (page && !m_item.alternateIsPage))
                m_item.alternate = link, m_item.alternateIsPage = page;
        } else if (parent == Role::Channel && m_feed.link.isEmpty()) {
            m_feed.link = link;
        }
    }

    FeedText CapturedText() {
        FeedText text;
        text.kind = m_capture.kind;
        text.value = m_capture.base64 ? QByteArray::fromBase64(m_text) : m_text;
        text.base = m_capture.explicitBase ? m_capture.base : QUrl();
        return text;
    }

    void EndField(const Frame& frame) {
        const Role parent = m_stack.empty() ? Role::Other : m_stack.back().role;
        const bool item = parent == Role::Item || (parent == Role::Author && m_stack.size() >= 2 &&
                                                   m_stack[m_stack.size() - 2].role == Role::Item);
        const Field field = m_capture.field;
        m_capture.field = Field::None;
        switch (field) {
        case Field::Title:
            (item ? m_item.article.title : m_feed.title) = CapturedText();
            break;
        case Field::Link:
            if (item && m_item.article.link.isEmpty())
                m_item.article.link = WebLink(frame.base, m_text);
            else if (!item && m_feed.link.isEmpty())
                m_feed.link = WebLink(frame.base, m_text);
            break;
        case Field::Guid:
            m_item.guidLink = WebLink(QUrl(), m_text);
            m_item.article.id = m_text.trimmed();
            break;
        case Field::PlainGuid:
        case Field::Id:
            m_item.article.id = m_text.trimmed();
            break;
        case Field::OrigLink:
            m_item.origLink = WebLink(frame.base, m_text);
            break;
        case Field::Description:
            if (item)
                m_item.description = CapturedText();
            else if (m_feed.description.IsEmpty())
                m_feed.description = CapturedText();
            break;
        case Field::Encoded:
            m_item.encoded = CapturedText();
            break;
        case Field::Content: {
            // Atom 0.3 may offer the content in several types: HTML beats plain text.
            FeedText content = CapturedText();
            if (m_item.content.IsEmpty() ||
                (m_item.content.kind == FeedText::Kind::Text && content.kind == FeedText::Kind::Html))
                m_item.content = std::move(content);
            break;
        }
        case Field::Summary:
            m_item.summary = CapturedText();
            break;
        case Field::Language:
            Language(m_text);
            break;
        case Field::Date:
            if (m_capture.rank < m_item.dateRank && !m_text.trimmed().isEmpty()) {
                m_item.article.date = m_text.trimmed();
                m_item.dateRank = m_capture.rank;
            }
            break;
        case Field::Author:
            m_item.rssAuthor = RssAuthorName(m_text);
            break;
        case Field::Creator:
            AppendName(m_item.creators, m_text);
            break;
        case Field::AuthorName:
            AppendName(item ? m_item.authors : m_feedAuthors, m_text);
            break;
        case Field::None:
            break;
        }
    }

    void EndItem() {
        Article& article = m_item.article;
        if (!m_item.origLink.isEmpty())
            article.link = m_item.origLink;
        if (article.link.isEmpty())
            article.link = m_item.alternate;
        if (article.link.isEmpty())
            article.link = m_item.guidLink;
        for (FeedText* body : {&m_item.encoded, &m_item.content, &m_item.description, &m_item.summary}) {
            if (!body->IsEmpty()) {
                article.body = std::move(*body);
                break;
            }
        }
        if (article.body.base.isEmpty())
            article.body.base = article.link.isEmpty() ? m_documentUrl : article.link;
        article.author = !m_item.authors.isEmpty()     ? m_item.authors
                         : !m_item.creators.isEmpty()  ? m_item.creators
                         : !m_item.rssAuthor.isEmpty() ? m_item.rssAuthor
                                                       : m_feedAuthors;
        article.picture = m_item.picture;
        m_feed.articles.push_back(std::move(article));
        m_item = ItemState();
    }

    Feed& m_feed;
    const QUrl m_documentUrl;
    std::vector<std::pair<QByteArray, QByteArray>> m_namespaces; // prefix ("" for the default), URI
    std::vector<Frame> m_stack;
    Capture m_capture;
    QByteArray m_text;
    QByteArray m_mended; // text just read, with its C1 controls mended
    ItemState m_item;
    QByteArray m_feedAuthors;
};

Feed Read(const QByteArray& utf8, const QUrl& documentUrl) {
    Feed feed;
    FeedParser parser(feed, documentUrl);
    feed.complete = parser.Parse(utf8);
    if (feed.format == FeedFormat::NotAFeed)
        feed = Feed();
    if (feed.title.base.isEmpty())
        feed.title.base = feed.link.isEmpty() ? documentUrl : feed.link;
    if (feed.description.base.isEmpty())
        feed.description.base = feed.link.isEmpty() ? documentUrl : feed.link;
    return feed;
}

} // namespace

Feed ReadFeedDocument(const QByteArray& document, const QUrl& documentUrl) {
    QByteArray utf8 = DocumentToUtf8(document);
    Feed feed = Read(utf8, documentUrl);
    if (feed.complete && feed.format != FeedFormat::NotAFeed)
        return feed;
    // Bare ampersands and HTML entities are the commonest faults of hand-made feeds.
    if (!MendReferences(utf8))
        return feed;
    Feed mended = Read(utf8, documentUrl);
    const bool better =
        mended.format != FeedFormat::NotAFeed && (mended.complete || feed.format == FeedFormat::NotAFeed ||
                                                  mended.articles.size() > feed.articles.size());
    return better ? mended : feed;
}

namespace {

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether the document's bytes are ASCII where its markup is, so that its tags can be found
// byte by byte: UTF-8 and the single-byte encodings. A multi-byte encoding may hide '<' or
// ']' in its characters' second bytes.
bool SingleByteMarkup(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    if (bytes.size() < 2 || bytes[0] == 0 || bytes[1] == 0 || uchar(bytes[0]) >= 0x80)
        return false;
    if (!bytes.startsWith("<?xml"))
        return true;
    const qsizetype end = bytes.indexOf("?>");
    if (end < 0)
        return false;
    const QByteArrayView declaration = bytes.first(end);
    const qsizetype name = declaration.indexOf("encoding");
    if (name < 0)
        return true;
    qsizetype i = name + 8;
    while (i < declaration.size() &&
           (declaration[i] == ' ' || declaration[i] == '=' || declaration[i] == '\t'))
        ++i;
    if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
        return false;
    const qsizetype close = declaration.indexOf(declaration[i], i + 1);
    if (close < 0)
        return false;
    const QByteArray encoding = declaration.sliced(i + 1, close - i - 1).toByteArray().trimmed().toLower();
    for (const char* family : {"utf-8", "utf8", "us-ascii", "ascii", "iso-8859-", "iso8859-", "iso_8859-",
                               "latin", "windows-125", "cp125", "x-cp125", "koi8-"}) {
        if (encoding.startsWith(family))
            return true;
    }
    return false;
}

// The value of attribute `name` in a start tag's attributes, unresolved; null when it has none.
QByteArrayView RawAttribute(QByteArrayView attributes, QByteArrayView name) {
    qsizetype i = 0;
    while (i < attributes.size()) {
        while (i < attributes.size() && (IsXmlSpace(attributes[i]) || attributes[i] == '/'))
            ++i;
        const qsizetype nameStart = i;
        while (i < attributes.size() && attributes[i] != '=' && !IsXmlSpace(attributes[i]))
            ++i;
        const QByteArrayView found = attributes.sliced(nameStart, i - nameStart);
        while (i < attributes.size() && (IsXmlSpace(attributes[i]) || attributes[i] == '='))
            ++i;
        if (i >= attributes.size())
            break;
        const char quote = attributes[i];
        const qsizetype close = attributes.indexOf(quote, i + 1);
        if ((quote != '"' && quote != '\'') || close < 0)
            break;
        if (found == name)
            return attributes.sliced(i + 1, close - i - 1);
        i = close + 1;
    }
    return QByteArrayView();
}

// The quick reading behind ScanFeedItems. It follows FeedParser's rules for what is a feed,
// a channel, an item and an item's identity, for the documents it accepts; whatever it is not
// sure of, it leaves to the parser.
class ItemScanner {
public:
    explicit ItemScanner(const QByteArray& document) : m_text(document) {}

    bool Scan() {
        if (!SingleByteMarkup(m_text))
            return false;
        qsizetype at = 0;
        for (;;) {
            const qsizetype lt = Find(at, "<");
            if (!m_stack.empty() && m_stack.back().role == Role::Identity)
                TakeText(m_text.sliced(at, (lt < 0 ? m_text.size() : lt) - at));
            if (lt < 0)
                break;
            at = Markup(lt);
            if (at < 0)
                return false;
        }
        return m_rootSeen && m_stack.empty();
    }

    std::vector<ItemSpan> items;

private:
    // Identity: an item's guid, or an Atom entry's id.
    enum class Role { Other, Root, Channel, Item, Identity };
    struct Open {
        QByteArrayView name;
        Role role;
    };

    qsizetype Find(qsizetype from, std::string_view what) const {
        const std::string_view text(m_text.data(), size_t(m_text.size()));
        const size_t found = text.find(what, size_t(from));
        return found == std::string_view::npos ? -1 : qsizetype(found);
    }

    // Reads the markup at `lt`; where reading goes on, or -1 for a document it cannot follow.
    qsizetype Markup(qsizetype lt) {
        const QByteArrayView rest = m_text.sliced(lt);
        const bool identity = !m_stack.empty() && m_stack.back().role == Role::Identity;
        switch (rest.size() > 1 ? rest[1] : 0) {
        case '!':
            if (rest.startsWith("<!--")) {
                const qsizetype end = Find(lt + 4, "-->");
                return end < 0 ? -1 : end + 3;
            }
            if (rest.startsWith("<![CDATA[")) {
                const qsizetype end = Find(lt + 9, "]]>");
                if (end >= 0 && identity)
                    TakeText(m_text.sliced(lt + 9, end - lt - 9), false);
                return end < 0 ? -1 : end + 3;
            }
            return -1; // a document type declaration
        case '?': {
            const qsizetype end = Find(lt + 2, "?>");
            return end < 0 ? -1 : end + 2;
        }
        case '/': {
            const qsizetype gt = Find(lt + 2, ">");
            return gt >= 0 && Close(m_text.sliced(lt + 2, gt - lt - 2).trimmed(), gt + 1) ? gt + 1 : -1;
        }
        default:
            break;
        }
        const char* const begin = m_text.data();
        const char* const end = begin + m_text.size();
        const char* p = begin + lt + 1;
        while (p < end && !IsXmlSpace(*p) && *p != '/' && *p != '>')
            ++p;
        const QByteArrayView name(begin + lt + 1, p - begin - lt - 1);
        const char* const attributes = p;
        for (; p < end && *p != '>'; ++p) {
            if (*p == '"' || *p == '\'') {
                p = static_cast<const char*>(memchr(p + 1, *p, size_t(end - p - 1)));
                if (!p)
                    return -1;
            }
        }
        if (p >= end || name.isEmpty() || identity)
            return -1; // markup in an id is the parser's to read
        const qsizetype gt = p - begin;
        if (!Start(name, QByteArrayView(attributes, p - attributes), lt))
            return -1;
        return p[-1] != '/' || Close(name, gt + 1) ? gt + 1 : -1;
    }

    bool Start(QByteArrayView name, QByteArrayView attributes, qsizetype at) {
        const Role parent = m_stack.empty() ? Role::Root : m_stack.back().role;
        const bool decides = m_stack.empty() || parent != Role::Other;
        Role role = Role::Other;
        if (decides) {
            // A default namespace of another known vocabulary makes these elements its own.
            const QByteArrayView xmlns = RawAttribute(attributes, "xmlns");
            if (!xmlns.isNull()) {
                const Vocab vocab = VocabOfUri(xmlns);
                if (vocab != Vocab::Core && vocab != Vocab::Other)
                    return false;
            }
            const qsizetype colon = name.indexOf(':');
            const QByteArrayView local = colon < 0 ? name : name.sliced(colon + 1);
            for (const char* known : {"rss", "RDF", "feed", "channel", "item", "entry", "guid", "id"}) {
                if (colon >= 0 && local == known && !(m_stack.empty() && name == "rdf:RDF"))
                    return false;
            }
            if (m_stack.empty()) {
                const QByteArrayView rdf = RawAttribute(attributes, "xmlns:rdf");
                if (name == "rss") {
                    role = Role::Root;
                } else if (local == "RDF" && (rdf.isNull() || VocabOfUri(rdf) == Vocab::Rdf)) {
                    role = Role::Root;
                    m_rdf = true;
                } else if (name == "feed") {
                    role = Role::Channel;
                    m_atom = true;
                } else {
                    return false; // not a feed, or not one this reading knows
                }
                m_rootSeen = true;
            } else if (parent == Role::Root && name == "channel") {
                role = Role::Channel;
            } else if ((parent == Role::Channel || (parent == Role::Root && m_rdf)) &&
                       (name == "item" || name == "entry")) {
                role = Role::Item;
                m_itemBegin = at;
                m_itemId.clear();
                m_itemSure = true;
            } else if (parent == Role::Item && (name == "guid" || (m_atom && name == "id"))) {
                role = Role::Identity;
                m_id.clear();
            }
        }
        m_stack.push_back({name, role});
        return true;
    }

    bool Close(QByteArrayView name, qsizetype end) {
        if (m_stack.empty() || m_stack.back().name != name)
            return false;
        const Role role = m_stack.back().role;
        m_stack.pop_back();
        if (role == Role::Identity) {
            // The last of an item's ids is the one the parser keeps, even an empty one.
            m_itemId = m_id.trimmed();
        } else if (role == Role::Item && m_itemSure && !m_itemId.isEmpty()) {
            items.push_back({m_itemBegin, end, m_itemId});
        }
        return true;
    }

    // Text of an id, with the references the parser would resolve (not in CDATA). What it would
    // change besides (line ends, C1 controls, bytes of another encoding) it leaves to the parser.
    void TakeText(QByteArrayView text, bool references = true) {
        qsizetype run = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const uchar c = uchar(text[i]);
            if (c >= 0x80 || c == '\r' || (c < 0x20 && c != '\t' && c != '\n')) {
                m_itemSure = false;
                return;
            }
            if (c != '&' || !references)
                continue;
            m_id.append(text.sliced(run, i - run));
            const qsizetype semicolon = text.indexOf(';', i);
            const uint value = semicolon < 0 ? 0 : ReferenceValue(text.sliced(i + 1, semicolon - i - 1));
            if (value == 0) {
                m_itemSure = false;
                return;
            }
            m_id.append(char(value));
            i = semicolon;
            run = i + 1;
        }
        m_id.append(text.sliced(run));
    }

    // The character a reference stands for when it is ASCII; else 0.
    static uint ReferenceValue(QByteArrayView reference) {
        static const struct {
            const char* name;
            char value;
        } kPredefined[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& entity : kPredefined) {
            if (reference == entity.name)
                return uchar(entity.value);
        }
        const bool hex = reference.startsWith("#x");
        const QByteArrayView digits = reference.sliced(qMin<qsizetype>(reference.size(), hex ? 2 : 1));
        if (!reference.startsWith("#") || digits.isEmpty() || digits.size() > 6)
            return 0;
        uint value = 0;
        for (const char digit : digits) {
            const int number = digit >= '0' && digit <= '9' ? digit - '0' : -1;
            const int letter = hex ? int(QByteArrayView("abcdef").indexOf(char(digit | 0x20))) : -1;
            if (number < 0 && letter < 0)
                return 0;
            value = value * (hex ? 16 : 10) + uint(number >= 0 ? number : 10 + letter);
        }
        return value < 0x80 && (value >= 0x20 || value == '\t' || value == '\n' || value == '\r') ? value : 0;
    }

    const QByteArrayView m_text;
    std::vector<Open> m_stack;
    bool m_rootSeen = false;
    bool m_rdf = false;
    bool m_atom = false;
    qsizetype m_itemBegin = 0;
    QByteArray m_itemId;
    bool m_itemSure = true;
    QByteArray m_id;
};

} // namespace

std::vector<ItemSpan> ScanFeedItems(const QByteArray& document) {
    ItemScanner scanner(document);
    return scanner.Scan() ? std::move(scanner.items) : std::vector<ItemSpan>();
}

QByteArray WithoutItems(const QByteArray& document, const std::vector<ItemSpan>& spans) {
    QByteArray rest;
    qsizetype at = 0;
    for (const ItemSpan& span : spans) {
        rest.append(QByteArrayView(document).sliced(at, span.begin - at));
        at = span.end;
    }
    rest.append(QByteArrayView(document).sliced(at));
    return rest;
}

} // namespace ebook
