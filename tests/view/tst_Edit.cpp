#include "ModalScript.h"
#include "ViewFixture.h"
#include "testsupport.h"

#include "base/AppPaths.h"
#include "base/Settings.h"
#include "model/PellavoDoc.h"
#include "update/ui/UpdateController.h"
#include "view/Commands.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>

using HitPart = CPellavoView::HitPart;

class TestEdit : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void newItems_data();
    void newItems();
    void rootMenu_data();
    void rootMenu();
    void clipboard();
    void cutThenUndo();
    void editKeysFollowTheRules();
    void removeAndMarks_data();
    void removeAndMarks();
    void deleteKey();
    void sortByName_data();
    void sortByName();
    void sortedGroupIsCopiedAsShown_data();
    void sortedGroupIsCopiedAsShown();
    void wholeArticles();

private:
    void start(const QByteArray& body, UpdateController* update = nullptr);
    // Right-clicks a node's label (or empty space for an empty label) and plays the
    // menu keys, then the steps for the windows that the command opens.
    void fromMenu(const QString& label, const QList<Qt::Key>& keys,
                  const QList<ModalScript::Step>& steps = {});
    void select(const QString& label);
    void activate();
    // Tree and model hold the same items in the same order, and the channel file is
    // what the tree gives, after `saves` saves.
    void checkTreeModelFile(unsigned saves);

    std::unique_ptr<fixture::Isolation> m_isolation;
    std::unique_ptr<CPellavoDoc> m_doc;
    std::unique_ptr<CPellavoView> m_view;
};

namespace {

const QByteArray kBody = R"(<outline title="News">
<outline title="World" xmlUrl="http://w/rss" description="world news"/>
<outline title="Local" xmlUrl="http://l/rss"/>
<outline title="Tech">
<outline title="Gadgets" xmlUrl="http://g/rss"/>
<outline title="Code" xmlUrl="http://c/rss"/>
</outline>
</outline>
<outline title="Solo" xmlUrl="http://s/rss"/>
)";

const QStringList kTree{"My Subscriptions", "  News",        "    World",  "    Local",
                        "    Tech",         "      Gadgets", "      Code", "  Solo"};

ModalScript::Step fillAndClose(QStringList fields, Qt::Key key) {
    return [fields, key](QWidget* dialog) {
        const QList<int> ids =
            fields.size() == 4 ? QList<int>{1001, 1002, 1003, 1004} : QList<int>{1004, 1003};
        for (int i = 0; i < fields.size(); ++i)
            dialog->findChild<QLineEdit*>(QStringLiteral("edit%1").arg(ids[i]))->setText(fields[i]);
        QTest::keyClick(dialog->focusWidget(), key);
    };
}

QString str(const char* s) {
    return s ? QString::fromUtf8(s) : QStringLiteral("<null>");
}

} // namespace

void TestEdit::cleanup() {
    m_view.reset();
    m_doc.reset();
    m_isolation.reset();
}

void TestEdit::start(const QByteArray& body, UpdateController* update) {
    if (!update)
        m_isolation = std::make_unique<fixture::Isolation>();
    QDir().mkpath(QFileInfo(AppPaths::ChannelFile()).absolutePath());
    pellavo::test::writeFile(AppPaths::ChannelFile(), fixture::opml(body));
    m_doc = std::make_unique<CPellavoDoc>();
    m_view = std::make_unique<CPellavoView>(m_doc.get(), nullptr, update);
    m_view->resize(400, 600);
    m_view->OnInitialUpdate();
    m_view->expandAll();
    m_view->show();
    activate();
}

void TestEdit::activate() {
    // The offscreen platform has no window manager to hand activation back after a dialog.
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
}

void TestEdit::fromMenu(const QString& label, const QList<Qt::Key>& keys,
                        const QList<ModalScript::Step>& steps) {
    QPoint at(5, m_view->viewport()->height() - 5);
    if (!label.isEmpty()) {
        QTreeWidgetItem* node = fixture::node(*m_view, label);
        QVERIFY2(node, qPrintable(label));
        at = fixture::pointOn(*m_view, node, HitPart::Label);
    }
    ModalScript script;
    // One popup per key: "&New" opens its submenu.
    for (Qt::Key key : keys)
        script.then([key](QWidget* popup) { QTest::keyClick(popup, key); });
    for (const ModalScript::Step& step : steps)
        script.then(step);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(m_view->viewport(), &event);
    QVERIFY2(script.finished(), qPrintable(script.report()));
    activate();
}

void TestEdit::select(const QString& label) {
    QTreeWidgetItem* node = fixture::node(*m_view, label);
    QVERIFY2(node, qPrintable(label));
    m_view->setCurrentItem(node);
}

void TestEdit::checkTreeModelFile(unsigned saves) {
    QCOMPARE(fixture::modelLabels(m_doc->m_pRoot.get()), fixture::labels(*m_view));
    QCOMPARE(m_view->BackupCount(), saves);
    const QByteArray channel = pellavo::test::readFile(AppPaths::ChannelFile());
    if (saves)
        QCOMPARE(channel, fixture::channelFromTree(*m_view));
    else
        QCOMPARE(channel, fixture::opml(kBody));
}

void TestEdit::newItems_data() {
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<int>("close");
    QTest::addColumn<QStringList>("marked");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("marks");
    // Stored: title, XML URL, HTML URL, description.
    QTest::newRow("group in a marked group, as shown")
        << "Tech" << int(Qt::Key_G) << QStringList{} << int(Qt::Key_Return) << QStringList{"Tech"} << "Group"
        << QStringList{"Group", "<null>", "<null>", "<null>"} << "~~  ~xx  ";
    QTest::newRow("group typed") << "News" << int(Qt::Key_G) << QStringList{"Blogs", "people"}
                                 << int(Qt::Key_Return) << QStringList{} << "Blogs"
                                 << QStringList{"Blogs", "<null>", "<null>", "people"} << "         ";
    QTest::newRow("feed from empty space, as shown")
        << "" << int(Qt::Key_F) << QStringList{} << int(Qt::Key_Return) << QStringList{"Solo"} << "http://"
        << QStringList{"<null>", "http://", "http://", "<null>"} << "~      x ";
    QTest::newRow("feed typed into a marked group")
        << "News" << int(Qt::Key_F) << QStringList{"Heise", "https://heise/rss", "", "IT"}
        << int(Qt::Key_Return) << QStringList{"News"} << "Heise"
        << QStringList{"Heise", "https://heise/rss", "<null>", "IT"} << "~~xxxxx  ";
    QTest::newRow("feed without an address")
        << "Tech" << int(Qt::Key_F) << QStringList{"Draft", "", "", ""} << int(Qt::Key_Return)
        << QStringList{} << "Draft" << QStringList{"Draft", "<null>", "<null>", "<null>"} << "         ";
    QTest::newRow("cancelled") << "Tech" << int(Qt::Key_G) << QStringList{"X", "X"} << int(Qt::Key_Escape)
                               << QStringList{} << "" << QStringList{} << "        ";
}

// New Group and New Feed from the node menu and from empty space: the item goes last
// into the target, its node shows the kind the command made, the file is saved once
// and the target's marks are recomputed; Cancel changes nothing.
void TestEdit::newItems() {
    QFETCH(QString, where);
    QFETCH(int, kind);
    QFETCH(QStringList, typed);
    QFETCH(int, close);
    QFETCH(QStringList, marked);
    QFETCH(QString, label);
    QFETCH(QStringList, stored);
    QFETCH(QString, marks);
    start(kBody);
    for (const QString& m : marked)
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                          fixture::pointOn(*m_view, fixture::node(*m_view, m), HitPart::StateIcon));
    QStringList shown;
    const bool feed = kind == Qt::Key_F;
    fromMenu(where, {Qt::Key_N, Qt::Key(kind)}, {[&](QWidget* dialog) {
                 for (int id : feed ? QList<int>{1001, 1002, 1003, 1004} : QList<int>{1004, 1003})
                     shown.append(dialog->findChild<QLineEdit*>(QStringLiteral("edit%1").arg(id))->text());
                 fillAndClose(typed.isEmpty() ? shown : typed, Qt::Key(close))(dialog);
             }});
    QCOMPARE(shown, (feed ? QStringList{"", "http://", "http://", ""} : QStringList{"Group", ""}));
    QCOMPARE(fixture::marks(*m_view), marks);
    if (label.isEmpty()) {
        QCOMPARE(fixture::labels(*m_view), kTree);
        checkTreeModelFile(0);
        return;
    }
    QTreeWidgetItem* target = where.isEmpty() ? m_view->RootNode() : fixture::node(*m_view, where);
    QTreeWidgetItem* added = target->child(target->childCount() - 1);
    QCOMPARE(added->text(0), label);
    const COutlineItem* item = CPellavoView::ItemOf(added);
    const COutlineItem* last = CPellavoView::ItemOf(target)->m_pFirstChild;
    while (last->m_pNext)
        last = last->m_pNext;
    QCOMPARE(item, last);
    QCOMPARE((QStringList{str(item->m_pszTitle), str(item->m_pszXmlUrl), str(item->m_pszHtmlUrl),
                          str(item->m_pszDescription)}),
             stored);
    // New Feed always shows a feed, whatever its address; the reference feed is Solo.
    const qint64 feedIcon = fixture::node(*m_view, "Solo")->icon(0).cacheKey();
    QCOMPARE(added->icon(0).cacheKey() == feedIcon, feed);
    QVERIFY(!added->isSelected());
    checkTreeModelFile(1);
}

void TestEdit::rootMenu_data() {
    QTest::addColumn<bool>("clipboard");
    QTest::addColumn<QStringList>("enabled");
    QTest::newRow("empty clipboard") << false << QStringList{"&Group", "&Feed", "&Sort By Name"};
    QTest::newRow("full clipboard") << true << QStringList{"&Group", "&Feed", "&Sort By Name", "&Paste"};
}

// The root's node menu greys Properties, Cut, Copy and Delete, and Paste while the
// clipboard is empty.
void TestEdit::rootMenu() {
    QFETCH(bool, clipboard);
    QFETCH(QStringList, enabled);
    start(kBody);
    if (clipboard)
        fromMenu("Solo", {Qt::Key_C});
    QStringList seen;
    ModalScript script;
    script.then([&](QWidget* popup) {
        for (QAction* action : popup->actions()) {
            const QList<QAction*> entries =
                action->menu() ? action->menu()->actions() : QList<QAction*>{action};
            for (QAction* entry : entries) {
                if (!entry->isSeparator() && entry->isEnabled())
                    seen.append(entry->text());
            }
        }
        QTest::keyClick(popup, Qt::Key_Escape);
    });
    const QPoint at = fixture::pointOn(*m_view, m_view->RootNode(), HitPart::Label);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(m_view->viewport(), &event);
    QVERIFY2(script.finished(), qPrintable(script.report()));
    // "&New" itself is a submenu entry.
    seen.removeAll(QStringLiteral("&New"));
    QCOMPARE(seen, enabled);
}

// Copy, then Properties, then Paste gives the values from the time of the Copy;
// two pastes give two independent copies; Copy saves nothing, each Paste saves once.
void TestEdit::clipboard() {
    start(kBody);
    fromMenu("World", {Qt::Key_C});
    checkTreeModelFile(0);
    QVERIFY(m_view->ClipItem());
    fromMenu("World", {Qt::Key_I}, {fillAndClose({"Welt", "", "", "changed"}, Qt::Key_Return)});
    checkTreeModelFile(1);

    fromMenu("Tech", {Qt::Key_P});
    fromMenu("Tech", {Qt::Key_P});
    QTreeWidgetItem* tech = fixture::node(*m_view, "Tech");
    QCOMPARE(fixture::labels(*m_view),
             (QStringList{"My Subscriptions", "  News", "    Welt", "    Local", "    Tech", "      Gadgets",
                          "      Code", "      World", "      World", "  Solo"}));
    const COutlineItem* first = CPellavoView::ItemOf(tech->child(2));
    const COutlineItem* second = CPellavoView::ItemOf(tech->child(3));
    QVERIFY(first != second && first != m_view->ClipItem());
    QCOMPARE(str(first->m_pszDescription), QStringLiteral("world news"));
    QCOMPARE(str(second->m_pszXmlUrl), QStringLiteral("http://w/rss"));
    // The node pasted last has the selection.
    QVERIFY(!tech->child(2)->isSelected());
    QCOMPARE(m_view->SelectedNode(), tech->child(3));
    QCOMPARE(fixture::marks(*m_view), QString(10, QLatin1Char(' ')));
    checkTreeModelFile(3);
    // The clipboard is a copy of its own: the model's edits never reach it.
    QCOMPARE(str(m_view->ClipItem()->m_pszTitle), QStringLiteral("World"));
    QVERIFY(!m_view->ClipItem()->m_pParent && !m_view->ClipItem()->m_pNext);
}

// Ctrl+X cuts the selected group whole and saves; Undo brings it back while the
// clipboard still holds it, and Shift+Insert pastes it again. Shift+Delete is Cut,
// and its Delete key asks nothing.
void TestEdit::cutThenUndo() {
    start(kBody);
    select("Tech");
    QTest::keyClick(m_view.get(), Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(fixture::labels(*m_view),
             (QStringList{"My Subscriptions", "  News", "    World", "    Local", "  Solo"}));
    QVERIFY(!m_view->CommandNode());
    checkTreeModelFile(1);
    QCOMPARE(fixture::modelLabels(m_view->ClipItem()), (QStringList{"Tech", "  Gadgets", "  Code"}));

    QTest::keyClick(m_view.get(), Qt::Key_Z, Qt::ControlModifier);
    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view), kTree);
    QCOMPARE(m_view->BackupCount(), 0u);
    QCOMPARE(fixture::modelLabels(m_view->ClipItem()), (QStringList{"Tech", "  Gadgets", "  Code"}));

    ModalScript nothing;
    select("Local");
    QTest::keyClick(m_view.get(), Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(fixture::modelLabels(m_view->ClipItem()), QStringList{"Local"});
    select("My Subscriptions");
    QTest::keyClick(m_view.get(), Qt::Key_Insert, Qt::ShiftModifier);
    QTest::qWait(50);
    QVERIFY2(nothing.finished(), qPrintable(nothing.report()));
    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view), (QStringList{"My Subscriptions", "  News", "    World", "    Tech",
                                                    "      Gadgets", "      Code", "  Solo", "  Local"}));
    checkTreeModelFile(2);
}

// The accelerators follow the enabling rules: Paste needs a selected group and a
// full clipboard, Cut and Copy a selected node that is not the root.
void TestEdit::editKeysFollowTheRules() {
    start(kBody);
    const auto keys = [this](std::initializer_list<std::pair<Qt::Key, Qt::KeyboardModifier>> list) {
        for (const auto& [key, modifier] : list)
            QTest::keyClick(m_view.get(), key, modifier);
    };
    select("Tech");
    keys({{Qt::Key_V, Qt::ControlModifier}, {Qt::Key_Insert, Qt::ShiftModifier}});
    checkTreeModelFile(0);
    select("My Subscriptions");
    keys({{Qt::Key_X, Qt::ControlModifier},
          {Qt::Key_C, Qt::ControlModifier},
          {Qt::Key_Insert, Qt::ControlModifier}});
    QVERIFY(!m_view->ClipItem());

    select("World");
    keys({{Qt::Key_Insert, Qt::ControlModifier}});
    QCOMPARE(fixture::modelLabels(m_view->ClipItem()), QStringList{"World"});
    select("Solo");
    keys({{Qt::Key_V, Qt::ControlModifier}, {Qt::Key_Insert, Qt::ShiftModifier}});
    m_view->setCurrentItem(nullptr);
    m_view->clearSelection();
    keys({{Qt::Key_V, Qt::ControlModifier}, {Qt::Key_X, Qt::ControlModifier}});
    QCOMPARE(fixture::labels(*m_view), kTree);
    checkTreeModelFile(0);

    // Through the Edit menu of the window, by its mnemonics.
    fixture::MainWindow window(m_view.get());
    const auto giveBack = qScopeGuard([&window] { window.takeCentralWidget(); });
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    select("Tech");
    ModalScript script;
    script.then([](QWidget* menu) { QTest::keyClick(menu, Qt::Key_P); });
    QTest::keyClick(&window, Qt::Key_E, Qt::AltModifier);
    QTRY_VERIFY2(script.finished(), qPrintable(script.report()));
    // The menu's command runs once the menu has closed, which a slow build may not have done yet.
    QTRY_COMPARE(fixture::labels(*m_view),
                 (QStringList{"My Subscriptions", "  News", "    World", "    Local", "    Tech",
                              "      Gadgets", "      Code", "      World", "  Solo"}));
    checkTreeModelFile(1);
}

void TestEdit::removeAndMarks_data() {
    QTest::addColumn<QStringList>("marked");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("marks");
    const QStringList withoutLocal{"My Subscriptions", "  News",     "    World", "    Tech",
                                   "      Gadgets",    "      Code", "  Solo"};
    // Removing the only unmarked child turns the mixed parent marked; the Delete key
    // leaves the marks as they were.
    QTest::newRow("cut") << QStringList{"World", "Tech"} << "cut"
                         << "Local" << withoutLocal << "~xxxxx ";
    QTest::newRow("delete, yes") << QStringList{"World", "Tech"} << "delete"
                                 << "Local" << withoutLocal << "~xxxxx ";
    QTest::newRow("delete key, yes") << QStringList{"World", "Tech"} << "key"
                                     << "Local" << withoutLocal << "~~xxxx ";
    QTest::newRow("delete, cancelled") << QStringList{"World"} << "cancel"
                                       << "Local" << kTree << "~~x     ";
    // The recomputation after a paste starts above the target, and a marked result
    // marks the pasted nodes too.
    QTest::newRow("paste into a marked group")
        << QStringList{"News"} << "paste"
        << "Tech" << QStringList{"My Subscriptions", "  News",     "    World",  "    Local", "    Tech",
                                 "      Gadgets",    "      Code", "      Solo", "  Solo"}
        << "~xxxxxxx ";
}

// Cut, Delete and the Delete key remove the node with its subtree from tree, model
// and file; Cut and Delete recompute the old parent's marks, Paste the target's parent's.
void TestEdit::removeAndMarks() {
    QFETCH(QStringList, marked);
    QFETCH(QString, how);
    QFETCH(QString, label);
    QFETCH(QStringList, tree);
    QFETCH(QString, marks);
    start(kBody);
    if (how == QLatin1String("paste"))
        fromMenu("Solo", {Qt::Key_C});
    for (const QString& m : marked)
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                          fixture::pointOn(*m_view, fixture::node(*m_view, m), HitPart::StateIcon));
    const QString caption = how == QLatin1String("cut") || how == QLatin1String("paste") ? "" : "Warning";
    QString asked;
    const auto answer = [&asked](Qt::Key key) {
        return [&asked, key](QWidget* dialog) {
            asked = dialog->windowTitle();
            QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, key);
        };
    };
    if (how == QLatin1String("cut")) {
        fromMenu(label, {Qt::Key_T});
    } else if (how == QLatin1String("paste")) {
        fromMenu(label, {Qt::Key_P});
    } else if (how == QLatin1String("key")) {
        select(label);
        ModalScript script;
        script.then(answer(Qt::Key_Return));
        QTest::keyClick(m_view.get(), Qt::Key_Delete);
        QVERIFY2(script.finished(), qPrintable(script.report()));
    } else {
        fromMenu(label, {Qt::Key_D},
                 {answer(how == QLatin1String("cancel") ? Qt::Key_Escape : Qt::Key_Return)});
    }
    QCOMPARE(asked, caption);
    QCOMPARE(fixture::labels(*m_view), tree);
    QCOMPARE(fixture::marks(*m_view), marks);
    checkTreeModelFile(how == QLatin1String("cancel") ? 0 : 1);
}

// The Delete key asks only for a selected node that is not the root, and a node that
// the context menu last pointed at is forgotten when it goes with its group.
void TestEdit::deleteKey() {
    start(kBody);
    {
        ModalScript none;
        select("My Subscriptions");
        QTest::keyClick(m_view.get(), Qt::Key_Delete);
        QTest::keyClick(m_view.get(), Qt::Key_Delete, Qt::ControlModifier);
        QTest::qWait(50);
        QVERIFY2(none.finished(), qPrintable(none.report()));
    }
    checkTreeModelFile(0);

    fromMenu("Gadgets", {Qt::Key_Escape});
    QCOMPARE(m_view->CommandNode(), fixture::node(*m_view, "Gadgets"));
    select("News");
    ModalScript script;
    script.then([](QWidget* dialog) { QTest::keyClick(dialog->focusWidget(), Qt::Key_Return); });
    QTest::keyClick(m_view.get(), Qt::Key_Delete);
    QVERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(fixture::labels(*m_view), (QStringList{"My Subscriptions", "  Solo"}));
    QVERIFY(!m_view->CommandNode());
    m_view->RunCommand(ID_PROPERTIES);
    m_view->RunCommand(ID_TREE_PASTE);
    checkTreeModelFile(1);
}

void TestEdit::sortByName_data() {
    QTest::addColumn<QString>("on");
    QTest::addColumn<QStringList>("tree");
    const QStringList unsorted{"My Subscriptions", "  beta", "    zulu", "    alpha", "  zeta",  "  Echo",
                               "  Alpha",          "    x",  "  Delta",  "  echo",    "  Ärger", "  echo2"};
    // Groups first, then feeds; case-blind; the untitled "Delta" by its text; equal
    // names keep their order; bytes past ASCII after it; the level below stays.
    const QStringList sorted{"My Subscriptions", "  Alpha", "    x",  "  beta",  "    zulu", "    alpha",
                             "  Delta",          "  Echo",  "  echo", "  echo2", "  zeta",   "  Ärger"};
    QTest::newRow("on a feed") << "zeta" << sorted;
    QTest::newRow("on a group") << "beta" << sorted;
    QTest::newRow("on the root") << "My Subscriptions" << unsorted;
}

// Sort By Name orders the level of the node it is run on, in the tree and in the
// file, never in the model; the root's level is the root alone, and is still saved.
void TestEdit::sortByName() {
    QFETCH(QString, on);
    QFETCH(QStringList, tree);
    start(
        R"(<outline title="beta"><outline title="zulu" xmlUrl="http://z"/><outline title="alpha" xmlUrl="http://a"/></outline>
<outline title="zeta" xmlUrl="http://1"/>
<outline title="Echo" xmlUrl="http://2"/>
<outline title="Alpha"><outline title="x" xmlUrl="http://x"/></outline>
<outline text="Delta" xmlUrl="http://3"/>
<outline title="echo" xmlUrl="http://4"/>
<outline title="Ärger" xmlUrl="http://5"/>
<outline title="echo2" xmlUrl="http://6"/>
)");
    const QStringList before = fixture::labels(*m_view);
    fixture::node(*m_view, "Alpha")->setExpanded(false);
    const QTreeWidgetItem* echo = fixture::node(*m_view, "Echo");
    fromMenu(on, {Qt::Key_S});
    QVERIFY(!fixture::node(*m_view, "Alpha")->isExpanded());
    QVERIFY(fixture::node(*m_view, "beta")->isExpanded());
    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view), tree);
    QCOMPARE(fixture::node(*m_view, "Echo"), echo);
    QCOMPARE(fixture::modelLabels(m_doc->m_pRoot.get()), before);
    QCOMPARE(m_view->BackupCount(), 1u);
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), fixture::channelFromTree(*m_view));
}

void TestEdit::sortedGroupIsCopiedAsShown_data() {
    QTest::addColumn<Qt::Key>("take");
    QTest::addColumn<QStringList>("tree");
    QTest::newRow("copy") << Qt::Key_C
                          << QStringList{"My Subscriptions", "  News",     "    World",     "    Local",
                                         "    Tech",         "      Code", "      Gadgets", "  Solo",
                                         "  Tech",           "    Code",   "    Gadgets"};
    QTest::newRow("cut") << Qt::Key_X
                         << QStringList{"My Subscriptions", "  News", "    World", "    Local",
                                        "  Solo",           "  Tech", "    Code",  "    Gadgets"};
}

// A group sorted by name is copied, cut and pasted in the order the tree shows, and saved so.
void TestEdit::sortedGroupIsCopiedAsShown() {
    QFETCH(Qt::Key, take);
    QFETCH(QStringList, tree);
    start(kBody);
    fromMenu("Gadgets", {Qt::Key_S});
    select("Tech");
    QTest::keyClick(m_view.get(), take, Qt::ControlModifier);
    select("My Subscriptions");
    QTest::keyClick(m_view.get(), Qt::Key_V, Qt::ControlModifier);
    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view), tree);
    QCOMPARE(fixture::modelLabels(m_view->ClipItem()), (QStringList{"Tech", "  Code", "  Gadgets"}));
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), fixture::channelFromTree(*m_view));
}

// "Fetch whole articles" is kept by address in the settings, ticked from the keyboard: it goes
// with the feed to a new address, leaves an old one that another feed still has, and an Undo
// puts it back as it was before the step.
void TestEdit::wholeArticles() {
    m_isolation = std::make_unique<fixture::Isolation>();
    Settings settings(m_isolation->path(QStringLiteral("settings.ini")));
    const Clock clock;
    UpdateController update(settings, clock);
    // The view detaches from the controller when it goes: before the controller, however the test ends.
    const auto viewFirst = qScopeGuard([this] { m_view.reset(); });
    start(kBody + R"(<outline title="Mirror" xmlUrl="http://l/rss"/>)", &update);
    const QKeyCombination tick(Qt::AltModifier, Qt::Key_W);
    const QKeyCombination ok(Qt::Key_Return);
    const auto properties = [&](const QString& label, const QList<QKeyCombination>& keys, bool* shown,
                                const QString& address = {}) {
        m_view->SetCommandNode(fixture::node(*m_view, label));
        ModalScript script;
        script.then([&](QWidget* dialog) {
            // Mnemonics act in the active window, which the offscreen platform leaves to us.
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("checkWholeArticles"));
            *shown = box->isChecked();
            if (!address.isEmpty())
                dialog->findChild<QLineEdit*>(QStringLiteral("edit1002"))->setText(address);
            for (const QKeyCombination key : keys) {
                QTest::keyClick(dialog->focusWidget(), key.key(), key.keyboardModifiers());
                // A mnemonic clicks its button the way a mouse would, a moment later.
                if (key == tick)
                    QTRY_VERIFY(box->isChecked() != *shown);
            }
        });
        m_view->RunCommand(ID_PROPERTIES);
        QVERIFY2(script.finished(), qPrintable(script.report()));
        activate();
    };
    bool shown = true;
    properties("World", {tick, ok}, &shown);
    QVERIFY(!shown);
    properties("Local", {tick, ok}, &shown);
    QCOMPARE(settings.WholeArticleFeeds(), (QStringList{"http://w/rss", "http://l/rss"}));
    properties("World", {ok}, &shown, QStringLiteral("https://w/atom"));
    QVERIFY(shown);
    properties("Local", {ok}, &shown, QStringLiteral("https://l/atom"));
    QCOMPARE(settings.WholeArticleFeeds(), (QStringList{"http://l/rss", "https://w/atom", "https://l/atom"}));
    properties("World", {tick, Qt::Key_Escape}, &shown);
    QCOMPARE(settings.WholeArticleFeeds(), (QStringList{"http://l/rss", "https://w/atom", "https://l/atom"}));

    QTest::keyClick(m_view.get(), Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(m_view.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(settings.WholeArticleFeeds(), (QStringList{"http://w/rss", "http://l/rss"}));
    m_view->expandAll();
    properties("World", {tick, ok}, &shown);
    QVERIFY(shown);
    QCOMPARE(settings.WholeArticleFeeds(), QStringList{"http://l/rss"});
    QTest::keyClick(m_view.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(settings.WholeArticleFeeds(), (QStringList{"http://w/rss", "http://l/rss"}));
}

PELLAVO_TEST_MAIN(TestEdit)
#include "tst_Edit.moc"
