#include "delivery/FolderDelivery.h"

#include "base/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString CopyIntoFolder(const QString& file, const QString& folder, QString* reason) {
    const auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return QString();
    };
    const QFileInfo folderInfo(folder);
    if (folder.isEmpty() || !folderInfo.isDir())
        return fail(QStringLiteral("The folder %1 does not exist").arg(QDir::toNativeSeparators(folder)));
    const QString target = QDir(folder).filePath(QFileInfo(file).fileName());
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("The e-book %1 cannot be read: %2")
                        .arg(QDir::toNativeSeparators(file), source.errorString()));
    // Deliveries never overlap, so what is left beside is a copy that a crash cut short,
    // which the sync client would otherwise carry to the phone.
    AtomicFile::RemoveUnfinished(target);
    AtomicFile out(target);
    const auto cannotWrite = [&](const QString& why) {
        return fail(QStringLiteral("Cannot write in %1: %2").arg(QDir::toNativeSeparators(folder), why));
    };
    if (!out.Open())
        return cannotWrite(out.ErrorString());
    QByteArray buffer;
    while (!(buffer = source.read(1 << 20)).isEmpty()) {
        if (!out.Write(buffer))
            return cannotWrite(out.ErrorString());
    }
    if (source.error() != QFileDevice::NoError)
        return fail(QStringLiteral("The e-book %1 cannot be read: %2")
                        .arg(QDir::toNativeSeparators(file), source.errorString()));
    if (!out.Commit())
        return cannotWrite(out.ErrorString());
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
