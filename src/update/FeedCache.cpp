#include "update/FeedCache.h"

#include "base/AtomicFile.h"
#include "base/FileIo.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// Layout of an entry file, integers little-endian:
//   magic (8) | fetched at, ms (8) | key, etag, last-modified, effective-url, content-type
//   lengths (4 each) | document length (8) | the five texts | the document | CRC-32 of
//   everything before it (4)
// An entry of an earlier layout fails the magic and is fetched in full once.
constexpr char Magic[8] = {'P', 'V', 'F', 'E', 'E', 'D', '0', '3'};
constexpr int TextCount = 5;
constexpr qsizetype FixedHeaderBytes = 8 + 8 + TextCount * 4 + 8;
constexpr quint32 MaxTextBytes = 64 * 1024;
constexpr qsizetype ChecksumBytes = 4;
constexpr qsizetype CopyBlock = 256 * 1024;

const QLatin1StringView EntrySuffix(".feed");
// The hexadecimal SHA-1 of the key and the suffix.
constexpr qsizetype EntryNameLength = 2 * 20 + 5;
// A half-written entry older than this belongs to a writer that died.
constexpr qint64 StalePartialMs = 60 * 60 * 1000;

QString NameOf(const QByteArray& key) {
    return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex()) + EntrySuffix;
}

// What tells a torn or damaged entry from a whole one. Nobody forges entries in the user's
// own cache folder, so a CRC is enough, and it is many times faster than a cryptographic
// hash: a run stores every feed it downloads.
class EntryChecksum {
public:
    void addData(QByteArrayView bytes) {
        m_crc = ::crc32_z(m_crc, reinterpret_cast<const Bytef*>(bytes.data()), size_t(bytes.size()));
    }
    QByteArray result() const {
        QByteArray bytes(ChecksumBytes, '\0');
        qToLittleEndian<quint32>(quint32(m_crc), bytes.data());
        return bytes;
    }

private:
    uLong m_crc = ::crc32_z(0, nullptr, 0);
};

// Whatever goes into a request header must not be able to end the header line.
bool IsHeaderValue(const QByteArray& value) {
    return std::none_of(value.begin(), value.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c < 0x20 && c != '\t') || c == 0x7F;
    });
}

QByteArray BuildHeader(const QByteArray& key, const FeedCache::Record& record, qint64 bodySize) {
    QByteArray header(FixedHeaderBytes, '\0');
    char* p = header.data();
    std::copy(std::begin(Magic), std::end(Magic), p);
    qToLittleEndian<qint64>(record.fetchedAtMs, p + 8);
    qToLittleEndian<quint32>(quint32(key.size()), p + 16);
    qToLittleEndian<quint32>(quint32(record.etag.size()), p + 20);
    qToLittleEndian<quint32>(quint32(record.lastModified.size()), p + 24);
    qToLittleEndian<quint32>(quint32(record.effectiveUrl.size()), p + 28);
    qToLittleEndian<quint32>(quint32(record.contentType.size()), p + 32);
    qToLittleEndian<qint64>(bodySize, p + 36);
    return header + key + record.etag + record.lastModified + record.effectiveUrl + record.contentType;
}

} // namespace

FeedCache::Entry::~Entry() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FeedCache::FeedCache(const QString& folder, qint64 maxBytes) : m_strFolder(folder), m_nMaxBytes(maxBytes) {}

QByteArray FeedCache::PathOf(const QString& name) const {
    return QFile::encodeName(m_strFolder + QLatin1Char('/') + name);
}

std::unique_ptr<FeedCache::Entry> FeedCache::Find(const QByteArray& key) {
    std::unique_ptr<Entry> entry(new Entry);
    entry->m_strName = NameOf(key);
    entry->m_fd = ::open(PathOf(entry->m_strName).constData(), O_RDONLY | O_CLOEXEC);
    if (entry->m_fd < 0) {
        if (errno != ENOENT)
            Remove(key);
        return nullptr;
    }
    const auto check = [&]() -> bool {
        struct stat st {};
        if (::fstat(entry->m_fd, &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        entry->m_dev = st.st_dev;
        entry->m_ino = st.st_ino;
        QByteArray fixed(FixedHeaderBytes, '\0');
        if (!FileIo::ReadFully(entry->m_fd, fixed.data(), fixed.size(), 0) ||
            !std::equal(std::begin(Magic), std::end(Magic), fixed.constData()))
            return false;
        quint32 lengths[TextCount];
        qint64 texts = 0;
        for (int i = 0; i < TextCount; ++i) {
            lengths[i] = qFromLittleEndian<quint32>(fixed.constData() + 16 + 4 * i);
            if (lengths[i] > MaxTextBytes)
                return false;
            texts += lengths[i];
        }
        entry->m_bodySize = qFromLittleEndian<qint64>(fixed.constData() + 36);
        const qint64 headerSize = FixedHeaderBytes + texts;
        if (entry->m_bodySize < 0 || st.st_size != headerSize + entry->m_bodySize + ChecksumBytes)
            return false;
        entry->m_header = fixed;
        entry->m_header.resize(headerSize);
        if (!FileIo::ReadFully(entry->m_fd, entry->m_header.data() + FixedHeaderBytes, texts,
                               FixedHeaderBytes))
            return false;
        const char* text = entry->m_header.constData() + FixedHeaderBytes;
        const auto next = [&](quint32 length) {
            const QByteArray value(text, length);
            text += length;
            return value;
        };
        Record& record = entry->m_record;
        record.fetchedAtMs = qFromLittleEndian<qint64>(fixed.constData() + 8);
        const QByteArray storedKey = next(lengths[0]);
        record.etag = next(lengths[1]);
        record.lastModified = next(lengths[2]);
        record.effectiveUrl = next(lengths[3]);
        record.contentType = next(lengths[4]);
        return storedKey == key && record.HasValidators() && IsHeaderValue(record.etag) &&
               IsHeaderValue(record.lastModified);
    };
    if (!check()) {
        Drop(*entry);
        return nullptr;
    }
    return entry;
}

FeedCache::RestoreResult FeedCache::Restore(Entry& entry, const QString& targetPath) {
    // Written over what the target held and cut to length at the end, so that a target used
    // again keeps its blocks.
    const int out = ::open(QFile::encodeName(targetPath).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (out < 0)
        return RestoreResult::WriteFailed;
    EntryChecksum checksum;
    checksum.addData(entry.m_header);
    // The document and its checksum in one read when they fit in a block.
    const qint64 stored = entry.m_bodySize + ChecksumBytes;
    QByteArray buffer(std::min<qint64>(CopyBlock, stored), '\0');
    RestoreResult result = RestoreResult::Restored;
    const qint64 bodyStart = entry.m_header.size();
    QByteArray trailer;
    for (qint64 done = 0; done < stored && result == RestoreResult::Restored;) {
        const qint64 n = std::min<qint64>(buffer.size(), stored - done);
        if (!FileIo::ReadFully(entry.m_fd, buffer.data(), n, bodyStart + done)) {
            result = RestoreResult::Damaged;
            break;
        }
        const qint64 body = std::clamp<qint64>(entry.m_bodySize - done, 0, n);
        if (!FileIo::WriteFully(out, buffer.constData(), body))
            result = RestoreResult::WriteFailed;
        checksum.addData(QByteArrayView(buffer.constData(), body));
        trailer.append(buffer.constData() + body, n - body);
        done += n;
    }
    if (result == RestoreResult::Restored && trailer != checksum.result())
        result = RestoreResult::Damaged;
    // A half-filled target must not pass for the document.
    if (::ftruncate(out, result == RestoreResult::Restored ? entry.m_bodySize : 0) != 0)
        result = RestoreResult::WriteFailed;
    if (::close(out) != 0 && result == RestoreResult::Restored)
        result = RestoreResult::WriteFailed;
    if (result == RestoreResult::Damaged)
        Drop(entry);
    else if (result == RestoreResult::Restored)
        Touch(entry);
    return result;
}

bool FeedCache::Store(const QByteArray& key, const QString& bodyPath, const Record& record) {
    QFile in(bodyPath);
    struct stat st {};
    if (!in.open(QIODevice::ReadOnly) || ::fstat(in.handle(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Remove(key);
        return false;
    }
    const QByteArray document = in.readAll();
    if (in.error() != QFileDevice::NoError || document.size() != st.st_size) {
        Remove(key);
        return false;
    }
    return StoreDocument(key, document, record);
}

bool FeedCache::StoreDocument(const QByteArray& key, QByteArrayView document, const Record& record) {
    const QString name = NameOf(key);
    const QByteArray header = BuildHeader(key, record, document.size());
    const qint64 bytes = header.size() + document.size() + ChecksumBytes;
    const bool storable = record.HasValidators() && key.size() <= MaxTextBytes &&
                          record.etag.size() <= MaxTextBytes && record.lastModified.size() <= MaxTextBytes &&
                          record.effectiveUrl.size() <= MaxTextBytes &&
                          record.contentType.size() <= MaxTextBytes && bytes <= m_nMaxBytes;
    {
        std::lock_guard lock(m_mutex);
        if (!storable || !LoadLocked()) {
            if (::unlink(PathOf(name).constData()) == 0 || errno == ENOENT)
                ForgetLocked(name);
            return false;
        }
    }

    // The whole entry in one write, to a file of its own that is renamed into place.
    QByteArray entry;
    entry.reserve(bytes);
    entry.append(header);
    entry.append(document);
    EntryChecksum checksum;
    checksum.addData(entry);
    entry.append(checksum.result());
    // Entries check themselves, so a power failure costs at most a download: no syncs.
    AtomicFile file(m_strFolder + QLatin1Char('/') + name, AtomicFile::NoSync);
    // Someone cleared the cache folder while the program ran.
    if (!file.Open() && !(file.Error() == ENOENT && QDir().mkpath(m_strFolder) && file.Open()))
        return false;
    if (!file.Write(entry))
        return false;

    std::lock_guard lock(m_mutex);
    if (!file.Commit())
        return false;
    Usage& usage = m_usage[name];
    m_nTotalBytes += bytes - usage.bytes;
    usage = {bytes, NextUseLocked()};
    EvictLocked(name);
    return true;
}

void FeedCache::Remove(const QByteArray& key) {
    const QString name = NameOf(key);
    std::lock_guard lock(m_mutex);
    if (::unlink(PathOf(name).constData()) == 0 || errno == ENOENT)
        ForgetLocked(name);
}

void FeedCache::Drop(const Entry& entry) {
    std::lock_guard lock(m_mutex);
    // Only the file that failed: another thread may have stored a good one meanwhile.
    const QByteArray path = PathOf(entry.m_strName);
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && quint64(st.st_dev) == entry.m_dev &&
        quint64(st.st_ino) == entry.m_ino && ::unlink(path.constData()) == 0)
        ForgetLocked(entry.m_strName);
}

void FeedCache::Touch(Entry& entry) {
    // The file's time keeps the order of use for the next start of the program.
    ::futimens(entry.m_fd, nullptr);
    std::lock_guard lock(m_mutex);
    const auto it = m_usage.find(entry.m_strName);
    if (it != m_usage.end())
        it->lastUse = NextUseLocked();
}

qint64 FeedCache::NextUseLocked() {
    // Several uses within one clock tick still keep their order.
    m_nLastUse = std::max(m_nLastUse + 1, QDateTime::currentMSecsSinceEpoch() * 1000);
    return m_nLastUse;
}

void FeedCache::ForgetLocked(const QString& name) {
    const auto it = m_usage.constFind(name);
    if (it == m_usage.constEnd())
        return;
    m_nTotalBytes -= it->bytes;
    m_usage.erase(it);
}

bool FeedCache::LoadLocked() {
    if (m_bLoaded)
        return m_bFolderOk;
    m_bLoaded = true;
    // The copies may hold private feeds: the folder is for the user alone.
    if (!QDir().mkpath(m_strFolder) || ::chmod(QFile::encodeName(m_strFolder).constData(), 0700) != 0)
        return false;
    m_bFolderOk = true;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QDirIterator it(m_strFolder, QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString name = info.fileName();
        const qint64 modified = info.lastModified().toMSecsSinceEpoch();
        if (AtomicFile::IsUnfinished(name) && now - modified > StalePartialMs) {
            QFile::remove(info.filePath());
        } else if (name.size() == EntryNameLength && name.endsWith(EntrySuffix)) {
            m_usage.insert(name, {info.size(), modified * 1000});
            m_nLastUse = std::max(m_nLastUse, modified * 1000);
            m_nTotalBytes += info.size();
        }
    }
    EvictLocked(QString());
    return true;
}

void FeedCache::EvictLocked(const QString& keep) {
    while (m_nTotalBytes > m_nMaxBytes) {
        auto oldest = m_usage.end();
        for (auto it = m_usage.begin(); it != m_usage.end(); ++it) {
            if (it.key() != keep && (oldest == m_usage.end() || it->lastUse < oldest->lastUse))
                oldest = it;
        }
        if (oldest == m_usage.end())
            return;
        ::unlink(PathOf(oldest.key()).constData());
        m_nTotalBytes -= oldest->bytes;
        m_usage.erase(oldest);
    }
}
