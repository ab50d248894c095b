#include "base/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace AppPaths {

QString ChannelFile() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/Pellavo.Cha");
}

QString HistoryFile() {
    return QFileInfo(ChannelFile()).dir().filePath(QStringLiteral("history.sqlite"));
}

QString PrivateTempFolder(QString* error) {
    const QString path = QDir::tempPath() + QStringLiteral("/pellavo-") + QString::number(getuid());
    const QByteArray native = QFile::encodeName(path);
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return QString();
    };
    if (mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    if (lstat(native.constData(), &st) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    // Another user could have made the folder first in a shared /tmp; never write into it then.
    if (!S_ISDIR(st.st_mode))
        return fail(QStringLiteral("not a folder"));
    if (st.st_uid != getuid())
        return fail(QStringLiteral("owned by another user"));
    if ((st.st_mode & 0077) != 0 && chmod(native.constData(), 0700) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (access(native.constData(), W_OK | X_OK) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    return path;
}

namespace {
QString CacheFolder(const QString& name) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return base.isEmpty() ? QString() : base + QLatin1Char('/') + name;
}
} // namespace

QString FeedCacheFolder() {
    return CacheFolder(QStringLiteral("feeds"));
}

QString PictureCacheFolder() {
    return CacheFolder(QStringLiteral("pictures"));
}

QString BackupFileName(unsigned n) {
    return QStringLiteral("nchnlbak%1.cbf").arg(n, 3, 10, QLatin1Char('0'));
}

QString BackupFile(unsigned n, QString* error) {
    const QString folder = PrivateTempFolder(error);
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + BackupFileName(n);
}

QString DefaultFeedFile() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath();
    return documents + QStringLiteral("/news.nff");
}

QString HelpFile() {
    // Where an installation puts it beside bin/, which the build tree mirrors.
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/pellavo/PellavoHelp.html"));
}

} // namespace AppPaths
