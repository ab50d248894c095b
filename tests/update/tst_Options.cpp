#include "base/AppPaths.h"
#include "base/Settings.h"
#include "edition/ArticleHistory.h"
#include "testsupport.h"
#include "update/ui/CDlgOptions.h"
#include "update/ui/UpdateController.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHideEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest/qtestspontaneevent.h>

#include <functional>

namespace {

// Runs `action` on the options dialog once it is up (it runs modally).
void whenDialogShows(std::function<void(CDlgOptions*)> action) {
    QTimer::singleShot(0, [action] {
        auto* dialog = qobject_cast<CDlgOptions*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        action(dialog);
    });
}

QRadioButton* radio(CDlgOptions* dialog, int choice) {
    return dialog->findChild<QRadioButton*>(QStringLiteral("interval%1").arg(choice));
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString iniFile(const QString& contents) {
        static int count = 0;
        const QString path = m_dir.filePath(QStringLiteral("settings%1.ini").arg(++count));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(contents.toUtf8());
        return path;
    }

private slots:
    void roundTrip_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("shownChoice");
        QTest::addColumn<QTime>("shownTime");
        QTest::addColumn<int>("choice"); // -1: Cancel
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QVariantList>("written"); // interval, hour, minute; empty: nothing written

        const QString defaults;
        QTest::newRow("daily at 21:45") << defaults << 0 << QTime(6, 0) << 4 << QTime(21, 45)
                                        << QStringLiteral("/x/news.nff") << QVariantList{0, 21, 45};
        QTest::newRow("2 hours keeps the daily time")
            << QStringLiteral("[Update]\nInterval=0\nHour=7\nMinute=30\n") << 4 << QTime(7, 30) << 1
            << QTime(22, 10) << QStringLiteral("/y/a.nff") << QVariantList{2, 7, 30};
        QTest::newRow("8 hours") << defaults << 0 << QTime(6, 0) << 3 << QTime(6, 0)
                                 << QStringLiteral("/z.nff") << QVariantList{8, 6, 0};
        QTest::newRow("cancel writes nothing")
            << QStringLiteral("[Update]\nInterval=2\n") << 1 << QTime(6, 0) << -1 << QTime(1, 1)
            << QStringLiteral("/no.nff") << QVariantList{};
        QTest::newRow("interval 3 shows 1 hour")
            << QStringLiteral("[Update]\nInterval=3\nHour=9\n") << 0 << QTime(9, 0) << 0 << QTime(9, 0)
            << QStringLiteral("/n.nff") << QVariantList{1, 9, 0};
        QTest::newRow("time out of range shows clamped")
            << QStringLiteral("[Update]\nInterval=0\nHour=31\nMinute=-4\n") << 4 << QTime(23, 0) << 2
            << QTime(5, 5) << QStringLiteral("/c.nff") << QVariantList{4, 31, -4};
    }

    // OnOptions through a real settings file: what the dialog shows, and what OK or Cancel leave.
    void roundTrip() {
        QFETCH(QString, stored);
        QFETCH(int, shownChoice);
        QFETCH(QTime, shownTime);
        QFETCH(int, choice);
        QFETCH(QTime, time);
        QFETCH(QString, path);
        QFETCH(QVariantList, written);

        const QString ini = iniFile(stored);
        Settings settings(ini);
        Clock clock;
        UpdateController controller(settings, clock);
        controller.LoadSettings();
        const QString feedFileBefore = controller.FeedFile();

        bool seen = false;
        whenDialogShows([&](CDlgOptions* dialog) {
            seen = true;
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Options"));
            QVERIFY(radio(dialog, shownChoice)->isChecked());
            QCOMPARE(dialog->m_ctlTime->time(), shownTime);
            QCOMPARE(dialog->m_ctlTime->isEnabled(), shownChoice == 4);
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("feedFile"))->text(), feedFileBefore);
            if (choice < 0) {
                dialog->reject();
                return;
            }
            radio(dialog, choice)->click();
            QCOMPARE(dialog->m_ctlTime->isEnabled(), choice == 4);
            dialog->m_ctlTime->setTime(time);
            dialog->findChild<QLineEdit*>(QStringLiteral("feedFile"))->setText(path);
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        controller.OnOptions();
        QVERIFY(seen);

        QSettings file(ini, QSettings::IniFormat);
        if (written.isEmpty()) {
            QCOMPARE(controller.FeedFile(), feedFileBefore);
            QVERIFY(!file.contains(QStringLiteral("Path/FeedFile")));
            QCOMPARE(file.allKeys().size(), stored.count(QLatin1Char('=')));
            return;
        }
        QCOMPARE(file.value(QStringLiteral("Path/FeedFile")).toString(), path);
        QCOMPARE(file.value(QStringLiteral("Update/Interval")).toInt(), written[0].toInt());
        QCOMPARE(file.value(QStringLiteral("Update/Hour")).toInt(), written[1].toInt());
        QCOMPARE(file.value(QStringLiteral("Update/Minute")).toInt(), written[2].toInt());
        QCOMPARE(controller.Interval(), written[0].toInt());
        QCOMPARE(controller.Hour(), written[1].toInt());
        QCOMPARE(controller.Minute(), written[2].toInt());
    }

    void eBookBox_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVariant>("written"); // invalid: the key is not written
        QTest::newRow("off by default, set") << QString() << false << true << QVariant(1);
        QTest::newRow("on, cleared") << QStringLiteral("[Path]\nEBook=1\n") << true << true << QVariant(0);
        QTest::newRow("cancel writes nothing") << QString() << false << false << QVariant();
        QTest::newRow("garbage reads as off")
            << QStringLiteral("[Path]\nEBook=x\n") << false << true << QVariant(1);
    }

    // The e-book check box shows "Path"/"EBook", its mnemonic ticks it, and OK stores the opposite, as 0
    // or 1.
    void eBookBox() {
        QFETCH(QString, stored);
        QFETCH(bool, shown);
        QFETCH(bool, ok);
        QFETCH(QVariant, written);

        const QString ini = iniFile(stored);
        Settings settings(ini);
        Clock clock;
        UpdateController controller(settings, clock);
        controller.LoadSettings();
        whenDialogShows([&](CDlgOptions* dialog) {
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("ebook"));
            QVERIFY(box);
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QCOMPARE(box->text(), QStringLiteral("Also make an &e-book for the phone's reader (EPUB)"));
            QCOMPARE(box->isChecked(), shown);
            QTest::keyClick(dialog, Qt::Key_E, Qt::AltModifier);
            QTRY_COMPARE(box->isChecked(), !shown); // a mnemonic clicks after a moment
            ok ? dialog->accept() : dialog->reject();
        });
        controller.OnOptions();
        QSettings file(ini, QSettings::IniFormat);
        if (written.isValid())
            QCOMPARE(file.value(QStringLiteral("Path/EBook")).toInt(), written.toInt());
        else
            QVERIFY(!file.contains(QStringLiteral("Path/EBook")));
        QCOMPARE(settings.EBook(), ok ? !shown : shown);
    }

    void greyBox_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("written");
        QTest::newRow("off by default, Alt+G sets it")
            << QStringLiteral("[Path]\nEBook=1\n") << true << false << 1;
        QTest::newRow("greyed without a book, its value kept")
            << QStringLiteral("[Path]\nEBook=0\n[Edition]\nGrey=1\n") << false << true << 1;
    }

    // "Edition"/"Grey" beside the e-book box: greyed while that is clear, reached by its mnemonic.
    void greyBox() {
        QFETCH(QString, stored);
        QFETCH(bool, enabled);
        QFETCH(bool, shown);
        const QString ini = iniFile(stored);
        Settings settings(ini);
        Clock clock;
        UpdateController controller(settings, clock);
        controller.LoadSettings();
        whenDialogShows([&](CDlgOptions* dialog) {
            const auto close = qScopeGuard([&] { dialog->accept(); });
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("grey"));
            QVERIFY(box);
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QCOMPARE(box->text(),
                     QStringLiteral("Pictures in shades of &grey (smaller books for e-ink readers)"));
            QCOMPARE(box->isEnabled(), enabled);
            QCOMPARE(box->isChecked(), shown);
            QTest::keyClick(dialog, Qt::Key_G, Qt::AltModifier);
            QTRY_COMPARE(box->isChecked(), enabled != shown); // a mnemonic clicks after a moment
            dialog->findChild<QCheckBox*>(QStringLiteral("ebook"))->click();
            QCOMPARE(box->isEnabled(), !enabled);
        });
        controller.OnOptions();
        QTEST(QSettings(ini, QSettings::IniFormat).value(QStringLiteral("Edition/Grey")).toInt(), "written");
        QCOMPARE(settings.GreyPictures(), true);
    }

    void editionControls_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("shown");    // the check box (1/0), then the three spin boxes
        QTest::addColumn<QStringList>("typed");    // into the spin boxes; empty rows: no keys at all
        QTest::addColumn<QVariantList>("written"); // OnlyNew, MaxArticles, MaxAgeDays, Keep
        QTest::newRow("defaults, changed by keyboard")
            << QStringLiteral("[Path]\nEBook=1\n") << QStringList{"1", "25", "7", "7"}
            << QStringList{"40", "0", "3"} << QVariantList{0, 40, 0, 3};
        QTest::newRow("0 lifts a limit")
            << QStringLiteral("[Path]\nEBook=1\n[Edition]\nOnlyNew=0\nMaxArticles=0\nMaxAgeDays=0\nKeep=0\n")
            << QStringList{"0", "no limit", "no limit", "all"} << QStringList{} << QVariantList{0, 0, 0, 0};
        QTest::newRow("greyed without a book, values kept")
            << QStringLiteral("[Path]\nEBook=0\n[Edition]\nMaxArticles=5\n")
            << QStringList{"1", "5", "7", "7"} << QStringList{} << QVariantList{1, 5, 7, 7};
    }

    // What each edition brings: greyed while the e-book box is clear, every control reached by
    // its mnemonic, and what OK stores.
    void editionControls() {
        QFETCH(QString, stored);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, typed);
        const QString ini = iniFile(stored);
        Settings settings(ini);
        Clock clock;
        UpdateController controller(settings, clock);
        controller.LoadSettings();
        whenDialogShows([&](CDlgOptions* dialog) {
            const auto close = qScopeGuard([&] { dialog->accept(); });
            auto* onlyNew = dialog->findChild<QCheckBox*>(QStringLiteral("onlyNew"));
            QList<QSpinBox*> spins;
            for (const char* name : {"maxArticles", "maxAgeDays", "keep"})
                spins << dialog->findChild<QSpinBox*>(QLatin1String(name));
            QVERIFY(onlyNew && !spins.contains(nullptr));
            QCOMPARE(QString::number(onlyNew->isChecked()), shown[0]);
            for (int i = 0; i < spins.size(); ++i)
                QCOMPARE(spins[i]->text(), shown[i + 1]);
            auto* controls = dialog->findChild<QWidget*>(QStringLiteral("editions"));
            QCOMPARE(controls->isEnabled(), settings.EBook());
            if (typed.isEmpty())
                return;
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QTest::keyClick(dialog, Qt::Key_N, Qt::AltModifier);
            QTRY_COMPARE(onlyNew->isChecked(), shown[0] != QLatin1String("1"));
            const Qt::Key keys[] = {Qt::Key_M, Qt::Key_L, Qt::Key_K};
            for (int i = 0; i < spins.size(); ++i) {
                QTest::keyClick(dialog, keys[i], Qt::AltModifier);
                QTRY_VERIFY(spins[i]->hasFocus());
                QTest::keyClick(spins[i], Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(spins[i], typed[i]);
            }
            dialog->findChild<QCheckBox*>(QStringLiteral("ebook"))->click();
            QVERIFY(!controls->isEnabled());
            dialog->findChild<QCheckBox*>(QStringLiteral("ebook"))->click();
        });
        controller.OnOptions();
        QSettings file(ini, QSettings::IniFormat);
        QVariantList written;
        for (const char* key : {"OnlyNew", "MaxArticles", "MaxAgeDays", "Keep"})
            written << file.value(QStringLiteral("Edition/") + QLatin1String(key)).toInt();
        QTEST(written, "written");
    }

    void forgetArticles_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Return keeps the history") << false;
        QTest::newRow("Yes empties it") << true;
    }

    // Alt+F asks in a "Warning" box whose default is No; only Yes empties the history.
    void forgetArticles() {
        QFETCH(bool, yes);
        const QString feed = QStringLiteral("https://example.org/feed");
        {
            edition::ArticleHistory history(AppPaths::HistoryFile());
            edition::ArticleHistory::Changes changes;
            changes.added.push_back({feed, QByteArray(16, 'k'), true});
            QVERIFY(history.Record(changes));
        }
        Settings settings(iniFile(QStringLiteral("[Path]\nEBook=1\n")));
        Clock clock;
        UpdateController controller(settings, clock);
        controller.LoadSettings();
        bool asked = false;
        whenDialogShows([&](CDlgOptions* dialog) {
            const auto close = qScopeGuard([&] { dialog->accept(); });
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            // The box runs modally from the button's click.
            QTimer answer;
            answer.setInterval(10);
            connect(&answer, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box)
                    return;
                answer.stop();
                asked = true;
                QCOMPARE(box->windowTitle(), QStringLiteral("Warning"));
                QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
                if (yes)
                    box->button(QMessageBox::Yes)->click();
                else
                    QTest::keyClick(box, Qt::Key_Return);
            });
            answer.start();
            QTest::keyClick(dialog, Qt::Key_F, Qt::AltModifier);
            QTRY_VERIFY(asked);
            QTRY_COMPARE(QApplication::activeModalWidget(), dialog);
        });
        controller.OnOptions();
        QVERIFY(asked);
        QCOMPARE(edition::KnownArticles(AppPaths::HistoryFile()).Of(feed).size(), yes ? 0 : 1);
    }

    // What a screen reader says of the controls that no label of their own names well.
    void accessibleNames_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::newRow("browse") << "browse"
                                << "Browse..."
                                << "";
        QTest::newRow("daily time") << "time"
                                    << "Time of the daily update"
                                    << "";
        QTest::newRow("e-book's controls") << "editions"
                                           << "E-book"
                                           << "";
        QTest::newRow("most articles") << "maxArticles"
                                       << "At most"
                                       << "articles per feed";
        QTest::newRow("oldest articles") << "maxAgeDays"
                                         << "Leave out articles older than"
                                         << "days";
        QTest::newRow("books kept") << "keep"
                                    << "Keep the last"
                                    << "books";
    }

    void accessibleNames() {
        QFETCH(QString, control);
        QFETCH(QString, name);
        QFETCH(QString, description);
        CDlgOptions dialog;
        QWidget* widget = dialog.findChild<QWidget*>(control);
        QVERIFY(widget);
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(face);
        QCOMPARE(face->text(QAccessible::Name), name);
        QCOMPARE(face->text(QAccessible::Description), description);
    }

    // "..." picks a file that need not exist, adds the suffix, asks no overwrite question,
    // and keeps the radio choice made before it.
    void browseKeepsTheChoice() {
        CDlgOptions dialog;
        dialog.m_strFeedFile = m_dir.filePath(QStringLiteral("old.nff"));
        dialog.m_nIntervalChoice = 0;
        dialog.show();
        radio(&dialog, 4)->click();
        QVERIFY(dialog.m_ctlTime->isEnabled());

        const QString typed = m_dir.filePath(QStringLiteral("phone"));
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(files);
            seen = true;
            QCOMPARE(files->acceptMode(), QFileDialog::AcceptSave);
            QCOMPARE(files->defaultSuffix(), QStringLiteral("nff"));
            QVERIFY(files->testOption(QFileDialog::DontConfirmOverwrite));
            QCOMPARE(files->nameFilters(), QStringList{QStringLiteral("News Feed File (*.nff)")});
            files->selectFile(typed);
            static_cast<QDialog*>(files)->accept();
        });
        dialog.findChild<QPushButton*>(QStringLiteral("browse"))->click();
        QVERIFY(seen);
        QVERIFY(radio(&dialog, 4)->isChecked());
        QVERIFY(dialog.m_ctlTime->isEnabled());
        dialog.m_ctlTime->setTime(QTime(5, 15));
        dialog.accept();
        QCOMPARE(dialog.m_strFeedFile, typed + QStringLiteral(".nff"));
        QCOMPARE(dialog.m_nIntervalChoice, 4);
        QCOMPARE(dialog.m_nHour, 5);
        QCOMPARE(dialog.m_nMinute, 15);
    }

    // Restored from minimised (the desktop's own hide and show), the dialog keeps what
    // was typed and chosen.
    void restoreKeepsWhatWasTyped() {
        CDlgOptions dialog;
        dialog.m_strFeedFile = m_dir.filePath(QStringLiteral("old.nff"));
        dialog.show();
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("feedFile"));
        edit->setText(QStringLiteral("typed.nff"));
        radio(&dialog, 2)->click();
        QHideEvent hidden;
        QShowEvent shown;
        for (QEvent* event : {static_cast<QEvent*>(&hidden), static_cast<QEvent*>(&shown)}) {
            // Delivered as the desktop's own; sendEvent would mark them as the program's.
            QSpontaneKeyEvent::setSpontaneous(event);
            qApp->notify(&dialog, event);
        }
        QCOMPARE(edit->text(), QStringLiteral("typed.nff"));
        QVERIFY(radio(&dialog, 2)->isChecked());
    }
};

PELLAVO_TEST_MAIN(TestOptions)
#include "tst_Options.moc"
