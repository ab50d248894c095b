#include "update/NewsFeedFile.h"

#include <QFile>
#include <QFileDevice>
#include <QIODevice>
#include <QScopeGuard>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr qint64 MaxField = std::numeric_limits<quint32>::max();

void AppendLength(QByteArray& out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The document type declaration starting at `start` ends at the first '>' that closes
// no '<' opened inside it (an internal subset's declarations nest). -1 when it never ends.
qsizetype EndOfDoctype(QByteArrayView text, qsizetype start) {
    int depth = 0;
    for (qsizetype i = start; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            if (depth == 0)
                return i;
            --depth;
        }
    }
    return -1;
}

// The first occurrence of `pattern` in text[0, length), or -1. The C library's search is
// several times faster than a skip table on feed-sized documents, and every feed of a run
// goes through it twice.
qsizetype Find(const char* text, qsizetype length, QByteArrayView pattern) {
    const void* at = ::memmem(text, size_t(length), pattern.data(), size_t(pattern.size()));
    return at ? static_cast<const char*>(at) - text : -1;
}

// Cleans the document held in data[0, length) where it lies, and returns the length of
// the content to store. Works in place so that packing a large feed costs no copy.
qsizetype CleanInPlace(char* data, qsizetype length) {
    const auto* zero = static_cast<const char*>(std::memchr(data, 0, size_t(length)));
    qsizetype textLength = zero ? zero - data : length;
    bool edited = false;
    const auto removeRange = [&](qsizetype from, qsizetype last) {
        std::memmove(data + from, data + last + 1, size_t(textLength - last - 1));
        textLength -= last - from + 1;
    };

    constexpr QByteArrayView doctype("<!DOCTYPE");
    const qsizetype p = Find(data, textLength, doctype);
    if (p > 0) {
        // The scan starts at the keyword's 'E', as the phone's own reader expects.
        const qsizetype q = EndOfDoctype(QByteArrayView(data, textLength), p + doctype.size() - 1);
        if (q >= 0) {
            removeRange(p, q);
            edited = true;
        }
    }

    constexpr QByteArrayView xmlns("xmlns=\"");
    const qsizetype n = Find(data, textLength, xmlns);
    if (n > 0) {
        // Searching from the value's first character makes an empty value (xmlns="")
        // end at its own closing quote rather than at some later one.
        const qsizetype e = QByteArrayView(data, textLength).indexOf('"', n + xmlns.size());
        if (e >= 0)
            removeRange(n, e);
        edited = true;
    }
    return edited ? textLength : length;
}

void AppendUrlField(QByteArray& out, const QString& url) {
    AppendLength(out, quint32(url.size() * 2));
    for (const QChar c : url) {
        char unit[2];
        qToLittleEndian(c.unicode(), unit);
        out.append(unit, 2);
    }
}

} // namespace

namespace NewsFeedFile {

QByteArray CleanFeedDocument(const QByteArray& document) {
    QByteArray content = document;
    content.truncate(CleanInPlace(content.data(), content.size()));
    return content;
}

QByteArray EncodeHeader(bool syncChannels, const QByteArray& channelFile) {
    const bool withBlock = syncChannels && !channelFile.isEmpty();
    QByteArray out;
    out.reserve(12 + (withBlock ? channelFile.size() : 0));
    AppendLength(out, Signature);
    AppendLength(out, withBlock ? 1 : 0);
    if (withBlock) {
        AppendLength(out, quint32(channelFile.size()));
        out.append(channelFile);
    }
    return out;
}

QByteArray EncodeRecord(const QString& url, const QByteArray& content) {
    QByteArray out;
    out.reserve(8 + url.size() * 2 + content.size());
    AppendUrlField(out, url);
    AppendLength(out, quint32(content.size()));
    out.append(content);
    return out;
}

} // namespace NewsFeedFile

NewsFeedWriter::NewsFeedWriter(QIODevice& device) : m_device(&device) {}

NewsFeedWriter::NewsFeedWriter(int fd) : m_fd(fd) {}

bool NewsFeedWriter::WriteHeader(bool syncChannels, const QByteArray& channelFile) {
    if (channelFile.size() > MaxField) {
        m_error = QStringLiteral("The channel file is too large for a news feed file.");
        return false;
    }
    return WriteAll(NewsFeedFile::EncodeHeader(syncChannels, channelFile));
}

bool NewsFeedWriter::WriteHeaderFromChannelFile(bool syncChannels, const QString& channelFilePath) {
    QByteArray channel;
    if (syncChannels) {
        QFile file(channelFilePath);
        if (file.open(QIODevice::ReadOnly))
            channel = file.readAll();
    }
    return WriteHeader(syncChannels, channel);
}

bool NewsFeedWriter::AppendRecord(const QString& url, const QByteArray& content) {
    if (content.size() > MaxField || url.size() * 2 > MaxField) {
        m_error = QStringLiteral("The feed is too large for a news feed file.");
        return false;
    }
    return WriteAll(NewsFeedFile::EncodeRecord(url, content));
}

bool NewsFeedWriter::WriteAll(const QByteArray& bytes) {
    m_error.clear();
    if (m_device) {
        auto* file = qobject_cast<QFileDevice*>(m_device);
        const qint64 start = m_device->pos();
        qint64 done = 0;
        while (done < bytes.size()) {
            const qint64 n = m_device->write(bytes.constData() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += n;
        }
        if (done == bytes.size() && (!file || file->flush()))
            return true;
        m_error = m_device->errorString();
        // Never leave a partial piece behind: cut the file back to where it began.
        if (file && file->resize(start))
            file->seek(start);
        return false;
    }

    const off_t start = lseek(m_fd, 0, SEEK_CUR);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = n < 0 ? ErrnoText(errno) : QStringLiteral("No space left on device");
            if (start >= 0 && ftruncate(m_fd, start) == 0)
                lseek(m_fd, start, SEEK_SET);
            return false;
        }
        done += n;
    }
    return true;
}

AppendResult AppendFeedContent(NewsFeedWriter& file, const QString& url, const QString& downloadedFile,
                               QByteArray* downloaded) {
    // Straight system calls: this runs once per feed, and Qt's file adds a few of its own.
    const int source = ::open(QFile::encodeName(downloadedFile).constData(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return AppendResult::NoContent;
    const auto closeSource = qScopeGuard([source] { ::close(source); });
    struct stat st {};
    if (::fstat(source, &st) != 0 || !S_ISREG(st.st_mode))
        return AppendResult::NoContent;
    const qint64 length = st.st_size;
    if (length <= 0 || length > MaxField)
        return AppendResult::NoContent;
    if (url.size() * 2 > MaxField) {
        file.m_error = QStringLiteral("The feed is too large for a news feed file.");
        return AppendResult::WriteError;
    }
    // The document is read straight into the record and cleaned there: one buffer, one write.
    QByteArray record;
    record.reserve(8 + url.size() * 2 + length);
    AppendUrlField(record, url);
    const qsizetype contentAt = record.size() + 4;
    record.resize(contentAt + length);
    for (qint64 done = 0; done < length;) {
        const ssize_t n = ::read(source, record.data() + contentAt + done, size_t(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return AppendResult::NoContent;
        done += n;
    }
    if (downloaded)
        *downloaded = QByteArray(record.constData() + contentAt, length);
    const qsizetype contentLength = CleanInPlace(record.data() + contentAt, length);
    record.truncate(contentAt + contentLength);
    qToLittleEndian(quint32(contentLength), record.data() + contentAt - 4);
    return file.WriteAll(record) ? AppendResult::Written : AppendResult::WriteError;
}

NewsFeedReader::NewsFeedReader(QIODevice& device) : m_device(device) {}

QString NewsFeedReader::ErrorString() const {
    if (!HasError())
        return QString();
    return QStringLiteral("offset %1: expected %2").arg(m_errorOffset).arg(m_expected);
}

bool NewsFeedReader::Fail(qint64 offset, const QString& expected) {
    m_errorOffset = offset;
    m_expected = expected;
    return false;
}

bool NewsFeedReader::ReadExactly(qint64 size, QByteArray& out, const QString& what) {
    const qint64 start = m_offset;
    out.clear();
    // Trust a length field only as far as the file goes, so that a damaged one cannot
    // make us allocate gigabytes.
    if (!m_device.isSequential() && m_device.size() - m_device.pos() < size) {
        return Fail(start, QStringLiteral("%1 (%2 bytes), but the file ends after %3")
                               .arg(what)
                               .arg(size)
                               .arg(m_device.size() - m_device.pos()));
    }
    constexpr qint64 Piece = 1 << 20;
    while (out.size() < size) {
        const QByteArray piece = m_device.read(qMin(Piece, size - out.size()));
        if (piece.isEmpty())
            return Fail(start, QStringLiteral("%1 (%2 bytes), but the file ends after %3")
                                   .arg(what)
                                   .arg(size)
                                   .arg(out.size()));
        out.append(piece);
    }
    m_offset += size;
    return true;
}

bool NewsFeedReader::ReadLength(quint32& value, const QString& what) {
    QByteArray bytes;
    if (!ReadExactly(4, bytes, what))
        return false;
    value = qFromLittleEndian<quint32>(bytes.constData());
    return true;
}

bool NewsFeedReader::ReadHeader() {
    quint32 signature = 0;
    const qint64 signatureOffset = m_offset;
    if (!ReadLength(signature, QStringLiteral("the signature")))
        return false;
    if (signature != NewsFeedFile::Signature)
        return Fail(signatureOffset,
                    QStringLiteral("the signature %1, found %2").arg(NewsFeedFile::Signature).arg(signature));
    quint32 flag = 0;
    const qint64 flagOffset = m_offset;
    if (!ReadLength(flag, QStringLiteral("the synchronize flag")))
        return false;
    if (flag > 1)
        return Fail(flagOffset, QStringLiteral("a synchronize flag of 0 or 1, found %1").arg(flag));
    m_syncFlag = flag == 1;
    if (m_syncFlag) {
        quint32 length = 0;
        if (!ReadLength(length, QStringLiteral("the channel block's length")) ||
            !ReadExactly(length, m_channel, QStringLiteral("the channel block")))
            return false;
    }
    m_atEnd = m_device.atEnd();
    return true;
}

bool NewsFeedReader::ReadNext(Record& record) {
    if (HasError())
        return false;
    // A sequential device only knows it is exhausted once a read comes back empty.
    if (m_device.atEnd()) {
        m_atEnd = true;
        return false;
    }
    record = Record();
    record.offset = m_offset;
    quint32 urlLength = 0;
    QByteArray url;
    if (!ReadLength(urlLength, QStringLiteral("a record's URL length")))
        return false;
    if (urlLength % 2 != 0)
        return Fail(record.offset, QStringLiteral("an even URL length (UTF-16), found %1").arg(urlLength));
    if (!ReadExactly(urlLength, url, QStringLiteral("the record's URL")))
        return false;
    record.url.resize(url.size() / 2);
    for (qsizetype i = 0; i < record.url.size(); ++i)
        record.url[i] = QChar(qFromLittleEndian<quint16>(url.constData() + 2 * i));
    quint32 contentLength = 0;
    if (!ReadLength(contentLength, QStringLiteral("the record's content length")) ||
        !ReadExactly(contentLength, record.content, QStringLiteral("the record's content")))
        return false;
    m_atEnd = m_device.atEnd();
    return true;
}
