#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// What the fuzz targets check, kept apart from libFuzzer so that the ordinary test suite
// runs every seed and every past finding through the very same checks. Each check takes
// one input and returns what went wrong, or an empty string.
namespace pellavo::fuzz {

// The OPML reader. The first byte picks how the reader's device hands out the bytes
// (whole, or in short reads of changing size); the rest is the document. Whatever the
// reader makes of it must not depend on the short reads, and writing it (in both forms)
// and reading that again must give the same items, less what the writer leaves out on
// purpose: empty groups, the version, and the feed attributes of an outline with children.
QString CheckOpml(const QByteArray& input);

// The news feed file reader. The first byte picks a random-access or a sequential
// device; the rest is the file. The walk must end, say where it stopped, and a file it
// reads whole must be what the writer makes of the pieces it read.
QString CheckNewsFeedReader(const QByteArray& input);

// The cleaning of a downloaded document. The content is never longer than the
// document and is the document with pieces taken out, and the record that
// AppendFeedContent writes reads back as exactly one record with that content.
QString CheckFeedCleaning(const QByteArray& input);

// One feed document made into a chapter of the e-book. The first byte picks what the rest
// is: a feed document (even) or the HTML body of an article (odd). The chapter must pass
// XhtmlProblem.
QString CheckFeedChapter(const QByteArray& input);

// The article finder. The first byte picks how the page is announced (no header, a
// charset in the header, or an odd one); the rest is the page. The article found, if
// any, must pass XhtmlProblem and hold some text. Defined apart, in ArticleFuzzCheck.cpp.
QString CheckArticleFinder(const QByteArray& input);
// One fetched picture made for a book. The first byte picks shades of grey (odd) or colour;
// the rest is the picture. What comes out is nothing, or a JPEG, PNG or GIF that decodes to
// at most the book's largest side, without transparency, and in grey when asked.
QString CheckPicture(const QByteArray& input);

// What is wrong with an XHTML content document or fragment of the e-book, or an empty
// string: it must be well-formed (by expat), hold only the elements and attributes the
// sanitiser lets through, links only to http, https and mailto, nothing run by a reader
// (no script, no on... attribute), and nest as reading systems validate: no block inside
// phrasing content, no link inside a link, list items and table parts only in their parents.
QString XhtmlProblem(const QByteArray& xhtml);

// A device over bytes that can be sequential and that hands out at most a changing
// number of bytes per read, as pipes and network file systems do.
class ShortReadDevice : public QIODevice {
public:
    // A seed of 0 gives whole reads; others give reads of 1 to 300 bytes.
    ShortReadDevice(const QByteArray& bytes, bool sequential, unsigned seed);

    bool isSequential() const override { return m_sequential; }
    qint64 size() const override { return m_bytes.size(); }
    qint64 bytesAvailable() const override;
    bool seek(qint64 pos) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_next = 0;
    bool m_sequential;
    unsigned m_state;
};

} // namespace pellavo::fuzz
