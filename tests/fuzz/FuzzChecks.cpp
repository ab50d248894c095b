#include "FuzzChecks.h"

#include "base/FeedAddress.h"
#include "ebook/Chapter.h"
#include "ebook/FeedDocument.h"
#include "ebook/Pictures.h"
#include "model/OpmlReader.h"
#include "model/OpmlWriter.h"
#include "model/OutlineItem.h"
#include "update/NewsFeedFile.h"

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>
#include <QSet>

#include <expat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace pellavo::fuzz {

ShortReadDevice::ShortReadDevice(const QByteArray& bytes, bool sequential, unsigned seed)
    : m_bytes(bytes), m_sequential(sequential), m_state(seed) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 ShortReadDevice::bytesAvailable() const {
    return m_bytes.size() - m_next + QIODevice::bytesAvailable();
}

bool ShortReadDevice::seek(qint64 pos) {
    if (m_sequential || pos < 0 || pos > m_bytes.size() || !QIODevice::seek(pos))
        return false;
    m_next = pos;
    return true;
}

qint64 ShortReadDevice::readData(char* data, qint64 maxSize) {
    qint64 n = qMin(maxSize, m_bytes.size() - m_next);
    if (m_state != 0) {
        m_state = m_state * 1103515245u + 12345u;
        n = qMin(n, qint64(1 + (m_state >> 16) % 300));
    }
    std::memcpy(data, m_bytes.constData() + m_next, size_t(n));
    m_next += n;
    return n;
}

namespace {

// One outline as the walk meets it: its depth and its seven strings (absent or not).
using Strings = std::array<std::optional<std::string>, 7>;
using Flat = std::vector<std::pair<int, Strings>>;

enum Field { Title, Type, HtmlUrl, XmlUrl, Text, Version, Description };

std::optional<std::string> Value(const char* s) {
    return s ? std::optional<std::string>(s) : std::nullopt;
}

Strings StringsOf(const COutlineItem& item) {
    return {Value(item.m_pszTitle),      Value(item.m_pszType), Value(item.m_pszHtmlUrl),
            Value(item.m_pszXmlUrl),     Value(item.m_pszText), Value(item.m_pszVersion),
            Value(item.m_pszDescription)};
}

// What the writer keeps of one outline: a group (an outline with children) keeps its
// title, description and text; a feed all but its version; an empty group nothing.
std::optional<Strings> Written(const COutlineItem& item, OpmlForm form) {
    const Strings all = StringsOf(item);
    Strings kept;
    kept[Title] = all[Title];
    kept[Description] = all[Description];
    kept[Text] = form == OpmlForm::Export && !all[Text] ? all[Title] : all[Text];
    if (item.m_pFirstChild)
        return kept;
    if (!item.IsFeed())
        return std::nullopt;
    kept[Type] = all[Type];
    kept[HtmlUrl] = all[HtmlUrl];
    kept[XmlUrl] = all[XmlUrl];
    return kept;
}

// The outlines below the root in document order, without recursion: a file may nest
// ten thousand levels deep. With a form, each outline as that writer keeps it.
Flat Flatten(const COutlineItem& root, std::optional<OpmlForm> form = std::nullopt) {
    Flat flat;
    std::vector<std::pair<const COutlineItem*, int>> pending;
    for (const COutlineItem* child = root.m_pFirstChild; child; child = child->m_pNext)
        pending.emplace_back(child, 0);
    std::reverse(pending.begin(), pending.end());
    while (!pending.empty()) {
        const auto [item, depth] = pending.back();
        pending.pop_back();
        if (form) {
            if (std::optional<Strings> kept = Written(*item, *form))
                flat.emplace_back(depth, *kept);
        } else {
            flat.emplace_back(depth, StringsOf(*item));
        }
        const size_t mark = pending.size();
        for (const COutlineItem* child = item->m_pFirstChild; child; child = child->m_pNext)
            pending.emplace_back(child, depth + 1);
        std::reverse(pending.begin() + qsizetype(mark), pending.end());
    }
    return flat;
}

QString Describe(const Flat& expected, const Flat& actual) {
    const size_t count = std::min(expected.size(), actual.size());
    size_t i = 0;
    while (i < count && expected[i] == actual[i])
        ++i;
    return QStringLiteral("%1 outlines expected, %2 read; they differ from outline %3 on")
        .arg(expected.size())
        .arg(actual.size())
        .arg(i);
}

struct Parsed {
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    bool ok = false;
};

Parsed Parse(QIODevice& device) {
    Parsed parsed;
    parsed.ok = ParseOutline(device, parsed.head, parsed.root);
    return parsed;
}

Parsed ParseBytes(QByteArray bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return Parse(buffer);
}

QString CheckWritten(const COutlineItem& root, OpmlForm form) {
    const char* name = form == OpmlForm::Export ? "export" : "channel file";
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ModelOutlineTree tree(&root);
    if (!WriteOpml(out, tree, form))
        return QStringLiteral("the %1 could not be written").arg(name);
    const Parsed again = ParseBytes(out.data());
    if (!again.ok)
        return QStringLiteral("the %1 written from what was read does not read back whole").arg(name);
    const Flat expected = Flatten(root, form);
    const Flat actual = Flatten(*again.root);
    if (expected != actual)
        return QStringLiteral("the %1 reads back other items: %2").arg(name, Describe(expected, actual));
    return QString();
}

// A memory file that AppendFeedContent can open by name, as it opens a download.
class MemoryFile {
public:
    MemoryFile() : m_fd(memfd_create("download", MFD_CLOEXEC)) {}
    ~MemoryFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool Fill(const QByteArray& bytes) {
        if (m_fd < 0 || ::ftruncate(m_fd, 0) != 0)
            return false;
        return ::pwrite(m_fd, bytes.constData(), size_t(bytes.size()), 0) == bytes.size();
    }
    QString Path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

private:
    int m_fd;
};

bool IsSubsequence(QByteArrayView part, QByteArrayView whole) {
    qsizetype at = 0;
    for (const char c : part) {
        while (at < whole.size() && whole[at] != c)
            ++at;
        if (at == whole.size())
            return false;
        ++at;
    }
    return true;
}

} // namespace

QString CheckOpml(const QByteArray& input) {
    if (input.isEmpty())
        return QString();
    const QByteArray document = input.mid(1);
    const unsigned seed = uchar(input[0]);

    const Parsed whole = ParseBytes(document);
    ShortReadDevice device(document, false, seed);
    const Parsed chunked = Parse(device);
    if (whole.ok != chunked.ok)
        return QStringLiteral("short reads change whether the document reads whole");
    const Flat wholeItems = Flatten(*whole.root);
    const Flat chunkedItems = Flatten(*chunked.root);
    if (wholeItems != chunkedItems)
        return QStringLiteral("short reads change the items: %1").arg(Describe(wholeItems, chunkedItems));

    for (const OpmlForm form : {OpmlForm::Channel, OpmlForm::Export}) {
        const QString problem = CheckWritten(*chunked.root, form);
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

QString CheckNewsFeedReader(const QByteArray& input) {
    if (input.isEmpty())
        return QString();
    const QByteArray file = input.mid(1);
    ShortReadDevice device(file, uchar(input[0]) & 1, uchar(input[0]) >> 1);
    NewsFeedReader reader(device);

    QByteArray rebuilt;
    bool whole = reader.ReadHeader();
    if (whole) {
        // A flag of 1 with an empty block is well-formed, though the writer never makes it.
        rebuilt = reader.SyncFlag() && reader.ChannelFile().isEmpty()
                      ? QByteArray("\x09\x56\x01\x00\x01\x00\x00\x00\x00\x00\x00\x00", 12)
                      : NewsFeedFile::EncodeHeader(reader.SyncFlag(), reader.ChannelFile());
        NewsFeedReader::Record record;
        qint64 lastOffset = -1;
        while (reader.ReadNext(record)) {
            if (record.offset <= lastOffset || record.offset >= file.size())
                return QStringLiteral("record at offset %1 after one at %2 in a file of %3 bytes")
                    .arg(record.offset)
                    .arg(lastOffset)
                    .arg(file.size());
            if (record.offset != rebuilt.size())
                return QStringLiteral("record at offset %1, but the pieces before it take %2 bytes")
                    .arg(record.offset)
                    .arg(rebuilt.size());
            lastOffset = record.offset;
            rebuilt += NewsFeedFile::EncodeRecord(record.url, record.content);
        }
        whole = reader.AtEnd() && !reader.HasError();
    }
    if (whole != !reader.HasError())
        return QStringLiteral("the walk stopped without an error and before the end");
    if (!whole) {
        if (reader.ErrorOffset() < 0 || reader.ErrorOffset() > file.size() || reader.ErrorString().isEmpty())
            return QStringLiteral("an error at offset %1 in a file of %2 bytes: %3")
                .arg(reader.ErrorOffset())
                .arg(file.size())
                .arg(reader.ErrorString());
        return QString();
    }
    if (rebuilt != file)
        return QStringLiteral("a file read whole (%1 bytes) is not what its pieces make (%2 bytes)")
            .arg(file.size())
            .arg(rebuilt.size());
    return QString();
}

QString CheckFeedCleaning(const QByteArray& input) {
    const QByteArray content = NewsFeedFile::CleanFeedDocument(input);
    if (content.size() > input.size())
        return QStringLiteral("the content (%1 bytes) is longer than the document (%2 bytes)")
            .arg(content.size())
            .arg(input.size());
    const qsizetype zero = input.indexOf('\0');
    const QByteArrayView text = QByteArrayView(input).first(zero < 0 ? input.size() : zero);
    const bool patterns = text.indexOf("<!DOCTYPE") > 0 || text.indexOf("xmlns=\"") > 0;
    if (!patterns && content != input)
        return QStringLiteral("a document without a pattern to remove was changed");
    if (content != input && !IsSubsequence(content, text))
        return QStringLiteral("the content holds bytes that the document's text does not");

    static MemoryFile download;
    if (!download.Fill(input))
        return QStringLiteral("the memory file could not be filled");
    const QString url = QStringLiteral("http://example.org/f\u00e4\u00e4d?x=1");
    QByteArray written;
    QBuffer out(&written);
    out.open(QIODevice::WriteOnly);
    NewsFeedWriter writer(out);
    const AppendResult result = AppendFeedContent(writer, url, download.Path());
    out.close();
    if (input.isEmpty())
        return result == AppendResult::NoContent && written.isEmpty()
                   ? QString()
                   : QStringLiteral("an empty download gave a record");
    if (result != AppendResult::Written)
        return QStringLiteral("the record was not written: %1").arg(writer.ErrorString());
    if (written != NewsFeedFile::EncodeRecord(url, content))
        return QStringLiteral("the record is not the URL field and the cleaned content");

    QByteArray file = NewsFeedFile::EncodeHeader(false, QByteArray()) + written;
    QBuffer in(&file);
    in.open(QIODevice::ReadOnly);
    NewsFeedReader reader(in);
    NewsFeedReader::Record record;
    if (!reader.ReadHeader() || !reader.ReadNext(record) || record.url != url || record.content != content ||
        reader.ReadNext(record) || !reader.AtEnd() || reader.HasError())
        return QStringLiteral("the record does not read back as one record: %1").arg(reader.ErrorString());
    return QString();
}

namespace {

class XhtmlChecker {
public:
    QString Check(const QByteArray& xhtml) {
        XML_Parser parser = XML_ParserCreate("UTF-8");
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &XhtmlChecker::Start, &XhtmlChecker::End);
        const bool ok = XML_Parse(parser, xhtml.constData(), int(xhtml.size()), XML_TRUE) == XML_STATUS_OK;
        if (!ok && m_problem.isEmpty())
            m_problem = QStringLiteral("not well-formed at line %1: %2")
                            .arg(XML_GetCurrentLineNumber(parser))
                            .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(parser))));
        XML_ParserFree(parser);
        return m_problem;
    }

private:
    static bool Is(const QByteArray& name, std::initializer_list<const char*> names) {
        return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
    }
    static bool IsPhrasing(const QByteArray& name) {
        return Is(name, {"em",  "strong", "small", "s", "cite", "q", "dfn",  "abbr", "code", "var", "samp",
                         "kbd", "sub",    "sup",   "i", "b",    "u", "mark", "br",   "a",    "span"});
    }
    // Elements whose content must be phrasing content.
    static bool TakesPhrasing(const QByteArray& name) {
        return (IsPhrasing(name) && name != "a") ||
               Is(name, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "pre", "dt", "th", "caption", "title"});
    }

    static void XMLCALL Start(void* data, const XML_Char* name, const XML_Char** attributes) {
        static_cast<XhtmlChecker*>(data)->OnStart(name, attributes);
    }
    static void XMLCALL End(void* data, const XML_Char*) {
        auto* self = static_cast<XhtmlChecker*>(data);
        if (self->m_stack.empty())
            return;
        const QByteArray& name = self->m_stack.back();
        self->m_phrasing -= TakesPhrasing(name) ? 1 : 0;
        self->m_links -= name == "a" ? 1 : 0;
        if (name == "dl" && !self->m_lastChild.back().isEmpty() && self->m_lastChild.back() != "dd")
            self->Problem(QStringLiteral("a definition list that does not end with a definition"));
        self->m_stack.pop_back();
        self->m_lastChild.pop_back();
    }

    void Problem(const QString& what) {
        if (m_problem.isEmpty())
            m_problem = what;
    }

    void OnStart(const XML_Char* rawName, const XML_Char** attributes) {
        const QByteArray name(rawName);
        static const QSet<QByteArray> kAllowed = {
            "html", "head", "title",  "link",    "body",  "article",    "div", "p",   "h1",     "h2",
            "h3",   "h4",   "h5",     "h6",      "pre",   "blockquote", "ul",  "ol",  "li",     "dl",
            "dt",   "dd",   "table",  "caption", "tbody", "tr",         "td",  "th",  "figure", "figcaption",
            "hr",   "em",   "strong", "small",   "s",     "cite",       "q",   "dfn", "abbr",   "code",
            "var",  "samp", "kbd",    "sub",     "sup",   "i",          "b",   "u",   "mark",   "br",
            "a",    "span", "nav",    "section", "meta"};
        if (!kAllowed.contains(name))
            Problem(QStringLiteral("element %1 is not allowed").arg(QString::fromUtf8(name)));
        const QByteArray parent = m_stack.empty() ? QByteArray() : m_stack.back();
        if (m_phrasing > 0 && !IsPhrasing(name))
            Problem(QStringLiteral("block %1 inside phrasing content").arg(QString::fromUtf8(name)));
        if (name == "a" && m_links > 0)
            Problem(QStringLiteral("a link inside a link"));
        const auto needs = [&](const char* element, std::initializer_list<const char*> parents) {
            if (name == element && !Is(parent, parents))
                Problem(
                    QStringLiteral("%1 inside %2").arg(QLatin1String(element), QString::fromUtf8(parent)));
        };
        needs("li", {"ul", "ol"});
        needs("dt", {"dl"});
        needs("dd", {"dl"});
        needs("tbody", {"table"});
        needs("caption", {"table"});
        needs("tr", {"tbody"});
        needs("td", {"tr"});
        needs("th", {"tr"});
        needs("figcaption", {"figure"});
        needs("meta", {"head"});
        if (parent == "dl" && name == "dd" && m_lastChild.back().isEmpty())
            Problem(QStringLiteral("a definition before any term"));
        if (!m_lastChild.empty())
            m_lastChild.back() = name;
        if (Is(parent, {"ul", "ol"}) && name != "li")
            Problem(QStringLiteral("%1 directly inside a list").arg(QString::fromUtf8(name)));
        for (const XML_Char** attribute = attributes; attribute[0]; attribute += 2) {
            const QByteArray key(attribute[0]);
            const QByteArray value = QByteArray(attribute[1]).toLower();
            if (key.toLower().startsWith("on") || key == "style" || key == "src")
                Problem(QStringLiteral("attribute %1").arg(QString::fromUtf8(key)));
            const bool web = value.startsWith("http://") || value.startsWith("https://");
            // A chapter's list of its articles links to them, in whichever of its documents.
            static const QRegularExpression kArticle(QStringLiteral("^(feed\\d{4}(-\\d+)?\\.xhtml)?#a\\d+$"));
            const bool article = kArticle.match(QString::fromLatin1(value)).hasMatch();
            if ((key == "href" && name == "a" && !web && !article && !value.startsWith("mailto:")) ||
                (key == "cite" && !web))
                Problem(QStringLiteral("%1 to %2").arg(QString::fromUtf8(key), QString::fromUtf8(value)));
        }
        m_phrasing += TakesPhrasing(name) ? 1 : 0;
        m_links += name == "a" ? 1 : 0;
        m_stack.push_back(name);
        m_lastChild.emplace_back();
    }

    std::vector<QByteArray> m_stack;
    std::vector<QByteArray> m_lastChild; // per open element: the name of its last child element
    int m_phrasing = 0;                  // open elements that take phrasing content only
    int m_links = 0;
    QString m_problem;
};

} // namespace

QString CheckPicture(const QByteArray& input) {
    if (input.isEmpty())
        return QString();
    const bool grey = input[0] & 1;
    const ebook::PreparedPicture prepared = ebook::PreparePicture(QByteArrayView(input).sliced(1), grey);
    if (prepared.format == ebook::PictureFormat::None)
        return prepared.bytes.isEmpty() ? QString() : QStringLiteral("bytes without a format");
    if (prepared.format == ebook::PictureFormat::WebP)
        return QStringLiteral("WebP in the book");
    if (ebook::RecognisePicture(prepared.bytes) != prepared.format)
        return QStringLiteral("the picture is not what it says it is");
    const QImage image = QImage::fromData(prepared.bytes);
    if (image.isNull())
        return QStringLiteral("the picture does not decode");
    if (qMax(image.width(), image.height()) > ebook::kMaxPictureSide)
        return QStringLiteral("%1 x %2 pixels").arg(image.width()).arg(image.height());
    if (image.hasAlphaChannel())
        return QStringLiteral("transparency left");
    if (grey && prepared.format != ebook::PictureFormat::Gif && !image.isGrayscale())
        return QStringLiteral("colour in a grey picture");
    return QString();
}

QString XhtmlProblem(const QByteArray& xhtml) {
    return XhtmlChecker().Check(xhtml);
}

QString CheckFeedChapter(const QByteArray& input) {
    if (input.isEmpty())
        return QString();
    const QByteArray rest = input.mid(1);
    const QString address = QStringLiteral("https://fuzz.example/feed");
    ebook::Feed feed;
    if (uchar(input[0]) % 2 == 0) {
        feed = ebook::ReadFeedDocument(rest, FeedAddress::DocumentUrl(address));
    } else {
        feed.format = ebook::FeedFormat::Rss;
        ebook::Article article;
        article.body = {rest, ebook::FeedText::Kind::Html, QUrl(QStringLiteral("https://fuzz.example/a/b"))};
        feed.articles.push_back(article);
    }
    ebook::ChapterSource source;
    source.address = address;
    ebook::ChapterOutline outline;
    const QByteArray chapter = ebook::WriteChapter(feed, source, &outline);
    if (outline.articles.size() != feed.articles.size())
        return QStringLiteral("the outline has %1 articles, the feed %2")
            .arg(outline.articles.size())
            .arg(feed.articles.size());
    const QString problem = XhtmlProblem(chapter);
    return problem.isEmpty() ? QString() : problem + QStringLiteral(" in\n") + QString::fromUtf8(chapter);
}

} // namespace pellavo::fuzz
