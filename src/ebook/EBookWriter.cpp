#include "ebook/EBookWriter.h"

#include "base/FeedAddress.h"
#include "base/XmlText.h"

#include "ebook/Cover.h"
#include "ebook/DocumentSplit.h"
#include "ebook/ZipArchive.h"
#include "model/OpmlReader.h"
#include "model/OutlineItem.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <zip.h>

namespace ebook {

namespace {

// zlib's own default: three times faster than libzip's default of 9 and a few per cent larger.
constexpr zip_uint32_t kCompressionLevel = 6;

constexpr char kMimetype[] = "application/epub+zip";
constexpr char kContainer[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
    "<rootfiles><rootfile full-path=\"EPUB/package.opf\" media-type=\"application/oebps-package+xml\"/>"
    "</rootfiles>\n</container>\n";
constexpr char kStylesheet[] = "body { margin: 0 4%; line-height: 1.4; }\n"
                               "h1 { font-size: 1.6em; margin: 0.5em 0; }\n"
                               "h2 { font-size: 1.25em; margin: 1.5em 0 0.2em; }\n"
                               "article { border-top: 1px solid #999; margin-top: 1.5em; }\n"
                               ".meta, .note { font-size: 0.85em; color: #555; }\n"
                               ".description { font-style: italic; }\n"
                               "pre { white-space: pre-wrap; }\n"
                               "img { max-width: 100%; }\n"
                               ".body > img { display: block; margin: 0.5em auto; }\n"
                               ".cover { text-align: center; }\n"
                               ".cover img { max-width: 100%; }\n"
                               ".cover h1 { font-size: 2.4em; }\n"
                               "nav ol, ol.contents, ol.contents ol, ol.articles { list-style: none; "
                               "padding-left: 1em; }\n"
                               "ol.articles li { margin: 0.2em 0; }\n"
                               ".group { font-weight: bold; }\n";

// What a cut may run over by, and the head of a document, below kMaxDocumentBytes.
constexpr qsizetype kDocumentTarget = kMaxDocumentBytes - 16 * 1024;
// The list of articles that opens a chapter goes in blocks of so many, which the chapter
// can be cut between.
constexpr int kListBlock = 100;
constexpr char kCoverImage[] = "images/cover.jpg";

// Where an image goes in a chapter as it is made: its use's number between these two
// bytes, which XML text never holds and so no chapter holds otherwise.
constexpr char kMarkStart = '\x01';
constexpr char kMarkEnd = '\x02';

QByteArray OutlineTitle(const COutlineItem& item) {
    const char* title = item.m_pszTitle && *item.m_pszTitle ? item.m_pszTitle : item.m_pszText;
    return title ? PlainText({QByteArray(title), FeedText::Kind::Entities, QUrl()}) : QByteArray();
}

// The next item in document order after `item` and its subtree (when `skipChildren`), or
// after `item` itself; `closed` counts the levels that the step leaves.
const COutlineItem* NextItem(const COutlineItem* item, const COutlineItem* root, bool skipChildren,
                             int& closed) {
    closed = 0;
    if (!skipChildren && item->m_pFirstChild)
        return item->m_pFirstChild;
    while (item && item != root && !item->m_pNext) {
        item = item->m_pParent;
        if (item && item != root)
            ++closed;
    }
    return item && item != root ? item->m_pNext : nullptr;
}

QByteArray Count(qsizetype count, const char* one, const char* many) {
    return QByteArray::number(qlonglong(count)) + ' ' + (count == 1 ? one : many);
}

} // namespace

EBookWriter::EBookWriter(const QString& bookPath, const QDateTime& runTime, const QLocale& locale)
    : m_bookPath(bookPath), m_runTime(runTime), m_locale(locale) {}

EBookWriter::~EBookWriter() = default;

void EBookWriter::SetChannelFile(const QByteArray& opml) {
    m_root.reset();
    m_subscriptionTitles.clear();
    if (opml.isEmpty())
        return;
    QByteArray bytes = opml;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    // Whatever the reader got before an error still shapes the contents.
    ParseOutline(buffer, head, root, nullptr, OpmlTrace::Off);
    if (!root || !root->m_pFirstChild)
        return;
    int closed;
    for (const COutlineItem* item = root->m_pFirstChild; item;
         item = NextItem(item, root.get(), false, closed)) {
        if (item->IsFeed()) {
            const QString url = QString::fromUtf8(item->m_pszXmlUrl);
            if (!m_subscriptionTitles.contains(url))
                m_subscriptionTitles.insert(url, OutlineTitle(*item));
        }
    }
    m_head = std::move(head);
    m_root = std::move(root);
}

bool EBookWriter::Fail(const QString& why) {
    m_failed = true;
    m_error = why;
    return false;
}

bool EBookWriter::SpoolError(const QString& what) {
    return Fail(QStringLiteral("cannot %1 the temporary file %2: %3")
                    .arg(what, m_spool->fileName(), m_spool->errorString()));
}

bool EBookWriter::CanGoOn() {
    if (m_failed)
        return false;
    if (Stopped())
        return Fail(QStringLiteral("%1: stopped").arg(m_bookPath));
    if (m_finished)
        return Fail(QStringLiteral("%1: the book is already written").arg(m_bookPath));
    return true;
}

bool EBookWriter::AddRecord(const QString& url, const QByteArray& document) {
    if (!CanGoOn())
        return false;
    if (!m_spool) {
        m_spool =
            std::make_unique<QTemporaryFile>(QDir::temp().filePath(QStringLiteral("pellavo-ebook-XXXXXX")));
        if (!m_spool->open())
            return Fail(QStringLiteral("cannot create a temporary file: %1").arg(m_spool->errorString()));
    }
    Chapter chapter;
    chapter.url = url;
    ChapterSource source;
    source.address = url;
    source.subscriptionTitle = m_subscriptionTitles.value(url);
    source.locale = m_locale;
    source.image = [&](const ImageInfo& image) {
        if (!m_bPictures || image.source.isEmpty())
            return ImageAltText(image);
        chapter.pictures = true;
        return PictureMark(image);
    };
    Feed feed = ReadFeedDocument(document, FeedAddress::DocumentUrl(url));
    if (m_filter && !m_filter(url, feed))
        return true;
    const ChapterText text = MakeChapter(feed, source, &chapter.outline);
    chapter.offset = m_spool->pos();
    const auto put = [&](const QByteArray& piece) {
        chapter.pieces.push_back(piece.size());
        return m_spool->write(piece) == piece.size();
    };
    bool ok = put(text.intro);
    for (const QByteArray& article : text.articles)
        ok = ok && put(article);
    if (!(ok && put(text.closing)))
        return SpoolError(QStringLiteral("write"));
    m_chapters.push_back(std::move(chapter));
    return true;
}

QByteArray EBookWriter::PictureMark(const ImageInfo& image) {
    const QString address = QString::fromLatin1(image.source.toEncoded(QUrl::RemoveFragment));
    auto it = m_pictureIndex.constFind(address);
    if (it == m_pictureIndex.constEnd()) {
        it = m_pictureIndex.insert(address, int(m_pictures.size()));
        Picture picture;
        picture.address = address;
        m_pictures.push_back(std::move(picture));
    }
    m_pictureUses.push_back({it.value(), image.alt, image.title});
    return kMarkStart + QByteArray::number(qulonglong(m_pictureUses.size() - 1)) + kMarkEnd;
}

QStringList EBookWriter::Pictures() const {
    QStringList addresses;
    addresses.reserve(qsizetype(m_pictures.size()));
    for (const Picture& picture : m_pictures)
        addresses << picture.address;
    return addresses;
}

bool EBookWriter::AddPicture(const QString& address, QByteArrayView bytes) {
    if (!CanGoOn())
        return false;
    const auto it = m_pictureIndex.constFind(address);
    if (it == m_pictureIndex.constEnd() || m_pictures[size_t(*it)].format != PictureFormat::None)
        return false;
    const PreparedPicture prepared = PreparePicture(bytes, m_bGrey);
    if (prepared.format == PictureFormat::None)
        return false;
    if (!m_pictureSpool) {
        m_pictureSpool = std::make_unique<QTemporaryFile>(
            QDir::temp().filePath(QStringLiteral("pellavo-pictures-XXXXXX")));
        if (!m_pictureSpool->open())
            return Fail(
                QStringLiteral("cannot create a temporary file: %1").arg(m_pictureSpool->errorString()));
    }
    Picture& picture = m_pictures[size_t(*it)];
    picture.offset = m_pictureSpool->pos();
    if (m_pictureSpool->write(prepared.bytes) != prepared.bytes.size())
        return Fail(QStringLiteral("cannot write the temporary file %1: %2")
                        .arg(m_pictureSpool->fileName(), m_pictureSpool->errorString()));
    picture.format = prepared.format;
    picture.size = prepared.bytes.size();
    m_nPictureBytes += picture.size;
    return true;
}

void EBookWriter::ChoosePictures() {
    qint64 total = 0;
    int stored = 0;
    for (Picture& picture : m_pictures) {
        // A picture too large for what is left still leaves room for smaller ones after it.
        picture.stored =
            picture.format != PictureFormat::None && total + picture.size <= kMaxBookPictureBytes;
        if (!picture.stored)
            continue;
        picture.name =
            "img" + QByteArray::number(++stored).rightJustified(4, '0') + '.' + PictureSuffix(picture.format);
        total += picture.size;
    }
}

QByteArray EBookWriter::PlacedPictures(QByteArrayView xhtml) const {
    QByteArray out;
    out.reserve(xhtml.size() + xhtml.size() / 8);
    qsizetype at = 0;
    for (qsizetype mark = xhtml.indexOf(kMarkStart); mark >= 0; mark = xhtml.indexOf(kMarkStart, at)) {
        out.append(xhtml.sliced(at, mark - at));
        const qsizetype end = xhtml.indexOf(kMarkEnd, mark);
        const PictureUse& use = m_pictureUses[size_t(xhtml.sliced(mark + 1, end - mark - 1).toULongLong())];
        const Picture& picture = m_pictures[size_t(use.picture)];
        if (!picture.stored) {
            out.append(ImageAltText({QUrl(), use.alt, use.title}));
        } else {
            out.append("<img src=\"images/").append(picture.name).append("\" alt=\"");
            AppendXmlEscaped(out, CollapseSpaces(use.alt));
            out.append('"');
            if (!use.title.isEmpty()) {
                out.append(" title=\"");
                AppendXmlEscaped(out, use.title);
                out.append('"');
            }
            out.append("/>");
        }
        at = end + 1;
    }
    out.append(xhtml.sliced(at));
    return out;
}

void EBookWriter::MakeContents() {
    m_contents.clear();
    m_order.clear();
    std::vector<bool> placed(m_chapters.size(), false);
    const auto add = [&](int chapter, const QByteArray& groups) {
        m_contents.push_back({Entry::Kind::Chapter, QByteArray(), chapter, groups});
        if (!placed[size_t(chapter)])
            m_order.push_back(chapter);
        placed[size_t(chapter)] = true;
    };
    if (m_root) {
        QHash<QString, QList<int>> chapters;
        for (int i = 0; i < int(m_chapters.size()); ++i)
            chapters[m_chapters[size_t(i)].url].append(i);

        // Which items hold a chapter somewhere beneath them: children come after their
        // parents in document order, so a walk backwards sees them first.
        std::vector<const COutlineItem*> order;
        int closed;
        for (const COutlineItem* item = m_root->m_pFirstChild; item;
             item = NextItem(item, m_root.get(), false, closed))
            order.push_back(item);
        QHash<const COutlineItem*, bool> holds;
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            const COutlineItem* item = *it;
            if (item->IsFeed() && chapters.contains(QString::fromUtf8(item->m_pszXmlUrl)))
                holds[item] = true;
            if (holds.value(item) && item->m_pParent)
                holds[item->m_pParent] = true;
        }

        // Groups nest as the tree does; a feed in no group waits for the top level below.
        std::vector<bool> groupOpen; // per level entered: whether it opened a group
        QByteArrayList path;
        for (const COutlineItem* item = m_root->m_pFirstChild; item;) {
            const bool wanted = holds.value(item);
            bool enter = false;
            if (wanted && !item->IsFeed()) {
                QByteArray title = OutlineTitle(*item);
                if (title.isEmpty())
                    title = "Untitled group";
                m_contents.push_back({Entry::Kind::Group, title, -1, QByteArray()});
                path << title;
                groupOpen.push_back(true);
                enter = true;
            } else if (wanted) {
                if (item->m_pParent != m_root.get()) {
                    for (const int chapter : chapters.value(QString::fromUtf8(item->m_pszXmlUrl)))
                        add(chapter, path.join(" / "));
                }
                if (item->m_pFirstChild) {
                    groupOpen.push_back(false);
                    enter = true;
                }
            }
            item = NextItem(item, m_root.get(), !enter, closed);
            for (; closed > 0 && !groupOpen.empty(); --closed) {
                if (groupOpen.back()) {
                    m_contents.push_back({Entry::Kind::End, QByteArray(), -1, QByteArray()});
                    path.removeLast();
                }
                groupOpen.pop_back();
            }
        }
    }
    for (int i = 0; i < int(m_chapters.size()); ++i) {
        if (!placed[size_t(i)])
            add(i, QByteArray());
    }
}

QByteArray EBookWriter::DocumentName(int chapter, int document) const {
    QByteArray name = m_chapters[size_t(chapter)].name;
    if (document > 0)
        name.append('-').append(QByteArray::number(document + 1));
    return name + ".xhtml";
}

QByteArray EBookWriter::ContentsName(int page) {
    return page == 0 ? QByteArray("contents.xhtml") : "contents-" + QByteArray::number(page + 1) + ".xhtml";
}

QByteArray EBookWriter::Href(int chapter, int article) const {
    return DocumentName(chapter, m_chapters[size_t(chapter)].articleDocument[size_t(article)]) + "#a" +
           QByteArray::number(article + 1);
}

// The chapter's pieces, their pictures placed, packed into documents of at most
// kDocumentTarget bytes: an article larger than that on its own is cut between its
// blocks. The documents go to the end of the spool.
bool EBookWriter::MakeDocuments(int index) {
    Chapter& chapter = m_chapters[size_t(index)];
    std::vector<QByteArray> pieces;
    if (!m_spool->seek(chapter.offset))
        return SpoolError(QStringLiteral("read"));
    for (const qint64 size : chapter.pieces) {
        QByteArray piece(size, Qt::Uninitialized);
        if (m_spool->read(piece.data(), size) != size)
            return SpoolError(QStringLiteral("read"));
        pieces.push_back(chapter.pictures ? PlacedPictures(piece) : piece);
    }
    const std::vector<QByteArray>& titles = chapter.outline.articles;
    const int articles = int(titles.size());
    const QByteArray& title = chapter.outline.title;
    const QByteArray& language = chapter.outline.language;
    const qsizetype room = kDocumentTarget - XhtmlDocument(title, language, QByteArray()).size();

    struct Block {
        QByteArray html;
        int article = -1;  // the article it starts
        int listFrom = -1; // a block of the list: its first article
    };
    std::vector<Block> blocks;
    for (QByteArray& html : SplitFragment(pieces.front(), room))
        blocks.push_back({std::move(html)});
    // Sized for the longest links the list can have; the real ones come once the
    // documents are known, never longer.
    const QByteArray longest = chapter.name + "-9999.xhtml#a";
    // A chapter of one article needs no list of it.
    for (int from = 0; articles > 1 && from < articles; from += kListBlock) {
        const int to = qMin(articles, from + kListBlock);
        blocks.push_back(
            {ArticleList(titles, from, to, [&](int n) { return longest + QByteArray::number(n + 1); }), -1,
             from});
    }
    for (int i = 0; i < articles; ++i) {
        bool first = true;
        for (QByteArray& html : SplitFragment(pieces[size_t(i) + 1], room)) {
            blocks.push_back({std::move(html), first ? i : -1});
            first = false;
        }
    }
    blocks.push_back({pieces.back()});

    std::vector<int> documentOf(blocks.size());
    chapter.articleDocument.assign(size_t(articles), 0);
    int document = 0;
    qsizetype used = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        const qsizetype size = blocks[b].html.size();
        if (used > 0 && used + size > room)
            ++document, used = 0;
        used += size;
        documentOf[b] = document;
        if (blocks[b].article >= 0)
            chapter.articleDocument[size_t(blocks[b].article)] = document;
    }
    for (Block& block : blocks) {
        if (block.listFrom < 0)
            continue;
        block.html = ArticleList(titles, block.listFrom, qMin(articles, block.listFrom + kListBlock),
                                 [&](int n) { return Href(index, n); });
    }

    chapter.documents.clear();
    for (size_t b = 0; b < blocks.size();) {
        QByteArray body;
        const int current = documentOf[b];
        for (; b < blocks.size() && documentOf[b] == current; ++b)
            body.append(blocks[b].html);
        const QByteArray xhtml = XhtmlDocument(title, language, body);
        const qint64 offset = m_spool->size();
        if (!m_spool->seek(offset) || m_spool->write(xhtml) != xhtml.size())
            return SpoolError(QStringLiteral("write"));
        chapter.documents.push_back({offset, xhtml.size()});
    }
    return true;
}

QByteArray EBookWriter::Title() const {
    const QDateTime local = m_runTime.toLocalTime();
    QString when = m_locale.toString(local.date(), QLocale::LongFormat);
    // Editions come several a day.
    if (m_bEdition)
        when += QStringLiteral(", ") + m_locale.toString(local.time(), QLocale::ShortFormat);
    return "Pellavo News \xE2\x80\x93 " + when.toUtf8();
}

int EBookWriter::ArticleCount() const {
    size_t articles = 0;
    for (const Chapter& chapter : m_chapters)
        articles += chapter.outline.articles.size();
    return int(articles);
}

QByteArray EBookWriter::Language() const {
    QHash<QByteArray, int> counts;
    QByteArray best;
    int bestCount = 0;
    for (const Chapter& chapter : m_chapters) {
        if (chapter.outline.language.isEmpty())
            continue;
        const QByteArray primary = chapter.outline.language.split('-').first();
        const int count = ++counts[primary];
        if (count > bestCount)
            best = primary, bestCount = count;
    }
    if (best.isEmpty())
        best = NormalizedLanguage(QLocale::languageToCode(m_locale.language()).toLatin1());
    return best.isEmpty() ? QByteArray("en") : best;
}

// The items of the contents' list: groups with what is in them, feeds with their articles
// (or, without, the number of them).
void EBookWriter::AppendContentsTree(QByteArray& out, const std::vector<const Entry*>& entries,
                                     bool articles) const {
    for (const Entry* entry : entries) {
        switch (entry->kind) {
        case Entry::Kind::Group:
            out.append("<li><span class=\"group\">");
            AppendXmlEscaped(out, entry->title);
            out.append("</span>\n<ol>\n");
            break;
        case Entry::Kind::End:
            out.append("</ol></li>\n");
            break;
        case Entry::Kind::Chapter: {
            const ChapterOutline& outline = m_chapters[size_t(entry->chapter)].outline;
            out.append("<li><a href=\"").append(DocumentName(entry->chapter, 0)).append("\">");
            AppendXmlEscaped(out, outline.title);
            out.append("</a>");
            if (articles && !outline.articles.empty()) {
                out.append("\n<ol>\n");
                for (int i = 0; i < int(outline.articles.size()); ++i) {
                    out.append("<li><a href=\"").append(Href(entry->chapter, i)).append("\">");
                    AppendXmlEscaped(out, outline.articles[size_t(i)]);
                    out.append("</a></li>\n");
                }
                out.append("</ol>");
            } else if (!articles && outline.isFeed) {
                out.append(" <span class=\"meta\">")
                    .append(Count(qsizetype(outline.articles.size()), "article", "articles"))
                    .append("</span>");
            }
            out.append("</li>\n");
            break;
        }
        }
    }
}

QByteArray EBookWriter::NavigationDocument() const {
    // Reading systems follow the contents in the reading order: a feed in several groups
    // stands only where it first does, and a group left without feeds goes.
    std::vector<const Entry*> entries;
    std::vector<bool> listed(m_chapters.size(), false);
    for (const Entry& entry : m_contents) {
        if (entry.kind == Entry::Kind::Chapter && listed[size_t(entry.chapter)])
            continue;
        if (entry.kind == Entry::Kind::End && entries.back()->kind == Entry::Kind::Group)
            entries.pop_back();
        else
            entries.push_back(&entry);
        if (entry.kind == Entry::Kind::Chapter)
            listed[size_t(entry.chapter)] = true;
    }
    QByteArray out = "<nav epub:type=\"toc\" id=\"toc\">\n<h1>Contents</h1>\n<ol>\n";
    AppendContentsTree(out, entries, true);
    if (m_order.empty()) {
        out.append("<li><a href=\"cover.xhtml\">");
        AppendXmlEscaped(out, Title());
        out.append("</a></li>\n");
    }
    out.append("</ol>\n</nav>\n<nav epub:type=\"landmarks\" hidden=\"hidden\">\n<h2>Landmarks</h2>\n<ol>\n"
               "<li><a epub:type=\"cover\" href=\"cover.xhtml\">Cover</a></li>\n"
               "<li><a epub:type=\"toc\" href=\"contents.xhtml\">Contents</a></li>\n");
    if (!m_order.empty())
        out.append("<li><a epub:type=\"bodymatter\" href=\"")
            .append(DocumentName(m_order.front(), 0))
            .append("\">News</a></li>\n");
    out.append("</ol>\n</nav>\n");
    return XhtmlDocument("Contents", Language(), out, true);
}

// What a reader pages through before the first article: the groups and the feeds, each
// with its number of articles; the articles are listed where their feed's chapter opens.
QByteArray EBookWriter::ShortContents() const {
    QByteArray out = "<h1>Contents</h1>\n";
    if (m_order.empty())
        return out + "<p class=\"note\">This edition holds no feeds.</p>\n";
    out.append("<ol class=\"contents\">\n");
    std::vector<const Entry*> entries;
    for (const Entry& entry : m_contents)
        entries.push_back(&entry);
    AppendContentsTree(out, entries, false);
    return out.append("</ol>\n");
}

// For EPUB 2 reading engines: the feeds in reading order, each with the groups it is in,
// and their articles; two levels, as far as such engines go.
QByteArray EBookWriter::Ncx(const QByteArray& identifier) const {
    const qsizetype articles = std::count_if(m_chapters.begin(), m_chapters.end(),
                                             [](const Chapter& c) { return !c.outline.articles.empty(); });
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" xml:lang=\"";
    out.append(Language()).append("\">\n<head>\n<meta name=\"dtb:uid\" content=\"").append(identifier);
    out.append("\"/>\n<meta name=\"dtb:depth\" content=\"").append(articles ? "2" : "1");
    out.append("\"/>\n<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n"
               "<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n<docTitle><text>");
    AppendXmlEscaped(out, Title());
    out.append("</text></docTitle>\n<navMap>\n");
    int point = 0;
    const auto open = [&](const QByteArray& label, const QByteArray& href) {
        ++point;
        out.append("<navPoint id=\"p")
            .append(QByteArray::number(point))
            .append("\" playOrder=\"")
            .append(QByteArray::number(point))
            .append("\"><navLabel><text>");
        AppendXmlEscaped(out, label);
        out.append("</text></navLabel><content src=\"").append(href).append("\"/>");
    };
    QHash<int, QByteArray> groups;
    for (const Entry& entry : m_contents) {
        if (entry.kind == Entry::Kind::Chapter && !groups.contains(entry.chapter))
            groups.insert(entry.chapter, entry.groups);
    }
    for (const int chapter : m_order) {
        const ChapterOutline& outline = m_chapters[size_t(chapter)].outline;
        const QByteArray group = groups.value(chapter);
        open(group.isEmpty() ? outline.title : group + " \xE2\x80\x94 " + outline.title,
             DocumentName(chapter, 0));
        out.append('\n');
        for (int i = 0; i < int(outline.articles.size()); ++i) {
            open(outline.articles[size_t(i)], Href(chapter, i));
            out.append("</navPoint>\n");
        }
        out.append("</navPoint>\n");
    }
    if (m_order.empty()) {
        open(Title(), "cover.xhtml");
        out.append("</navPoint>\n");
    }
    return out.append("</navMap>\n</ncx>\n");
}

QByteArray EBookWriter::CoverDocument() const {
    int feeds = 0;
    for (const Chapter& chapter : m_chapters)
        feeds += chapter.outline.isFeed ? 1 : 0;
    const int articles = ArticleCount();
    const QByteArray date = CoverDate(m_runTime, m_locale).toUtf8();
    QByteArray out = "<div class=\"cover\">\n";
    if (!m_cover.isEmpty()) {
        out.append("<p><img src=\"").append(kCoverImage).append("\" alt=\"Pellavo News, ");
        AppendXmlEscaped(out, date);
        out.append("\"/></p>\n");
    }
    out.append("<h1>Pellavo News</h1>\n<p>");
    AppendXmlEscaped(out, date);
    out.append("</p>\n");
    if (m_nEdition > 0)
        out.append("<p>Edition ").append(m_locale.toString(m_nEdition).toUtf8()).append("</p>\n");
    out.append("<p class=\"meta\">");
    if (m_bEdition)
        out.append(Count(articles, "new article", "new articles"))
            .append(" from ")
            .append(Count(feeds, "feed", "feeds"));
    else
        out.append(Count(feeds, "feed", "feeds"))
            .append(" \xC2\xB7 ")
            .append(Count(articles, "article", "articles"));
    out.append("</p>\n</div>\n");
    return XhtmlDocument(Title(), Language(), out);
}

QByteArray EBookWriter::PackageDocument(const QByteArray& identifier) const {
    const QByteArray modified = m_runTime.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toLatin1();
    QByteArray out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"book-id\">\n"
        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<dc:identifier id=\"book-id\">";
    out.append(identifier);
    out.append("</dc:identifier>\n<dc:title>");
    AppendXmlEscaped(out, Title());
    out.append("</dc:title>\n<dc:language>").append(Language()).append("</dc:language>\n");
    out.append("<dc:creator>Pellavo</dc:creator>\n<dc:date>").append(modified).append("</dc:date>\n");
    out.append("<meta property=\"dcterms:modified\">").append(modified).append("</meta>\n");
    // Kindle and older readers find the cover by this name rather than by the property.
    if (!m_cover.isEmpty())
        out.append("<meta name=\"cover\" content=\"cover-image\"/>\n");
    if (m_nEdition > 0) {
        // Readers group the editions by these: EPUB 3's collection, and Calibre's names that
        // many readers know only.
        const QByteArray number = QByteArray::number(m_nEdition);
        out.append("<meta property=\"belongs-to-collection\" id=\"series\">Pellavo News</meta>\n"
                   "<meta refines=\"#series\" property=\"collection-type\">series</meta>\n"
                   "<meta refines=\"#series\" property=\"group-position\">")
            .append(number)
            .append("</meta>\n<meta name=\"calibre:series\" content=\"Pellavo News\"/>\n"
                    "<meta name=\"calibre:series_index\" content=\"")
            .append(number)
            .append("\"/>\n");
    }
    out.append(
        "</metadata>\n<manifest>\n"
        "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
        "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
        "<item id=\"cover\" href=\"cover.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
        "<item id=\"style\" href=\"style.css\" media-type=\"text/css\"/>\n");
    if (!m_cover.isEmpty())
        out.append("<item id=\"cover-image\" href=\"")
            .append(kCoverImage)
            .append("\" media-type=\"image/jpeg\" properties=\"cover-image\"/>\n");
    QByteArray spine = "<spine toc=\"ncx\">\n<itemref idref=\"cover\"/>\n";
    // A content document is in the manifest and, in reading order, in the spine; its id is
    // its name without ".xhtml".
    const auto addDocument = [&](const QByteArray& name) {
        out.append("<item id=\"")
            .append(name.chopped(6))
            .append("\" href=\"")
            .append(name)
            .append("\" media-type=\"application/xhtml+xml\"/>\n");
        spine.append("<itemref idref=\"").append(name.chopped(6)).append("\"/>\n");
    };
    for (int page = 0; page < int(m_contentsPages.size()); ++page)
        addDocument(ContentsName(page));
    for (const int chapter : m_order)
        for (int d = 0; d < int(m_chapters[size_t(chapter)].documents.size()); ++d)
            addDocument(DocumentName(chapter, d));
    for (const Picture& picture : m_pictures) {
        if (!picture.stored)
            continue;
        out.append("<item id=\"")
            .append(picture.name.left(picture.name.indexOf('.')))
            .append("\" href=\"images/")
            .append(picture.name)
            .append("\" media-type=\"")
            .append(PictureMediaType(picture.format))
            .append("\"/>\n");
    }
    out.append("</manifest>\n").append(spine).append("</spine>\n</package>\n");
    return out;
}

bool EBookWriter::Finish() {
    if (!CanGoOn())
        return false;
    ChoosePictures();
    MakeContents();
    QStringList names; // on the cover: the groups and feeds at the top of the contents
    int depth = 0;
    for (const Entry& entry : m_contents) {
        if (entry.kind == Entry::Kind::End) {
            --depth;
            continue;
        }
        if (depth == 0)
            names << QString::fromUtf8(entry.kind == Entry::Kind::Group
                                           ? entry.title
                                           : m_chapters[size_t(entry.chapter)].outline.title);
        depth += entry.kind == Entry::Kind::Group ? 1 : 0;
    }
    for (size_t i = 0; i < m_order.size(); ++i)
        m_chapters[size_t(m_order[i])].name =
            "feed" + QByteArray::number(qulonglong(i + 1)).rightJustified(4, '0');
    for (const int chapter : m_order) {
        if (!CanGoOn() || !MakeDocuments(chapter))
            return false;
    }
    m_pictureUses.clear();
    if (m_spool && !m_spool->flush())
        return SpoolError(QStringLiteral("write"));
    if (m_pictureSpool && !m_pictureSpool->flush())
        return Fail(QStringLiteral("cannot write the temporary file %1: %2")
                        .arg(m_pictureSpool->fileName(), m_pictureSpool->errorString()));
    m_cover = DrawCover({m_runTime, m_locale, m_nEdition, names});
    // With thousands of feeds even the short contents take more than one document.
    const QByteArray language = Language();
    m_contentsPages.clear();
    for (const QByteArray& page :
         SplitFragment(ShortContents(), kDocumentTarget - XhtmlDocument("Contents", language, {}).size()))
        m_contentsPages.push_back(XhtmlDocument("Contents", language, page));

    // libzip would only say that the operation is not supported.
    if (QFileInfo(m_bookPath).isDir())
        return Fail(QStringLiteral("%1: %2").arg(m_bookPath, QString::fromLocal8Bit(std::strerror(EISDIR))));

    QString why;
    zip_t* archive = OpenZipArchive(m_bookPath, ZIP_CREATE | ZIP_TRUNCATE, &why);
    if (!archive)
        return Fail(why);
    // Compressing a large book takes a while: a stop must not wait for it.
    if (m_stop)
        zip_register_cancel_callback_with_state(
            archive,
            [](zip_t*, void* stop) { return static_cast<const std::atomic_bool*>(stop)->load() ? 1 : 0; },
            nullptr, const_cast<std::atomic_bool*>(m_stop));
    // libzip reads these when it closes the archive: they live until then.
    const QByteArray identifier = "urn:uuid:" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const QByteArray documents[] = {PackageDocument(identifier), NavigationDocument(), Ncx(identifier),
                                    CoverDocument()};
    const auto added = [&](zip_source_t* source, const QByteArray& name, bool compress) {
        const zip_int64_t index =
            source ? zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (source && index < 0)
            zip_source_free(source);
        return index >= 0 && zip_set_file_compression(archive, zip_uint64_t(index),
                                                      compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                                      compress ? kCompressionLevel : 0) == 0;
    };
    const auto addBuffer = [&](const QByteArray& name, const void* data, qsizetype size, bool compress) {
        return added(zip_source_buffer(archive, data, zip_uint64_t(size), 0), name, compress);
    };
    const auto addFile = [&](const QByteArray& name, const QTemporaryFile& file, qint64 offset, qint64 size,
                             bool compress) {
        return added(zip_source_file(archive, QFile::encodeName(file.fileName()).constData(),
                                     zip_uint64_t(offset), zip_int64_t(size)),
                     name, compress);
    };
    // Reading systems find the kind of the file in its first entry, stored as it is.
    bool ok = addBuffer("mimetype", kMimetype, qsizetype(sizeof kMimetype - 1), false) &&
              addBuffer("META-INF/container.xml", kContainer, qsizetype(sizeof kContainer - 1), true) &&
              addBuffer("EPUB/package.opf", documents[0].constData(), documents[0].size(), true) &&
              addBuffer("EPUB/nav.xhtml", documents[1].constData(), documents[1].size(), true) &&
              addBuffer("EPUB/toc.ncx", documents[2].constData(), documents[2].size(), true) &&
              addBuffer("EPUB/cover.xhtml", documents[3].constData(), documents[3].size(), true) &&
              addBuffer("EPUB/style.css", kStylesheet, qsizetype(sizeof kStylesheet - 1), true);
    for (int page = 0; ok && page < int(m_contentsPages.size()); ++page)
        ok = addBuffer("EPUB/" + ContentsName(page), m_contentsPages[size_t(page)].constData(),
                       m_contentsPages[size_t(page)].size(), true);
    // Pictures are compressed already.
    if (ok && !m_cover.isEmpty())
        ok = addBuffer(QByteArray("EPUB/") + kCoverImage, m_cover.constData(), m_cover.size(), false);
    for (const int chapter : m_order) {
        const Chapter& c = m_chapters[size_t(chapter)];
        for (int d = 0; ok && d < int(c.documents.size()); ++d)
            ok = addFile("EPUB/" + DocumentName(chapter, d), *m_spool, c.documents[size_t(d)].first,
                         c.documents[size_t(d)].second, true);
    }
    for (size_t i = 0; ok && i < m_pictures.size(); ++i) {
        const Picture& picture = m_pictures[i];
        if (picture.stored)
            ok = addFile("EPUB/images/" + picture.name, *m_pictureSpool, picture.offset, picture.size, false);
    }
    if (ok && zip_close(archive) == 0) {
        m_finished = true;
        return true;
    }
    why = QString::fromLocal8Bit(zip_strerror(archive));
    zip_discard(archive);
    return Fail(QStringLiteral("%1: %2").arg(m_bookPath, why));
}

} // namespace ebook
