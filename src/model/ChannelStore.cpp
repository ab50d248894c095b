#include "model/ChannelStore.h"

#include "model/OpmlWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kSuffixLength = 6;

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString Located(const QString& path, const QString& why) {
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
}

// The file a save replaces: a channel file that is a link stays one, and the file it
// points to is replaced.
QFileInfo SaveTarget(const QString& path) {
    const QFileInfo info(path);
    return info.isSymLink() && info.exists() ? QFileInfo(info.canonicalFilePath()) : info;
}

// A save writes beside its target under a name that nothing but this save makes, so
// that what a save cut short leaves behind can be told from the user's own files.
QString UnfinishedPrefix(const QString& fileName) {
    return QLatin1Char('.') + fileName + QStringLiteral(".unfinished-");
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

bool ReadWhole(const QString& path, QByteArray* bytes, QString* error) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        *bytes = file.readAll();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    *error = Located(path, file.errorString());
    return false;
}

// Writes what `fill` puts into the device beside `path`, takes it to the disk and
// renames it over `path`, so that `path` is at every moment the old file or the new
// one whole. On failure the file beside is removed and `error` says why.
bool WriteAtomically(const QString& path, const std::function<bool(QIODevice&)>& fill, QString* error) {
    const QFileInfo target = SaveTarget(path);
    const QString folder = target.absolutePath();
    QDir().mkpath(folder);
    const QByteArray targetName = QFile::encodeName(target.absoluteFilePath());
    struct stat existing {};
    const bool replacing = ::stat(targetName.constData(), &existing) == 0;

    QByteArray temp;
    int fd = -1;
    // The suffix is random: only a clash with a leftover of an earlier save needs a second try.
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = QFile::encodeName(folder + QLatin1Char('/') + UnfinishedPrefix(target.fileName()) +
                                 RandomSuffix());
        // Nobody else may read the new subscriptions before they get the old file's permissions.
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = SystemError(errno);
        return false;
    }
    auto abandon = [&](const QString& why) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.constData());
        *error = why;
        return false;
    };
    if (replacing)
        ::fchmod(fd, existing.st_mode & 07777);
    {
        QFile file;
        if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) ||
            !fill(file))
            return abandon(file.errorString());
    }
    if (::fsync(fd) != 0)
        return abandon(SystemError(errno));
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return abandon(SystemError(errno));
    if (::rename(temp.constData(), targetName.constData()) != 0)
        return abandon(SystemError(errno));
    // The rename lasts a power failure only once the folder is on the disk too. Some
    // file systems cannot sync a folder; the file itself is whole all the same.
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool WriteBytesAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    return WriteAtomically(
        path, [&bytes](QIODevice& out) { return out.write(bytes) == bytes.size(); }, error);
}

// A backup lives in a temporary folder and is only ever restored by the run that made
// it, so it is not worth a flush to the disk on every save.
bool WriteBackup(const QString& path, const QByteArray& bytes, QString* error) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
        file.flush())
        return true;
    *error = Located(path, file.errorString());
    return false;
}

} // namespace

ChannelStore::ChannelStore(QString channelFile, BackupLocator backupFile)
    : m_strChannelFile(std::move(channelFile)), m_backupFile(std::move(backupFile)) {}

bool ChannelStore::Backup(unsigned n, QString* error) const {
    const QString backup = m_backupFile(n, error);
    if (backup.isEmpty())
        return false;
    QByteArray bytes;
    if ((!QFile::exists(m_strChannelFile) || ReadWhole(m_strChannelFile, &bytes, error)) &&
        WriteBackup(backup, bytes, error))
        return true;
    QFile::remove(backup);
    return false;
}

bool ChannelStore::Write(const OutlineTree& tree, QString* error) const {
    return WriteAtomically(
        m_strChannelFile, [&tree](QIODevice& out) { return WriteOpml(out, tree, OpmlForm::Channel); }, error);
}

bool ChannelStore::Restore(unsigned n, QString* error) const {
    const QString backup = m_backupFile(n, error);
    QByteArray bytes;
    if (backup.isEmpty() || !ReadWhole(backup, &bytes, error))
        return false;
    if (WriteBytesAtomically(m_strChannelFile, bytes, error))
        return true;
    *error = Located(m_strChannelFile, *error);
    return false;
}

void ChannelStore::RemoveUnfinishedSaves() const {
    const QFileInfo target = SaveTarget(m_strChannelFile);
    QDir folder = target.absoluteDir();
    const QString prefix = UnfinishedPrefix(target.fileName());
    const QString pattern = prefix + QString(kSuffixLength, QLatin1Char('?'));
    for (const QString& name : folder.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QStringView suffix = QStringView(name).mid(prefix.size());
        if (name.startsWith(prefix) && suffix.size() == kSuffixLength &&
            std::all_of(suffix.begin(), suffix.end(), IsSuffixChar))
            folder.remove(name);
    }
}

QString ChannelStore::KeepDamagedCopy() const {
    QByteArray bytes;
    QString error;
    if (!ReadWhole(m_strChannelFile, &bytes, &error))
        return QString();
    const QFileInfo channel(m_strChannelFile);
    const QDir folder = channel.absoluteDir();
    const QString prefix = channel.fileName() + QStringLiteral(".damaged-");
    // While the file stays as it is, every start finds it damaged again.
    for (const QFileInfo& kept : folder.entryInfoList({prefix + QLatin1Char('*')}, QDir::Files, QDir::Name)) {
        QByteArray keptBytes;
        if (kept.size() == bytes.size() && ReadWhole(kept.filePath(), &keptBytes, &error) &&
            keptBytes == bytes)
            return kept.filePath();
    }
    const QString stem =
        folder.filePath(prefix + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString copy = stem;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = stem + QLatin1Char('-') + QString::number(n);
    return WriteBytesAtomically(copy, bytes, &error) ? copy : QString();
}
