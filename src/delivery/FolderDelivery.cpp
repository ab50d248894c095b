#include "delivery/FolderDelivery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Write beside, sync, rename, sync the folder: the one atomic write, in the small form a copy
// of a whole file needs.
bool SyncPath(const QString& path, int flags) {
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

QString CopyIntoFolder(const QString& file, const QString& folder, QString* reason) {
    const auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return QString();
    };
    const QFileInfo folderInfo(folder);
    if (folder.isEmpty() || !folderInfo.isDir())
        return fail(QStringLiteral("The folder %1 does not exist").arg(QDir::toNativeSeparators(folder)));
    const QString name = QFileInfo(file).fileName();
    const QString target = QDir(folder).filePath(name);
    const QString partial = QDir(folder).filePath(QStringLiteral(".") + name + QStringLiteral(".part"));
    QFile::remove(partial);
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("The e-book %1 cannot be read: %2")
                        .arg(QDir::toNativeSeparators(file), source.errorString()));
    QFile out(partial);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("Cannot write in %1: %2")
                        .arg(QDir::toNativeSeparators(folder), out.errorString()));
    QByteArray buffer;
    while (!(buffer = source.read(1 << 20)).isEmpty()) {
        if (out.write(buffer) != buffer.size())
            break;
    }
    const bool whole =
        source.atEnd() && out.error() == QFileDevice::NoError && out.flush() && ::fsync(out.handle()) == 0;
    const QString writeError = out.errorString();
    out.close();
    if (!whole ||
        ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(partial);
        return fail(
            QStringLiteral("Cannot write in %1: %2").arg(QDir::toNativeSeparators(folder), writeError));
    }
    SyncPath(folder, O_RDONLY | O_DIRECTORY);
    return target;
}

QStringList PruneFolder(const QStringList& delivered, int keep, const QStringList& spare) {
    QStringList removed;
    if (keep <= 0)
        return removed;
    QStringList present;
    for (const QString& path : delivered) {
        if (QFileInfo::exists(path) && !present.contains(path))
            present << path;
    }
    for (qsizetype i = 0; i + keep < present.size(); ++i) {
        if (!spare.contains(present.at(i)) && QFile::remove(present.at(i)))
            removed << present.at(i);
    }
    return removed;
}
