#include "model/ChannelStore.h"

#include "model/OpmlWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

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

bool WriteBytesAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = file.errorString();
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
    return WriteOpmlFile(m_strChannelFile, tree, OpmlForm::Channel, error);
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

// A save cut short leaves its unfinished copy beside the channel file, under the
// channel file's name and a six-character suffix. Only one Pellavo runs per user, so
// at start-up every such copy is an orphan.
void ChannelStore::RemoveUnfinishedSaves() const {
    const QFileInfo channel(m_strChannelFile);
    QDir folder = channel.absoluteDir();
    const QString prefix = channel.fileName() + QLatin1Char('.');
    for (const QString& name :
         folder.entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden)) {
        const QStringView suffix = QStringView(name).mid(prefix.size());
        if (std::all_of(suffix.begin(), suffix.end(),
                        [](QChar c) { return c.isLetterOrNumber() && c.unicode() < 128; }))
            folder.remove(name);
    }
}

QString ChannelStore::KeepDamagedCopy() const {
    const QString copy = m_strChannelFile + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QFile::copy(m_strChannelFile, copy) ? copy : QString();
}
