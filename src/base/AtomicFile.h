#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

class QFileInfo;
class QIODevice;

// A file replaced whole or not at all. The new content goes to a hidden file beside the
// target (".<name>.unfinished-<six letters>"), which is taken to the disk and renamed over
// the target, and then the folder is taken to the disk too: at every moment the path holds
// the old file or the new one whole, even when the process dies or the power fails half-way.
// A target that is a link stays one; the file it points to is replaced. The new file gets
// the permissions of the file it replaces (0666 less the umask when there is none), and
// nobody else can read it before it has them.
//
// Every step is a plain C library call (open, write, fsync, close, rename), so that the
// crash tests can stop or fail each one.
class AtomicFile {
public:
    enum Option {
        NoOption = 0,
        // For a cache whose entries carry their own checksum: a power failure may lose an
        // entry but never passes off a torn one, so the syncs are not worth their time.
        NoSync = 1,
        // For targets that cannot rename onto a file that exists (a phone reached through
        // GVFS): there the old file is moved aside first, removed only once the new one is
        // in its place, and put back when that fails.
        MoveOldAside = 2,
    };

    explicit AtomicFile(const QString& target, int options = NoOption);
    // A file beside that was not put in place is removed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the file beside the target; its folder must exist.
    bool Open();
    // The open file beside, for writing; -1 before Open and after Commit.
    int Handle() const { return m_fd; }
    // The file beside, once Open has created it; a reader that opens it before Commit keeps
    // the new content whatever takes the target's path later.
    QByteArray BesidePath() const { return m_beside; }
    bool Write(QByteArrayView bytes);
    // Syncs and closes the file beside.
    bool Close();
    // Closes the file beside (when Close was not called) and renames it over the target.
    bool Commit();

    // After a failed step: the C library's error number, and its text.
    int Error() const { return m_error; }
    QString ErrorString() const;

    // Whether `fileName` is what a write cut short left beside `targetName` (beside any
    // target when that is empty).
    static bool IsUnfinished(const QString& fileName, const QString& targetName = QString());
    // Removes what writes cut short left beside the target; for a start-up, when no write
    // of ours can be under way.
    static void RemoveUnfinished(const QString& target);

private:
    static QFileInfo Resolved(const QString& target);
    bool Fail(int error);
    bool PutInPlace();

    QByteArray m_target;
    QByteArray m_folder;
    QByteArray m_prefix; // of the file beside, before its suffix
    QByteArray m_beside; // once created
    int m_options;
    int m_fd = -1;
    int m_error = 0;
    bool m_bPlaced = false;
};

// The whole write in one call; on failure `error` (when given) says why.
bool WriteFileAtomically(const QString& path, QByteArrayView bytes, QString* error = nullptr);
// The same with what `fill` writes to the device; `fill` returns false when a write failed.
bool WriteFileAtomically(const QString& path, const std::function<bool(QIODevice&)>& fill,
                         QString* error = nullptr);

// For files that a library writes whole to a path of its own (a book through libzip, a
// database through SQLite): takes the file's bytes to the disk.
bool SyncFile(const QString& path, QString* error = nullptr);
// Renames `from` over `to` (both in one folder) and takes the folder to the disk, so the new
// name lasts a power failure.
bool RenameDurably(const QString& from, const QString& to, QString* error = nullptr);
