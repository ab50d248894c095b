#include "ebook/EBookWriter.h"

#include "base/FeedAddress.h"
#include "base/XmlText.h"
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
                               ".cover { text-align: center; margin-top: 30%; }\n"
                               ".cover h1 { font-size: 2.4em; }\n"
                               "nav ol { list-style: none; padding-left: 1em; }\n";

// Where an image goes in a chapter as it is made: its use's number between these two
// bytes, which XML text never holds and so no chapter holds otherwise.
constexpr char kMarkStart = '\x01';
constexpr char kMarkEnd = '\x02';

// What reading systems that predate WebP show in its place (one light grey pixel), which
// they need to call the book valid.
constexpr unsigned char kWebPFallback[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x03, 0x00, 0x00, 0x00, 0x28, 0xcb, 0x34, 0xbb, 0x00,
    0x00, 0x00, 0x03, 0x50, 0x4c, 0x54, 0x45, 0xd0, 0xd0, 0xd0, 0x2d, 0x18, 0x1f, 0x21, 0x00, 0x00, 0x00,
    0x0a, 0x49, 0x44, 0x41, 0x54, 0x08, 0xd7, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0xe2, 0x21,
    0xbc, 0x33, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
constexpr char kWebPFallbackName[] = "fallback.png";

QByteArray ChapterName(int index) {
    return "feed" + QByteArray::number(index + 1).rightJustified(4, '0') + ".xhtml";
}

QByteArray DocumentStart(const QByteArray& title, const QByteArray& language, bool epubNamespace) {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                     "<html xmlns=\"http://www.w3.org/1999/xhtml\"";
    if (epubNamespace)
        out.append(" xmlns:epub=\"http://www.idpf.org/2007/ops\"");
    out.append(" xml:lang=\"")
        .append(language)
        .append("\" lang=\"")
        .append(language)
        .append("\">\n<head>\n<title>");
    AppendXmlEscaped(out, title);
    out.append("</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/>\n</head>\n");
    return out;
}

QByteArray OutlineTitle(const COutlineItem& item) {
    const char* title = item.m_pszTitle && *item.m_pszTitle ? item.m_pszTitle : item.m_pszText;
    return title ? QByteArray(title).simplified() : QByteArray();
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
    const QByteArray xhtml = WriteChapter(feed, source, &chapter.outline);
    chapter.offset = m_spool->pos();
    chapter.size = xhtml.size();
    if (m_spool->write(xhtml) != xhtml.size())
        return Fail(QStringLiteral("cannot write the temporary file %1: %2")
                        .arg(m_spool->fileName(), m_spool->errorString()));
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

void EBookWriter::ChoosePictures() {
    qint64 total = 0;
    m_nStoredPictures = 0;
    m_bWebP = false;
    for (Picture& picture : m_pictures) {
        picture.format = PictureFormat::None;
        QFile file(m_pictureFiles.value(picture.address));
        if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
            continue;
        const qint64 size = file.size();
        // A picture too large for what is left still leaves room for smaller ones after it.
        if (size <= 0 || size > kMaxPictureBytes || total + size > kMaxBookPictureBytes)
            continue;
        const QByteArray bytes = file.read(size);
        const PictureFormat format = bytes.size() == size ? RecognisePicture(bytes) : PictureFormat::None;
        if (format == PictureFormat::None)
            continue;
        picture.format = format;
        picture.file = file.fileName();
        picture.size = size;
        picture.name = "img" + QByteArray::number(++m_nStoredPictures).rightJustified(4, '0') + '.' +
                       PictureSuffix(format);
        m_bWebP = m_bWebP || format == PictureFormat::WebP;
        total += size;
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
        if (picture.format == PictureFormat::None) {
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

// The chapters that show pictures are written again at the end of the spool, with each
// mark replaced by its picture or its alternative text.
bool EBookWriter::PlacePictures() {
    ChoosePictures();
    for (Chapter& chapter : m_chapters) {
        if (!chapter.pictures)
            continue;
        QByteArray xhtml(chapter.size, Qt::Uninitialized);
        if (!m_spool->seek(chapter.offset) || m_spool->read(xhtml.data(), chapter.size) != chapter.size)
            return Fail(QStringLiteral("cannot read the temporary file %1: %2")
                            .arg(m_spool->fileName(), m_spool->errorString()));
        xhtml = PlacedPictures(xhtml);
        chapter.offset = m_spool->size();
        chapter.size = xhtml.size();
        if (!m_spool->seek(chapter.offset) || m_spool->write(xhtml) != xhtml.size())
            return Fail(QStringLiteral("cannot write the temporary file %1: %2")
                            .arg(m_spool->fileName(), m_spool->errorString()));
        chapter.pictures = false;
    }
    m_pictureUses.clear();
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
    return best.isEmpty() ? QByteArray("en") : best;
}

void EBookWriter::AppendContentsEntry(QByteArray& out, int index) const {
    const Chapter& chapter = m_chapters[size_t(index)];
    const QByteArray name = ChapterName(index);
    out.append("<li><a href=\"").append(name).append("\">");
    AppendXmlEscaped(out, chapter.outline.title);
    out.append("</a>");
    if (!chapter.outline.articles.empty()) {
        out.append("\n<ol>\n");
        int number = 0;
        for (const QByteArray& article : chapter.outline.articles) {
            out.append("<li><a href=\"")
                .append(name)
                .append("#a")
                .append(QByteArray::number(++number))
                .append("\">");
            AppendXmlEscaped(out, article);
            out.append("</a></li>\n");
        }
        out.append("</ol>");
    }
    out.append("</li>\n");
}

QByteArray EBookWriter::ContentsDocument() const {
    QByteArray out = DocumentStart("Contents", Language(), true);
    out.append("<body>\n<nav epub:type=\"toc\" id=\"toc\">\n<h1>Contents</h1>\n<ol>\n");
    std::vector<bool> placed(m_chapters.size(), false);
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
        std::vector<bool> groupOpen; // per level entered: whether it opened a list
        for (const COutlineItem* item = m_root->m_pFirstChild; item;) {
            const bool wanted = holds.value(item);
            bool enter = false;
            if (wanted && !item->IsFeed()) {
                out.append("<li><span>");
                const QByteArray title = OutlineTitle(*item);
                AppendXmlEscaped(out, title.isEmpty() ? QByteArray("Untitled group") : title);
                out.append("</span>\n<ol>\n");
                groupOpen.push_back(true);
                enter = true;
            } else if (wanted) {
                if (item->m_pParent != m_root.get()) {
                    for (const int chapter : chapters.value(QString::fromUtf8(item->m_pszXmlUrl))) {
                        AppendContentsEntry(out, chapter);
                        placed[size_t(chapter)] = true;
                    }
                }
                if (item->m_pFirstChild) {
                    groupOpen.push_back(false);
                    enter = true;
                }
            }
            item = NextItem(item, m_root.get(), !enter, closed);
            for (; closed > 0 && !groupOpen.empty(); --closed) {
                if (groupOpen.back())
                    out.append("</ol></li>\n");
                groupOpen.pop_back();
            }
        }
    }
    for (int i = 0; i < int(m_chapters.size()); ++i) {
        if (!placed[size_t(i)])
            AppendContentsEntry(out, i);
    }
    const bool any = !m_chapters.empty();
    if (!any) {
        out.append("<li><a href=\"cover.xhtml\">");
        AppendXmlEscaped(out, Title());
        out.append("</a></li>\n");
    }
    out.append("</ol>\n</nav>\n<nav epub:type=\"landmarks\" hidden=\"hidden\">\n<h2>Landmarks</h2>\n<ol>\n"
               "<li><a epub:type=\"cover\" href=\"cover.xhtml\">Cover</a></li>\n"
               "<li><a epub:type=\"toc\" href=\"nav.xhtml\">Contents</a></li>\n");
    if (any)
        out.append("<li><a epub:type=\"bodymatter\" href=\"")
            .append(ChapterName(0))
            .append("\">News</a></li>\n");
    out.append("</ol>\n</nav>\n</body>\n</html>\n");
    return out;
}

QByteArray EBookWriter::CoverDocument() const {
    int feeds = 0;
    for (const Chapter& chapter : m_chapters)
        feeds += chapter.outline.isFeed ? 1 : 0;
    const int articles = ArticleCount();
    const QByteArray title = Title();
    QByteArray out = DocumentStart(title, Language(), false);
    out.append("<body class=\"cover\">\n<h1>Pellavo News</h1>\n<p>");
    // What follows the dash in the title: the date, and an edition's time.
    AppendXmlEscaped(out, title.mid(title.indexOf("\xE2\x80\x93") + 4));
    out.append("</p>\n");
    if (m_nEdition > 0)
        out.append("<p>Edition ").append(QByteArray::number(m_nEdition)).append("</p>\n");
    out.append("<p class=\"meta\">");
    if (m_bEdition)
        out.append(QByteArray::number(articles))
            .append(articles == 1 ? " new article from " : " new articles from ")
            .append(QByteArray::number(feeds))
            .append(feeds == 1 ? " feed" : " feeds");
    else
        out.append(QByteArray::number(feeds))
            .append(feeds == 1 ? " feed" : " feeds")
            .append(" \xC2\xB7 ")
            .append(QByteArray::number(articles))
            .append(articles == 1 ? " article" : " articles");
    out.append("</p>\n</body>\n</html>\n");
    return out;
}

QByteArray EBookWriter::PackageDocument(const QByteArray& language) const {
    const QByteArray modified = m_runTime.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toLatin1();
    QByteArray out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"book-id\">\n"
        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<dc:identifier id=\"book-id\">urn:uuid:";
    out.append(QUuid::createUuid().toByteArray(QUuid::WithoutBraces));
    out.append("</dc:identifier>\n<dc:title>");
    AppendXmlEscaped(out, Title());
    out.append("</dc:title>\n<dc:language>").append(language).append("</dc:language>\n");
    out.append("<dc:creator>Pellavo</dc:creator>\n<dc:date>").append(modified).append("</dc:date>\n");
    out.append("<meta property=\"dcterms:modified\">").append(modified).append("</meta>\n");
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
    out.append("</metadata>\n<manifest>\n");
    out.append(
        "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
        "<item id=\"cover\" href=\"cover.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
        "<item id=\"style\" href=\"style.css\" media-type=\"text/css\"/>\n");
    for (int i = 0; i < int(m_chapters.size()); ++i) {
        const QByteArray name = ChapterName(i);
        out.append("<item id=\"")
            .append(name.chopped(6))
            .append("\" href=\"")
            .append(name)
            .append("\" media-type=\"application/xhtml+xml\"/>\n");
    }
    for (const Picture& picture : m_pictures) {
        if (picture.format == PictureFormat::None)
            continue;
        out.append("<item id=\"")
            .append(picture.name.left(picture.name.indexOf('.')))
            .append("\" href=\"images/")
            .append(picture.name)
            .append("\" media-type=\"")
            .append(PictureMediaType(picture.format))
            .append('"');
        if (picture.format == PictureFormat::WebP)
            out.append(" fallback=\"webp-fallback\"");
        out.append("/>\n");
    }
    if (m_bWebP)
        out.append("<item id=\"webp-fallback\" href=\"images/")
            .append(kWebPFallbackName)
            .append("\" media-type=\"image/png\"/>\n");
    out.append("</manifest>\n<spine>\n<itemref idref=\"cover\"/>\n<itemref idref=\"nav\"/>\n");
    for (int i = 0; i < int(m_chapters.size()); ++i)
        out.append("<itemref idref=\"").append(ChapterName(i).chopped(6)).append("\"/>\n");
    out.append("</spine>\n</package>\n");
    return out;
}

bool EBookWriter::Finish() {
    if (!CanGoOn())
        return false;
    if (m_spool && !PlacePictures())
        return false;
    if (m_spool && !m_spool->flush())
        return Fail(QStringLiteral("cannot write the temporary file %1: %2")
                        .arg(m_spool->fileName(), m_spool->errorString()));

    // libzip would only say that the operation is not supported.
    if (QFileInfo(m_bookPath).isDir())
        return Fail(QStringLiteral("%1: %2").arg(m_bookPath, QString::fromLocal8Bit(std::strerror(EISDIR))));

    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(m_bookPath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const QString why = QString::fromLocal8Bit(zip_error_strerror(&error));
        zip_error_fini(&error);
        return Fail(QStringLiteral("%1: %2").arg(m_bookPath, why));
    }
    // Compressing a large book takes a while: a stop must not wait for it.
    if (m_stop)
        zip_register_cancel_callback_with_state(
            archive,
            [](zip_t*, void* stop) { return static_cast<const std::atomic_bool*>(stop)->load() ? 1 : 0; },
            nullptr, const_cast<std::atomic_bool*>(m_stop));
    // libzip reads these when it closes the archive: they live until then.
    const QByteArray language = Language();
    const QByteArray documents[] = {CoverDocument(), ContentsDocument(), PackageDocument(language)};
    const auto addBuffer = [&](const char* name, const void* data, qsizetype size, bool compress) {
        zip_source_t* source = zip_source_buffer(archive, data, zip_uint64_t(size), 0);
        if (!source)
            return false;
        const zip_int64_t index = zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            return false;
        }
        return zip_set_file_compression(archive, zip_uint64_t(index),
                                        compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                        compress ? kCompressionLevel : 0) == 0;
    };
    // Reading systems find the kind of the file in its first entry, stored as it is.
    bool ok = addBuffer("mimetype", kMimetype, qsizetype(sizeof kMimetype - 1), false) &&
              addBuffer("META-INF/container.xml", kContainer, qsizetype(sizeof kContainer - 1), true) &&
              addBuffer("EPUB/package.opf", documents[2].constData(), documents[2].size(), true) &&
              addBuffer("EPUB/nav.xhtml", documents[1].constData(), documents[1].size(), true) &&
              addBuffer("EPUB/cover.xhtml", documents[0].constData(), documents[0].size(), true) &&
              addBuffer("EPUB/style.css", kStylesheet, qsizetype(sizeof kStylesheet - 1), true);
    const QByteArray spool = m_spool ? QFile::encodeName(m_spool->fileName()) : QByteArray();
    for (int i = 0; ok && i < int(m_chapters.size()); ++i) {
        const Chapter& chapter = m_chapters[size_t(i)];
        zip_source_t* source = zip_source_file(archive, spool.constData(), zip_uint64_t(chapter.offset),
                                               zip_int64_t(chapter.size));
        const QByteArray name = "EPUB/" + ChapterName(i);
        const zip_int64_t index =
            source ? zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (source && index < 0)
            zip_source_free(source);
        ok = index >= 0 &&
             zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, kCompressionLevel) == 0;
    }
    // Pictures are compressed already.
    for (size_t i = 0; ok && i < m_pictures.size(); ++i) {
        const Picture& picture = m_pictures[i];
        if (picture.format == PictureFormat::None)
            continue;
        zip_source_t* source = zip_source_file(archive, QFile::encodeName(picture.file).constData(), 0,
                                               zip_int64_t(picture.size));
        const QByteArray name = "EPUB/images/" + picture.name;
        const zip_int64_t index =
            source ? zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (source && index < 0)
            zip_source_free(source);
        ok = index >= 0 && zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0) == 0;
    }
    if (ok && m_bWebP)
        ok = addBuffer((QByteArray("EPUB/images/") + kWebPFallbackName).constData(), kWebPFallback,
                       qsizetype(sizeof kWebPFallback), false);
    if (ok && zip_close(archive) == 0) {
        m_finished = true;
        return true;
    }
    const QString why = QString::fromLocal8Bit(zip_strerror(archive));
    zip_discard(archive);
    return Fail(QStringLiteral("%1: %2").arg(m_bookPath, why));
}

} // namespace ebook
