#include "shell/CAboutDlg.h"
#include "testsupport.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

class TestAboutDlg : public QObject {
    Q_OBJECT
private slots:
    void showsPictureNameAndVersion();
    void closesWithResult_data();
    void closesWithResult();
};

void TestAboutDlg::showsPictureNameAndVersion() {
    CAboutDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("About Pellavo"));
    const auto* picture = dlg.findChild<QLabel*>(QStringLiteral("picture"));
    QVERIFY(picture);
    QCOMPARE(picture->pixmap().size(), QSize(74, 156));
    QCOMPARE(dlg.findChild<QLabel*>(QStringLiteral("product"))->text(), QStringLiteral("Pellavo "));
    QCOMPARE(dlg.findChild<QLabel*>(QStringLiteral("version"))->text(), QStringLiteral("Version 1.0"));
    const auto frames = dlg.findChildren<QFrame*>();
    QVERIFY(std::any_of(frames.begin(), frames.end(), [](const QFrame* f) {
        return f->frameShape() == QFrame::HLine && f->frameShadow() == QFrame::Sunken;
    }));
    const auto buttons = dlg.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.first()->text(), QStringLiteral("OK"));
    QVERIFY(buttons.first()->isDefault());
}

void TestAboutDlg::closesWithResult_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("clickOk");
    QTest::addColumn<int>("result");
    QTest::newRow("OK clicked") << 0 << true << 1;
    QTest::newRow("Return") << int(Qt::Key_Return) << false << 1;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << false << 2;
}

void TestAboutDlg::closesWithResult() {
    QFETCH(int, key);
    QFETCH(bool, clickOk);
    QFETCH(int, result);
    CAboutDlg dlg;
    dlg.open();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    if (clickOk)
        QTest::mouseClick(dlg.findChild<QPushButton*>(), Qt::LeftButton);
    else
        QTest::keyClick(&dlg, Qt::Key(key));
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), result);
}

PELLAVO_TEST_MAIN(TestAboutDlg)
#include "tst_AboutDlg.moc"
