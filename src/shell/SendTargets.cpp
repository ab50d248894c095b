#include "shell/SendTargets.h"

#include "desktop/KdeConnect.h"
#include "shell/DesktopEntry.h"
#include "shell/WorkerThreads.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>

namespace {

// Daemons are asked on worker threads, but a daemon that never answers must not hold its
// thread for ever either.
constexpr int kDBusTimeoutMs = 3000;

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

// The kernel writes blanks, tabs, line breaks and backslashes in mount table fields as
// three octal digits after a backslash.
QString UnescapeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool bOk = false;
            const int nCode = field.mid(i + 1, 3).toInt(&bOk, 8);
            if (bOk) {
                out += char(nCode);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QString::fromUtf8(out);
}

// The file systems of local disks. Network file systems and FUSE mounts, which may hang
// or cost a round trip to answer anything, are not among them; fuseblk is NTFS on a local
// disk, which the mount table's line alone describes well enough.
bool IsLocalDiskFileSystem(const QString& strType) {
    static const QSet<QString> types{"vfat",    "exfat", "ntfs",  "ntfs3",  "msdos",  "ext2",
                                     "ext3",    "ext4",  "btrfs", "xfs",    "f2fs",   "hfs",
                                     "hfsplus", "udf",   "jfs",   "nilfs2", "fuseblk"};
    return types.contains(strType);
}

// Labels of the block devices, from udev's links, so that no mounted file system is asked.
QHash<QString, QString> BlockDeviceLabels() {
    QHash<QString, QString> labels;
    const QDir dir(QStringLiteral("/dev/disk/by-label"));
    for (const QFileInfo& link : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        // udev writes a blank in a label as "\x20".
        QString strLabel = link.fileName();
        strLabel.replace(QLatin1String("\\x20"), QLatin1String(" "));
        labels.insert(link.canonicalFilePath(), strLabel);
    }
    return labels;
}

// UDisks2's mount points are NUL-terminated byte strings.
QStringList MountPoints(const QVariant& value) {
    QStringList lst;
    const QDBusArgument arg = value.value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        QByteArray point;
        arg >> point;
        if (point.endsWith('\0'))
            point.chop(1);
        if (!point.isEmpty())
            lst << QFile::decodeName(point);
    }
    arg.endArray();
    return lst;
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

QList<SendTarget> CopyTargets(const QList<SendVolume>& lstVolumes) {
    QList<SendTarget> lstTargets;
    for (const SendVolume& volume : lstVolumes) {
        SendTarget target;
        target.kind = SendTarget::Kind::Copy;
        target.strName = volume.strName;
        target.strIcon = volume.bPhone ? QStringLiteral("phone") : QStringLiteral("drive-removable-media");
        target.strFolder = volume.strFolder;
        lstTargets << target;
    }
    return lstTargets;
}

QList<SendTarget> KdeConnectTargets(const ISendTargetSource& source) {
    QList<SendTarget> lstTargets;
    for (const KdeConnectDevice& device : source.KdeConnectDevices()) {
        SendTarget target;
        target.kind = SendTarget::Kind::KdeConnect;
        target.strName = device.strName + QStringLiteral(" (KDE Connect)");
        target.strIcon = QStringLiteral("kdeconnect");
        target.strDevice = device.strId;
        lstTargets << target;
    }
    return lstTargets;
}

QList<SendTarget> MailTargets(const ISendTargetSource& source) {
    const QString strMail = source.FindProgram(QStringLiteral("xdg-email"));
    if (strMail.isEmpty())
        return {};
    SendTarget target;
    target.kind = SendTarget::Kind::Mail;
    target.strName = QStringLiteral("Mail Recipient");
    target.strIcon = QStringLiteral("mail-message-new");
    target.lstCommand = {strMail};
    return {target};
}

// The questions the finder asks, each on a thread of its own, in menu order.
using Question = QList<SendTarget> (*)(const ISendTargetSource&);
const Question kQuestions[] = {
    [](const ISendTargetSource& source) { return CopyTargets(source.Volumes()); },
    [](const ISendTargetSource& source) { return CopyTargets(source.Phones()); },
    &DesktopEntryTargets,
    &KdeConnectTargets,
    &MailTargets,
};
constexpr size_t kQuestionCount = std::size(kQuestions);

} // namespace

SystemSendTargets::SystemSendTargets(QString strSysRoot, QString strGvfsFolder, QString strMountTable)
    : m_strSysRoot(strSysRoot.isEmpty() ? QStringLiteral("/sys") : std::move(strSysRoot)),
      m_strGvfsFolder(strGvfsFolder.isEmpty()
                          ? qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/gvfs")
                          : std::move(strGvfsFolder)),
      m_strMountTable(strMountTable.isEmpty() ? QStringLiteral("/proc/self/mounts")
                                              : std::move(strMountTable)) {}

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

QList<SendVolume> SystemSendTargets::Phones() const {
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

std::optional<QList<SendVolume>> SystemSendTargets::UDisksVolumes() {
    const QString strService = QStringLiteral("org.freedesktop.UDisks2");
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(strService, QStringLiteral("/org/freedesktop/UDisks2"),
                                                       QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                                       QStringLiteral("GetManagedObjects"));
    // Where UDisks2 does not run, the mount table answers instead of a daemon started for us.
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kDBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;

    // a{oa{sa{sv}}}: every object with its interfaces and their properties.
    QHash<QString, QMap<QString, QVariantMap>> objects;
    const QDBusArgument arg = reply.arguments().first().value<QDBusArgument>();
    arg.beginMap();
    while (!arg.atEnd()) {
        QDBusObjectPath path;
        QMap<QString, QVariantMap> interfaces;
        arg.beginMapEntry();
        arg >> path >> interfaces;
        arg.endMapEntry();
        objects.insert(path.path(), interfaces);
    }
    arg.endMap();

    const QString strBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
    const QString strFileSystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
    const QString strDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
    QList<SendVolume> lstVolumes;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        if (!it->contains(strBlock) || !it->contains(strFileSystem))
            continue;
        const QVariantMap block = it->value(strBlock);
        const QStringList points = MountPoints(it->value(strFileSystem).value(QStringLiteral("MountPoints")));
        if (points.isEmpty() || block.value(QStringLiteral("HintIgnore")).toBool() ||
            block.value(QStringLiteral("ReadOnly")).toBool())
            continue;
        const QVariantMap drive =
            objects.value(block.value(QStringLiteral("Drive")).value<QDBusObjectPath>().path())
                .value(strDrive);
        const QString strBus = drive.value(QStringLiteral("ConnectionBus")).toString();
        const bool bRemovable = drive.value(QStringLiteral("Removable")).toBool() ||
                                drive.value(QStringLiteral("MediaRemovable")).toBool() ||
                                strBus == QLatin1String("usb") || strBus == QLatin1String("sdio");
        if (!bRemovable && block.value(QStringLiteral("HintSystem"), true).toBool())
            continue;
        QString strName = block.value(QStringLiteral("IdLabel")).toString();
        if (strName.isEmpty())
            strName = block.value(QStringLiteral("HintName")).toString();
        if (strName.isEmpty())
            strName = QFileInfo(points.first()).fileName();
        lstVolumes << SendVolume{strName.isEmpty() ? points.first() : strName, points.first(), false};
    }
    std::sort(lstVolumes.begin(), lstVolumes.end(),
              [](const SendVolume& a, const SendVolume& b) { return a.strFolder < b.strFolder; });
    return lstVolumes;
}

QList<MountEntry> SystemSendTargets::ParseMountTable(const QByteArray& table) {
    QList<MountEntry> lstEntries;
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4)
            continue;
        const QList<QByteArray> options = fields[3].split(',');
        lstEntries << MountEntry{UnescapeMountField(fields[0]), UnescapeMountField(fields[1]),
                                 QString::fromLatin1(fields[2]), options.contains("ro")};
    }
    return lstEntries;
}

QList<SendVolume> SystemSendTargets::MountTableVolumes() const {
    QFile table(m_strMountTable);
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QHash<QString, QString> labels = BlockDeviceLabels();
    QList<SendVolume> lstVolumes;
    for (const MountEntry& entry : ParseMountTable(table.readAll())) {
        if (entry.bReadOnly || !IsLocalDiskFileSystem(entry.strType) ||
            !entry.strDevice.startsWith(QLatin1String("/dev/")) || !IsRemovableBlockDevice(entry.strDevice))
            continue;
        const QString strCanonical = QFileInfo(entry.strDevice).canonicalFilePath();
        QString strName = labels.value(strCanonical.isEmpty() ? entry.strDevice : strCanonical);
        if (strName.isEmpty())
            strName = QFileInfo(entry.strFolder).fileName();
        lstVolumes << SendVolume{strName.isEmpty() ? entry.strFolder : strName, entry.strFolder, false};
    }
    return lstVolumes;
}

QList<SendVolume> SystemSendTargets::Volumes() const {
    if (auto volumes = UDisksVolumes())
        return *volumes;
    return MountTableVolumes();
}

QStringList SystemSendTargets::DataFolders() const {
    return QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
}

QString SystemSendTargets::FindProgram(const QString& strName) const {
    return QStandardPaths::findExecutable(strName);
}

QList<KdeConnectDevice> SystemSendTargets::KdeConnectDevices() const {
    QList<KdeConnectDevice> lstDevices;
    // Those a file can go to now.
    for (const KdeConnect::Device& device : KdeConnect::PairedDevices()) {
        if (device.reachable)
            lstDevices << KdeConnectDevice{device.id, device.name};
    }
    return lstDevices;
}

struct SendTargetFinder::State {
    explicit State(std::unique_ptr<ISendTargetSource> pSource) : source(std::move(pSource)) {}

    struct Answer {
        QList<SendTarget> lstTargets;
        bool bAsking = false;
        quint64 nAnswers = 0;
    };

    // Asks question `i` and keeps its answer; runs on a thread of its own.
    static void Ask(const std::shared_ptr<State>& state, size_t i) {
        QList<SendTarget> lstFound = kQuestions[i](*state->source);
        const std::lock_guard lock(state->mutex);
        Answer& answer = state->answers[i];
        answer.lstTargets = std::move(lstFound);
        answer.bAsking = false;
        ++answer.nAnswers;
        state->answered.notify_all();
    }

    const std::unique_ptr<ISendTargetSource> source;
    std::mutex mutex;
    std::condition_variable answered;
    std::array<Answer, kQuestionCount> answers;
};

SendTargetFinder::SendTargetFinder(std::unique_ptr<ISendTargetSource> source)
    : m_state(std::make_shared<State>(std::move(source))) {}

// The workers share the state and end on their own: one that hangs must not hold up the
// window.
SendTargetFinder::~SendTargetFinder() = default;

std::shared_ptr<SendTargetFinder> SendTargetFinder::ForThisDesktop() {
    static const auto finder = std::make_shared<SendTargetFinder>(std::make_unique<SystemSendTargets>());
    return finder;
}

QList<SendTarget> SendTargetFinder::Targets(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::unique_lock lock(m_state->mutex);
    std::array<quint64, kQuestionCount> awaited{};
    for (size_t i = 0; i < kQuestionCount; ++i) {
        State::Answer& answer = m_state->answers[i];
        awaited[i] = answer.nAnswers + 1;
        if (answer.bAsking)
            continue;
        // Without a thread to be had, this opening goes without the answer.
        answer.bAsking = StartWorkerThread([state = m_state, i] { State::Ask(state, i); });
    }
    m_state->answered.wait_until(lock, deadline, [&] {
        for (size_t i = 0; i < kQuestionCount; ++i) {
            if (m_state->answers[i].nAnswers < awaited[i])
                return false;
        }
        return true;
    });
    QList<SendTarget> lstTargets;
    for (const State::Answer& answer : m_state->answers)
        lstTargets << answer.lstTargets;
    SendTarget folder;
    folder.kind = SendTarget::Kind::ChooseFolder;
    folder.strName = QStringLiteral("Folder...");
    folder.strIcon = QStringLiteral("folder");
    lstTargets << folder;
    return lstTargets;
}
