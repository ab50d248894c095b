#include "shell/CHoverButton.h"
#include "shell/CTaskBar.h"

#include "testsupport.h"

#include <QPainter>
#include <QSignalSpy>

namespace {

const QColor kNormal(10, 20, 30);
const QColor kPressed(200, 100, 0);
const QColor kHot(250, 150, 0);
const QColor kPanel(255, 0, 255);

// A state picture of three solid frames; the 2x one draws every frame as alternating
// one-pixel columns, so a blurred or 1x picture shows.
QPixmap StatesPicture(int nScale, const QColor& normal = kNormal) {
    QPixmap pm(384 * nScale, 15 * nScale);
    QPainter painter(&pm);
    const QColor colors[] = {normal, kPressed, kHot};
    for (int f = 0; f < 3; ++f) {
        painter.fillRect(f * 128 * nScale, 0, 128 * nScale, 15 * nScale, colors[f]);
        if (nScale == 2)
            for (int x = f * 256; x < (f + 1) * 256; x += 2)
                painter.fillRect(x, 0, 1, 30, Qt::white);
    }
    return pm;
}

QPixmap Solid(QSize size, const QColor& color) {
    QPixmap pm(size);
    pm.fill(color);
    return pm;
}

// Draws code-made pictures into every button and the panel.
void Dress(CTaskBar& bar) {
    for (int nId = CTaskBar::IdUpdateAll; nId <= CTaskBar::IdSendTo; ++nId) {
        const QColor normal = nId == CTaskBar::IdSyncOn ? QColor(0, 120, 0) : kNormal;
        bar.Button(nId)->SetStates(StatesPicture(1, normal), StatesPicture(2, normal));
    }
    bar.SetPanel(Solid({153, 227}, kPanel), Solid({306, 454}, kPanel));
}

// The colour a widget shows at a logical point, sampled in device pixels.
QColor ColorAt(QWidget* pWidget, QPoint pt, int nDeviceDx = 0) {
    const QImage image = pWidget->grab().toImage();
    const qreal dpr = image.devicePixelRatio();
    return image.pixelColor(int(pt.x() * dpr) + nDeviceDx, int(pt.y() * dpr));
}

bool Near(const QColor& a, const QColor& b, int nTolerance = 3) {
    return std::abs(a.red() - b.red()) <= nTolerance && std::abs(a.green() - b.green()) <= nTolerance &&
           std::abs(a.blue() - b.blue()) <= nTolerance;
}

// The frame a button shows, read from its centre (the solid part of a 2x frame).
QColor FrameColor(CHoverButton* pButton) {
    return ColorAt(pButton, {64, 7}, 1);
}

} // namespace

class TestTaskBar : public QObject {
    Q_OBJECT

    std::unique_ptr<CTaskBar> m_pBar;

    CTaskBar& ShownBar() {
        m_pBar = std::make_unique<CTaskBar>();
        Dress(*m_pBar);
        m_pBar->resize(m_pBar->BarWidth(), 400);
        m_pBar->show();
        if (!QTest::qWaitForWindowExposed(m_pBar.get()))
            qFatal("task bar window not exposed");
        return *m_pBar;
    }

private slots:
    void cleanup() { m_pBar.reset(); }

    void buttonGeometry_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QString>("tip");
        QTest::newRow("update all") << 1000 << QRect(26, 95, 128, 15)
                                    << "Update all feeds include those in subfolders";
        QTest::newRow("update marked")
            << 1003 << QRect(26, 110, 128, 15) << "Update marked feeds and/or folders only";
        QTest::newRow("update current")
            << 1004 << QRect(26, 125, 128, 15) << "Update current selected feed or folder only";
        QTest::newRow("import") << 1002 << QRect(26, 140, 128, 15)
                                << "Import subscriptions from an OPML file";
        QTest::newRow("export") << 1001 << QRect(26, 155, 128, 15)
                                << "Export subscriptions into an OPML file";
        QTest::newRow("send to") << 1007 << QRect(26, 185, 128, 15)
                                 << "Send the updated feeds to a mobile phone or the file system";
        QTest::newRow("sync off") << 1005 << QRect(26, 215, 128, 15)
                                  << "Check if you also want to update the subscriptions to the mobile phone";
        QTest::newRow("sync on") << 1006 << QRect(26, 215, 128, 15)
                                 << "Check if you also want to update the subscriptions to the mobile phone";
    }
    void buttonGeometry() {
        QFETCH(int, id);
        QFETCH(QRect, rect);
        QFETCH(QString, tip);
        CTaskBar& bar = ShownBar();
        CHoverButton* pButton = bar.Button(id);
        QVERIFY(pButton);
        QCOMPARE(pButton->geometry(), rect);
        QCOMPARE(pButton->FrameSize(), QSize(128, 15));
        QCOMPARE(pButton->toolTip(), tip);
        QCOMPARE(pButton->isVisible(), id != CTaskBar::IdSyncOn);
        QCOMPARE(bar.SendToMenuPos(), QPoint(26, 185));
    }

    // Every button takes its frame size from the compiled-in artwork.
    void compiledArtwork() {
        CTaskBar bar;
        for (int nId = CTaskBar::IdUpdateAll; nId <= CTaskBar::IdSendTo; ++nId)
            QCOMPARE(bar.Button(nId)->FrameSize(), QSize(128, 15));
    }

    void missingPictureLeavesZeroSize() {
        CHoverButton button;
        button.move(26, 95);
        QVERIFY(button.LoadStates(9999));
        QCOMPARE(button.size(), QSize(0, 0));
        QCOMPARE(button.pos(), QPoint(26, 95));
    }

    void framesFollowHoverPressAndLeave() {
        CTaskBar& bar = ShownBar();
        CHoverButton* pButton = bar.Button(CTaskBar::IdImportOpml);
        QVERIFY(Near(FrameColor(pButton), kNormal));

        QTest::mouseMove(pButton, {64, 7});
        QTRY_VERIFY(pButton->IsHot());
        QVERIFY(Near(FrameColor(pButton), kHot));

        QTest::mousePress(pButton, Qt::LeftButton, {}, {64, 7});
        QVERIFY(Near(FrameColor(pButton), kPressed));
        QTest::mouseRelease(pButton, Qt::LeftButton, {}, {64, 7});
        QVERIFY(Near(FrameColor(pButton), kHot));

        QTest::mouseMove(&bar, {5, 300});
        QTRY_VERIFY(!pButton->IsHot());
        QVERIFY(Near(FrameColor(pButton), kNormal));
    }

    void quickPassLeavesEveryButtonNormal() {
        CTaskBar& bar = ShownBar();
        const int ids[] = {1000, 1003, 1004, 1002, 1001};
        for (int nId : ids)
            QTest::mouseMove(&bar, bar.Button(nId)->geometry().center());
        QTest::mouseMove(&bar, {5, 300});
        QTest::qWait(20);
        for (int nId : ids) {
            QVERIFY(!bar.Button(nId)->IsHot());
            QVERIFY(Near(FrameColor(bar.Button(nId)), kNormal));
        }
    }

    void commandsReachTheOwner_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QByteArray>("signal");
        QTest::newRow("update all") << 1000 << QByteArray(SIGNAL(updateAllClicked()));
        QTest::newRow("update marked") << 1003 << QByteArray(SIGNAL(updateMarkedClicked()));
        QTest::newRow("update current") << 1004 << QByteArray(SIGNAL(updateCurrentClicked()));
        QTest::newRow("import") << 1002 << QByteArray(SIGNAL(importClicked()));
        QTest::newRow("export") << 1001 << QByteArray(SIGNAL(exportClicked()));
        QTest::newRow("send to") << 1007 << QByteArray(SIGNAL(sendToClicked()));
        QTest::newRow("sync") << 1005 << QByteArray(SIGNAL(syncToggled(bool)));
    }
    void commandsReachTheOwner() {
        QFETCH(int, id);
        QFETCH(QByteArray, signal);
        CTaskBar& bar = ShownBar();
        const QByteArray all[] = {SIGNAL(updateAllClicked()),     SIGNAL(updateMarkedClicked()),
                                  SIGNAL(updateCurrentClicked()), SIGNAL(importClicked()),
                                  SIGNAL(exportClicked()),        SIGNAL(sendToClicked()),
                                  SIGNAL(syncToggled(bool))};
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (const QByteArray& s : all)
            spies.push_back(std::make_unique<QSignalSpy>(&bar, s.constData()));
        QTest::mouseClick(bar.Button(id), Qt::LeftButton, {}, {10, 7});
        for (size_t i = 0; i < spies.size(); ++i)
            QCOMPARE(spies[i]->count(), all[i] == signal ? 1 : 0);
    }

    void syncSwitchTogglesAndFollowsSaves() {
        CTaskBar& bar = ShownBar();
        QSignalSpy toggled(&bar, &CTaskBar::syncToggled);
        const QPoint ptBox(26 + 64, 215 + 7);
        const QColor emptyLook = ColorAt(&bar, ptBox, 1);
        QVERIFY(Near(emptyLook, kNormal));

        QTest::mouseClick(bar.Button(CTaskBar::IdSyncOff), Qt::LeftButton, {}, {10, 7});
        QCOMPARE(toggled.takeFirst().at(0).toBool(), true);
        QVERIFY(bar.Button(CTaskBar::IdSyncOn)->isVisible());
        QVERIFY(!bar.Button(CTaskBar::IdSyncOff)->isVisible());
        QVERIFY(!bar.Button(CTaskBar::IdSyncOff)->isEnabled());

        QTest::mouseClick(bar.Button(CTaskBar::IdSyncOn), Qt::LeftButton, {}, {10, 7});
        QCOMPARE(toggled.takeFirst().at(0).toBool(), false);
        QVERIFY(bar.Button(CTaskBar::IdSyncOff)->isVisible());
        QVERIFY(!bar.Button(CTaskBar::IdSyncOn)->isVisible());
        QTest::mouseMove(&bar, {5, 300});
        QTRY_VERIFY(Near(ColorAt(&bar, ptBox, 1), emptyLook));

        // A save of the channel file switches it on again without a click.
        bar.UpdateSyncButtons(true);
        QVERIFY(bar.Button(CTaskBar::IdSyncOn)->isVisible());
        QVERIFY(Near(ColorAt(&bar, ptBox, 1), QColor(0, 120, 0)));
        QVERIFY(toggled.isEmpty());
    }

    void keyboardTogglesTheSwitch() {
        CTaskBar& bar = ShownBar();
        QSignalSpy toggled(&bar, &CTaskBar::syncToggled);
        bar.activateWindow();
        QTRY_VERIFY(bar.isActiveWindow());
        for (int i = 0; i < 10 && !bar.Button(CTaskBar::IdSyncOff)->hasFocus(); ++i)
            QTest::keyClick(&bar, Qt::Key_Tab);
        QVERIFY(bar.Button(CTaskBar::IdSyncOff)->hasFocus());
        QVERIFY(Near(FrameColor(bar.Button(CTaskBar::IdSyncOff)), kHot));
        QTest::keyClick(bar.Button(CTaskBar::IdSyncOff), Qt::Key_Space);
        QCOMPARE(toggled.count(), 1);
        QVERIFY(bar.Button(CTaskBar::IdSyncOn)->hasFocus());
        QTest::keyClick(bar.Button(CTaskBar::IdSyncOn), Qt::Key_Space);
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(toggled.at(1).at(0).toBool(), false);
        QVERIFY(bar.Button(CTaskBar::IdSyncOff)->hasFocus());
    }

    void gradientStretchesWhilePanelStays_data() {
        QTest::addColumn<int>("height");
        QTest::newRow("short") << 260;
        QTest::newRow("default") << 400;
        QTest::newRow("tall") << 1400;
    }
    void gradientStretchesWhilePanelStays() {
        QFETCH(int, height);
        CTaskBar& bar = ShownBar();
        bar.resize(bar.width(), height);
        QTRY_COMPARE(bar.height(), height);
        const int nRight = bar.width() - 1;
        QVERIFY(Near(ColorAt(&bar, {nRight, 0}), QColor(221, 236, 255)));
        QVERIFY(Near(ColorAt(&bar, {nRight, height - 1}), QColor(74, 122, 201), 4));
        const QColor middle = ColorAt(&bar, {nRight, height / 2});
        QVERIFY2(Near(middle, QColor((221 + 74) / 2, (236 + 122) / 2, (255 + 201) / 2), 4),
                 qPrintable(middle.name()));
        // The panel at (6, 15), 153 x 227, whatever the height.
        QVERIFY(Near(ColorAt(&bar, {6, 15}), kPanel, 0));
        QVERIFY(Near(ColorAt(&bar, {158, 241}), kPanel, 0));
        QVERIFY(!Near(ColorAt(&bar, {5, 15}), kPanel));
        QVERIFY(!Near(ColorAt(&bar, {6, 14}), kPanel));
        QVERIFY(!Near(ColorAt(&bar, {6, 242}), kPanel));
        QCOMPARE(bar.Button(CTaskBar::IdSendTo)->geometry(), QRect(26, 185, 128, 15));
    }

    // On a high-density screen the 2x pictures are drawn pixel for pixel.
    void highDensityUsesSharpPictures() {
        CTaskBar& bar = ShownBar();
        CHoverButton* pButton = bar.Button(CTaskBar::IdUpdateAll);
        const QImage image = pButton->grab().toImage();
        if (image.devicePixelRatio() < 2)
            QVERIFY(Near(image.pixelColor(64, 7), kNormal, 0) && Near(image.pixelColor(65, 7), kNormal, 0));
        else
            QVERIFY(Near(image.pixelColor(128, 14), Qt::white, 0) &&
                    Near(image.pixelColor(129, 14), kNormal, 0));
    }

    void widthFollowsTheDialogFont() {
        CTaskBar bar;
        QVERIFY(bar.BarWidth() >= 159);
        QCOMPARE(bar.width(), bar.BarWidth());
        QFont big = bar.font();
        big.setPixelSize(40);
        bar.setFont(big);
        QVERIFY(bar.BarWidth() > 300);
        QCOMPARE(bar.width(), bar.BarWidth());
        QVERIFY(bar.minimumSizeHint().height() >= 242);
    }
};

PELLAVO_TEST_MAIN(TestTaskBar)
#include "tst_TaskBar.moc"
