#include "ModalScript.h"
#include "ViewFixture.h"
#include "testsupport.h"

#include "base/AppPaths.h"
#include "model/ChannelStore.h"
#include "model/OpmlReader.h"
#include "model/OpmlWriter.h"
#include "model/PellavoDoc.h"
#include "view/Commands.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSignalSpy>

#include <csignal>
#include <sys/resource.h>

using HitPart = CPellavoView::HitPart;

class TestChannel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void savesAndUndos();
    void firstSaveBacksUpNothingAsEmpty();
    void import_data();
    void import();
    void importThenExportThroughTheWindow();
    void fullDisk();
    void backupFolderUnusable();
    void savedInTreeOrder();
    void startRemovesUnfinishedSaves();
    void startKeepsDamagedChannel_data();
    void startKeepsDamagedChannel();

private:
    void start();
    void mark(const QString& label);

    std::unique_ptr<fixture::Isolation> m_isolation;
    std::unique_ptr<CPellavoDoc> m_doc;
    std::unique_ptr<CPellavoView> m_view;
};

namespace {

const QByteArray kFirst =
    fixture::opml(R"(<outline title="News"><outline title="World" xmlUrl="http://w/rss"/></outline>
<outline title="Solo" xmlUrl="http://s/rss"/>
)");
const QByteArray kSecond =
    fixture::opml(R"(<outline title="Blogs"><outline title="Anna" xmlUrl="http://a/rss"/>
<outline title="Ben" xmlUrl="http://b/rss"/></outline>
)");

QByteArray writtenForm(const QString& path, OpmlForm form) {
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    ParseOutlineFile(path, head, root);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    WriteOpml(buffer, ModelOutlineTree(root.get()), form);
    return buffer.data();
}

// Keeps a process-wide file size limit for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

} // namespace

void TestChannel::initTestCase() {
    // A write past the file size limit must fail with EFBIG, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

void TestChannel::init() {
    m_isolation = std::make_unique<fixture::Isolation>();
    m_doc = std::make_unique<CPellavoDoc>();
    m_view = std::make_unique<CPellavoView>(m_doc.get());
    m_view->resize(400, 500);
}

void TestChannel::cleanup() {
    m_view.reset();
    m_doc.reset();
    m_isolation.reset();
}

void TestChannel::start() {
    m_view->OnInitialUpdate();
    m_view->show();
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
}

void TestChannel::mark(const QString& label) {
    QTreeWidgetItem* node = fixture::node(*m_view, label);
    QVERIFY(node);
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      fixture::pointOn(*m_view, node, HitPart::StateIcon));
}

// Three saves leave backups 1, 2 and 3 (the first empty: there was no channel file
// yet); three Undos restore 3, 2 and 1 with every mark cleared and the root
// selected; then Undo is disabled and Ctrl+Z does nothing.
void TestChannel::savesAndUndos() {
    start();
    QSignalSpy sync(m_view.get(), &CPellavoView::syncChannelsChanged);
    QVERIFY(!m_view->Action(ID_EDIT_UNDO)->isEnabled());
    const QString first = m_isolation->path("first.opml");
    const QString second = m_isolation->path("second.opml");
    pellavo::test::writeFile(first, kFirst);
    pellavo::test::writeFile(second, kSecond);

    m_view->ReloadChannel(first);
    m_view->SaveChannel();
    const QByteArray channel1 = pellavo::test::readFile(AppPaths::ChannelFile());
    QCOMPARE(channel1, writtenForm(first, OpmlForm::Channel));
    m_view->ReloadChannel(second);
    m_view->SaveChannel();
    const QByteArray channel2 = pellavo::test::readFile(AppPaths::ChannelFile());
    // The third change is a real one: Properties of "Anna" by double-click.
    m_view->expandAll();
    ModalScript script;
    script.then([](QWidget* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("edit1001"))->setText(QStringLiteral("Anna K."));
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    });
    const QPoint anna = fixture::pointOn(*m_view, fixture::node(*m_view, "Anna"), HitPart::Label);
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, anna);
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, anna);
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, anna);
    QVERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(m_view->BackupCount(), 3u);
    QVERIFY(pellavo::test::readFile(AppPaths::ChannelFile()).contains("title=\"Anna K.\""));

    QVERIFY(QFileInfo::exists(fixture::backupPath(1)));
    QCOMPARE(pellavo::test::readFile(fixture::backupPath(1)), QByteArray());
    QCOMPARE(pellavo::test::readFile(fixture::backupPath(2)), channel1);
    QCOMPARE(pellavo::test::readFile(fixture::backupPath(3)), channel2);
    QCOMPARE(sync.count(), 1);
    QCOMPARE(sync.first().first().toBool(), true);
    QVERIFY(m_view->SyncChannels());

    const QList<QByteArray> restored{channel2, channel1, QByteArray()};
    const QList<QStringList> trees{{"My Subscriptions", "  Blogs", "    Anna", "    Ben"},
                                   {"My Subscriptions", "  News", "    World", "  Solo"},
                                   {"My Subscriptions"}};
    // The offscreen platform has no window manager to hand activation back after a dialog.
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    for (int step = 0; step < 3; ++step) {
        mark("My Subscriptions");
        m_view->UpdateCommandUI();
        QVERIFY(m_view->Action(ID_EDIT_UNDO)->isEnabled());
        QTest::keyClick(m_view.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(m_view->BackupCount(), 2u - step);
        QVERIFY(QFileInfo::exists(AppPaths::ChannelFile()));
        QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), restored[step]);
        m_view->expandAll();
        QCOMPARE(fixture::labels(*m_view), trees[step]);
        QCOMPARE(fixture::marks(*m_view), QString(trees[step].size(), QLatin1Char(' ')));
        QCOMPARE(m_view->SelectedNode(), m_view->RootNode());
    }
    QVERIFY(!m_view->Action(ID_EDIT_UNDO)->isEnabled());
    QTest::keyClick(m_view.get(), Qt::Key_Backspace, Qt::AltModifier);
    QCOMPARE(m_view->BackupCount(), 0u);
    // Undo leaves the switch alone; a save that finds it off turns it on again.
    QVERIFY(m_view->SyncChannels());
    m_view->SetSyncChannels(false);
    m_view->SaveChannel();
    QCOMPARE(sync.count(), 3);
    QCOMPARE(sync.last().first().toBool(), true);
    // The save after the Undos reuses number 1; from 1000 on the names grow a digit.
    QCOMPARE(m_view->BackupCount(), 1u);
    QString error;
    QVERIFY2(ChannelStore(AppPaths::ChannelFile(), AppPaths::BackupFile).Backup(1000, &error),
             qPrintable(error));
    QVERIFY(QFileInfo::exists(AppPaths::PrivateTempFolder() + QStringLiteral("/nchnlbak1000.cbf")));
}

// A backup left by an earlier run under the same number is never what Undo
// restores for a save that found no channel file.
void TestChannel::firstSaveBacksUpNothingAsEmpty() {
    pellavo::test::writeFile(fixture::backupPath(1), kSecond);
    start();
    const QString first = m_isolation->path("first.opml");
    pellavo::test::writeFile(first, kFirst);
    m_view->ReloadChannel(first);
    m_view->SaveChannel();
    m_view->OnEditUndo();
    QCOMPARE(fixture::labels(*m_view), QStringList{"My Subscriptions"});
    QVERIFY(QFileInfo::exists(AppPaths::ChannelFile()));
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), QByteArray());
}

void TestChannel::import_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("tree");
    const QStringList before{"My Subscriptions", "  News", "    World", "  Solo"};
    const QStringList noFeed{"No feed was found in the input file. Please check it."};
    QTest::newRow("whole file") << kSecond << true << "" << QStringList{}
                                << QStringList{"My Subscriptions", "  Blogs", "    Anna", "    Ben"};
    QTest::newRow("declined") << kSecond << false << "" << QStringList{} << before;
    QTest::newRow("no outline") << fixture::opml("") << true << "Error" << noFeed << before;
    QTest::newRow("not xml") << QByteArray("just some text\n") << true << "Error" << noFeed << before;
    QTest::newRow("unknown encoding")
        << QByteArray(
               "<?xml version=\"1.0\" encoding=\"x-no-such-encoding\"?>\n<opml><body><outline title=\"x\" "
               "xmlUrl=\"http://x/\"/></body></opml>\n")
        << true << "Error" << noFeed << before;
    QTest::newRow("windows-1252")
        << QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<opml><body><outline "
                      "title=\"\xc5land \x80\" "
                      "xmlUrl=\"http://x/\"/></body></opml>\n")
        << true << "" << QStringList{} << QStringList{"My Subscriptions", QStringLiteral("  Åland €")};
    QTest::newRow("only empty groups")
        << fixture::opml("<outline title=\"A\"/>\n<outline title=\"B\"><outline title=\"C\"/></outline>\n")
        << true << "Error" << noFeed << before;
    QTest::newRow("breaks off before a feed")
        << QByteArray("<?xml version=\"1.0\"?>\n<opml version=\"1.0\">\n<body>\n<outline title=\"G\">\n"
                      "<outline title=\"d\" xmlUrl=\"http://d/\" <oops/>\n</body></opml>\n")
        << true << "Error" << noFeed << before;
    // Line 6 breaks off in the middle of a tag.
    QTest::newRow("breaks off")
        << QByteArray(
               "<?xml version=\"1.0\"?>\n<opml version=\"1.0\">\n<body>\n"
               "<outline title=\"G\"><outline title=\"a\" xmlUrl=\"http://a/\"/>\n"
               "<outline title=\"b\" xmlUrl=\"http://b/\"/><outline title=\"c\" xmlUrl=\"http://c/\"/>\n"
               "<outline title=\"d\" xmlUrl=\"http://d/\" <oops/>\n</body></opml>\n")
        << true << "Warning" << QStringList{"line 6", "3 feeds"}
        << QStringList{"My Subscriptions", "  G", "    a", "    b", "    c"};
}

// Import replaces the subscriptions only when the user says Yes and the file
// yields an outline; what it replaced is one Undo away, and marks start empty.
void TestChannel::import() {
    QFETCH(QByteArray, content);
    QFETCH(bool, confirm);
    QFETCH(QString, caption);
    QFETCH(QStringList, says);
    QFETCH(QStringList, tree);
    const QString first = m_isolation->path("first.opml");
    pellavo::test::writeFile(first, kFirst);
    start();
    m_view->ReloadChannel(first);
    m_view->SaveChannel();
    const QByteArray channelBefore = pellavo::test::readFile(AppPaths::ChannelFile());
    m_view->expandAll();
    mark("World");
    const QString before = fixture::marks(*m_view);

    const QString input = m_isolation->path("input.opml");
    pellavo::test::writeFile(input, content);
    steps::Message message;
    ModalScript script;
    script.then(steps::typeFileName(input)).then(confirm ? steps::pressReturn() : steps::pressEscape());
    if (!caption.isEmpty())
        script.then(steps::acceptMessage(&message));
    m_view->OnImportOpml();
    QVERIFY2(script.finished(), qPrintable(script.report()));

    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view), tree);
    QCOMPARE(message.caption, caption);
    for (const QString& part : says)
        QVERIFY2(message.text.contains(part), qPrintable(message.text));
    if (!caption.isEmpty()) {
        QVERIFY(message.warningIcon);
        QVERIFY(message.okIsDefault);
    }
    const bool replaced = tree.size() != 4 || tree[1] != QLatin1String("  News");
    if (!replaced) {
        QCOMPARE(m_view->BackupCount(), 1u);
        QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), channelBefore);
        QCOMPARE(fixture::marks(*m_view), before);
        return;
    }
    QCOMPARE(m_view->BackupCount(), 2u);
    QCOMPARE(fixture::marks(*m_view), QString(tree.size(), QLatin1Char(' ')));
    QCOMPARE(m_view->SelectedNode(), m_view->RootNode());
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), writtenForm(input, OpmlForm::Channel));
    m_view->OnEditUndo();
    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view), (QStringList{"My Subscriptions", "  News", "    World", "  Solo"}));
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), channelBefore);
}

// The way a user does it: Alt+F, I, the path typed into the file dialog, Yes; then
// Alt+F, E and a new path. The export holds the imported file in the export form,
// the channel file in the channel form, and nothing else is shown.
void TestChannel::importThenExportThroughTheWindow() {
    const QString input = m_isolation->path("subscriptions.opml");
    pellavo::test::writeFile(
        input,
        fixture::opml(
            "<outline text=\"Tech\" title=\"Tech\">\n"
            "<outline text=\"LWN\" title=\"LWN &amp; co\" type=\"rss\" "
            "xmlUrl=\"https://lwn.net/headlines/rss\" "
            "htmlUrl=\"https://lwn.net/\" description=\"Linux &lt;news&gt;\"/>\n"
            "<outline title=\"Ålesunds Avis\" xmlUrl=\"http://a.example/feed\"/>\n"
            "</outline>\n<outline title=\"Solo\" xmlUrl=\"http://s.example/rss\" version=\"RSS2\"/>\n"));
    const QString exported = m_isolation->path("exported.xml");

    m_view->OnInitialUpdate();
    auto* view = m_view.release();
    fixture::MainWindow window(view);
    window.resize(500, 400);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // Opens a menu of the menu bar with Alt and its letter and plays the script; one
    // script at a time, and none may leave anything open.
    auto drive = [&window](Qt::Key menu, const std::function<void(ModalScript&)>& build) {
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        ModalScript script;
        build(script);
        QTest::keyClick(&window, menu, Qt::AltModifier);
        QTRY_VERIFY2(script.finished(), qPrintable(script.report()));
        QTest::qWait(50);
        QVERIFY2(script.finished(), qPrintable(script.report()));
    };
    drive(Qt::Key_F, [&](ModalScript& script) {
        script.then([](QWidget* menu) { QTest::keyClick(menu, Qt::Key_I); })
            .then(steps::typeFileName(input))
            .then(steps::pressReturn());
    });
    QCOMPARE(view->BackupCount(), 1u);
    drive(Qt::Key_F, [&](ModalScript& script) {
        script.then([](QWidget* menu) { QTest::keyClick(menu, Qt::Key_E); })
            .then(steps::typeFileName(exported));
    });

    QCOMPARE(pellavo::test::readFile(exported), writtenForm(input, OpmlForm::Export));
    const QByteArray channel = pellavo::test::readFile(AppPaths::ChannelFile());
    QCOMPARE(channel, writtenForm(input, OpmlForm::Channel));
    QVERIFY(channel.contains("xmlurl=\"https://lwn.net/headlines/rss\""));
    QVERIFY(channel.contains("title=\"LWN &amp; co\""));
    QVERIFY(!channel.contains("RSS2"));

    // Edit > Undo from the menu brings back the empty list.
    drive(Qt::Key_E,
          [](ModalScript& script) { script.then([](QWidget* menu) { QTest::keyClick(menu, Qt::Key_U); }); });
    QCOMPARE(view->BackupCount(), 0u);
    QCOMPARE(fixture::labels(*view), QStringList{"My Subscriptions"});
}

// A disk that fills up during a save leaves the previous channel file whole and
// says so, naming the file; the tree keeps the change. A failed export says so too.
void TestChannel::fullDisk() {
    const QString first = m_isolation->path("first.opml");
    pellavo::test::writeFile(first, kFirst);
    start();
    m_view->ReloadChannel(first);
    m_view->SaveChannel();
    const QByteArray before = pellavo::test::readFile(AppPaths::ChannelFile());

    COutlineItem* solo = CPellavoView::ItemOf(fixture::node(*m_view, "Solo"));
    COutlineItem::SetString(solo->m_pszDescription, QByteArray(64 * 1024, 'd').constData());
    steps::Message message;
    {
        FileSizeLimit limit(before.size() + 1024);
        ModalScript script;
        script.then(steps::acceptMessage(&message));
        m_view->SaveChannel();
        QVERIFY2(script.finished(), qPrintable(script.report()));
    }
    QCOMPARE(message.caption, QStringLiteral("Error"));
    QVERIFY2(message.text.contains(QDir::toNativeSeparators(AppPaths::ChannelFile())),
             qPrintable(message.text));
    QVERIFY(message.warningIcon);
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), before);
    QCOMPARE(QDir(QFileInfo(AppPaths::ChannelFile()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Pellavo.Cha"});
    QCOMPARE(qstrlen(solo->m_pszDescription), 64 * 1024);

    const QString exported = m_isolation->path("export.xml");
    steps::Message exportMessage;
    {
        FileSizeLimit limit(1024);
        ModalScript script;
        script.then(steps::typeFileName(exported)).then(steps::acceptMessage(&exportMessage));
        m_view->OnExportOpml();
        QVERIFY2(script.finished(), qPrintable(script.report()));
    }
    QCOMPARE(exportMessage.caption, QStringLiteral("Error"));
    QVERIFY2(exportMessage.text.contains(QDir::toNativeSeparators(exported)), qPrintable(exportMessage.text));
    QVERIFY(!QFileInfo::exists(exported));
}

// When the private backup folder cannot be made, the save says so and saves all the
// same; Undo of that step says it cannot restore it and leaves the file alone.
void TestChannel::backupFolderUnusable() {
    start();
    QString error;
    const QString folder = AppPaths::PrivateTempFolder(&error);
    QVERIFY(QDir(folder).removeRecursively());
    pellavo::test::writeFile(folder, "in the way");
    const QString first = m_isolation->path("first.opml");
    pellavo::test::writeFile(first, kFirst);
    m_view->ReloadChannel(first);
    steps::Message saveMessage;
    steps::Message undoMessage;
    ModalScript script;
    script.then(steps::acceptMessage(&saveMessage)).then(steps::acceptMessage(&undoMessage));
    m_view->SaveChannel();
    const QByteArray saved = pellavo::test::readFile(AppPaths::ChannelFile());
    QCOMPARE(saved, writtenForm(first, OpmlForm::Channel));
    m_view->OnEditUndo();
    QVERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(saveMessage.caption, QStringLiteral("Error"));
    QVERIFY2(saveMessage.text.contains(QDir::toNativeSeparators(folder)), qPrintable(saveMessage.text));
    QCOMPARE(undoMessage.caption, QStringLiteral("Error"));
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), saved);
    QCOMPARE(m_view->BackupCount(), 0u);
    QFile::remove(folder);
}

// The file follows the order the tree shows, not the model's links.
void TestChannel::savedInTreeOrder() {
    const QString first = m_isolation->path("first.opml");
    pellavo::test::writeFile(first, kFirst);
    start();
    m_view->ReloadChannel(first);
    QTreeWidgetItem* root = m_view->RootNode();
    root->insertChild(0, root->takeChild(1));
    m_view->SaveChannel();
    const QByteArray channel = pellavo::test::readFile(AppPaths::ChannelFile());
    QVERIFY(channel.indexOf("title=\"Solo\"") < channel.indexOf("title=\"News\""));
}

// A save killed before its rename leaves its file beside the channel file, under a
// name only our save makes; the next start clears those away and nothing else, not
// even files that look like them.
void TestChannel::startRemovesUnfinishedSaves() {
    const QString channel = AppPaths::ChannelFile();
    const QString folder = QFileInfo(channel).absolutePath();
    QDir().mkpath(folder);
    pellavo::test::writeFile(channel, kFirst);
    const QStringList orphans{folder + "/.Pellavo.Cha.unfinished-xnzyat",
                              folder + "/.Pellavo.Cha.unfinished-A1b2C3"};
    const QStringList kept{channel + ".backup",
                           channel + ".xnzyat",
                           channel + ".bak",
                           channel + ".saved-by-me",
                           folder + "/.Pellavo.Cha.unfinished-abc",
                           folder + "/.Pellavo.Cha.unfinished-abc-12",
                           folder + "/.Other.Cha.unfinished-xnzyat"};
    for (const QString& path : orphans + kept)
        pellavo::test::writeFile(path, "<opml");
    start();
    for (const QString& path : orphans)
        QVERIFY2(!QFile::exists(path), qPrintable(path));
    for (const QString& path : kept) {
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QFile::remove(path);
    }
    QCOMPARE(pellavo::test::readFile(channel), kFirst);
    QVERIFY(fixture::node(*m_view, "World"));
}

void TestChannel::startKeepsDamagedChannel_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("tree");
    QTest::newRow("cut short") << kFirst.left(kFirst.indexOf("<outline title=\"Solo\"") + 10) << "line "
                               << QStringList{"My Subscriptions", "  News", "    World"};
    QTest::newRow("not OPML at all") << QByteArray("\x89PNG\r\n")
                                     << "line 1:" << QStringList{"My Subscriptions"};
    QTest::newRow("empty, as Undo of the first save leaves it")
        << QByteArray() << "" << QStringList{"My Subscriptions"};
}

// A channel file that does not load whole is kept beside it as it was, with a warning
// once the window is up, so that the next save cannot lose what could not be read.
void TestChannel::startKeepsDamagedChannel() {
    QFETCH(QByteArray, content);
    QFETCH(QString, says);
    QFETCH(QStringList, tree);
    const QString channel = AppPaths::ChannelFile();
    const QDir folder = QFileInfo(channel).absoluteDir();
    QDir().mkpath(folder.path());
    for (const QString& copy : folder.entryList({"Pellavo.Cha.damaged-*"}, QDir::Files))
        QFile::remove(folder.filePath(copy));
    pellavo::test::writeFile(channel, content);
    steps::Message message;
    ModalScript script;
    if (!says.isEmpty())
        script.then(steps::acceptMessage(&message));
    m_view->OnInitialUpdate();
    m_view->show();
    // The warning comes once the event loop runs; without one, give it the time to show.
    if (says.isEmpty())
        QTest::qWait(100);
    QTRY_VERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(fixture::labels(*m_view), tree);
    const QStringList copies = folder.entryList({"Pellavo.Cha.damaged-*"}, QDir::Files);
    if (says.isEmpty()) {
        QVERIFY(copies.isEmpty());
        return;
    }
    QCOMPARE(copies.size(), 1);
    const QString copy = folder.filePath(copies.first());
    QCOMPARE(message.caption, QStringLiteral("Warning"));
    QVERIFY2(message.text.contains(QDir::toNativeSeparators(channel)) && message.text.contains(says) &&
                 message.text.contains(QDir::toNativeSeparators(copy)),
             qPrintable(message.text));
    // Another start while the file stays damaged says so again and keeps no second copy.
    steps::Message again;
    script.then(steps::acceptMessage(&again));
    m_view->OnInitialUpdate();
    QTRY_VERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(folder.entryList({"Pellavo.Cha.damaged-*"}, QDir::Files), copies);
    QCOMPARE(again.text, message.text);
    // The first change replaces the channel file; the copy stays as it was.
    m_view->SaveChannel();
    QVERIFY(pellavo::test::readFile(channel) != content);
    QCOMPARE(pellavo::test::readFile(copy), content);
}

PELLAVO_TEST_MAIN(TestChannel)
#include "tst_Channel.moc"
