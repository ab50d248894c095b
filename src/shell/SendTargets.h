#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

// One place the news feed file can be sent to, as the Send To menu offers it.
struct SendTarget {
    enum class Kind {
        Copy,         // copy the files into `strFolder` under their own names
        Run,          // start `lstCommand` with the files (desktop entries)
        Mail,         // start `lstCommand` (xdg-email) with every file attached to one message
        KdeConnect,   // share the files with the KDE Connect device `strDevice`
        ChooseFolder, // ask for a folder, then copy there
    };
    Kind kind = Kind::Copy;
    QString strName;
    // A theme icon name or an icon file; empty when the target has none of its own.
    QString strIcon;
    QString strFolder;
    QString strDevice;
    // Program and arguments, with desktop-entry field codes: %f, %F, %u and %U stand
    // for the file, %i for the icon, %c for the name, %k for `strEntryFile`, %% for %.
    QStringList lstCommand;
    QString strWorkDir;
    QString strEntryFile;
};

// A mounted drive or device that the file can be copied to.
struct SendVolume {
    QString strName;
    QString strFolder;
    bool bPhone = false;
};

struct KdeConnectDevice {
    QString strId;
    QString strName;
};

// What this desktop offers. Any of these questions may take long or never come back (a
// hung mount, a daemon that does not answer), so SendTargetFinder asks them on threads of
// their own; they must not touch widgets. Tests replace the source.
class ISendTargetSource {
public:
    virtual ~ISendTargetSource() = default;
    // Mounted removable drives that can take a file.
    virtual QList<SendVolume> Volumes() const = 0;
    // Phones and cameras.
    virtual QList<SendVolume> Phones() const = 0;
    // The XDG data folders, most important first.
    virtual QStringList DataFolders() const = 0;
    // The full path of an installed program, or an empty string.
    virtual QString FindProgram(const QString& strName) const = 0;
    // Paired devices that KDE Connect can reach now.
    virtual QList<KdeConnectDevice> KdeConnectDevices() const = 0;
};

// One line of the mount table.
struct MountEntry {
    QString strDevice;
    QString strFolder;
    QString strType;
    bool bReadOnly = false;
};

// This machine: UDisks2's removable volumes (the mount table where UDisks2 does not run),
// GVFS phone and camera mounts, the user's XDG data folders and PATH, KDE Connect's daemon.
class SystemSendTargets : public ISendTargetSource {
public:
    // `strSysRoot` is where sysfs is mounted, `strGvfsFolder` where GVFS keeps its mounts
    // and `strMountTable` the kernel's mount table; empty means the system's own.
    explicit SystemSendTargets(QString strSysRoot = QString(), QString strGvfsFolder = QString(),
                               QString strMountTable = QString());

    QList<SendVolume> Volumes() const override;
    QList<SendVolume> Phones() const override;
    QStringList DataFolders() const override;
    QString FindProgram(const QString& strName) const override;
    QList<KdeConnectDevice> KdeConnectDevices() const override;

    // The volumes UDisks2 reports mounted, writable and removable; nothing when it does not run.
    static std::optional<QList<SendVolume>> UDisksVolumes();
    // The same from the mount table, which names each mount's type: only local disk file
    // systems count, so no network or FUSE file system is ever asked anything.
    QList<SendVolume> MountTableVolumes() const;
    static QList<MountEntry> ParseMountTable(const QByteArray& table);
    // True when the block device (a node such as "/dev/sdb1" or its name "sdb1") is a
    // removable disk or a partition of one: flagged removable, an SD card, or on USB.
    bool IsRemovableBlockDevice(const QString& strDevice) const;

private:
    QString m_strSysRoot;
    QString m_strGvfsFolder;
    QString m_strMountTable;
};

// Finds the targets on worker threads and keeps what they found, so that the menu opens at
// once whatever the mounts and daemons do: an answer that comes late is in the next opening.
// A question still unanswered from an earlier opening is not asked again meanwhile.
class SendTargetFinder {
public:
    explicit SendTargetFinder(std::unique_ptr<ISendTargetSource> source);
    ~SendTargetFinder();

    // The finder of this machine, shared by every Send To of the program.
    static std::shared_ptr<SendTargetFinder> ForThisDesktop();

    // Every target in menu order: volumes, phones, send-to desktop entries, KDE Connect
    // devices, "Mail Recipient", "Folder...". Asks the source afresh and takes the answers
    // that come within `wait`, the earlier ones for those that do not.
    QList<SendTarget> Targets(std::chrono::milliseconds wait);

private:
    struct State;
    std::shared_ptr<State> m_state;
};
