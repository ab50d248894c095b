#include "shell/SendTargets.h"

#include "shell/DesktopEntry.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>

#include <algorithm>

namespace {

QString ReadSysFile(const QString& strPath) {
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll()).trimmed();
}

// "mtp:host=Google_Pixel_7_1A2B3C" gives "Google Pixel 7 1A2B3C"; older GVFS
// percent-encodes the host.
QString GvfsDeviceName(const QString& strMount) {
    const qsizetype nHost = strMount.indexOf(QLatin1String("host="));
    QString strHost = nHost < 0 ? strMount : strMount.mid(nHost + 5).section(u',', 0, 0);
    strHost = QUrl::fromPercentEncoding(strHost.toUtf8());
    strHost.replace(u'_', u' ');
    return strHost.trimmed();
}

const QString kSendToFolders[] = {QStringLiteral("pellavo/sendto"), QStringLiteral("Thunar/sendto")};

// Send-to entries, the first of each name in folder order winning, so that an entry in
// the user's data folder (even a hidden one) overrides the system's.
QList<SendTarget> DesktopEntryTargets(const ISendTargetSource& source) {
    QList<SendTarget> lstTargets;
    for (const QString& strSub : kSendToFolders) {
        QSet<QString> seen;
        for (const QString& strData : source.DataFolders()) {
            const QDir dir(strData + u'/' + strSub);
            const QFileInfoList entries =
                dir.entryInfoList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable, QDir::Name);
            for (const QFileInfo& info : entries) {
                if (seen.contains(info.fileName()))
                    continue;
                seen.insert(info.fileName());
                if (auto target = DesktopEntry::ReadSendToEntry(info.filePath(), source))
                    lstTargets << *target;
            }
        }
    }
    std::stable_sort(lstTargets.begin(), lstTargets.end(), [](const SendTarget& a, const SendTarget& b) {
        return a.strName.localeAwareCompare(b.strName) < 0;
    });
    return lstTargets;
}

} // namespace

SystemSendTargets::SystemSendTargets(QString strSysRoot, QString strGvfsFolder)
    : m_strSysRoot(strSysRoot.isEmpty() ? QStringLiteral("/sys") : std::move(strSysRoot)),
      m_strGvfsFolder(strGvfsFolder.isEmpty()
                          ? qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/gvfs")
                          : std::move(strGvfsFolder)) {}

bool SystemSendTargets::IsRemovableBlockDevice(const QString& strDevice) const {
    // "/dev/disk/by-label/STICK" and the like lead to the real node; a bare name stays.
    const QString strCanonical = QFileInfo(strDevice).canonicalFilePath();
    const QString strName = QFileInfo(strCanonical.isEmpty() ? strDevice : strCanonical).fileName();
    if (strName.isEmpty())
        return false;
    QString strBlock =
        QFileInfo(m_strSysRoot + QStringLiteral("/class/block/") + strName).canonicalFilePath();
    if (strBlock.isEmpty())
        return false;
    // A partition's flags live on its disk, the folder above it.
    if (QFileInfo::exists(strBlock + QStringLiteral("/partition")))
        strBlock = QFileInfo(strBlock).path();
    if (ReadSysFile(strBlock + QStringLiteral("/removable")) == QLatin1String("1"))
        return true;
    if (ReadSysFile(strBlock + QStringLiteral("/device/type")) == QLatin1String("SD"))
        return true;
    // USB disks often call themselves fixed, yet they come and go.
    return strBlock.contains(QLatin1String("/usb"));
}

QList<SendVolume> SystemSendTargets::GvfsVolumes() const {
    QList<SendVolume> lstVolumes;
    const QDir gvfs(m_strGvfsFolder);
    for (const QFileInfo& mount : gvfs.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString strMount = mount.fileName();
        const bool bMtp = strMount.startsWith(QLatin1String("mtp:"));
        if (!bMtp && !strMount.startsWith(QLatin1String("gphoto2:")))
            continue;
        const QString strDevice = GvfsDeviceName(strMount);
        // A phone's top level holds its storages (internal memory, SD card); files go
        // into a storage, not beside them.
        const QFileInfoList storages =
            bMtp ? QDir(mount.filePath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)
                 : QFileInfoList();
        if (storages.size() <= 1) {
            lstVolumes << SendVolume{
                strDevice, storages.isEmpty() ? mount.filePath() : storages.first().filePath(), true};
            continue;
        }
        for (const QFileInfo& storage : storages)
            lstVolumes << SendVolume{strDevice + QStringLiteral(" - ") + storage.fileName(),
                                     storage.filePath(), true};
    }
    return lstVolumes;
}

QList<SendVolume> SystemSendTargets::Volumes() const {
    QList<SendVolume> lstVolumes;
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        const QString strDevice = QString::fromLocal8Bit(storage.device());
        if (!storage.isValid() || !storage.isReady() || storage.isReadOnly() ||
            !strDevice.startsWith(QLatin1String("/dev/")) || !IsRemovableBlockDevice(strDevice))
            continue;
        QString strName = storage.name();
        if (strName.isEmpty())
            strName = QFileInfo(storage.rootPath()).fileName();
        if (strName.isEmpty())
            strName = storage.rootPath();
        lstVolumes << SendVolume{strName, storage.rootPath(), false};
    }
    lstVolumes << GvfsVolumes();
    return lstVolumes;
}

QStringList SystemSendTargets::DataFolders() const {
    return QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
}

QString SystemSendTargets::FindProgram(const QString& strName) const {
    return QStandardPaths::findExecutable(strName);
}

QList<KdeConnectDevice> SystemSendTargets::KdeConnectDevices(const QString& strCli) const {
    // The menu waits for this, so a daemon that does not answer must not hang it.
    constexpr int kTimeoutMs = 3000;
    QProcess cli;
    cli.start(strCli, {QStringLiteral("--list-available"), QStringLiteral("--id-name-only")});
    if (!cli.waitForFinished(kTimeoutMs)) {
        cli.kill();
        cli.waitForFinished();
        return {};
    }
    QList<KdeConnectDevice> lstDevices;
    if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0)
        return lstDevices;
    const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& strLine : lines) {
        const QString strId = strLine.section(u' ', 0, 0).trimmed();
        const QString strName = strLine.section(u' ', 1).trimmed();
        if (!strId.isEmpty())
            lstDevices << KdeConnectDevice{strId, strName.isEmpty() ? strId : strName};
    }
    return lstDevices;
}

QList<SendTarget> CollectSendTargets(const ISendTargetSource& source) {
    using DesktopEntry::Literal;
    QList<SendTarget> lstTargets;
    for (const SendVolume& volume : source.Volumes()) {
        SendTarget target;
        target.kind = SendTarget::Kind::Copy;
        target.strName = volume.strName;
        target.strIcon = volume.bPhone ? QStringLiteral("phone") : QStringLiteral("drive-removable-media");
        target.strFolder = volume.strFolder;
        lstTargets << target;
    }
    lstTargets << DesktopEntryTargets(source);
    const QString strKdeConnect = source.FindProgram(QStringLiteral("kdeconnect-cli"));
    if (!strKdeConnect.isEmpty()) {
        for (const KdeConnectDevice& device : source.KdeConnectDevices(strKdeConnect)) {
            SendTarget target;
            target.kind = SendTarget::Kind::Run;
            target.strName = device.strName + QStringLiteral(" (KDE Connect)");
            target.strIcon = QStringLiteral("kdeconnect");
            target.lstCommand = {Literal(strKdeConnect), QStringLiteral("--device"), Literal(device.strId),
                                 QStringLiteral("--share"), QStringLiteral("%f")};
            lstTargets << target;
        }
    }
    const QString strMail = source.FindProgram(QStringLiteral("xdg-email"));
    if (!strMail.isEmpty()) {
        SendTarget target;
        target.kind = SendTarget::Kind::Run;
        target.strName = QStringLiteral("Mail Recipient");
        target.strIcon = QStringLiteral("mail-message-new");
        target.lstCommand = {Literal(strMail), QStringLiteral("--attach"), QStringLiteral("%f")};
        lstTargets << target;
    }
    SendTarget folder;
    folder.kind = SendTarget::Kind::ChooseFolder;
    folder.strName = QStringLiteral("Folder...");
    folder.strIcon = QStringLiteral("folder");
    lstTargets << folder;
    return lstTargets;
}
