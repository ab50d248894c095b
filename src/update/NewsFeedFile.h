#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The news feed file that goes to the phone. All integers are 32-bit little-endian:
//   signature 87561 | flag 0/1 | [channel length, channel file bytes] | records to the end,
// where a record is: URL length, URL as UTF-16LE | content length, cleaned feed document.
namespace NewsFeedFile {

constexpr quint32 Signature = 87561;

// The two cleaning steps applied to every downloaded document before it is stored: the
// first document type declaration after the very start is removed (with a nesting scan
// up to its final '>'), then the first default namespace declaration after the very
// start, with its value. Both searches see the bytes up to the first zero byte; when
// either finds its pattern the content is that text as edited, otherwise the document
// is stored whole, so a UTF-16 document passes through unchanged.
QByteArray CleanFeedDocument(const QByteArray& document);

// The header: signature, flag and, when syncChannels is set and the channel file's
// bytes are not empty, the channel block. With nothing to carry the flag is 0, so that
// the phone keeps its own subscriptions rather than receiving an empty list.
QByteArray EncodeHeader(bool syncChannels, const QByteArray& channelFile);

// One whole record; `url` goes out as UTF-16LE. `content` is stored as given.
QByteArray EncodeRecord(const QString& url, const QByteArray& content);

} // namespace NewsFeedFile

enum class AppendResult {
    Written,    // the record is in the file
    NoContent,  // the downloaded file is empty or cannot be read: no record, the feed counts as failed
    WriteError, // the news feed file could not be written: see the writer's ErrorString()
};

// Appends the pieces of a news feed file to a file that the caller opened (creating or
// truncating it) and holds open, locked, for the whole run. Each piece is one write:
// a record is on disk whole or, after a failed write, not at all (the file is cut back
// to where the record began when it is a regular file).
class NewsFeedWriter {
public:
    // Not owned; open for writing.
    explicit NewsFeedWriter(QIODevice& device);
    // Not owned; open for writing.
    explicit NewsFeedWriter(int fd);

    bool WriteHeader(bool syncChannels, const QByteArray& channelFile);
    // Reads the channel file; a missing, unreadable or empty one gives flag 0 and no block.
    bool WriteHeaderFromChannelFile(bool syncChannels, const QString& channelFilePath);

    // Appends one record with the document as given (already cleaned or not).
    bool AppendRecord(const QString& url, const QByteArray& content);

    // Why the last write failed.
    QString ErrorString() const { return m_error; }

private:
    friend AppendResult AppendFeedContent(NewsFeedWriter&, const QString&, const QString&, QByteArray*);
    bool WriteAll(const QByteArray& bytes);

    QIODevice* m_device = nullptr;
    int m_fd = -1;
    QString m_error;
};

// Reads the downloaded document at `downloadedFile`, cleans it and appends the record
// for `url` with one write. `downloaded`, when given, receives the document as it was read,
// before the cleaning, so that nobody needs to read the file again.
AppendResult AppendFeedContent(NewsFeedWriter& file, const QString& url, const QString& downloadedFile,
                               QByteArray* downloaded = nullptr);

// Walks a news feed file from the start. Any malformed piece stops the walk with the
// offset where it begins and what was expected there.
class NewsFeedReader {
public:
    struct Record {
        qint64 offset = 0; // of the record's URL length
        QString url;
        QByteArray content;
    };

    // Not owned; open for reading.
    explicit NewsFeedReader(QIODevice& device);

    // Signature, flag and channel block. False on a malformed header.
    bool ReadHeader();
    bool SyncFlag() const { return m_syncFlag; }
    const QByteArray& ChannelFile() const { return m_channel; }

    // The next record. False at the end of the file (AtEnd()) or on a malformed record.
    bool ReadNext(Record& record);
    bool AtEnd() const { return m_atEnd; }

    bool HasError() const { return m_errorOffset >= 0; }
    qint64 ErrorOffset() const { return m_errorOffset; }
    // "offset 1234: expected ...", naming what was expected there.
    QString ErrorString() const;

private:
    bool ReadExactly(qint64 size, QByteArray& out, const QString& what);
    bool ReadLength(quint32& value, const QString& what);
    bool Fail(qint64 offset, const QString& expected);

    QIODevice& m_device;
    qint64 m_offset = 0;
    bool m_syncFlag = false;
    QByteArray m_channel;
    bool m_atEnd = false;
    qint64 m_errorOffset = -1;
    QString m_expected;
};
