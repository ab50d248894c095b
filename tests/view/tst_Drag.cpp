#include "ViewFixture.h"
#include "testsupport.h"

#include "base/AppPaths.h"
#include "model/PellavoDoc.h"
#include "view/Commands.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QScrollBar>

using HitPart = CPellavoView::HitPart;

class TestDrag : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void drops_data();
    void drops();
    void sortedGroup_data();
    void sortedGroup();
    void feedback();
    void hoverExpands();
    void interrupted_data();
    void interrupted();
    void autoScroll_data();
    void autoScroll();

private:
    void start(const QByteArray& body, const QSize& size = QSize(400, 600));
    QPoint labelPoint(const QString& label) const;
    // Presses on a node's label and, after `delayMs`, moves far enough for a drag.
    void beginDrag(const QString& label, int delayMs = 80);
    void moveTo(const QPoint& pos);

    std::unique_ptr<fixture::Isolation> m_isolation;
    std::unique_ptr<CPellavoDoc> m_doc;
    std::unique_ptr<CPellavoView> m_view;
    QByteArray m_channel;
};

namespace {

const QByteArray kBody = R"(<outline title="News">
<outline title="World" xmlUrl="http://w/rss"/>
<outline title="Local" xmlUrl="http://l/rss"/>
<outline title="Tech">
<outline title="Gadgets" xmlUrl="http://g/rss"/>
<outline title="Code" xmlUrl="http://c/rss"/>
</outline>
</outline>
<outline title="Blogs">
<outline title="Anna" xmlUrl="http://a/rss"/>
<outline title="Ben" xmlUrl="http://b/rss"/>
</outline>
<outline title="Solo" xmlUrl="http://s/rss"/>
)";

const QStringList kTree{"My Subscriptions", "  News",  "    World", "    Local", "    Tech", "      Gadgets",
                        "      Code",       "  Blogs", "    Anna",  "    Ben",   "  Solo"};

} // namespace

void TestDrag::cleanup() {
    m_view.reset();
    m_doc.reset();
    m_isolation.reset();
}

void TestDrag::start(const QByteArray& body, const QSize& size) {
    m_isolation = std::make_unique<fixture::Isolation>();
    QDir().mkpath(QFileInfo(AppPaths::ChannelFile()).absolutePath());
    m_channel = fixture::opml(body);
    pellavo::test::writeFile(AppPaths::ChannelFile(), m_channel);
    m_doc = std::make_unique<CPellavoDoc>();
    m_view = std::make_unique<CPellavoView>(m_doc.get());
    m_view->resize(size);
    m_view->OnInitialUpdate();
    m_view->expandAll();
    if (QTreeWidgetItem* tech = fixture::node(*m_view, "Tech"))
        tech->setExpanded(false);
    m_view->show();
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
}

QPoint TestDrag::labelPoint(const QString& label) const {
    QTreeWidgetItem* node = fixture::node(*m_view, label);
    return node ? fixture::pointOn(*m_view, node, HitPart::Label) : QPoint(-1, -1);
}

void TestDrag::beginDrag(const QString& label, int delayMs) {
    const QPoint at = labelPoint(label);
    QVERIFY2(at.x() >= 0, qPrintable(label));
    QTest::mousePress(m_view->viewport(), Qt::LeftButton, {}, at);
    if (delayMs)
        QTest::qWait(delayMs);
    moveTo(at + QPoint(QApplication::startDragDistance() + 1, 0));
}

void TestDrag::moveTo(const QPoint& pos) {
    QTest::mouseMove(m_view->viewport(), pos);
}

void TestDrag::drops_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("onto");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("delay");
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("expanded");
    QTest::addColumn<QString>("marks");
    // Marks before: Anna marked, so Blogs is mixed.
    QTest::newRow("feed onto a feed of another group")
        << "Anna"
        << "World" << -1 << 80
        << QStringList{"My Subscriptions", "  News",     "    World", "    Anna", "    Local", "    Tech",
                       "      Gadgets",    "      Code", "  Blogs",   "    Ben",  "  Solo"}
        << "Anna" << QStringList{} << "~       ~  ";
    QTest::newRow("group onto a feed of its own group")
        << "Tech"
        << "World" << -1 << 80
        << QStringList{"My Subscriptions", "  News",  "    World", "    Tech", "      Gadgets", "      Code",
                       "    Local",        "  Blogs", "    Anna",  "    Ben",  "  Solo"}
        << "Tech" << QStringList{"Tech"} << "~      ~x  ";
    QTest::newRow("onto its own parent")
        << "World"
        << "News" << -1 << 80
        << QStringList{"My Subscriptions", "  News",  "    Local", "    Tech", "      Gadgets", "      Code",
                       "    World",        "  Blogs", "    Anna",  "    Ben",  "  Solo"}
        << "" << QStringList{"News"} << "~      ~x  ";
    QTest::newRow("group onto a group")
        << "Blogs"
        << "Tech" << -1 << 80 << QStringList{"My Subscriptions", "  News",        "    World",  "    Local",
                                             "    Tech",         "      Gadgets", "      Code", "      Blogs",
                                             "        Anna",     "        Ben",   "  Solo"}
        << "" << QStringList{"Tech", "Blogs"} << QString("~") + QString(10, ' ');
    QTest::newRow("feed onto a feed at the top level")
        << "Anna"
        << "Solo" << -1 << 80
        << QStringList{"My Subscriptions", "  News",  "    World", "    Local", "    Tech", "      Gadgets",
                       "      Code",       "  Blogs", "    Ben",   "  Solo",    "  Anna"}
        << "Anna" << QStringList{} << "~      ~   ";
    // No move and no save.
    QTest::newRow("onto its own descendant")
        << "News"
        << "Tech" << -1 << 80 << kTree << "" << QStringList{"Tech"} << "~      ~x  ";
    QTest::newRow("onto itself") << "World"
                                 << "World" << -1 << 80 << kTree << "" << QStringList{} << "~      ~x  ";
    QTest::newRow("inside the left margin")
        << "World"
        << "Blogs" << 19 << 80 << kTree << "" << QStringList{} << "~      ~x  ";
    QTest::newRow("started within 60 ms")
        << "Anna"
        << "World" << -1 << 0 << kTree << "" << QStringList{} << "~      ~x  ";
    QTest::newRow("the root") << "My Subscriptions"
                              << "Blogs" << -1 << 80 << kTree << "" << QStringList{} << "~      ~x  ";
}

// Each drop moves the item in the model, the nodes in the tree and the outline in
// the channel file together, or moves nothing and saves nothing; a moved item arrives
// unmarked and no parent's box is recomputed.
void TestDrag::drops() {
    QFETCH(QString, from);
    QFETCH(QString, onto);
    QFETCH(int, x);
    QFETCH(int, delay);
    QFETCH(QStringList, tree);
    QFETCH(QString, selected);
    QFETCH(QStringList, expanded);
    QFETCH(QString, marks);
    start(kBody);
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      fixture::pointOn(*m_view, fixture::node(*m_view, "Anna"), HitPart::StateIcon));

    beginDrag(from, delay);
    QPoint to = labelPoint(onto);
    if (x >= 0)
        to.setX(x);
    moveTo(to);
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, to);
    QVERIFY(!m_view->IsDragging());
    QVERIFY(!m_view->DragImage());
    QVERIFY(!m_view->DropHighlight());

    for (const QString& label : expanded)
        QVERIFY2(fixture::node(*m_view, label)->isExpanded(), qPrintable(label));
    const QTreeWidgetItem* now = m_view->SelectedNode();
    if (!selected.isEmpty())
        QCOMPARE(now ? now->text(0) : QString(), selected);
    else if (tree != kTree)
        QVERIFY(!now || now->text(0) != from);
    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view), tree);
    QCOMPARE(fixture::modelLabels(m_doc->m_pRoot.get()), tree);
    QCOMPARE(fixture::marks(*m_view), marks);
    const bool moved = tree != kTree;
    QCOMPARE(m_view->BackupCount(), moved ? 1u : 0u);
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()),
             moved ? fixture::channelFromTree(*m_view) : m_channel);
}

void TestDrag::sortedGroup_data() {
    QTest::addColumn<QString>("onto");
    QTest::newRow("onto a group") << "Blogs";
    QTest::newRow("onto a feed") << "Solo";
}

// A group sorted by name arrives in the order the tree showed, and is saved so.
void TestDrag::sortedGroup() {
    QFETCH(QString, onto);
    start(kBody);
    m_view->SetCommandNode(fixture::node(*m_view, "Gadgets"));
    m_view->RunCommand(ID_SORT_BY_NAME);
    beginDrag("Tech");
    moveTo(labelPoint(onto));
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, labelPoint(onto));
    const QTreeWidgetItem* tech = fixture::node(*m_view, "Tech");
    QCOMPARE(tech->parent(), fixture::node(*m_view, onto == "Solo" ? "My Subscriptions" : onto));
    QCOMPARE(tech->child(0)->text(0), QStringLiteral("Code"));
    QCOMPARE(tech->child(1)->text(0), QStringLiteral("Gadgets"));
    QCOMPARE(m_view->BackupCount(), 2u);
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), fixture::channelFromTree(*m_view));
}

// The dragged node's picture follows the pointer with its hot spot at (8, 8); the
// node under the pointer is highlighted and becomes the target, except within 20
// pixels of the left edge, and over empty space the last target stays.
void TestDrag::feedback() {
    start(kBody);
    beginDrag("Anna");
    QVERIFY(m_view->IsDragging());
    QCOMPARE(m_view->DragItem(), fixture::node(*m_view, "Anna"));
    const QWidget* image = m_view->DragImage();
    QVERIFY(image && image->isVisible());
    QVERIFY(image->width() > 16);

    const QPoint overBen = labelPoint("Ben") + QPoint(3, 1);
    moveTo(overBen);
    QCOMPARE(image->pos(), m_view->viewport()->mapTo(m_view.get(), overBen) - QPoint(8, 8));
    QCOMPARE(m_view->DropHighlight(), fixture::node(*m_view, "Ben"));
    QCOMPARE(m_view->DropTarget(), fixture::node(*m_view, "Ben"));

    const QPoint margin(19, labelPoint("Solo").y());
    moveTo(margin);
    QCOMPARE(m_view->DropHighlight(), fixture::node(*m_view, "Solo"));
    QVERIFY(!m_view->DropTarget());
    moveTo(QPoint(20, margin.y()));
    QCOMPARE(m_view->DropTarget(), fixture::node(*m_view, "Solo"));
    moveTo(QPoint(150, m_view->viewport()->height() - 5));
    QCOMPARE(m_view->DropTarget(), fixture::node(*m_view, "Solo"));
    QCOMPARE(m_view->DropHighlight(), fixture::node(*m_view, "Solo"));

    // The other buttons and the context menu do nothing while dragging.
    QTest::mouseClick(m_view->viewport(), Qt::RightButton, {}, labelPoint("World"));
    QVERIFY(m_view->IsDragging());
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {},
                        QPoint(150, m_view->viewport()->height() - 5));
    QVERIFY(!m_view->DragImage());
    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view),
             (QStringList{"My Subscriptions", "  News", "    World", "    Local", "    Tech", "      Gadgets",
                          "      Code", "  Blogs", "    Ben", "  Solo", "  Anna"}));
}

// A pointer resting 200 ms over a collapsed group during a drag selects and expands
// it; the drop then goes into it.
void TestDrag::hoverExpands() {
    start(kBody);
    QTreeWidgetItem* tech = fixture::node(*m_view, "Tech");
    QVERIFY(!tech->isExpanded());
    beginDrag("Solo");
    QElapsedTimer resting;
    resting.start();
    moveTo(labelPoint("Tech"));
    QTest::qWait(100);
    if (resting.elapsed() < 190)
        QVERIFY(!tech->isExpanded());
    QTRY_VERIFY(tech->isExpanded());
    QVERIFY(resting.elapsed() >= 200);
    QCOMPARE(m_view->SelectedNode(), tech);
    QVERIFY(m_view->IsDragging());
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, labelPoint("Tech"));
    QCOMPARE(tech->child(tech->childCount() - 1)->text(0), QStringLiteral("Solo"));
    QCOMPARE(m_view->BackupCount(), 1u);
}

void TestDrag::interrupted_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Escape") << "escape";
    QTest::newRow("another window activated") << "activate";
    QTest::newRow("another widget grabs the mouse") << "grab";
    QTest::newRow("a popup opens") << "popup";
    QTest::newRow("a move without the button") << "move";
    QTest::newRow("a new press") << "press";
}

// Escape, or the loss of the mouse or of the window's activation, ends a drag at
// once: nothing moves, nothing is saved, and the later release does nothing.
void TestDrag::interrupted() {
    QFETCH(QString, how);
    start(kBody);
    beginDrag("World");
    const QPoint overBlogs = labelPoint("Blogs");
    moveTo(overBlogs);
    QCOMPARE(m_view->DropTarget(), fixture::node(*m_view, "Blogs"));
    QWidget other;
    QMenu popup;
    if (how == QLatin1String("escape")) {
        QTest::keyClick(m_view.get(), Qt::Key_Escape);
    } else if (how == QLatin1String("activate")) {
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
    } else if (how == QLatin1String("grab")) {
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        other.grabMouse();
        QTRY_VERIFY(!m_view->IsDragging());
        other.releaseMouse();
    } else if (how == QLatin1String("popup")) {
        popup.addAction(QStringLiteral("x"));
        popup.popup(m_view->mapToGlobal(QPoint(0, 0)));
        QTRY_VERIFY(!m_view->IsDragging());
        popup.close();
    } else if (how == QLatin1String("move")) {
        // The release went to another window.
        QMouseEvent move(QEvent::MouseMove, overBlogs, m_view->viewport()->mapToGlobal(overBlogs),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(m_view->viewport(), &move);
    } else {
        // So did this one, and the button goes down again.
        QTest::mousePress(m_view->viewport(), Qt::LeftButton, {}, overBlogs);
    }
    QVERIFY(!m_view->IsDragging());
    QVERIFY(!m_view->DragImage());
    QVERIFY(!m_view->DropHighlight());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    moveTo(overBlogs + QPoint(0, 1));
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, overBlogs);
    QTest::qWait(50);
    m_view->expandAll();
    QCOMPARE(fixture::labels(*m_view), kTree);
    QCOMPARE(fixture::modelLabels(m_doc->m_pRoot.get()), kTree);
    QCOMPARE(m_view->BackupCount(), 0u);
    QCOMPARE(pellavo::test::readFile(AppPaths::ChannelFile()), m_channel);
}

void TestDrag::autoScroll_data() {
    QTest::addColumn<bool>("top");
    QTest::addColumn<int>("outside");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("lines");
    // The distance counts from 10 pixels inside the edge: every 6 ticks below 20
    // pixels of it, one tick faster for each further 20, every tick from 100 on.
    QTest::newRow("top, just inside") << true << -9 << 12 << 2;
    QTest::newRow("top, at the edge") << true << 0 << 12 << 2;
    QTest::newRow("top, 11 outside") << true << 11 << 10 << 2;
    QTest::newRow("top, 49 outside") << true << 49 << 12 << 3;
    QTest::newRow("top, 90 outside") << true << 90 << 6 << 6;
    QTest::newRow("top, far outside") << true << 400 << 6 << 6;
    QTest::newRow("bottom, just inside") << false << -9 << 12 << 2;
    QTest::newRow("bottom, 90 outside") << false << 90 << 6 << 6;
    QTest::newRow("between the bands") << false << -40 << 12 << 0;
}

// Auto-scroll steps one line per period, tick by tick, and the line it uncovers
// next to the pointer becomes the drop target.
void TestDrag::autoScroll() {
    QFETCH(bool, top);
    QFETCH(int, outside);
    QFETCH(int, ticks);
    QFETCH(int, lines);
    QByteArray body;
    for (int i = 0; i < 80; ++i)
        body += "<outline title=\"Feed " + QByteArray::number(i) + "\" xmlUrl=\"http://f/" +
                QByteArray::number(i) + "\"/>\n";
    start(body, QSize(300, 240));
    QScrollBar* bar = m_view->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const int height = m_view->viewport()->height();
    const QString label = m_view->itemAt(QPoint(60, height / 2))->text(0);
    beginDrag(label);
    QVERIFY(m_view->IsDragging());
    // An edge's own coordinate: 0 at the top, the height at the bottom.
    const int y = top ? -outside : height + outside;
    moveTo(QPoint(60, y));
    const int before = bar->value();
    for (int i = 0; i < ticks; ++i)
        m_view->OnScrollTimer();
    QCOMPARE(bar->value() - before, top ? -lines : lines);
    if (lines) {
        const int rowHeight = m_view->visualItemRect(m_view->RootNode()).height();
        const int row = top ? 1 : height / rowHeight - 2;
        QCOMPARE(m_view->DropTarget(), m_view->itemAt(QPoint(60, row * rowHeight + rowHeight / 2)));
        QCOMPARE(m_view->DropHighlight(), m_view->DropTarget());
    }
    if (outside == 90) {
        // The timer itself keeps it going.
        const int now = bar->value();
        QTRY_VERIFY(std::abs(bar->value() - now) >= 3);
    }
    QTest::keyClick(m_view.get(), Qt::Key_Escape);
    QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, QPoint(60, y));
    QCOMPARE(m_view->BackupCount(), 0u);
}

PELLAVO_TEST_MAIN(TestDrag)
#include "tst_Drag.moc"
