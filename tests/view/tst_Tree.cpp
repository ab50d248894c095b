#include "ModalScript.h"
#include "ViewFixture.h"
#include "testsupport.h"

#include "base/AppPaths.h"
#include "model/OpmlWriter.h"
#include "model/PellavoDoc.h"
#include "view/Commands.h"
#include "view/TreeOutline.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>

using HitPart = CPellavoView::HitPart;

class TestTree : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void labelsAndStart();
    void marks_data();
    void marks();
    void walkers_data();
    void walkers();
    void contextMenus_data();
    void contextMenus();
    void contextMenuFromKeyboard_data();
    void contextMenuFromKeyboard();
    void enablingRules_data();
    void enablingRules();
    void doubleClick_data();
    void doubleClick();
    void properties_data();
    void properties();
    void deepAndWide();

private:
    void click(const QString& label, HitPart part = HitPart::StateIcon);

    std::unique_ptr<fixture::Isolation> m_isolation;
    std::unique_ptr<CPellavoDoc> m_doc;
    std::unique_ptr<CPellavoView> m_view;
};

namespace {

const QByteArray kBody = R"(<outline title="News">
<outline title="World" xmlurl="http://w/rss" description="world news"/>
<outline title="Local" xmlurl="http://l/rss"/>
<outline title="Tech">
<outline title="Gadgets" xmlurl="http://g/rss"/>
<outline title="Code" xmlurl="http://c/rss"/>
</outline>
</outline>
<outline title="Solo" xmlurl="http://s/rss" htmlurl="http://s/"/>
<outline title="Empty"/>
<outline text="TextOnly" xmlurl="http://t/rss"/>
<outline xmlurl="http://u/rss"/>
<outline title="" xmlurl=""/>
<outline title="Parent feed" xmlurl="http://p/rss"><outline title="Child" xmlurl="http://pc/rss"/></outline>
)";

// The nodes in display order, for reading mark strings.
const QStringList kOrder = {"My Subscriptions", "News",       "World",       "Local", "Tech",
                            "Gadgets",          "Code",       "Solo",        "Empty", "TextOnly",
                            "http://u/rss",     "(untitled)", "Parent feed", "Child"};

} // namespace

void TestTree::init() {
    m_isolation = std::make_unique<fixture::Isolation>();
    QDir().mkpath(QFileInfo(AppPaths::ChannelFile()).absolutePath());
    pellavo::test::writeFile(AppPaths::ChannelFile(), fixture::opml(kBody));
    m_doc = std::make_unique<CPellavoDoc>();
    m_view = std::make_unique<CPellavoView>(m_doc.get());
    m_view->resize(400, 600);
    m_view->OnInitialUpdate();
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestTree::cleanup() {
    m_view.reset();
    m_doc.reset();
    m_isolation.reset();
}

void TestTree::click(const QString& label, HitPart part) {
    QTreeWidgetItem* node = fixture::node(*m_view, label);
    QVERIFY2(node, qPrintable(label));
    const QPoint at = fixture::pointOn(*m_view, node, part);
    QVERIFY2(at.x() >= 0, qPrintable(label));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, at);
}

// Labels fall back to the text, then the address; the root is open, nothing is
// selected or marked.
void TestTree::labelsAndStart() {
    QCOMPARE(fixture::labels(*m_view),
             (QStringList{"My Subscriptions", "  News", "    World", "    Local", "    Tech", "      Gadgets",
                          "      Code", "  Solo", "  Empty", "  TextOnly", "  http://u/rss", "  (untitled)",
                          "  Parent feed", "    Child"}));
    QVERIFY(m_view->RootNode()->isExpanded());
    QVERIFY(!m_view->SelectedNode());
    QCOMPARE(fixture::marks(*m_view), QString(kOrder.size(), QLatin1Char(' ')));
    // The model keeps the strings as they were.
    const COutlineItem* untitled = CPellavoView::ItemOf(fixture::node(*m_view, "TextOnly"));
    QVERIFY(!untitled->m_pszTitle);
}

void TestTree::marks_data() {
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("expected");
    // Positions: root News World Local Tech Gadgets Code Solo Empty TextOnly u untitled Parent Child
    QTest::newRow("a feed") << QStringList{"World"} << "~~x           ";
    QTest::newRow("a group marks all below") << QStringList{"Tech"} << "~~  xxx       ";
    QTest::newRow("the last unmarked feed turns the group marked")
        << QStringList{"World", "Local", "Tech"} << "~xxxxxx       ";
    QTest::newRow("a mixed group clears all below")
        << QStringList{"World", "Gadgets", "News"} << "              ";
    QTest::newRow("a group of a mixed child is mixed") << QStringList{"Gadgets"} << "~~  ~x        ";
    QTest::newRow("a marked feed unmarks") << QStringList{"World", "World"} << "              ";
    QTest::newRow("the root marks everything; an only child unmarks its parent")
        << QStringList{"My Subscriptions", "Child"} << "~xxxxxxxxxxx  ";
    QTest::newRow("an empty group keeps its box") << QStringList{"Empty"} << "~       x     ";
}

// Marks follow the click rules on the check box only.
void TestTree::marks() {
    QFETCH(QStringList, clicks);
    QFETCH(QString, expected);
    m_view->expandAll();
    for (const QString& label : clicks)
        click(label);
    QCOMPARE(fixture::marks(*m_view), expected);

    // Clicking a label or an icon changes no mark; Space on the selected node does.
    click("Local", HitPart::Label);
    click("Local", HitPart::Icon);
    QCOMPARE(fixture::marks(*m_view), expected);
    m_view->setCurrentItem(fixture::node(*m_view, "Local"));
    QTest::keyClick(m_view.get(), Qt::Key_Space);
    QTest::keyClick(m_view.get(), Qt::Key_Space);
    QCOMPARE(fixture::marks(*m_view), expected);
}

void TestTree::walkers_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<bool>("markedOnly");
    QTest::addColumn<QStringList>("expected");
    // "Parent feed" has a child: its own address is not a leaf's; the empty group gives nothing.
    QTest::newRow("all") << "My Subscriptions" << QStringList{} << false
                         << QStringList{"http://w/rss", "http://l/rss", "http://g/rss", "http://c/rss",
                                        "http://s/rss", "http://t/rss", "http://u/rss", "",
                                        "http://pc/rss"};
    QTest::newRow("a group") << "Tech" << QStringList{} << false
                             << QStringList{"http://g/rss", "http://c/rss"};
    QTest::newRow("a feed") << "Solo" << QStringList{} << false << QStringList{"http://s/rss"};
    QTest::newRow("an empty group") << "Empty" << QStringList{} << false << QStringList{};
    QTest::newRow("marked") << "My Subscriptions" << QStringList{"Tech", "Solo", "Empty"} << true
                            << QStringList{"http://g/rss", "http://c/rss", "http://s/rss"};
    QTest::newRow("marked, then unmarked below")
        << "My Subscriptions" << QStringList{"News", "Gadgets"} << true
        << QStringList{"http://w/rss", "http://l/rss", "http://c/rss"};
}

void TestTree::walkers() {
    QFETCH(QString, start);
    QFETCH(QStringList, clicks);
    QFETCH(bool, markedOnly);
    QFETCH(QStringList, expected);
    m_view->expandAll();
    for (const QString& label : clicks)
        click(label);
    QCOMPARE(m_view->CollectRunFeeds(fixture::node(*m_view, start), markedOnly), expected);
}

void TestTree::contextMenus_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("enabled");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("selected");
    // The clipboard is empty: Paste is greyed everywhere.
    const QStringList onNode{"&Sort By Name", "Cu&t", "&Copy", "&Delete", "Propert&ies"};
    const QStringList newItems{"&Group", "&Feed"};
    QTest::newRow("a feed's label") << "World" << int(HitPart::Label) << "nodeMenu" << onNode << "World"
                                    << "World";
    QTest::newRow("a group's icon") << "Tech" << int(HitPart::Icon) << "nodeMenu" << newItems + onNode
                                    << "Tech"
                                    << "Tech";
    QTest::newRow("the root's label") << "My Subscriptions" << int(HitPart::Label) << "nodeMenu"
                                      << newItems + QStringList{"&Sort By Name"} << "My Subscriptions"
                                      << "My Subscriptions";
    QTest::newRow("a group's expand button")
        << "Tech" << int(HitPart::Elsewhere) << "emptySpaceMenu" << newItems << "My Subscriptions"
        << "Tech";
    QTest::newRow("a check box") << "Solo" << int(HitPart::StateIcon) << "emptySpaceMenu" << newItems
                                 << "My Subscriptions"
                                 << "Solo";
    QTest::newRow("below the rows") << "" << int(HitPart::Nowhere) << "emptySpaceMenu" << newItems
                                    << "My Subscriptions"
                                    << "";
}

// A right-click selects the row under the pointer and shows the node menu on an
// icon or label, the empty-space menu anywhere else, greyed by the node's kind.
void TestTree::contextMenus() {
    QFETCH(QString, label);
    QFETCH(int, part);
    QFETCH(QString, menu);
    QFETCH(QStringList, enabled);
    QFETCH(QString, current);
    QFETCH(QString, selected);
    m_view->expandAll();
    m_view->setCurrentItem(fixture::node(*m_view, "Code"));
    QPoint at(5, m_view->viewport()->height() - 5);
    if (!label.isEmpty()) {
        at = fixture::pointOn(*m_view, fixture::node(*m_view, label), HitPart(part));
        QVERIFY(at.x() >= 0);
    }
    QString shownMenu;
    QStringList texts;
    QStringList enabledTexts;
    ModalScript script;
    script.then([&](QWidget* popup) {
        shownMenu = popup->objectName();
        for (QAction* action : popup->actions()) {
            const QList<QAction*> entries =
                action->menu() ? action->menu()->actions() : QList<QAction*>{action};
            if (action->menu())
                texts.append(action->text());
            for (QAction* entry : entries) {
                texts.append(entry->isSeparator() ? QStringLiteral("-") : entry->text());
                if (!entry->isSeparator() && entry->isEnabled())
                    enabledTexts.append(entry->text());
            }
        }
        QTest::keyClick(popup, Qt::Key_Escape);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(m_view->viewport(), &event);
    QVERIFY2(script.finished(), qPrintable(script.report()));

    QCOMPARE(shownMenu, menu);
    if (menu == QLatin1String("nodeMenu")) {
        QCOMPARE(texts, (QStringList{"&New", "&Group", "&Feed", "&Sort By Name", "-", "Cu&t", "&Copy",
                                     "&Paste", "&Delete", "-", "Propert&ies"}));
    } else {
        QCOMPARE(texts, (QStringList{"&New", "&Group", "&Feed"}));
    }
    QCOMPARE(enabledTexts, enabled);
    QCOMPARE(m_view->CommandNode() ? m_view->CommandNode()->text(0) : QString(), current);
    QCOMPARE(m_view->SelectedNode() ? m_view->SelectedNode()->text(0) : QString(), selected);
}

void TestTree::contextMenuFromKeyboard_data() {
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("current");
    QTest::newRow("a group") << "Tech"
                             << "nodeMenu"
                             << "Tech";
    QTest::newRow("a feed") << "World"
                            << "nodeMenu"
                            << "World";
    QTest::newRow("nothing selected") << ""
                                      << "emptySpaceMenu"
                                      << "My Subscriptions";
}

// Shift+F10 opens the selected node's menu beside it, as the mouse would. (The Menu
// key's event comes from the windowing system, which the offscreen platform lacks.)
void TestTree::contextMenuFromKeyboard() {
    QFETCH(QString, selected);
    QFETCH(QString, menu);
    QFETCH(QString, current);
    m_view->expandAll();
    if (!selected.isEmpty())
        click(selected, HitPart::Label);
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    QString shownMenu;
    QRect shownAt;
    ModalScript script;
    script.then([&](QWidget* popup) {
        shownMenu = popup->objectName();
        shownAt = popup->geometry();
        QTest::keyClick(popup, Qt::Key_Escape);
    });
    QTest::keyClick(m_view->windowHandle(), Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(shownMenu, menu);
    QCOMPARE(m_view->CommandNode() ? m_view->CommandNode()->text(0) : QString(), current);
    if (!selected.isEmpty()) {
        const QRect row = m_view->visualItemRect(fixture::node(*m_view, selected));
        QCOMPARE(shownAt.topLeft(), m_view->viewport()->mapToGlobal(row.center()));
    }
}

void TestTree::enablingRules_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("clipboard");
    QTest::addColumn<QList<int>>("allowed");
    const QList<int> onAnyNode{ID_SORT_BY_NAME, ID_TREE_CUT, ID_TREE_COPY, ID_TREE_DELETE,
                               ID_PROPERTIES,   ID_EDIT_CUT, ID_EDIT_COPY};
    QTest::newRow("feed") << "World" << false << onAnyNode;
    QTest::newRow("feed, clipboard full") << "World" << true << onAnyNode;
    QTest::newRow("group") << "Tech" << false << (QList<int>{ID_NEW_GROUP, ID_NEW_FEED} + onAnyNode);
    QTest::newRow("group, clipboard full")
        << "Tech" << true
        << (QList<int>{ID_NEW_GROUP, ID_NEW_FEED, ID_TREE_PASTE, ID_EDIT_PASTE} + onAnyNode);
    QTest::newRow("root") << "My Subscriptions" << false
                          << QList<int>{ID_NEW_GROUP, ID_NEW_FEED, ID_SORT_BY_NAME};
    QTest::newRow("root, clipboard full")
        << "My Subscriptions" << true
        << QList<int>{ID_NEW_GROUP, ID_NEW_FEED, ID_SORT_BY_NAME, ID_TREE_PASTE, ID_EDIT_PASTE};
    QTest::newRow("nothing") << "" << true << QList<int>{};
}

// The greying rules of the context menus (for the node they opened on) and of the
// Edit menu (for the selected node).
void TestTree::enablingRules() {
    QFETCH(QString, label);
    QFETCH(bool, clipboard);
    QFETCH(QList<int>, allowed);
    QTreeWidgetItem* node = label.isEmpty() ? nullptr : fixture::node(*m_view, label);
    m_view->setCurrentItem(node);
    if (clipboard) {
        m_view->SetCommandNode(fixture::node(*m_view, "Tech"));
        m_view->OnTreeCopy();
    }
    m_view->SetCommandNode(node);
    const QList<int> ruled{ID_NEW_GROUP, ID_NEW_FEED,   ID_SORT_BY_NAME, ID_TREE_CUT,
                           ID_TREE_COPY, ID_TREE_PASTE, ID_TREE_DELETE,  ID_PROPERTIES,
                           ID_EDIT_CUT,  ID_EDIT_COPY,  ID_EDIT_PASTE,   ID_EDIT_UNDO};
    QList<int> got;
    for (int id : ruled) {
        if (m_view->CommandRuleAllows(id))
            got.append(id);
    }
    std::sort(allowed.begin(), allowed.end());
    std::sort(got.begin(), got.end());
    QCOMPARE(got, allowed);
}

void TestTree::doubleClick_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<bool>("toggles");
    QTest::newRow("a feed") << "World" << int(HitPart::Label) << "Channel Properties" << false;
    QTest::newRow("a group without children") << "Empty" << int(HitPart::Icon) << "Group Properties" << false;
    QTest::newRow("a group with children") << "Tech" << int(HitPart::Label) << "" << true;
    QTest::newRow("beside a feed's label") << "Solo" << int(HitPart::Elsewhere) << "" << false;
    QTest::newRow("a check box") << "Solo" << int(HitPart::StateIcon) << "" << false;
}

// A double-click on a node without children opens its properties; on a node
// with children it only expands or collapses it.
void TestTree::doubleClick() {
    QFETCH(QString, label);
    QFETCH(int, part);
    QFETCH(QString, dialog);
    QFETCH(bool, toggles);
    m_view->expandAll();
    QTreeWidgetItem* node = fixture::node(*m_view, label);
    const bool expanded = node->isExpanded();
    const QPoint at = fixture::pointOn(*m_view, node, HitPart(part));
    QVERIFY(at.x() >= 0);
    QString opened;
    ModalScript script;
    if (!dialog.isEmpty()) {
        script.then([&](QWidget* window) {
            opened = window->windowTitle();
            QTest::keyClick(window, Qt::Key_Escape);
        });
    }
    const QString marks = fixture::marks(*m_view);
    // What a person's double-click delivers: press, release, double-click, release.
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, at);
    QVERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(opened, dialog);
    QCOMPARE(fixture::marks(*m_view), marks);
    QCOMPARE(node->isExpanded() != expanded, toggles);
    QCOMPARE(m_view->BackupCount(), 0u);
}

void TestTree::properties_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<int>("close");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("newLabel");
    QTest::addColumn<QStringList>("stored");
    // Fields: feed Title, XML URL, HTML URL, Description; group Title, Description.
    QTest::newRow("feed, all changed")
        << "World" << QStringList{"Welt", "https://w/atom", "https://w/", "Weltnachrichten"}
        << int(Qt::Key_Return) << QStringList{"World", "http://w/rss", "http://", "world news"} << "Welt"
        << QStringList{"Welt", "https://w/atom", "https://w/", "Weltnachrichten"};
    QTest::newRow("feed, emptied fields keep their values")
        << "World" << QStringList{"", "", "", ""} << int(Qt::Key_Return)
        << QStringList{"World", "http://w/rss", "http://", "world news"} << "World"
        << QStringList{"World", "http://w/rss", "", "world news"};
    QTest::newRow("feed without a web page, accepted as shown")
        << "World" << QStringList{"World", "http://w/rss", "http://", "world news"} << int(Qt::Key_Return)
        << QStringList{"World", "http://w/rss", "http://", "world news"} << "World"
        << QStringList{"World", "http://w/rss", "http://", "world news"};
    QTest::newRow("feed, cancelled") << "Solo" << QStringList{"X", "X", "X", "X"} << int(Qt::Key_Escape)
                                     << QStringList{"Solo", "http://s/rss", "http://s/", ""} << "Solo"
                                     << QStringList{"Solo", "http://s/rss", "http://s/", ""};
    QTest::newRow("group") << "Tech" << QStringList{"Technik", "Geräte & Code"} << int(Qt::Key_Return)
                           << QStringList{"Tech", ""} << "Technik" << QStringList{"Technik", "Geräte & Code"};
    QTest::newRow("untitled feed keeps its label when the title stays empty")
        << "TextOnly" << QStringList{"", "", "", ""} << int(Qt::Key_Return)
        << QStringList{"", "http://t/rss", "http://", ""} << "TextOnly"
        << QStringList{"", "http://t/rss", "", ""};
}

// Properties from the node menu (by its mnemonic): the fields show the item, OK
// stores every non-empty field, relabels, and saves once; Cancel changes nothing.
void TestTree::properties() {
    QFETCH(QString, label);
    QFETCH(QStringList, typed);
    QFETCH(int, close);
    QFETCH(QStringList, shown);
    QFETCH(QString, newLabel);
    QFETCH(QStringList, stored);
    m_view->expandAll();
    QTreeWidgetItem* node = fixture::node(*m_view, label);
    const QList<int> ids = typed.size() == 4 ? QList<int>{1001, 1002, 1003, 1004} : QList<int>{1004, 1003};
    QStringList opened;
    ModalScript script;
    script.then([](QWidget* popup) { QTest::keyClick(popup, Qt::Key_I); });
    script.then([&](QWidget* window) {
        for (int i = 0; i < ids.size(); ++i) {
            auto* edit = window->findChild<QLineEdit*>(QStringLiteral("edit%1").arg(ids[i]));
            opened.append(edit->text());
            edit->setText(typed[i]);
        }
        QTest::keyClick(window->focusWidget(), Qt::Key(close));
    });
    const QPoint at = fixture::pointOn(*m_view, node, HitPart::Label);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(m_view->viewport(), &event);
    QVERIFY2(script.finished(), qPrintable(script.report()));

    QCOMPARE(opened, shown);
    QCOMPARE(node->text(0), newLabel);
    const COutlineItem* item = CPellavoView::ItemOf(node);
    auto str = [](const char* s) { return QString::fromUtf8(s); };
    const QStringList now = ids.size() == 4
                                ? QStringList{str(item->m_pszTitle), str(item->m_pszXmlUrl),
                                              str(item->m_pszHtmlUrl), str(item->m_pszDescription)}
                                : QStringList{str(item->m_pszTitle), str(item->m_pszDescription)};
    QCOMPARE(now, stored);
    const bool accepted = close == Qt::Key_Return;
    QCOMPARE(m_view->BackupCount(), accepted ? 1u : 0u);
    QCOMPARE(m_view->SyncChannels(), accepted);
    const QByteArray channel = pellavo::test::readFile(AppPaths::ChannelFile());
    if (accepted)
        QVERIFY(channel.contains(stored.first().toUtf8().replace("&", "&amp;")));
    else
        QCOMPARE(channel, fixture::opml(kBody));
}

// Very deep nesting and very long sibling lists are built, walked, written and
// torn down without recursion.
void TestTree::deepAndWide() {
    m_view.reset();
    auto* root = m_doc->m_pRoot.get();
    while (root->m_pFirstChild) {
        COutlineItem* child = root->m_pFirstChild;
        root->RemoveChild(child);
        delete child;
    }
    COutlineItem* deepest = root;
    const int depth = 20000;
    for (int i = 0; i < depth; ++i) {
        auto* group = new COutlineItem;
        COutlineItem::SetString(group->m_pszTitle, "g");
        deepest->AppendChild(group);
        deepest = group;
    }
    auto* deepFeed = new COutlineItem;
    COutlineItem::SetString(deepFeed->m_pszXmlUrl, "http://deep/");
    deepest->AppendChild(deepFeed);
    const int width = 30000;
    COutlineItem* last = nullptr;
    for (int i = 0; i < width; ++i) {
        auto* feed = new COutlineItem;
        COutlineItem::SetString(feed->m_pszXmlUrl,
                                QByteArray("http://f/" + QByteArray::number(i)).constData());
        if (last)
            root->InsertChildAfter(feed, last);
        else
            root->AppendChild(feed);
        last = feed;
    }

    m_view = std::make_unique<CPellavoView>(m_doc.get());
    m_view->PopulateTree();
    const QStringList feeds = m_view->CollectRunFeeds(m_view->RootNode());
    QCOMPARE(feeds.size(), width + 1);
    QCOMPARE(feeds.first(), QStringLiteral("http://deep/"));
    QCOMPARE(feeds.last(), QStringLiteral("http://f/29999"));

    QBuffer written;
    written.open(QIODevice::WriteOnly);
    QVERIFY(WriteOpml(written, TreeOutline(*m_view), OpmlForm::Channel));
    QCOMPARE(written.data().count("<outline"), depth + 1 + width);
    QVERIFY(written.data().indexOf("http://deep/") < written.data().indexOf("http://f/0\""));
    m_view.reset();
}

PELLAVO_TEST_MAIN(TestTree)
#include "tst_Tree.moc"
