#include "ModalScript.h"
#include "ViewFixture.h"
#include "testsupport.h"

#include "app/CMainFrame.h"
#include "app/CPellavoApp.h"
#include "base/AppPaths.h"
#include "base/Settings.h"
#include "model/PellavoDoc.h"
#include "shell/BCMenu.h"
#include "shell/CHoverButton.h"
#include "shell/CTaskBar.h"
#include "shell/CTrayIcon.h"
#include "update/ui/UpdateController.h"
#include "view/CPellavoView.h"
#include "view/Commands.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

// The main window and the start-up: geometry kept in a real settings file, Close
// hiding, Exit ending, the tray's commands, the menus and a second start.
class TestMainFrame : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString iniFile() const { return m_dir.filePath(QStringLiteral("Pellavo.conf")); }

    // An item's text as its menu shows it: the shortcut's after a tab.
    static QString shownText(const QAction* action) {
        const QKeySequence key = action->shortcut();
        return key.isEmpty() ? action->text()
                             : action->text() + QLatin1Char('\t') + key.toString(QKeySequence::NativeText);
    }

    static QStringList menuTexts(const QMenu* menu) {
        QStringList texts;
        for (const QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : shownText(action));
        return texts;
    }

    static QRect storedGeometry(const QString& ini) {
        const Settings::WinPos pos = Settings(ini).WindowPosition();
        return {pos.x, pos.y, pos.cx, pos.cy};
    }

private slots:
    void init() {
        QFile::remove(iniFile());
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
    }

    void firstStartUsesDefaultsAndExitStoresGeometry() {
        CPellavoDoc doc;
        {
            Settings settings(iniFile());
            CMainFrame frame(&doc, &settings);
            frame.show();
            QCOMPARE(frame.pos(), QPoint(10, 10));
            QCOMPARE(frame.size(), QSize(500, 350));
            frame.move(120, 80);
            frame.resize(640, 480);
            frame.OnAppExit();
            QVERIFY(frame.IsQuitting());
            QVERIFY(!frame.isVisible());
        }
        QCOMPARE(storedGeometry(iniFile()), QRect(120, 80, 640, 480));

        Settings settings(iniFile());
        CMainFrame again(&doc, &settings);
        again.show();
        QCOMPARE(again.pos(), QPoint(120, 80));
        QCOMPARE(again.size(), QSize(640, 480));
    }

    void exitStoresNormalGeometry_data() {
        QTest::addColumn<int>("state");
        QTest::newRow("minimised") << int(Qt::WindowMinimized);
        QTest::newRow("maximised") << int(Qt::WindowMaximized);
        QTest::newRow("hidden by Close") << -1;
    }

    void exitStoresNormalGeometry() {
        QFETCH(int, state);
        CPellavoDoc doc;
        Settings settings(iniFile());
        CMainFrame frame(&doc, &settings);
        frame.show();
        frame.move(200, 150);
        frame.resize(420, 300);
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        if (state == -1) {
            frame.close();
            QVERIFY(!frame.IsQuitting());
        } else {
            frame.setWindowState(Qt::WindowStates(state));
            QTRY_VERIFY(frame.windowState() & Qt::WindowStates(state));
        }
        frame.OnAppExit();
        QCOMPARE(storedGeometry(iniFile()), QRect(200, 150, 420, 300));
    }

    void closeKeepsProgramRunning() {
        CPellavoDoc doc;
        Settings settings(iniFile());
        CMainFrame frame(&doc, &settings);
        QSignalSpy exited(&frame, &CMainFrame::exited);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.close();
        // Without a notification area the window is minimised, never lost.
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QVERIFY(frame.isHidden());
        else
            QVERIFY(frame.isVisible() && frame.isMinimized());
        QCOMPARE(exited.count(), 0);
        QVERIFY(!QFile::exists(iniFile()));

        frame.OnOpen();
        QVERIFY(frame.isVisible());
        QVERIFY(!frame.isMinimized());

        frame.OnAppExit();
        QCOMPARE(exited.count(), 1);
    }

    void trayCommandsReachTheFrame() {
        CPellavoDoc doc;
        Settings settings(iniFile());
        CMainFrame frame(&doc, &settings);
        QSignalSpy about(&frame, &CMainFrame::aboutRequested);
        QSignalSpy exited(&frame, &CMainFrame::exited);
        frame.hide();

        emit frame.Tray()->SystemTrayIcon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(frame.isHidden());
        emit frame.Tray()->SystemTrayIcon()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(frame.isVisible());

        frame.hide();
        const QList<QAction*> items = frame.Tray()->Menu()->actions();
        QCOMPARE(menuTexts(frame.Tray()->Menu()),
                 QStringList({QStringLiteral("&Open"), QStringLiteral("&About"), QStringLiteral("-"),
                              QStringLiteral("E&xit")}));
        items.at(1)->trigger();
        QCOMPARE(about.count(), 1);
        QVERIFY(frame.isHidden());
        items.at(0)->trigger();
        QVERIFY(frame.isVisible());
        frame.move(33, 44);
        frame.hide();
        items.at(3)->trigger();
        QCOMPARE(exited.count(), 1);
        QCOMPARE(storedGeometry(iniFile()).topLeft(), QPoint(33, 44));
    }

    void menusFollowTheMenuTable() {
        CPellavoDoc doc;
        Settings settings(iniFile());
        CMainFrame frame(&doc, &settings);
        const QList<QAction*> bar = frame.menuBar()->actions();
        QStringList titles;
        for (const QAction* a : bar)
            titles << a->text();
        QCOMPARE(titles, QStringList({"&File", "&Edit", "&View", "&Help"}));
        QCOMPARE(menuTexts(bar.at(0)->menu()),
                 QStringList({"&Import OPML File", "&Export OPML File", "-", "Update &All Feeds",
                              "Update &Marked Feeds", "Update &Current Feed", "-", "Send &To", "&Deliver Now",
                              "-", "E&xit"}));
        QCOMPARE(menuTexts(bar.at(1)->menu()),
                 QStringList({"&Undo\tCtrl+Z", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C", "&Paste\tCtrl+V"}));
        QCOMPARE(menuTexts(bar.at(2)->menu()), QStringList({"&Options", "&Delivery..."}));
        QCOMPARE(menuTexts(bar.at(3)->menu()), QStringList({"&Contents", "-", "&About Pellavo..."}));

        const QList<QKeySequence> undoKeys = frame.View()->Action(ID_EDIT_UNDO)->shortcuts();
        QVERIFY(undoKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Z)));
        QVERIFY(undoKeys.contains(QKeySequence(Qt::ALT | Qt::Key_Backspace)));
        // Keys that would only re-create the document or write an empty file are not bound.
        for (QAction* action : frame.findChildren<QAction*>()) {
            for (const QKeySequence& key : action->shortcuts()) {
                QVERIFY(key != QKeySequence(Qt::CTRL | Qt::Key_N));
                QVERIFY(key != QKeySequence(Qt::CTRL | Qt::Key_O));
                QVERIFY(key != QKeySequence(Qt::CTRL | Qt::Key_S));
            }
        }
    }

    // What a screen reader meets in the main window: a named tree with a named column, menu
    // items named by their text with the shortcut apart, and the switch as one check box.
    void accessibility() {
        CPellavoDoc doc;
        Settings settings(iniFile());
        CMainFrame frame(&doc, &settings);
        QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(frame.View());
        QCOMPARE(tree->text(QAccessible::Name), QStringLiteral("Subscriptions"));
        QCOMPARE(tree->child(0)->role(), QAccessible::ColumnHeader);
        QCOMPARE(tree->child(0)->text(QAccessible::Name), QStringLiteral("Name"));

        QStringList items;
        for (const QAction* title : frame.menuBar()->actions()) {
            QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(title->menu());
            for (int i = 0; i < menu->childCount(); ++i) {
                QAccessibleInterface* item = menu->child(i);
                if (item->role() == QAccessible::MenuItem)
                    items << item->text(QAccessible::Name) + QLatin1Char('|') +
                                 item->text(QAccessible::Accelerator);
            }
        }
        QCOMPARE(items.filter(QStringLiteral("Ctrl+")),
                 QStringList({"Undo|Ctrl+Z", "Cut|Ctrl+X", "Copy|Ctrl+C", "Paste|Ctrl+V"}));
        QVERIFY2(items.filter(QStringLiteral("\t")).isEmpty(), qPrintable(items.join(QLatin1Char(' '))));

        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(frame.TaskBar());
        const auto switches = [bar] {
            QList<QAccessibleInterface*> found;
            for (int i = 0; i < bar->childCount(); ++i) {
                if (bar->child(i)->text(QAccessible::Name) == QLatin1String("Synchronize Channels"))
                    found << bar->child(i);
            }
            return found;
        };
        for (const bool on : {false, true}) {
            QCOMPARE(switches().size(), 1);
            QCOMPARE(switches()[0]->role(), QAccessible::CheckBox);
            QCOMPARE(bool(switches()[0]->state().checked), on);
            if (!on)
                switches()[0]->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        }
        QVERIFY(frame.View()->SyncChannels());
    }

    // Home, Down and the rest act on the tree: when the window shows, while a task-bar
    // button has the focus (which keeps Return), when it shows again, and after the
    // dialog of a command from the menu, a button click or Return on a button.
    void keysActOnTheTree_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("how");
        QTest::newRow("Options from the menu") << int(CTaskBar::IdUpdateAll) << "menu";
        QTest::newRow("Import by a click") << int(CTaskBar::IdImportOpml) << "click";
        QTest::newRow("Export by Return") << int(CTaskBar::IdExportOpml) << "return";
    }

    void keysActOnTheTree() {
        QFETCH(int, button);
        QFETCH(QString, how);
        QDir().mkpath(QFileInfo(AppPaths::ChannelFile()).path());
        pellavo::test::writeFile(
            AppPaths::ChannelFile(),
            fixture::opml("<outline title=\"News\"><outline title=\"A\" xmlUrl=\"http://a/\"/></outline>"));
        CPellavoDoc doc;
        Settings settings(iniFile());
        const Clock clock;
        UpdateController update(settings, clock);
        CMainFrame frame(&doc, &settings, &update);
        CPellavoView* view = frame.View();
        view->OnInitialUpdate();
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QCOMPARE(QApplication::focusWidget(), view);

        CHoverButton* pressed = frame.TaskBar()->Button(button);
        pressed->setFocus(Qt::TabFocusReason);
        QTest::keyClick(pressed, Qt::Key_Home);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), view);
        QCOMPARE(view->SelectedNode(), fixture::node(*view, "News"));

        pressed->setFocus(Qt::TabFocusReason);
        frame.hide();
        frame.OnOpen();
        // The offscreen platform does not activate a window shown again: what counts is the
        // widget that the window gives the focus to when it is active.
        QCOMPARE(frame.focusWidget(), view);

        pressed->setFocus(Qt::TabFocusReason);
        ModalScript script;
        script.then(steps::pressEscape());
        if (how == "menu")
            view->Action(ID_OPTIONS)->trigger();
        else if (how == "click")
            pressed->click();
        else
            QTest::keyClick(pressed, Qt::Key_Return);
        QTRY_VERIFY2(script.finished(), qPrintable(script.report()));
        QTRY_COMPARE(frame.focusWidget(), view);
        frame.OnAppExit();
    }

    // The real window's menus show the tool bar's pictures beside Cut, Copy, Paste and About only.
    void menuPictures() {
        CPellavoDoc doc;
        Settings settings(iniFile());
        CMainFrame frame(&doc, &settings);
        QStringList pictured;
        for (const QAction* title : frame.menuBar()->actions()) {
            QCOMPARE(title->menu()->style(), BCMenu::Shared());
            for (const QAction* item : title->menu()->actions()) {
                if (BCMenu::Shared()->ImageOf(item) >= 0)
                    pictured << shownText(item);
            }
        }
        QCOMPARE(pictured,
                 QStringList({"Cu&t\tCtrl+X", "&Copy\tCtrl+C", "&Paste\tCtrl+V", "&About Pellavo..."}));
    }

    void secondStartWakesTheFirst() {
        Settings settings(iniFile());
        CPellavoApp first(&settings);
        QVERIFY(first.InitInstance());
        CMainFrame* frame = first.MainFrame();
        QCOMPARE(frame->windowTitle(), QStringLiteral("Corvantis - Pellavo"));
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        frame->hide();

        CPellavoApp second(&settings);
        QVERIFY(!second.InitInstance());
        QVERIFY(!second.MainFrame());
        QTRY_VERIFY(frame->isVisible());
        QVERIFY(!frame->isMinimized());
        frame->OnAppExit();
    }
};

PELLAVO_TEST_MAIN(TestMainFrame)
#include "tst_MainFrame.moc"
