#pragma once

#include "ebook/Chapter.h"
#include "ebook/HtmlSanitizer.h"
#include "ebook/Pictures.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class COutlineHead;
class COutlineItem;
class QTemporaryFile;

namespace ebook {

// No content document of a book is larger than this (uncompressed): older reading engines
// open none that is.
constexpr qsizetype kMaxDocumentBytes = 300 * 1024;

// Writes the e-book edition (EPUB 3) of a run, made to show well on every kind of reader:
// a cover picture and page, short contents (groups and feeds) in the reading order, then
// one chapter per record, in the order of the subscriptions; a navigation document with
// every article and an NCX of feeds and articles for older reading engines.
//
// Each record is made into its chapter at once and set aside in a temporary file, so
// memory holds one feed document at a time however many feeds there are; the book keeps
// only the titles for its table of contents. Finish cuts each chapter into documents no
// larger than kMaxDocumentBytes, writes the container beside the book and renames it into
// place: the book at the path is replaced whole or not at all, and until Finish it stays as
// it was. A writer destroyed without Finish leaves nothing behind.
//
// The pictures the articles show are noted as the chapters are made; whoever fetches them
// hands them over before Finish, each made for reading devices as it comes (set aside in a
// temporary file too), and each image becomes its picture stored in the book or, without
// one, its alternative text. No book ever points at a resource on the web.
class EBookWriter {
public:
    // `runTime` dates the book; `locale` writes the dates in it.
    EBookWriter(const QString& bookPath, const QDateTime& runTime, const QLocale& locale = QLocale());
    ~EBookWriter();

    EBookWriter(const EBookWriter&) = delete;
    EBookWriter& operator=(const EBookWriter&) = delete;

    // The channel block (the subscriptions as OPML), before the first record. Without one,
    // or with one that is no OPML, the table of contents lists the feeds flat.
    void SetChannelFile(const QByteArray& opml);

    // Once `stop` (not owned; it outlives the writer) is set, AddRecord and Finish give up
    // soon, even while Finish compresses, and the book stays as it was.
    void SetStopFlag(const std::atomic_bool* stop) { m_stop = stop; }

    // Makes the book carry the pictures its articles show, once they are fetched (Pictures,
    // AddPicture); without, every image becomes its alternative text as its chapter is made.
    // With `grey`, in shades of grey. Before the first record.
    void EnablePictures(bool grey = false) {
        m_bPictures = true;
        m_bGrey = grey;
    }

    // Decides which of a record's articles the book carries, before its chapter is made: it
    // may remove and reorder them; false leaves the record out of the book. Before the first
    // record.
    using ArticleFilter = std::function<bool(const QString& url, Feed& feed)>;
    void SetArticleFilter(ArticleFilter filter) { m_filter = std::move(filter); }

    // Makes the book an edition of the series "Pellavo News": its title gives the time of the
    // run as well as the date, and the series metadata and the cover carry `number` (none
    // when 0) and the count of new articles and feeds.
    void SetEdition(int number) {
        m_bEdition = true;
        m_nEdition = number;
    }

    // Makes one record into a chapter. False when the chapter could not be set aside; the
    // book then cannot be finished.
    bool AddRecord(const QString& url, const QByteArray& document);

    // The pictures the articles added so far show, each once, in the order they first show
    // them: the http(s) addresses to fetch.
    QStringList Pictures() const;
    qsizetype PictureCount() const { return qsizetype(m_pictures.size()); }
    // A fetched picture, by its address as Pictures() gives it: made for reading devices
    // (PreparePicture) and set aside. False when it is no picture the book can take, or it
    // could not be set aside (then the book cannot be finished).
    bool AddPicture(const QString& address, QByteArrayView bytes);
    // What the pictures handed over take as the book stores them.
    qint64 PictureBytes() const { return m_nPictureBytes; }

    // Writes the book in place of any earlier one, once. False when it could not
    // (ErrorString()), and then the earlier book is as it was and no other file is left.
    bool Finish();

    QString ErrorString() const { return m_error; }
    int ChapterCount() const { return int(m_chapters.size()); }
    int ArticleCount() const;

private:
    struct Chapter {
        qint64 offset = 0;          // in the spool: the intro, the articles, the closing
        std::vector<qint64> pieces; // their sizes
        QString url;
        ChapterOutline outline;
        bool pictures = false; // it marks where pictures go
        // Made by Finish: its documents, and which of them each article is in.
        std::vector<QPair<qint64, qint64>> documents; // offset and size in the spool
        std::vector<int> articleDocument;
        QByteArray name; // of its first document, without ".xhtml"
    };
    struct Picture {
        QString address;
        PictureFormat format = PictureFormat::None; // None: not handed over, or no picture
        qint64 offset = 0;                          // in the picture spool
        qint64 size = 0;
        bool stored = false; // within the budget
        QByteArray name;     // in the book's images folder
    };
    // One image of an article: its picture and what it says in words.
    struct PictureUse {
        int picture;
        QByteArray alt;
        QByteArray title;
    };
    // The contents in order: groups open and close around the chapters in them.
    struct Entry {
        enum class Kind { Group, End, Chapter } kind;
        QByteArray title;  // of a group
        int chapter = -1;  // of a chapter
        QByteArray groups; // of a chapter: the groups it is in, outermost first
    };

    QByteArray Title() const;
    QByteArray Language() const;
    void MakeContents();
    QByteArray DocumentName(int chapter, int document) const;
    QByteArray Href(int chapter, int article) const;
    void AppendContentsTree(QByteArray& out, const std::vector<const Entry*>& entries, bool articles) const;
    QByteArray NavigationDocument() const;
    QByteArray ShortContents() const;
    static QByteArray ContentsName(int page);
    QByteArray Ncx(const QByteArray& identifier) const;
    QByteArray CoverDocument() const;
    QByteArray PackageDocument(const QByteArray& identifier) const;
    // False once the writer has failed, been stopped or finished, saying why where it is new.
    bool CanGoOn();
    bool Fail(const QString& why);
    bool Stopped() const { return m_stop && m_stop->load(); }
    QByteArray PictureMark(const ImageInfo& image);
    void ChoosePictures();
    QByteArray PlacedPictures(QByteArrayView xhtml) const;
    bool MakeDocuments(int chapter);
    bool SpoolError(const QString& what);

    QString m_bookPath;
    QDateTime m_runTime;
    QLocale m_locale;
    const std::atomic_bool* m_stop = nullptr;
    std::unique_ptr<COutlineHead> m_head;
    std::unique_ptr<COutlineItem> m_root; // the subscriptions, when the channel block parsed
    QHash<QString, QByteArray> m_subscriptionTitles;
    std::unique_ptr<QTemporaryFile> m_spool;
    std::unique_ptr<QTemporaryFile> m_pictureSpool;
    std::vector<Chapter> m_chapters;
    std::vector<Entry> m_contents;
    std::vector<int> m_order; // the chapters in reading order
    std::vector<Picture> m_pictures;
    QHash<QString, int> m_pictureIndex;
    std::vector<PictureUse> m_pictureUses;
    qint64 m_nPictureBytes = 0;
    QByteArray m_cover;                      // the cover picture; empty without one
    std::vector<QByteArray> m_contentsPages; // the short contents, as many documents as it takes
    bool m_bPictures = false;
    ArticleFilter m_filter;
    bool m_bEdition = false;
    int m_nEdition = 0;
    bool m_bGrey = false;
    QString m_error;
    bool m_failed = false;
    bool m_finished = false;
};

} // namespace ebook
