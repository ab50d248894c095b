#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>
#include <mutex>

// The last good copy of every feed with the validators its server sent (ETag,
// Last-Modified), so that a repeated update asks servers only whether a feed changed and
// fills in the unchanged ones from here.
//
// Each entry is one file: a header with the address, the validators, the type and the fetch time,
// then the document, then a checksum of both. Entries are written beside and renamed into
// place, so a reader sees a whole old entry or a whole new one; an entry that fails any
// check is dropped and its feed fetched in full. The folder is kept under a size bound by
// dropping the entries used least recently. One instance may serve any number of threads.
class FeedCache {
public:
    static constexpr qint64 DefaultMaxBytes = qint64(200) * 1024 * 1024;

    // What is known about a stored document besides its bytes.
    struct Record {
        QByteArray etag;
        QByteArray lastModified;
        QByteArray effectiveUrl; // where the document came from after any redirects
        qint64 fetchedAtMs = 0;  // when its server sent it, ms since the epoch (UTC)
        QByteArray contentType;  // as its server named it, with the charset; may be empty

        bool HasValidators() const { return !etag.isEmpty() || !lastModified.isEmpty(); }
    };

    // One stored entry, held open: it stays whole while another thread replaces or drops
    // the entry under the same key.
    class Entry {
    public:
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        const Record& GetRecord() const { return m_record; }

    private:
        friend class FeedCache;
        Entry() = default;

        int m_fd = -1;
        QString m_strName;
        quint64 m_dev = 0;
        quint64 m_ino = 0;
        QByteArray m_header; // as stored; the checksum covers it
        qint64 m_bodySize = 0;
        Record m_record;
    };

    enum class RestoreResult {
        Restored,
        Damaged,     // the entry failed its checks and is gone; the target is empty
        WriteFailed, // the target could not be written
    };

    // The folder is created on the first store.
    explicit FeedCache(const QString& folder, qint64 maxBytes = DefaultMaxBytes);
    FeedCache(const FeedCache&) = delete;
    FeedCache& operator=(const FeedCache&) = delete;

    QString Folder() const { return m_strFolder; }

    // Keys are addresses as FeedAddress::CacheKey gives them.
    // The entry stored under the key, or null when there is none. An entry that cannot be
    // read, is cut short or is not the key's is dropped.
    std::unique_ptr<Entry> Find(const QByteArray& key);

    // Writes the entry's document to targetPath, created or truncated, and checks it on the
    // way; a restored entry counts as just used.
    RestoreResult Restore(Entry& entry, const QString& targetPath);

    // Makes the document the key's entry. A document without validators could never be
    // asked about, so it only drops what was stored before; so does one that is larger
    // than the whole bound. False when nothing was stored.
    bool StoreDocument(const QByteArray& key, QByteArrayView document, const Record& record);
    // The same with the document in the file at bodyPath; one that cannot be read drops
    // what was stored before.
    bool Store(const QByteArray& key, const QString& bodyPath, const Record& record);

    void Remove(const QByteArray& key);

private:
    struct Usage {
        qint64 bytes = 0;
        qint64 lastUse = 0; // µs since the epoch, unique within the instance
    };

    bool LoadLocked();
    void ForgetLocked(const QString& name);
    void EvictLocked(const QString& keep);
    qint64 NextUseLocked();
    void Drop(const Entry& entry);
    void Touch(Entry& entry);
    QByteArray PathOf(const QString& name) const;

    const QString m_strFolder;
    const qint64 m_nMaxBytes;

    // Guards the usage table and every change of the folder's names.
    std::mutex m_mutex;
    bool m_bLoaded = false;
    bool m_bFolderOk = false;
    QHash<QString, Usage> m_usage;
    qint64 m_nTotalBytes = 0;
    qint64 m_nLastUse = 0;
};
