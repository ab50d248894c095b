#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// One place the news feed file can be sent to, as the Send To menu offers it.
struct SendTarget {
    enum class Kind {
        Copy,         // copy the file into `strFolder` under its own name
        Run,          // start `lstCommand` with the file (desktop entries, KDE Connect, mail)
        ChooseFolder, // ask for a folder, then copy there
    };
    Kind kind = Kind::Copy;
    QString strName;
    // A theme icon name or an icon file.
    QString strIcon;
    QString strFolder;
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

// What this desktop offers. Tests replace it to supply their own volumes, data folders
// and programs.
class ISendTargetSource {
public:
    virtual ~ISendTargetSource() = default;
    // Mounted removable drives, then phones and cameras.
    virtual QList<SendVolume> Volumes() const = 0;
    // The XDG data folders, most important first.
    virtual QStringList DataFolders() const = 0;
    // The full path of an installed program, or an empty string.
    virtual QString FindProgram(const QString& strName) const = 0;
    // Reachable devices, as the given kdeconnect-cli reports them.
    virtual QList<KdeConnectDevice> KdeConnectDevices(const QString& strCli) const = 0;
};

// This machine: mounted removable block devices, GVFS phone and camera mounts, the
// user's XDG data folders and PATH.
class SystemSendTargets : public ISendTargetSource {
public:
    // `strSysRoot` is where sysfs is mounted and `strGvfsFolder` where GVFS keeps its
    // mounts; empty means the system's own.
    explicit SystemSendTargets(QString strSysRoot = QString(), QString strGvfsFolder = QString());

    QList<SendVolume> Volumes() const override;
    QStringList DataFolders() const override;
    QString FindProgram(const QString& strName) const override;
    QList<KdeConnectDevice> KdeConnectDevices(const QString& strCli) const override;

    // True when the block device (a node such as "/dev/sdb1" or its name "sdb1") is a
    // removable disk or a partition of one: flagged removable, an SD card, or on USB.
    bool IsRemovableBlockDevice(const QString& strDevice) const;
    // Phones and cameras that GVFS mounted over MTP or PTP.
    QList<SendVolume> GvfsVolumes() const;

private:
    QString m_strSysRoot;
    QString m_strGvfsFolder;
};

// Every target in menu order: volumes, send-to desktop entries, KDE Connect devices,
// "Mail Recipient", "Folder...".
QList<SendTarget> CollectSendTargets(const ISendTargetSource& source);
