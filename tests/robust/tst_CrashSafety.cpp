// A program killed at any moment while it saves keeps the subscriptions whole: a child
// process saves a large channel file over and over, the way every edit does, and is
// killed at random moments. After every kill the channel file must load whole as one
// version, never a mixture, and every backup must load whole too.
#include "ChannelSave.h"
#include "ModelTestUtil.h"
#include "model/OpmlReader.h"
#include "model/OpmlWriter.h"
#include "model/OutlineItem.h"
#include "testsupport.h"
#include "update/AppPaths.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <array>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using pellavo::robust::SaveChannel;

namespace {

constexpr int kGroups = 30;
constexpr int kFeedsPerGroup = 40;
constexpr int kKills = 300;
// A slow sanitizer build on a busy machine may stop short of kKills within the budget;
// it fails below kMinimumKills.
constexpr qint64 kBudgetMs = 45000;
constexpr int kMinimumKills = 200;

QByteArray GroupTitle(int group, quint64 generation) {
    return "Group " + QByteArray::number(group) + " #" + QByteArray::number(generation);
}

QByteArray FeedTitle(int group, int feed, quint64 generation) {
    return "Feed " + QByteArray::number(group) + '.' + QByteArray::number(feed) + " #" +
           QByteArray::number(generation);
}

// 1,200 feeds in 30 groups: a channel file of some 260 KB.
std::unique_ptr<COutlineItem> BuildModel() {
    auto root = std::make_unique<COutlineItem>();
    for (int g = 0; g < kGroups; ++g) {
        auto* group = new COutlineItem;
        root->AppendChild(group);
        for (int f = 0; f < kFeedsPerGroup; ++f) {
            auto* feed = new COutlineItem;
            const QByteArray url =
                "https://feeds.example.org/" + QByteArray::number(g) + '/' + QByteArray::number(f);
            COutlineItem::SetString(feed->m_pszXmlUrl, url.constData());
            COutlineItem::SetString(feed->m_pszHtmlUrl, "https://example.org/");
            COutlineItem::SetString(feed->m_pszType, "rss");
            COutlineItem::SetString(feed->m_pszDescription,
                                    "News about this and that, with \"quotes\" & ampersands <to escape>");
            group->AppendChild(feed);
        }
    }
    return root;
}

// Marks every title with the generation, so that a file mixed from two saves shows.
void Stamp(COutlineItem& root, quint64 generation) {
    int g = 0;
    for (COutlineItem* group = root.m_pFirstChild; group; group = group->m_pNext, ++g) {
        COutlineItem::SetString(group->m_pszTitle, GroupTitle(g, generation).constData());
        int f = 0;
        for (COutlineItem* feed = group->m_pFirstChild; feed; feed = feed->m_pNext, ++f)
            COutlineItem::SetString(feed->m_pszTitle, FeedTitle(g, f, generation).constData());
    }
}

// The generation that the file holds whole, or -1 with the reason.
qint64 Generation(const QString& path, QString* why) {
    const pellavo::test::Model model = pellavo::test::loadQuietly(path);
    if (!model.ok) {
        *why = QStringLiteral("%1 does not load whole: line %2: %3")
                   .arg(path)
                   .arg(model.error.line)
                   .arg(model.error.reason);
        return -1;
    }
    const COutlineItem* first = model.root->m_pFirstChild;
    const QByteArray title = first && first->m_pszTitle ? QByteArray(first->m_pszTitle) : QByteArray();
    bool ok = false;
    const quint64 generation = title.mid(title.indexOf('#') + 1).toULongLong(&ok);
    int g = 0;
    for (const COutlineItem* group = first; ok && group; group = group->m_pNext, ++g) {
        ok = g < kGroups && group->m_pszTitle && GroupTitle(g, generation) == group->m_pszTitle;
        int f = 0;
        for (const COutlineItem* feed = group->m_pFirstChild; ok && feed; feed = feed->m_pNext, ++f)
            ok = f < kFeedsPerGroup && feed->m_pszTitle && FeedTitle(g, f, generation) == feed->m_pszTitle &&
                 feed->IsFeed() && !feed->m_pFirstChild;
        ok = ok && f == kFeedsPerGroup;
    }
    if (!ok || g != kGroups) {
        *why = QStringLiteral("%1 is not one whole version").arg(path);
        return -1;
    }
    return qint64(generation);
}

// A save replaces a file by a new one: a new inode, or at least a new modification time.
using FileIdentity = std::array<qint64, 4>;
FileIdentity Identity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec)};
}

// Kills and reaps the child however the test function ends.
class Child {
public:
    explicit Child(pid_t pid) : m_pid(pid) {}
    ~Child() { Kill(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void Kill() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

private:
    pid_t m_pid;
};

// Files that a save killed half-way left beside the channel file and the backups.
QStringList Strays(const QString& folder) {
    QStringList strays;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        const bool kept =
            name == QLatin1String("Pellavo.Cha") ||
            (name.startsWith(QLatin1String("nchnlbak")) && name.endsWith(QLatin1String(".cbf")));
        if (!kept)
            strays << name;
    }
    return strays;
}

} // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir{pellavo::robust::InMemoryTemplate()};

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(pellavo::robust::KeepFilesIn(m_dir.path()));
    }

    void killedWhileSaving() {
        const QString channelFile = AppPaths::ChannelFile();
        const QString channelFolder = QFileInfo(channelFile).absolutePath();
        const QString tempFolder = AppPaths::PrivateTempFolder();
        QVERIFY(!tempFolder.isEmpty());
        std::unique_ptr<COutlineItem> root = BuildModel();

        // Generation 0 is on disk before the first kill; time a few saves to spread the kills over one.
        quint64 onDisk = 0;
        Stamp(*root, onDisk);
        QElapsedTimer clock;
        clock.start();
        for (unsigned n = 1; n <= 3; ++n)
            QVERIFY(SaveChannel(*root, n));
        const qint64 saveUs = qMax<qint64>(clock.nsecsElapsed() / 3000, 100);
        qInfo("one save of %lld bytes takes %lld us", QFileInfo(channelFile).size(), saveUs);
        QDir(tempFolder).removeRecursively();
        QVERIFY(!AppPaths::PrivateTempFolder().isEmpty());

        QRandomGenerator random(quint32(QDateTime::currentMSecsSinceEpoch()));
        QHash<QString, FileIdentity> checked;
        int kills = 0, newVersions = 0, backupChecks = 0;
        QStringList strays;
        clock.restart();
        while (kills < kKills && clock.elapsed() < kBudgetMs) {
            const quint64 first = onDisk + 1;
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                // The child saves as every edit does, each save a new version, until it is killed.
                for (unsigned n = 1;; ++n) {
                    Stamp(*root, first + n - 1);
                    SaveChannel(*root, n);
                }
            }
            Child child(pid);
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(saveUs * 3)));
            child.Kill();
            ++kills;

            QString why;
            const qint64 generation = Generation(channelFile, &why);
            QVERIFY2(generation >= 0, qPrintable(why));
            QVERIFY2(quint64(generation) == onDisk || quint64(generation) >= first,
                     qPrintable(QStringLiteral("version %1 after %2").arg(generation).arg(onDisk)));
            newVersions += quint64(generation) != onDisk ? 1 : 0;
            onDisk = quint64(generation);

            // Every backup that changed since it was last looked at must load whole as one version.
            for (const QFileInfo& backup :
                 QDir(tempFolder).entryInfoList({QStringLiteral("nchnlbak*.cbf")}, QDir::Files)) {
                const FileIdentity identity = Identity(backup.filePath());
                if (checked.value(backup.fileName()) == identity)
                    continue;
                QVERIFY2(Generation(backup.filePath(), &why) >= 0, qPrintable(why));
                checked.insert(backup.fileName(), identity);
                ++backupChecks;
            }
            // A save killed before its rename may leave its unfinished file behind; only
            // count them, and clear them away so they do not pile up.
            for (const QString& folder : {channelFolder, tempFolder}) {
                for (const QString& stray : Strays(folder)) {
                    strays << stray;
                    QFile::remove(folder + QLatin1Char('/') + stray);
                }
            }
        }
        qInfo("%d kills in %lld ms: %d left a newer version, %d backups checked, unfinished files left "
              "behind: %s",
              kills, clock.elapsed(), newVersions, backupChecks, qPrintable(strays.join(QLatin1Char(' '))));
        QVERIFY2(kills >= kMinimumKills, "too few kills in the time allowed");
        // The kills landed both before and after the end of a save.
        QVERIFY(newVersions > 0 && newVersions < kills);
    }
};

PELLAVO_TEST_MAIN(TestCrashSafety)
#include "tst_CrashSafety.moc"
