#include "shell/DesktopEntry.h"
#include "shell/SendTargets.h"
#include "shell/SendToMenu.h"

#include "PrivateBus.h"
#include "testsupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <unistd.h>

namespace {

using pellavo::test::readFile;

// Writes a file, its folders made first.
void WriteFile(const QString& strPath, const QByteArray& data, bool bExecutable = false) {
    QDir().mkpath(QFileInfo(strPath).path());
    pellavo::test::writeFile(strPath, data);
    if (bExecutable)
        QFile::setPermissions(strPath, QFile::permissions(strPath) | QFile::ExeOwner | QFile::ExeUser);
}

// Volumes, data folders and programs of a made-up desktop; KDE Connect is asked the real
// way, over the test's own session bus. Its volumes can be made to hang, as a dead mount does.
class FakeDesktop : public SystemSendTargets {
public:
    QList<SendVolume> lstVolumes;
    QStringList lstDataFolders;
    QString strBinFolder;
    std::atomic_bool bHangVolumes{false};
    QSemaphore answerVolumes;

    QList<SendVolume> Volumes() const override {
        if (bHangVolumes)
            const_cast<QSemaphore&>(answerVolumes).acquire();
        return Only(false);
    }
    QList<SendVolume> Phones() const override { return Only(true); }
    QStringList DataFolders() const override { return lstDataFolders; }
    QString FindProgram(const QString& strName) const override {
        const QFileInfo info(strBinFolder + u'/' + strName);
        return info.isExecutable() ? info.filePath() : QString();
    }

private:
    QList<SendVolume> Only(bool bPhones) const {
        QList<SendVolume> lst;
        for (const SendVolume& volume : lstVolumes) {
            if (volume.bPhone == bPhones)
                lst << volume;
        }
        return lst;
    }
};

// KDE Connect's daemon with one paired phone in reach, answering on a thread of its own as
// the real one answers from its own process.
class FakeKdeConnect : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kdeconnect.daemon")
public slots:
    QStringList devices(bool bOnlyReachable, bool bOnlyPaired) const {
        return bOnlyReachable && bOnlyPaired ? QStringList{"id_1"} : QStringList{"id_1", "id_gone"};
    }
};

class FakeKdeConnectDevice : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kdeconnect.device")
    Q_PROPERTY(QString name READ name)
public:
    QString name() const { return QStringLiteral("My Phone"); }
};

class FakeKdeConnectShare : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kdeconnect.device.share")
public:
    QStringList lstShared;
public slots:
    void shareUrl(const QString& strUrl) { lstShared << strUrl; }
};

// Watchers belong to the running test and go with it.
QObject* g_pWatchers = nullptr;

// Acts on the next widget of type T that becomes the active popup or modal window, from
// inside the nested event loop that shows it.
template <typename T> void WhenShown(std::function<void(T*)> act) {
    auto* pTimer = new QTimer(g_pWatchers);
    pTimer->setInterval(10);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, act] {
        QWidget* pActive = QApplication::activePopupWidget();
        if (!pActive)
            pActive = QApplication::activeModalWidget();
        if (T* pWidget = qobject_cast<T*>(pActive); pWidget && pWidget->isVisible()) {
            pTimer->stop();
            pTimer->deleteLater();
            act(pWidget);
        }
    });
    pTimer->start();
}

struct SeenBox {
    bool bSeen = false;
    QString strCaption;
    QString strText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Records the next message box and closes it with Return, as a user would.
std::shared_ptr<SeenBox> ExpectMessageBox() {
    auto pSeen = std::make_shared<SeenBox>();
    WhenShown<QMessageBox>([pSeen](QMessageBox* pBox) {
        *pSeen = {true, pBox->windowTitle(), pBox->text(), pBox->icon()};
        QTest::keyClick(pBox, Qt::Key_Return);
    });
    return pSeen;
}

// Picks a menu entry by its text (or closes the menu with Escape when empty), after
// recording what the menu offered.
std::shared_ptr<QStringList> ChooseFromMenu(const QString& strChoice, QPoint* pMenuPos = nullptr) {
    auto pOffered = std::make_shared<QStringList>();
    WhenShown<QMenu>([pOffered, strChoice, pMenuPos](QMenu* pMenu) {
        QAction* pChosen = nullptr;
        for (QAction* pAction : pMenu->actions()) {
            *pOffered << pAction->text();
            QVERIFY2(!pAction->icon().isNull(), qPrintable(pAction->text()));
            if (pAction->text() == strChoice)
                pChosen = pAction;
        }
        if (pMenuPos)
            *pMenuPos = pMenu->pos();
        if (!pChosen) {
            QTest::keyClick(pMenu, Qt::Key_Escape);
            return;
        }
        pMenu->setActiveAction(pChosen);
        QTest::keyClick(pMenu, Qt::Key_Return);
    });
    return pOffered;
}

QByteArray DesktopEntryText(const QByteArray& name, const QByteArray& exec, const QByteArray& extra = {}) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
}

} // namespace

class TestSendTo : public QObject {
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_pBus;
    std::unique_ptr<QTemporaryDir> m_pDir;
    QString m_strFeedFile;
    QString m_strOut;
    FakeDesktop* m_pDesktop = nullptr;
    std::shared_ptr<SendTargetFinder> m_pFinder;
    std::unique_ptr<SendToMenu> m_pSendTo;
    std::unique_ptr<QWidget> m_pOwner;

    QString Path(const QString& strRel) const { return m_pDir->filePath(strRel); }

    // A sysfs with an internal disk and eMMC, a USB stick, a USB disk that says it is fixed
    // and an SD card.
    QString FakeSysfs() {
        const QString sys = Path("sys");
        auto disk = [&](const QString& path, const QString& name, const QByteArray& flag, const QString& part,
                        const QByteArray& type = {}) {
            const QString dir = sys + "/devices/" + path + "/block/" + name;
            WriteFile(dir + "/removable", flag);
            if (!type.isEmpty())
                WriteFile(dir + "/device/type", type);
            QDir().mkpath(sys + "/class/block");
            QFile::link(dir, sys + "/class/block/" + name);
            if (!part.isEmpty()) {
                WriteFile(dir + "/" + part + "/partition", "1");
                QFile::link(dir + "/" + part, sys + "/class/block/" + part);
            }
        };
        disk("pci0000:00/0000:00:17.0/ata1/host0", "sda", "0\n", "sda2");
        disk("pci0000:00/0000:00:14.0/usb1/1-1/host1", "sdb", "1\n", "sdb1");
        disk("pci0000:00/0000:00:14.0/usb2/2-3/host2", "sdc", "0\n", "sdc1");
        disk("platform/mmc_host/mmc0/mmc0:0001", "mmcblk0", "0\n", "mmcblk0p1", "MMC\n");
        disk("platform/mmc_host/mmc1/mmc1:aaaa", "mmcblk1", "0\n", "mmcblk1p1", "SD\n");
        return sys;
    }

    // Every target, once the made-up desktop has answered every question.
    QList<SendTarget> AllTargets() { return m_pFinder->Targets(std::chrono::seconds(10)); }
    static QStringList Names(const QList<SendTarget>& targets) {
        QStringList lst;
        for (const SendTarget& target : targets)
            lst << target.strName;
        return lst;
    }
    // Send To as the user starts it, the desktop's answers in.
    bool RunSendTo(const QPoint& ptMenu = {0, 70}) {
        AllTargets();
        return m_pSendTo->Run(m_strFeedFile, m_pOwner.get(), ptMenu);
    }
    QString Home() const { return Path(QStringLiteral("home-data")); }
    QString System() const { return Path(QStringLiteral("system-data")); }

    // A program that writes its arguments, one a line, to the output file.
    QString RecorderScript(const QString& strName) {
        const QString strScript = Path(QStringLiteral("bin/") + strName);
        WriteFile(strScript, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + m_strOut.toUtf8() + "'\n", true);
        return strScript;
    }

    // A copy target for a news feed file big enough that copying it takes a while.
    SendTarget SlowStick() {
        WriteFile(m_strFeedFile, QByteArray(48 * 1024 * 1024, 'n'));
        SendTarget target;
        target.kind = SendTarget::Kind::Copy;
        target.strName = QStringLiteral("Slow Stick");
        target.strFolder = Path("slow stick");
        QDir().mkpath(target.strFolder);
        m_pSendTo->SetTargetPath(m_strFeedFile);
        return target;
    }

private slots:
    void initTestCase() {
        m_pBus = std::make_unique<PrivateBus>();
        QVERIFY(m_pBus->IsRunning());
    }
    void cleanupTestCase() { m_pBus.reset(); }

    void init() {
        g_pWatchers = new QObject;
        m_pDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pDir->isValid());
        m_strFeedFile = Path(QStringLiteral("my docs/news.nff"));
        m_strOut = Path(QStringLiteral("out.txt"));
        WriteFile(m_strFeedFile, QByteArray("NFF feeds ") + QByteArray(200000, 'x'));
        auto pDesktop = std::make_unique<FakeDesktop>();
        pDesktop->lstDataFolders = {Home(), System()};
        pDesktop->strBinFolder = Path(QStringLiteral("bin"));
        QDir().mkpath(pDesktop->strBinFolder);
        m_pDesktop = pDesktop.get();
        m_pFinder = std::make_shared<SendTargetFinder>(std::move(pDesktop));
        m_pSendTo = std::make_unique<SendToMenu>(m_pFinder);
        m_pOwner = std::make_unique<QWidget>();
        m_pOwner->resize(300, 300);
        m_pOwner->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pOwner.get()));
    }
    void cleanup() {
        delete g_pWatchers;
        g_pWatchers = nullptr;
        m_pDesktop->answerVolumes.release(100);
        m_pSendTo.reset();
        m_pFinder.reset();
        m_pOwner.reset();
        m_pDir.reset();
    }

    void execLineSplitting_data() {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << "prog  -a %f" << QStringList{"prog", "-a", "%f"} << true;
        QTest::newRow("quoted space")
            << "\"/opt/my app/run\" %F" << QStringList{"/opt/my app/run", "%F"} << true;
        QTest::newRow("escapes in quotes")
            << "sh -c \"echo \\\"\\$x\\\" \\\\ \\`\"" << QStringList{"sh", "-c", "echo \"$x\" \\ `"} << true;
        QTest::newRow("empty quoted argument") << "prog \"\" %u" << QStringList{"prog", "", "%u"} << true;
        QTest::newRow("unbalanced") << "prog \"oops" << QStringList{} << false;
    }
    void execLineSplitting() {
        QFETCH(QString, exec);
        QFETCH(QStringList, args);
        QFETCH(bool, valid);
        const auto split = DesktopEntry::SplitExec(exec);
        QCOMPARE(split.has_value(), valid);
        if (valid)
            QCOMPARE(*split, args);
    }

    void fieldCodes_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QList<QStringList>>("expanded");
        const QString f = QStringLiteral("/tmp/a b/news.nff");
        const QString e = QStringLiteral("/tmp/a b/news.epub");
        QTest::newRow("file codes") << QStringList{"p", "%f", "%F", "%u", "%U"} << QStringList{f}
                                    << QList<QStringList>{{"p", f, f, f, f}};
        QTest::newRow("inline") << QStringList{"p", "--file=%f"} << QStringList{f}
                                << QList<QStringList>{{"p", "--file=" + f}};
        QTest::newRow("percent") << QStringList{"p", "100%%", "%%f"} << QStringList{f}
                                 << QList<QStringList>{{"p", "100%", "%f"}};
        QTest::newRow("icon, name, entry")
            << QStringList{"p", "%i", "%c", "%k"} << QStringList{f}
            << QList<QStringList>{{"p", "--icon", "ico", "Phone", "/e.desktop"}};
        QTest::newRow("deprecated dropped") << QStringList{"p", "%d", "%m", "x%vy", "%f"} << QStringList{f}
                                            << QList<QStringList>{{"p", "xy", f}};
        QTest::newRow("a list takes both files")
            << QStringList{"p", "-a", "%F"} << QStringList{f, e} << QList<QStringList>{{"p", "-a", f, e}};
        QTest::newRow("one run per file") << QStringList{"p", "--to=%u"} << QStringList{f, e}
                                          << QList<QStringList>{{"p", "--to=" + f}, {"p", "--to=" + e}};
        QTest::newRow("no file code, one run")
            << QStringList{"p", "%%f"} << QStringList{f, e} << QList<QStringList>{{"p", "%f"}};
    }
    void fieldCodes() {
        QFETCH(QStringList, command);
        QFETCH(QStringList, files);
        QFETCH(QList<QStringList>, expanded);
        SendTarget target;
        target.kind = SendTarget::Kind::Run;
        target.strName = QStringLiteral("Phone");
        target.strIcon = QStringLiteral("ico");
        target.strEntryFile = QStringLiteral("/e.desktop");
        target.lstCommand = command;
        QCOMPARE(DesktopEntry::ExpandCommands(target, files), expanded);
    }

    void targetsInMenuOrder() {
        const QString strScript = RecorderScript(QStringLiteral("recorder"));
        // Pellavo's own entries and Thunar's, the user's folder first.
        WriteFile(Home() + "/pellavo/sendto/phone.desktop",
                  DesktopEntryText("Phone Upload", strScript.toUtf8() + " %f", "Icon=phone\n"));
        WriteFile(Home() + "/Thunar/sendto/shadowed.desktop", "[Desktop Entry]\nHidden=true\n");
        WriteFile(System() + "/Thunar/sendto/shadowed.desktop", DesktopEntryText("Shadowed", "true %f"));
        WriteFile(System() + "/Thunar/sendto/bluetooth.desktop",
                  DesktopEntryText("Bluetooth Device", "true %i %F",
                                   "Name[de]=Bluetooth-Gerät\nTryExec=" + strScript.toUtf8() + "\n"));
        WriteFile(System() + "/Thunar/sendto/archive.desktop",
                  DesktopEntryText("Archive\\sand Mail", "\"true\" %F"));
        WriteFile(System() + "/Thunar/sendto/no-exec.desktop",
                  "[Desktop Entry]\nType=Application\nName=NoExec\n");
        WriteFile(System() + "/Thunar/sendto/bad-quote.desktop", DesktopEntryText("BadQuote", "\"true %f"));
        WriteFile(System() + "/Thunar/sendto/no-group.desktop", "Name=NoGroup\nExec=true %f\n");
        WriteFile(System() + "/Thunar/sendto/wrong-group.desktop",
                  "[Desktop Action x]\nName=Wrong\nExec=true\n");
        WriteFile(System() + "/Thunar/sendto/binary.desktop", QByteArray("\x00\xff\xfe[", 4));
        WriteFile(System() + "/Thunar/sendto/tryexec.desktop",
                  DesktopEntryText("Missing Tool", "true %f", "TryExec=no-such-program-pellavo\n"));
        WriteFile(System() + "/Thunar/sendto/nodisplay.desktop",
                  DesktopEntryText("Unseen", "true", "NoDisplay=true\n"));
        WriteFile(System() + "/Thunar/sendto/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=x\n");
        WriteFile(System() + "/Thunar/sendto/readme.txt", DesktopEntryText("Not an entry", "true"));
        m_pDesktop->lstVolumes = {{"USB STICK", Path("stick"), false}, {"Pixel 7", Path("phone"), true}};

        QStringList expected{"USB STICK",        "Pixel 7",      "Archive and Mail",
                             "Bluetooth Device", "Phone Upload", "Folder..."};
        QCOMPARE(Names(AllTargets()), expected);

        WriteFile(Path("bin/xdg-email"), "#!/bin/sh\n", true);
        expected.insert(5, "Mail Recipient");
        const QList<SendTarget> targets = AllTargets();
        QCOMPARE(Names(targets), expected);
        QCOMPARE(targets[0].strIcon, QStringLiteral("drive-removable-media"));
        QCOMPARE(targets[1].strIcon, QStringLiteral("phone"));
        QCOMPARE(targets[4].strIcon, QStringLiteral("phone"));
        QCOMPARE(targets[5].kind, SendTarget::Kind::Mail);
        QCOMPARE(targets[5].lstCommand, QStringList{Path("bin/xdg-email")});
        // An entry without an Icon key gives %i nothing to expand to.
        QCOMPARE(DesktopEntry::ExpandCommand(targets[3], {"/n.nff"}), (QStringList{"true", "/n.nff"}));

        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QStringList german = Names(AllTargets());
        QLocale::setDefault(QLocale::c());
        QVERIFY(german.contains("Bluetooth-Gerät"));
    }

    // A question the desktop never answers (a dead network mount, a hung daemon): the menu
    // opens at once all the same, and what the answer brings is in the next opening.
    void menuOpensWhileASourceHangs() {
        m_pDesktop->lstVolumes = {{"USB STICK", Path("stick"), false}};
        m_pDesktop->bHangVolumes = true;
        QElapsedTimer timer;
        qint64 nShownMs = -1;
        WhenShown<QMenu>([&](QMenu* pMenu) {
            nShownMs = timer.elapsed();
            QTest::keyClick(pMenu, Qt::Key_Escape);
        });
        timer.start();
        QVERIFY(!m_pSendTo->Run(m_strFeedFile, m_pOwner.get(), {0, 70}));
        QVERIFY2(nShownMs >= 0 && nShownMs < 1000, qPrintable(QString::number(nShownMs)));
        QVERIFY(!Names(m_pFinder->Targets(std::chrono::milliseconds(0))).contains("USB STICK"));

        m_pDesktop->bHangVolumes = false;
        m_pDesktop->answerVolumes.release();
        const auto pOffered = ChooseFromMenu(QString());
        QVERIFY(!RunSendTo());
        QCOMPARE(pOffered->first(), QStringLiteral("USB STICK"));
    }

    void gvfsPhonesAndCameras() {
        const QString gvfs = Path("gvfs");
        QDir().mkpath(gvfs + "/mtp:host=Google_Pixel_7_1A2B/Internal shared storage");
        QDir().mkpath(gvfs + "/mtp:host=%5Busb%3A002%2C004%5D/Phone");
        QDir().mkpath(gvfs + "/mtp:host=Galaxy/Phone");
        QDir().mkpath(gvfs + "/mtp:host=Galaxy/Card");
        QDir().mkpath(gvfs + "/gphoto2:host=Canon_EOS");
        QDir().mkpath(gvfs + "/smb-share:server=nas,share=x");
        const SystemSendTargets system(Path("sys"), gvfs);
        QStringList lst;
        for (const SendVolume& v : system.Phones()) {
            QVERIFY(v.bPhone);
            QVERIFY(QFileInfo(v.strFolder).isDir());
            lst << v.strName + " -> " + QDir(gvfs).relativeFilePath(v.strFolder);
        }
        QCOMPARE(lst, (QStringList{
                          "Canon EOS -> gphoto2:host=Canon_EOS",
                          "[usb:002,004] -> mtp:host=%5Busb%3A002%2C004%5D/Phone",
                          "Galaxy - Card -> mtp:host=Galaxy/Card", "Galaxy - Phone -> mtp:host=Galaxy/Phone",
                          "Google Pixel 7 1A2B -> mtp:host=Google_Pixel_7_1A2B/Internal shared storage"}));
    }

    void removableBlockDevices_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("removable");
        QTest::newRow("flagged stick partition") << "/dev/sdb1" << true;
        QTest::newRow("flagged stick whole") << "sdb" << true;
        QTest::newRow("usb disk that says fixed") << "sdc1" << true;
        QTest::newRow("sd card") << "mmcblk1p1" << true;
        QTest::newRow("internal disk") << "sda2" << false;
        QTest::newRow("internal emmc") << "mmcblk0p1" << false;
        QTest::newRow("unknown") << "nvme9n1" << false;
    }
    void removableBlockDevices() {
        QFETCH(QString, device);
        QFETCH(bool, removable);
        QCOMPARE(SystemSendTargets(FakeSysfs(), Path("gvfs")).IsRemovableBlockDevice(device), removable);
    }

    // Without UDisks2 the mount table tells the volumes; its line alone decides, so that no
    // network or FUSE file system is ever asked anything.
    void removableVolumesFromTheMountTable() {
        WriteFile(Path("mounts"), "/dev/sda2 / ext4 rw,relatime 0 0\n"
                                  "/dev/sdb1 /media/me/MY\\040STICK vfat rw,nosuid 0 0\n"
                                  "/dev/sdc1 /media/me/NTFS fuseblk rw 0 0\n"
                                  "/dev/mmcblk1p1 /media/me/CARD exfat ro,nosuid 0 0\n"
                                  "nas:/export /mnt/nas nfs4 rw 0 0\n"
                                  "me@host: /home/me/remote fuse.sshfs rw 0 0\n"
                                  "/dev/sdb1 /run/user/0/doc fuse.portal rw 0 0\n"
                                  "tmpfs /run tmpfs rw 0 0\n");
        const SystemSendTargets system(FakeSysfs(), Path("gvfs"), Path("mounts"));
        QStringList lst;
        for (const SendVolume& volume : system.MountTableVolumes())
            lst << volume.strName + " -> " + volume.strFolder;
        QCOMPARE(lst, (QStringList{"MY STICK -> /media/me/MY STICK", "NTFS -> /media/me/NTFS"}));
    }

    void missingOrLockedFileWarns() {
        auto check = [this](const QString& strFile) {
            const auto pBox = ExpectMessageBox();
            const auto pOffered = ChooseFromMenu(QString());
            QVERIFY(!m_pSendTo->Run(strFile, m_pOwner.get(), {0, 70}));
            QVERIFY(pBox->bSeen);
            QCOMPARE(pBox->strCaption, QStringLiteral("Warning"));
            QCOMPARE(pBox->strText,
                     QStringLiteral("The updated feeds file does not exist. Please update feeds first."));
            QCOMPARE(pBox->icon, QMessageBox::Warning);
            QTest::qWait(50);
            QVERIFY2(pOffered->isEmpty(), "no menu after the warning");
            QApplication::processEvents();
        };
        check(Path("nowhere/news.nff"));
        check(Path("my docs"));

        // An update run holds the file with an exclusive lock while it writes it.
        const int fd = ::open(QFile::encodeName(m_strFeedFile).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        QVERIFY(!SendToMenu::IsFeedFileReady(m_strFeedFile));
        check(m_strFeedFile);
        ::close(fd);
        QVERIFY(SendToMenu::IsFeedFileReady(m_strFeedFile));
    }

    void escapeDoesNothing() {
        RecorderScript(QStringLiteral("recorder"));
        WriteFile(Home() + "/pellavo/sendto/rec.desktop",
                  DesktopEntryText("Recorder", Path("bin/recorder").toUtf8() + " %f"));
        QPoint ptMenu;
        const auto pOffered = ChooseFromMenu(QString(), &ptMenu);
        QVERIFY(!RunSendTo());
        QCOMPARE(*pOffered, (QStringList{"Recorder", "Folder..."}));
        QCOMPARE(ptMenu, m_pOwner->mapToGlobal(QPoint(0, 70)));
        QTest::qWait(200);
        QVERIFY(!QFile::exists(m_strOut));
    }

    void desktopEntryRunsWithTheFile() {
        RecorderScript(QStringLiteral("recorder"));
        WriteFile(
            Home() + "/pellavo/sendto/rec.desktop",
            DesktopEntryText("Phone & Tablet", '"' + Path("bin/recorder").toUtf8() + "\" --to=phone %F"));
        ChooseFromMenu(QStringLiteral("Phone && Tablet"));
        QVERIFY(RunSendTo({26, 185}));
        QTRY_COMPARE(readFile(m_strOut), QByteArray("--to=phone\n") + m_strFeedFile.toUtf8() + "\n");
    }

    // The reachable, paired devices come from KDE Connect's daemon, which takes the file too.
    void kdeConnectSharesTheFile() {
        QThread daemonThread;
        FakeKdeConnect daemon;
        FakeKdeConnectDevice device;
        FakeKdeConnectShare share;
        for (QObject* pObject : std::initializer_list<QObject*>{&daemon, &device, &share})
            pObject->moveToThread(&daemonThread);
        daemonThread.start();
        QDBusConnection bus = QDBusConnection::connectToBus(m_pBus->Address(), QStringLiteral("kdeconnect"));
        bus.registerObject("/modules/kdeconnect", &daemon, QDBusConnection::ExportAllSlots);
        bus.registerObject("/modules/kdeconnect/devices/id_1", &device, QDBusConnection::ExportAllProperties);
        bus.registerObject("/modules/kdeconnect/devices/id_1/share", &share, QDBusConnection::ExportAllSlots);
        QVERIFY(bus.registerService(QStringLiteral("org.kde.kdeconnect")));
        const auto pOffered = ChooseFromMenu(QStringLiteral("My Phone (KDE Connect)"));
        const QString strBook = Path(QStringLiteral("my docs/news.epub"));
        WriteFile(strBook, "PK book");
        AllTargets();
        const bool bSent = m_pSendTo->Run(m_strFeedFile, m_pOwner.get(), {0, 70}, {strBook});
        QDBusConnection::disconnectFromBus(QStringLiteral("kdeconnect"));
        daemonThread.quit();
        daemonThread.wait();
        QCOMPARE(*pOffered, (QStringList{"My Phone (KDE Connect)", "Folder..."}));
        QVERIFY(bSent);
        QCOMPARE(share.lstShared, (QStringList{QUrl::fromLocalFile(m_strFeedFile).toString(),
                                               QUrl::fromLocalFile(strBook).toString()}));
    }

    void programThatCannotStartIsReported() {
        WriteFile(Home() + "/pellavo/sendto/gone.desktop",
                  DesktopEntryText("Gone Tool", "/no/such/dir/tool %f"));
        ChooseFromMenu(QStringLiteral("Gone Tool"));
        const auto pBox = ExpectMessageBox();
        QVERIFY(!RunSendTo());
        QVERIFY(pBox->bSeen);
        QCOMPARE(pBox->strCaption, QStringLiteral("Error"));
        QVERIFY2(pBox->strText.contains("\"Gone Tool\"") && pBox->strText.contains("No such file"),
                 qPrintable(pBox->strText));
    }

    void copyToVolume_data() {
        QTest::addColumn<bool>("existing");
        QTest::newRow("new file") << false;
        QTest::newRow("overwrites an older copy") << true;
    }
    void copyToVolume() {
        QFETCH(bool, existing);
        QDir().mkpath(Path("stick"));
        if (existing)
            WriteFile(Path("stick/news.nff"), "old contents that are longer than nothing");
        m_pDesktop->lstVolumes = {{"USB STICK", Path("stick"), false}};
        ChooseFromMenu(QStringLiteral("USB STICK"));
        QVERIFY(RunSendTo());
        QCOMPARE(readFile(Path("stick/news.nff")), readFile(m_strFeedFile));
        QCOMPARE(QDir(Path("stick")).entryList(QDir::Files | QDir::Hidden), QStringList{"news.nff"});
    }

    void copyFailureIsReported() {
        m_pDesktop->lstVolumes = {{"Gone Stick", Path("unplugged/stick"), false}};
        ChooseFromMenu(QStringLiteral("Gone Stick"));
        const auto pBox = ExpectMessageBox();
        QVERIFY(!RunSendTo());
        QVERIFY(pBox->bSeen);
        QCOMPARE(pBox->strCaption, QStringLiteral("Error"));
        QVERIFY2(pBox->strText.contains("\"Gone Stick\""), qPrintable(pBox->strText));
        QCOMPARE(pBox->icon, QMessageBox::Warning);
    }

    void copyIntoItsOwnFolderKeepsTheFile() {
        const QByteArray before = readFile(m_strFeedFile);
        SendTarget target;
        target.kind = SendTarget::Kind::Copy;
        target.strName = QStringLiteral("Documents");
        target.strFolder = QFileInfo(m_strFeedFile).path();
        m_pSendTo->SetTargetPath(m_strFeedFile);
        QVERIFY(m_pSendTo->SendTo(target, m_pOwner.get()));
        QCOMPARE(readFile(m_strFeedFile), before);
    }

    // A phone or a slow stick takes its time: the window goes on answering meanwhile,
    // and the copy arrives whole.
    void windowAnswersDuringACopy() {
        const SendTarget target = SlowStick();
        const QString strFolder = target.strFolder;
        int nTicks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&nTicks] { ++nTicks; });
        tick.start(0);
        QVERIFY(m_pSendTo->SendTo(target, m_pOwner.get()));
        QVERIFY(nTicks > 0);
        QVERIFY(readFile(strFolder + "/news.nff") == readFile(m_strFeedFile));
        QCOMPARE(QDir(strFolder).entryList(QDir::Files | QDir::Hidden), QStringList{"news.nff"});
    }

    void cancelledCopyLeavesTheTargetAlone_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Cancel button") << false;
        QTest::newRow("Escape") << true;
    }

    // Cancel stops the copy part way: the target keeps what it had, and nothing is said.
    void cancelledCopyLeavesTheTargetAlone() {
        QFETCH(bool, escape);
        const SendTarget target = SlowStick();
        const QString strFolder = target.strFolder;
        WriteFile(strFolder + "/news.nff", "yesterday's news");
        const auto pSeen = ExpectMessageBox();
        // What the Cancel button does, as soon as the copy is under way.
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, [this, &cancel, escape] {
            if (auto* pProgress = m_pOwner->findChild<QProgressDialog*>(QStringLiteral("sendToProgress"))) {
                if (escape)
                    QTest::keyClick(pProgress, Qt::Key_Escape);
                else
                    pProgress->findChild<QPushButton*>()->click();
                cancel.stop();
            }
        });
        cancel.start(0);
        QVERIFY(!m_pSendTo->SendTo(target, m_pOwner.get()));
        QVERIFY(!cancel.isActive());
        QVERIFY(!pSeen->bSeen);
        QCOMPARE(readFile(strFolder + "/news.nff"), QByteArray("yesterday's news"));
        QCOMPARE(QDir(strFolder).entryList(QDir::Files | QDir::Hidden), QStringList{"news.nff"});
    }

    // The program quits while a worker hangs: it ends soon, and the worker does not go on
    // once the application object is gone.
    void quitWhileAWorkerHangs() {
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent"));
        probe.setProcessEnvironment(environment);
        QElapsedTimer timer;
        timer.start();
        probe.start(QStringLiteral(SENDTO_QUIT_PROBE), QStringList());
        QVERIFY(probe.waitForFinished(30000));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(probe.readAllStandardError(), QByteArray());
    }

    // Exit (tray or File menu) while a copy runs ends the program's main loop: the copy
    // stops, the target keeps what it had, and the program ends at once.
    void exitDuringACopy() {
        const SendTarget target = SlowStick();
        const QString strFolder = target.strFolder;
        WriteFile(strFolder + "/news.nff", "yesterday's news");
        bool bSent = true;
        qint64 nEndedMs = -1;
        QElapsedTimer sinceExit;
        QTimer exitWhileCopying;
        connect(&exitWhileCopying, &QTimer::timeout, [&] {
            if (m_pOwner->findChild<QProgressDialog*>(QStringLiteral("sendToProgress"))) {
                exitWhileCopying.stop();
                sinceExit.start();
                QCoreApplication::quit();
            }
        });
        QTimer::singleShot(0, [&] {
            exitWhileCopying.start(0);
            bSent = m_pSendTo->SendTo(target, m_pOwner.get());
            nEndedMs = sinceExit.elapsed();
        });
        QCoreApplication::exec();
        QVERIFY(!bSent);
        QVERIFY2(nEndedMs >= 0 && nEndedMs < 1000, qPrintable(QString::number(nEndedMs)));
        QCOMPARE(readFile(strFolder + "/news.nff"), QByteArray("yesterday's news"));
        QCOMPARE(QDir(strFolder).entryList(QDir::Files | QDir::Hidden), QStringList{"news.nff"});
    }

    // The e-book of the same run goes along with the news feed file to every kind of target.
    void bookGoesAlong_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("received");
        QTest::newRow("volume") << int(SendTarget::Kind::Copy) << QStringList() << QString();
        QTest::newRow("mail") << int(SendTarget::Kind::Mail) << QStringList() << "--attach\nF\n--attach\nB\n";
        QTest::newRow("entry with %F") << int(SendTarget::Kind::Run) << QStringList{"%F"} << "F\nB\n";
        QTest::newRow("entry with %f, one run each")
            << int(SendTarget::Kind::Run) << QStringList{"%f"} << "F\nB\n";
    }
    void bookGoesAlong() {
        QFETCH(int, kind);
        QFETCH(QStringList, command);
        QFETCH(QString, received);
        const QString strBook = Path(QStringLiteral("my docs/news.epub"));
        WriteFile(strBook, "PK book");
        // Records each run's arguments, one a line.
        const QString strScript = Path(QStringLiteral("bin/append"));
        WriteFile(strScript, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + m_strOut.toUtf8() + "'\n", true);
        SendTarget target;
        target.kind = SendTarget::Kind(kind);
        target.strName = QStringLiteral("Target");
        target.strFolder = Path(QStringLiteral("stick"));
        QDir().mkpath(target.strFolder);
        target.lstCommand = QStringList{strScript} + command;
        m_pSendTo->SetTargetPath(m_strFeedFile, {strBook});
        QVERIFY(m_pSendTo->SendTo(target, m_pOwner.get()));
        if (received.isEmpty()) {
            QCOMPARE(readFile(Path("stick/news.nff")), readFile(m_strFeedFile));
            QCOMPARE(readFile(Path("stick/news.epub")), QByteArray("PK book"));
            QCOMPARE(QDir(Path("stick")).entryList(QDir::Files | QDir::Hidden),
                     (QStringList{"news.epub", "news.nff"}));
            return;
        }
        // Two runs may write in either order.
        const auto sorted = [](const QString& strLines) {
            QStringList lst = strLines.split(u'\n');
            lst.sort();
            return lst;
        };
        // Line by line, so that a temporary folder's name holding an F or a B stays as it is.
        QStringList expected = received.split(u'\n');
        for (QString& line : expected)
            line = line == u"F" ? m_strFeedFile : line == u"B" ? strBook : line;
        QTRY_COMPARE(sorted(QString::fromUtf8(readFile(m_strOut))), sorted(expected.join(u'\n')));
    }

    void folderChoiceCopiesThere() {
        const QString strFolder = Path("chosen folder");
        QDir().mkpath(strFolder);
        ChooseFromMenu(QStringLiteral("Folder..."));
        WhenShown<QFileDialog>([strFolder](QFileDialog* pDialog) {
            auto* pEdit = pDialog->findChild<QLineEdit*>();
            QVERIFY(pEdit);
            // A typed path, as a user would give it.
            pEdit->setText(strFolder);
            QTest::keyClick(pEdit, Qt::Key_Return);
        });
        QVERIFY(RunSendTo());
        QCOMPARE(readFile(strFolder + "/news.nff"), readFile(m_strFeedFile));
    }
};

PELLAVO_TEST_MAIN(TestSendTo)
#include "tst_SendTo.moc"
