#include "base/AtomicFile.h"

#include "base/FileIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kSuffixLength = 6;
const QLatin1StringView kUnfinished(".unfinished-");

QString UnfinishedPrefix(const QString& fileName) {
    return QLatin1Char('.') + fileName + kUnfinished;
}

bool IsSuffixChar(QChar c) {
    return c.unicode() < 128 && c.isLetterOrNumber();
}

QString RandomSuffix() {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (qsizetype i = 0; i < kSuffixLength; ++i)
        suffix += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))]);
    return suffix;
}

// Some phone and network file systems cannot sync at all; they save on close.
bool SyncFailed(int fd) {
    return ::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS;
}

} // namespace

QFileInfo AtomicFile::Resolved(const QString& target) {
    const QFileInfo info(target);
    return info.isSymLink() && info.exists() ? QFileInfo(info.canonicalFilePath()) : info;
}

AtomicFile::AtomicFile(const QString& target, int options) : m_options(options) {
    const QFileInfo resolved = Resolved(target);
    m_target = QFile::encodeName(resolved.absoluteFilePath());
    m_folder = QFile::encodeName(resolved.absolutePath());
    m_prefix =
        QFile::encodeName(resolved.absolutePath() + QLatin1Char('/') + UnfinishedPrefix(resolved.fileName()));
}

AtomicFile::~AtomicFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_beside.isEmpty() && !m_bPlaced)
        ::unlink(m_beside.constData());
}

QString AtomicFile::ErrorString() const {
    return QString::fromLocal8Bit(std::strerror(m_error));
}

bool AtomicFile::Fail(int error) {
    m_error = error;
    return false;
}

bool AtomicFile::Open() {
    struct stat existing {};
    const bool replacing = ::stat(m_target.constData(), &existing) == 0 && S_ISREG(existing.st_mode);
    // The suffix is random: only a clash with a leftover of an earlier write needs a second try.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray beside = m_prefix + RandomSuffix().toLatin1();
        // Nobody else may read the new content before it gets the old file's permissions.
        m_fd = ::open(beside.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
        if (m_fd >= 0) {
            m_beside = beside;
            if (replacing)
                ::fchmod(m_fd, existing.st_mode & 07777);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    return Fail(errno);
}

bool AtomicFile::Write(QByteArrayView bytes) {
    return FileIo::WriteFully(m_fd, bytes.data(), bytes.size()) || Fail(errno);
}

bool AtomicFile::Close() {
    if (!(m_options & NoSync) && SyncFailed(m_fd))
        return Fail(errno);
    const int closed = ::close(m_fd);
    m_fd = -1;
    return closed == 0 || Fail(errno);
}

bool AtomicFile::Commit() {
    if ((m_fd >= 0 && !Close()) || m_beside.isEmpty() || !PutInPlace())
        return false;
    m_bPlaced = true;
    if (m_options & NoSync)
        return true;
    // The rename lasts a power failure only once the folder is on the disk too. Some file
    // systems cannot sync a folder; the file itself is whole all the same.
    const int folder = ::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

bool AtomicFile::PutInPlace() {
    if (::rename(m_beside.constData(), m_target.constData()) == 0)
        return true;
    const int first = errno;
    struct stat st {};
    if (!(m_options & MoveOldAside) || ::lstat(m_target.constData(), &st) != 0)
        return Fail(first);
    const QByteArray aside = m_beside + ".old";
    if (::rename(m_target.constData(), aside.constData()) != 0)
        return Fail(first);
    if (::rename(m_beside.constData(), m_target.constData()) != 0) {
        const int second = errno;
        ::rename(aside.constData(), m_target.constData());
        return Fail(second);
    }
    ::unlink(aside.constData());
    return true;
}

bool AtomicFile::IsUnfinished(const QString& fileName, const QString& targetName) {
    const qsizetype mark = fileName.lastIndexOf(kUnfinished);
    if (mark < 1 || !fileName.startsWith(QLatin1Char('.')) ||
        (!targetName.isEmpty() && !fileName.startsWith(UnfinishedPrefix(targetName))))
        return false;
    const QStringView suffix = QStringView(fileName).sliced(mark + kUnfinished.size());
    return suffix.size() == kSuffixLength && std::all_of(suffix.begin(), suffix.end(), IsSuffixChar);
}

void AtomicFile::RemoveUnfinished(const QString& target) {
    const QFileInfo resolved = Resolved(target);
    QDir folder = resolved.absoluteDir();
    const QString pattern = UnfinishedPrefix(resolved.fileName()) + QString(kSuffixLength, QLatin1Char('?'));
    for (const QString& name : folder.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        if (IsUnfinished(name, resolved.fileName()))
            folder.remove(name);
    }
}

bool WriteFileAtomically(const QString& path, QByteArrayView bytes, QString* error) {
    AtomicFile file(path);
    if (file.Open() && file.Write(bytes) && file.Commit())
        return true;
    if (error)
        *error = file.ErrorString();
    return false;
}

bool WriteFileAtomically(const QString& path, const std::function<bool(QIODevice&)>& fill, QString* error) {
    AtomicFile file(path);
    if (!file.Open()) {
        if (error)
            *error = file.ErrorString();
        return false;
    }
    {
        QFile device;
        if (!device.open(file.Handle(), QIODevice::WriteOnly | QIODevice::Unbuffered,
                         QFileDevice::DontCloseHandle) ||
            !fill(device)) {
            if (error)
                *error = device.errorString();
            return false;
        }
    }
    if (file.Commit())
        return true;
    if (error)
        *error = file.ErrorString();
    return false;
}
