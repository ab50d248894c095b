#include "model/ChannelStore.h"

#include "base/AtomicFile.h"
#include "model/OpmlWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString Located(const QString& path, const QString& why) {
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
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
    QDir().mkpath(QFileInfo(m_strChannelFile).absolutePath());
    return WriteFileAtomically(
        m_strChannelFile, [&tree](QIODevice& out) { return WriteOpml(out, tree, OpmlForm::Channel); }, error);
}

bool ChannelStore::Restore(unsigned n, QString* error) const {
    const QString backup = m_backupFile(n, error);
    QByteArray bytes;
    if (backup.isEmpty() || !ReadWhole(backup, &bytes, error))
        return false;
    QDir().mkpath(QFileInfo(m_strChannelFile).absolutePath());
    if (WriteFileAtomically(m_strChannelFile, bytes, error))
        return true;
    *error = Located(m_strChannelFile, *error);
    return false;
}

void ChannelStore::RemoveUnfinishedSaves() const {
    AtomicFile::RemoveUnfinished(m_strChannelFile);
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
    return WriteFileAtomically(copy, bytes, &error) ? copy : QString();
}
