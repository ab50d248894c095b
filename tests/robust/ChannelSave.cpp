#include "ChannelSave.h"

#include "model/OpmlWriter.h"
#include "update/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace pellavo::robust {

QString BackupPath(unsigned backupNumber) {
    return AppPaths::PrivateTempFolder() + QLatin1Char('/') + AppPaths::BackupFileName(backupNumber);
}

QString InMemoryTemplate() {
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    return memory.isDir() && memory.isWritable() ? QStringLiteral("/dev/shm/pellavo-test-XXXXXX") : QString();
}

bool KeepFilesIn(const QString& folder) {
    qputenv("TMPDIR", QFile::encodeName(folder));
    qputenv("HOME", QFile::encodeName(folder));
    return QDir::tempPath().startsWith(folder) && AppPaths::ChannelFile().startsWith(folder) &&
           AppPaths::PrivateTempFolder().startsWith(folder);
}

bool SaveChannel(const COutlineItem& root, unsigned backupNumber, QString* error) {
    const QString channelFile = AppPaths::ChannelFile();
    QDir().mkpath(QFileInfo(channelFile).absolutePath());

    QByteArray previous;
    QFile current(channelFile);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly)) {
            if (error)
                *error = current.errorString();
            return false;
        }
        previous = current.readAll();
    }
    QSaveFile backup(BackupPath(backupNumber));
    if (!backup.open(QIODevice::WriteOnly) || backup.write(previous) != previous.size() || !backup.commit()) {
        if (error)
            *error = backup.errorString();
        return false;
    }
    return WriteOpmlFile(channelFile, ModelOutlineTree(&root), OpmlForm::Channel, error);
}

} // namespace pellavo::robust
