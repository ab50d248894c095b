#include "ModalScript.h"
#include "testsupport.h"
#include "view/PropertyDialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void layoutAndDefaults_data();
    void layoutAndDefaults();
    void channelExchange_data();
    void channelExchange();
    void groupExchange();
    void confirmations_data();
    void confirmations();
};

namespace {

std::unique_ptr<PellavoDialog> makeDialog(const QString& kind) {
    if (kind == QLatin1String("channel"))
        return std::make_unique<CChannelProp>();
    if (kind == QLatin1String("group"))
        return std::make_unique<CDlgGroupProp>();
    if (kind == QLatin1String("delete"))
        return std::make_unique<CDlgDeleteConfirm>();
    return std::make_unique<CDlgImportConfirm>();
}

QLineEdit* edit(QWidget* dialog, int id) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("edit%1").arg(id));
}

} // namespace

void TestDialogs::layoutAndDefaults_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QList<int>>("edits");
    QTest::addColumn<QStringList>("initial");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("channel") << "channel"
                             << "Channel Properties" << QList<int>{1001, 1002, 1003, 1004}
                             << QStringList{"", "http://", "http://", ""} << QStringList{"OK", "Cancel"};
    QTest::newRow("group") << "group"
                           << "Group Properties" << QList<int>{1004, 1003} << QStringList{"Group", ""}
                           << QStringList{"OK", "Cancel"};
    QTest::newRow("delete") << "delete"
                            << "Warning" << QList<int>{} << QStringList{} << QStringList{"Yes", "Cancel"};
    QTest::newRow("import") << "import"
                            << "Warning" << QList<int>{} << QStringList{} << QStringList{"Yes", "Cancel"};
}

// Captions, initial values in tab order, focus on the first field, the first
// button the default one; a missing picture shows nothing and breaks nothing.
void TestDialogs::layoutAndDefaults() {
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QList<int>, edits);
    QFETCH(QStringList, initial);
    QFETCH(QStringList, buttons);

    auto dialog = makeDialog(kind);
    QList<int> order;
    QStringList shown;
    QWidget* focus = nullptr;
    ModalScript script;
    script.then([&](QWidget* window) {
        focus = window->focusWidget();
        for (QWidget* w = focus; w && order.size() < edits.size(); w = w->nextInFocusChain()) {
            if (auto* e = qobject_cast<QLineEdit*>(w);
                e && e->window() == window && !order.contains(e->objectName().mid(4).toInt())) {
                order.append(e->objectName().mid(4).toInt());
                shown.append(e->text());
            }
        }
        QTest::keyClick(window, Qt::Key_Escape);
    });
    QCOMPARE(dialog->DoModal(), 2);
    QVERIFY2(script.finished(), qPrintable(script.report()));

    QCOMPARE(dialog->windowTitle(), caption);
    QCOMPARE(order, edits);
    QCOMPARE(shown, initial);
    if (!edits.isEmpty())
        QCOMPARE(focus, edit(dialog.get(), edits.first()));
    auto* first = dialog->findChild<QPushButton*>(QStringLiteral("button1"));
    auto* second = dialog->findChild<QPushButton*>(QStringLiteral("button2"));
    QCOMPARE(first->text(), buttons.at(0));
    QCOMPARE(second->text(), buttons.at(1));
    QVERIFY(first->isDefault());
    QVERIFY(!second->isDefault());
}

void TestDialogs::channelExchange_data() {
    QTest::addColumn<int>("close");
    QTest::addColumn<int>("result");
    QTest::newRow("enter in an edit") << int(Qt::Key_Return) << 1;
    QTest::newRow("escape") << int(Qt::Key_Escape) << 2;
    QTest::newRow("cancel button") << 0 << 2;
}

// The members go into the edits 1001 to 1004 in order, and come back out only on OK.
void TestDialogs::channelExchange() {
    QFETCH(int, close);
    QFETCH(int, result);
    CChannelProp dialog;
    dialog.m_strTitle = QStringLiteral("Nyheter – Ålesund");
    dialog.m_strXmlUrl = QStringLiteral("https://example.org/rss");
    dialog.m_strHtmlUrl = QStringLiteral("https://example.org/");
    dialog.m_strDescription = QStringLiteral("desc");
    QStringList opened;
    ModalScript script;
    script.then([&](QWidget* window) {
        for (int id : {1001, 1002, 1003, 1004}) {
            opened.append(edit(window, id)->text());
            edit(window, id)->setText(QStringLiteral("typed %1").arg(id));
        }
        if (close)
            QTest::keyClick(edit(window, 1003), Qt::Key(close));
        else
            QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("button2")), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), result);
    QVERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(opened, (QStringList{QStringLiteral("Nyheter – Ålesund"), "https://example.org/rss",
                                  "https://example.org/", "desc"}));
    const QStringList members{dialog.m_strTitle, dialog.m_strXmlUrl, dialog.m_strHtmlUrl,
                              dialog.m_strDescription};
    if (result == 1)
        QCOMPARE(members, (QStringList{"typed 1001", "typed 1002", "typed 1003", "typed 1004"}));
    else
        QCOMPARE(members, opened);
}

// Title is edit 1004, Description edit 1003; OK by Return in the description.
void TestDialogs::groupExchange() {
    CDlgGroupProp dialog;
    dialog.m_strDescription = QStringLiteral("old");
    ModalScript script;
    script.then([&](QWidget* window) {
        QCOMPARE(edit(window, 1004)->text(), QStringLiteral("Group"));
        QCOMPARE(edit(window, 1003)->text(), QStringLiteral("old"));
        edit(window, 1004)->setText(QStringLiteral("News"));
        edit(window, 1003)->clear();
        QTest::keyClick(edit(window, 1003), Qt::Key_Return);
    });
    QCOMPARE(dialog.DoModal(), 1);
    QVERIFY2(script.finished(), qPrintable(script.report()));
    QCOMPARE(dialog.m_strTitle, QStringLiteral("News"));
    QCOMPARE(dialog.m_strDescription, QString());
}

void TestDialogs::confirmations_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("close");
    QTest::addColumn<int>("result");
    const QString del = QStringLiteral("The selected item or group will be deleted, continue?");
    const QString imp =
        QStringLiteral("All current channel data will be overwritten by imported ones, continue?");
    QTest::newRow("delete, return") << "delete" << del << int(Qt::Key_Return) << 1;
    QTest::newRow("delete, escape") << "delete" << del << int(Qt::Key_Escape) << 2;
    QTest::newRow("import, return") << "import" << imp << int(Qt::Key_Return) << 1;
    QTest::newRow("import, close box") << "import" << imp << 0 << 2;
}

// Return answers Yes (1); Escape and the close box answer Cancel (2).
void TestDialogs::confirmations() {
    QFETCH(QString, kind);
    QFETCH(QString, question);
    QFETCH(int, close);
    QFETCH(int, result);
    auto dialog = makeDialog(kind);
    ModalScript script;
    script.then([&](QWidget* window) {
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("question"))->text(), question);
        if (close)
            QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key(close));
        else
            window->close();
    });
    QCOMPARE(dialog->DoModal(), result);
    QVERIFY2(script.finished(), qPrintable(script.report()));
}

PELLAVO_TEST_MAIN(TestDialogs)
#include "tst_Dialogs.moc"
