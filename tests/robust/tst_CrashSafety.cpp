// A program that dies at any moment of a save keeps the subscriptions whole. A child
// process runs the view's own SaveChannel, backup included, and stops dead at each of
// its file-system steps in turn (channel_saver). After every stop the channel file is
// exactly the old one or exactly the new one and loads whole, a save that took effect
// has its backup, and what the save left beside the channel file is cleared away at
// the next start.
#include "ModelTestUtil.h"
#include "StoppingChild.h"
#include "base/AppPaths.h"
#include "model/ChannelStore.h"
#include "model/OpmlWriter.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>

using namespace pellavo::test;

namespace {

// 5,000 feeds in 50 groups, some 700 KB: more than one write of the writer's block.
QByteArray ChannelBytes(const QByteArray& version) {
    auto root = std::make_unique<COutlineItem>();
    for (int g = 0; g < 50; ++g) {
        COutlineItem* group = makeItem(QByteArray(version + " group " + QByteArray::number(g)).constData());
        root->AppendChild(group);
        for (int f = 0; f < 100; ++f) {
            const QByteArray number = QByteArray::number(g * 100 + f);
            COutlineItem* feed = makeItem(QByteArray(version + " feed " + number).constData(),
                                          QByteArray("https://feeds.example.org/" + number).constData());
            COutlineItem::SetString(feed->m_pszDescription, "News about this and that, & more <to escape>");
            group->AppendChild(feed);
        }
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    WriteOpml(buffer, ModelOutlineTree(root.get()));
    return buffer.data();
}

} // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT

private:
    QString m_channel = AppPaths::ChannelFile();
    QString m_newFile = QDir::temp().filePath(QStringLiteral("new.opml"));
    QByteArray m_old = ChannelBytes("old");
    QByteArray m_new = ChannelBytes("new");
    QStringList m_steps;

    // The channel file holds the old version; no backups yet.
    void Reset() {
        writeFile(m_channel, m_old);
        QDir(AppPaths::PrivateTempFolder()).removeRecursively();
    }

    // Runs the edit in a child that stops at `step` (0: nowhere); its exit code and output.
    std::pair<int, QString> Save(int step, bool halfway) {
        return stopatstep::RunChild(QStringLiteral("channel_saver"),
                                    {QCoreApplication::applicationName(), m_newFile}, step, halfway);
    }

private slots:
    void initTestCase() {
        QDir().mkpath(QFileInfo(m_channel).absolutePath());
        writeFile(m_newFile, m_new);
        Reset();
        const auto [exitCode, steps] = Save(0, false);
        QCOMPARE(exitCode, 0);
        QCOMPARE(readFile(m_channel), m_new);
        m_steps = steps.split(QLatin1Char(' '));
        qInfo("SaveChannel takes %lld steps: %s", qlonglong(m_steps.size()), qPrintable(steps));
        QVERIFY(m_steps.count(QStringLiteral("write")) >= 3);
        QVERIFY(m_steps.contains(QStringLiteral("sync")) && m_steps.contains(QStringLiteral("rename")));
    }

    void killedAtEveryStep_data() { stopatstep::AddStepRows(m_steps); }

    void killedAtEveryStep() {
        QFETCH(int, step);
        QFETCH(bool, halfway);
        Reset();
        QCOMPARE(Save(step, halfway).first, stopatstep::kStoppedExit);

        const QByteArray now = readFile(m_channel);
        QVERIFY2(
            now == m_old || now == m_new,
            qPrintable(QStringLiteral("the channel file is neither version (%1 bytes)").arg(now.size())));
        const Model model = loadQuietly(m_channel);
        QVERIFY2(model.ok, qPrintable(model.error.reason));
        const COutlineItem* first = model.root->m_pFirstChild;
        QCOMPARE(QByteArray(first ? first->m_pszTitle : nullptr),
                 QByteArray(now == m_old ? "old group 0" : "new group 0"));
        if (now == m_new)
            QCOMPARE(readFile(AppPaths::BackupFile(1)), m_old);

        ChannelStore(m_channel, {}).RemoveUnfinishedSaves();
        QCOMPARE(QFileInfo(m_channel).dir().entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Pellavo.Cha")});
    }
};

PELLAVO_TEST_MAIN(TestCrashSafety)
#include "tst_CrashSafety.moc"
