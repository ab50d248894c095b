#include "testsupport.h"

#include "shell/BCMenu.h"
#include "shell/MenuColors.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSignalSpy>

#include <cmath>
#include <limits>

namespace {

constexpr int kUndo = 57643;
constexpr int kCut = 57635;
constexpr int kCopy = 57634;
constexpr int kPaste = 57637;

// One solid colour per tool bar picture, none of them a palette colour.
const QColor kPictureColours[] = {QColor(200, 0, 0),   QColor(0, 160, 0),   QColor(0, 0, 200),
                                  QColor(230, 120, 0), QColor(128, 0, 128), QColor(0, 128, 128),
                                  QColor(128, 128, 0), QColor(220, 0, 220)};

QColor PictureColour(int commandId) {
    return kPictureColours[BCMenu::ToolbarCommands().indexOf(commandId)];
}

QImage TestStrip(int scale) {
    QImage strip(128 * scale, 15 * scale, QImage::Format_ARGB32);
    QPainter painter(&strip);
    for (int i = 0; i < 8; ++i)
        painter.fillRect(i * 16 * scale, 0, 16 * scale, 15 * scale, kPictureColours[i]);
    return strip;
}

QAction* AddItem(QMenu& menu, const QString& text, int commandId) {
    QAction* action = menu.addAction(text);
    action->setData(commandId);
    return action;
}

// The Edit menu as the main window declares it.
void FillEditMenu(QMenu& menu) {
    AddItem(menu, QStringLiteral("&Undo\tCtrl+Z"), kUndo);
    menu.addSeparator();
    AddItem(menu, QStringLiteral("Cu&t\tCtrl+X"), kCut);
    AddItem(menu, QStringLiteral("&Copy\tCtrl+C"), kCopy);
    AddItem(menu, QStringLiteral("&Paste\tCtrl+V"), kPaste);
}

// The Edit menu in a look of its own, with the test pictures.
struct EditMenu {
    explicit EditMenu(BCMenu::Look look) : style(look) {
        style.LoadToolbarImages(TestStrip(1), TestStrip(2));
        style.Attach(&menu);
        FillEditMenu(menu);
    }
    BCMenu style;
    QMenu menu;
};

QAction* ActionWithId(const QMenu& menu, int commandId) {
    for (QAction* action : menu.actions()) {
        if (action->data().toInt() == commandId && !action->isSeparator())
            return action;
    }
    return nullptr;
}

bool Popup(QMenu& menu) {
    menu.popup(QPoint(40, 40));
    return QTest::qWaitForWindowExposed(&menu);
}

QImage Render(QMenu& menu) {
    return menu.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb At(const QImage& image, int x, int y) {
    return image.pixel(x, y);
}

// Where in the area the image has exactly this colour.
QRect Extent(const QImage& image, const QRect& area, const QColor& colour) {
    QRect found;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (QColor(image.pixel(x, y)).rgb() == colour.rgb())
                found |= QRect(x, y, 1, 1);
        }
    }
    return found;
}

// The rightmost column of the area with dark text ink.
int RightmostInk(const QImage& image, const QRect& area) {
    for (int x = area.right(); x >= area.left(); --x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            if (qGray(image.pixel(x, y)) < 110)
                return x;
        }
    }
    return -1;
}

} // namespace

Q_DECLARE_METATYPE(BCMenu::Look)

class TestMenus : public QObject {
    Q_OBJECT

    static void AddLooks() {
        QTest::addColumn<BCMenu::Look>("look");
        QTest::newRow("flat") << BCMenu::Look::Flat;
        QTest::newRow("three-dimensional") << BCMenu::Look::ThreeD;
    }

private slots:
    void colourSteps_data() {
        QTest::addColumn<bool>("lighten");
        QTest::addColumn<double>("f");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QColor>("expected");
        const QColor sample(100, 0, 255, 128);
        QTest::newRow("lighten 0") << true << 0.0 << sample << sample;
        QTest::newRow("lighten negative") << true << -0.25 << sample << sample;
        QTest::newRow("lighten above 1") << true << 1.0001 << sample << sample;
        QTest::newRow("lighten NaN") << true << std::nan("") << sample << sample;
        QTest::newRow("lighten 1") << true << 1.0 << sample << QColor(255, 255, 255, 128);
        QTest::newRow("lighten half truncates") << true << 0.5 << sample << QColor(177, 127, 255, 128);
        QTest::newRow("lighten smallest")
            << true << std::numeric_limits<double>::denorm_min() << QColor(7, 8, 9) << QColor(7, 8, 9);
        QTest::newRow("darken 0") << false << 0.0 << sample << sample;
        QTest::newRow("darken negative") << false << -1.0 << sample << sample;
        QTest::newRow("darken above 1") << false << 2.0 << sample << sample;
        QTest::newRow("darken 1") << false << 1.0 << sample << QColor(0, 0, 0, 128);
        QTest::newRow("darken half truncates") << false << 0.5 << sample << QColor(50, 0, 127, 128);
        QTest::newRow("darken window") << false << 0.02 << QColor(255, 255, 255) << QColor(249, 249, 249);
    }

    void colourSteps() {
        QFETCH(bool, lighten);
        QFETCH(double, f);
        QFETCH(QColor, colour);
        QFETCH(QColor, expected);
        const QColor result = lighten ? Lighten(colour, f) : Darken(colour, f);
        QCOMPARE(result.rgba(), expected.rgba());
    }

    void itemSizes_data() { AddLooks(); }

    void itemSizes() {
        QFETCH(BCMenu::Look, look);
        EditMenu edit(look);
        QMenu& menu = edit.menu;
        const int p = look == BCMenu::Look::Flat ? 7 : 4;
        QCOMPARE(edit.style.BandMargin(), p);
        const int systemMenu = menu.fontMetrics().height() + 6;
        const int itemHeight = std::max(systemMenu, 15 + p);
        const int separatorHeight = look == BCMenu::Look::Flat ? 3 : std::max(systemMenu / 2, (15 + p) / 2);
        for (QAction* action : menu.actions())
            QCOMPARE(menu.actionGeometry(action).height(),
                     action->isSeparator() ? separatorHeight : itemHeight);
        // The items stack without gaps, below the frame and the margin.
        const QRect first = menu.actionGeometry(menu.actions().first());
        QCOMPARE(first.top(), look == BCMenu::Look::Flat ? 1 + 2 : 2 + 1);
        QCOMPARE(menu.actionGeometry(menu.actions().last()).bottom() + 1,
                 first.top() + 4 * itemHeight + separatorHeight);

        // Without accelerators an item is as wide as its text and the room the look
        // gives it, plus the check mark's width that the desktop adds.
        QMenu plain;
        edit.style.Attach(&plain);
        const QString texts[] = {QStringLiteral("E&xit"), QStringLiteral("Update &Marked Feeds")};
        int widest = 0;
        for (const QString& text : texts) {
            plain.addAction(text);
            widest =
                std::max(widest, plain.fontMetrics()
                                     .boundingRect(QRect(), Qt::TextSingleLine | Qt::TextShowMnemonic, text)
                                     .width());
        }
        const int room = look == BCMenu::Look::Flat ? 16 + p + 8 : 2 * 16 + 1;
        for (QAction* action : plain.actions())
            QCOMPARE(plain.actionGeometry(action).width(), widest + room + 12);
    }

    void defaultLookFollowsClassicStyle() {
        QApplication::setStyle(QStringLiteral("windows"));
        QCOMPARE(BCMenu::DefaultLook(), BCMenu::Look::ThreeD);
        QApplication::setStyle(QStringLiteral("fusion"));
        QCOMPARE(BCMenu::DefaultLook(), BCMenu::Look::Flat);
    }

    void flatLook() {
        EditMenu edit(BCMenu::Look::Flat);
        QMenu& menu = edit.menu;
        ActionWithId(menu, kPaste)->setEnabled(false);
        QVERIFY(Popup(menu));
        menu.setActiveAction(ActionWithId(menu, kCopy));
        const QImage image = Render(menu);

        const QPalette palette = menu.palette();
        const QColor band = palette.color(QPalette::Active, QPalette::Button);
        const QColor item = Darken(palette.color(QPalette::Active, QPalette::Base), 0.02);
        const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
        const QColor selection = Lighten(highlight, 0.7);
        const int bandWidth = 16 + 7;
        QCOMPARE(edit.style.BandWidth(), bandWidth);

        // The band runs down the whole menu, margins included; the items are lighter.
        const QRect undo = menu.actionGeometry(ActionWithId(menu, kUndo));
        QCOMPARE(At(image, undo.left() + 2, 1), band.rgb());
        QCOMPARE(At(image, undo.left() + bandWidth - 1, undo.center().y()), band.rgb());
        QCOMPARE(At(image, undo.left() + bandWidth, undo.center().y()), item.rgb());
        QCOMPARE(At(image, undo.right() - 2, undo.center().y()), item.rgb());
        QCOMPARE(Extent(image, undo, PictureColour(kCut)), QRect());

        // An unselected picture sits faded in the middle of the band.
        const QRect cut = menu.actionGeometry(ActionWithId(menu, kCut));
        const QPoint imageAt(4, static_cast<int>((cut.height() - 15) * 0.5 + 0.5));
        QCOMPARE(Extent(image, cut, Lighten(PictureColour(kCut), 0.3)),
                 QRect(cut.topLeft() + imageAt, QSize(16, 15)));

        // The selection fills the whole item, band included, inside a frame of the
        // highlight colour; its picture is raised: one pixel up and left, with a shadow.
        const QRect copy = menu.actionGeometry(ActionWithId(menu, kCopy));
        QCOMPARE(At(image, copy.left(), copy.center().y()), highlight.rgb());
        QCOMPARE(At(image, copy.right(), copy.center().y()), highlight.rgb());
        QCOMPARE(At(image, copy.center().x(), copy.top()), highlight.rgb());
        QCOMPARE(At(image, copy.center().x(), copy.bottom()), highlight.rgb());
        QCOMPARE(At(image, copy.left() + 1, copy.top() + 1), selection.rgb());
        QCOMPARE(At(image, copy.right() - 1, copy.center().y()), selection.rgb());
        const QPoint raised = copy.topLeft() + imageAt - QPoint(1, 1);
        QCOMPARE(Extent(image, copy, PictureColour(kCopy)), QRect(raised, QSize(16, 15)));
        QVERIFY(qGray(image.pixel(raised.x() + 17, raised.y() + 10)) < qGray(selection.rgb()));

        // A disabled picture is embossed on the band: its ink in shadow, lit below right.
        const QRect paste = menu.actionGeometry(ActionWithId(menu, kPaste));
        const QPoint pasteAt = paste.topLeft() + imageAt;
        QCOMPARE(At(image, pasteAt.x() + 8, pasteAt.y() + 7),
                 palette.color(QPalette::Active, QPalette::Dark).rgb());
        QCOMPARE(At(image, pasteAt.x() + 16, pasteAt.y() + 7),
                 palette.color(QPalette::Active, QPalette::Light).rgb());
        QCOMPARE(Extent(image, paste, PictureColour(kPaste)), QRect());
    }

    void threeDimensionalLook() {
        EditMenu edit(BCMenu::Look::ThreeD);
        QMenu& menu = edit.menu;
        QAction* checked = AddItem(menu, QStringLiteral("Cu&t"), kCut);
        checked->setCheckable(true);
        checked->setChecked(true);
        ActionWithId(menu, kPaste)->setEnabled(false);
        QVERIFY(Popup(menu));
        menu.setActiveAction(ActionWithId(menu, kCopy));
        const QImage image = Render(menu);

        const QPalette palette = menu.palette();
        const QColor face = palette.color(QPalette::Active, QPalette::Window);
        const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
        const QColor light = palette.color(QPalette::Active, QPalette::Light);
        const QColor dark = palette.color(QPalette::Active, QPalette::Dark);

        const QRect undo = menu.actionGeometry(ActionWithId(menu, kUndo));
        QCOMPARE(At(image, undo.left() + 2, undo.center().y()), face.rgb());
        QCOMPARE(At(image, undo.right() - 2, undo.center().y()), face.rgb());

        // Pictures sit in a box of 20 x 19 pixels, two pixels in.
        const QRect cut = menu.actionGeometry(ActionWithId(menu, kCut));
        const int offset = std::max(0, (cut.height() - 19) / 2);
        const QPoint imageAt(2, offset + 2);
        QCOMPARE(Extent(image, cut, PictureColour(kCut)), QRect(cut.topLeft() + imageAt, QSize(16, 15)));
        QCOMPARE(At(image, cut.left(), cut.top() + offset), face.rgb());

        // The selection leaves the picture's box out; the box is raised.
        const QRect copy = menu.actionGeometry(ActionWithId(menu, kCopy));
        QCOMPARE(Extent(image, copy, PictureColour(kCopy)), QRect(copy.topLeft() + imageAt, QSize(16, 15)));
        QCOMPARE(At(image, copy.left() + 21, copy.center().y()), highlight.rgb());
        QCOMPARE(At(image, copy.right(), copy.center().y()), highlight.rgb());
        QCOMPARE(At(image, copy.left() + 20, copy.center().y()), face.rgb());
        QCOMPARE(At(image, copy.left(), copy.top() + offset + 9), light.rgb());
        QCOMPARE(At(image, copy.left() + 8, copy.top() + offset), light.rgb());
        QCOMPARE(At(image, copy.left() + 19, copy.top() + offset + 9), dark.rgb());
        QCOMPARE(At(image, copy.left() + 8, copy.top() + offset + 18), dark.rgb());

        // A disabled picture is embossed.
        const QRect paste = menu.actionGeometry(ActionWithId(menu, kPaste));
        const QPoint pasteAt = paste.topLeft() + imageAt;
        QCOMPARE(At(image, pasteAt.x() + 8, pasteAt.y() + 7), dark.rgb());
        QCOMPARE(At(image, pasteAt.x() + 16, pasteAt.y() + 7), light.rgb());
        QCOMPARE(Extent(image, paste, PictureColour(kPaste)), QRect());

        // A ticked, unselected picture lies in a sunken, lighter box.
        const QRect ticked = menu.actionGeometry(checked);
        QCOMPARE(At(image, ticked.left() + 1, ticked.top() + offset + 1), Lighten(face, 0.6).rgb());
        QCOMPARE(At(image, ticked.left(), ticked.top() + offset + 9), dark.rgb());
        QCOMPARE(At(image, ticked.left() + 19, ticked.top() + offset + 9), light.rgb());
    }

    void selectionWithoutPicture_data() { AddLooks(); }

    void selectionWithoutPicture() {
        QFETCH(BCMenu::Look, look);
        EditMenu edit(look);
        QMenu& menu = edit.menu;
        QVERIFY(Popup(menu));
        menu.setActiveAction(ActionWithId(menu, kUndo));
        const QImage image = Render(menu);
        const QRect undo = menu.actionGeometry(ActionWithId(menu, kUndo));
        const QColor highlight = menu.palette().color(QPalette::Active, QPalette::Highlight);
        const QColor expected = look == BCMenu::Look::Flat ? Lighten(highlight, 0.7) : highlight;
        QCOMPARE(At(image, undo.left() + 2, undo.center().y()), expected.rgb());
    }

    void disabledItemUnderPointer_data() { AddLooks(); }

    void disabledItemUnderPointer() {
        QFETCH(BCMenu::Look, look);
        EditMenu edit(look);
        QMenu& menu = edit.menu;
        QAction* paste = ActionWithId(menu, kPaste);
        paste->setEnabled(false);
        QVERIFY(Popup(menu));
        const QRect rect = menu.actionGeometry(paste);
        for (int x = rect.left() + 30; x <= rect.center().x(); x += 10)
            QTest::mouseMove(&menu, QPoint(x, rect.center().y()));

        const bool threeD = look == BCMenu::Look::ThreeD;
        QCOMPARE(menu.activeAction(), threeD ? paste : nullptr);
        const QImage image = Render(menu);
        const QColor highlight = menu.palette().color(QPalette::Active, QPalette::Highlight);
        const QRgb pixel = At(image, rect.right() - 2, rect.center().y());
        QCOMPARE(pixel == highlight.rgb(), threeD);
        QVERIFY(pixel != Lighten(highlight, 0.7).rgb());
    }

    void acceleratorColumn_data() { AddLooks(); }

    void acceleratorColumn() {
        QFETCH(BCMenu::Look, look);
        EditMenu edit(look);
        QMenu& menu = edit.menu;
        // A narrower accelerator tells right alignment from left alignment.
        AddItem(menu, QStringLiteral("&Delete\tDel"), 57632);
        QVERIFY(Popup(menu));
        const QImage image = Render(menu);
        QList<int> rightEdges;
        for (QAction* action : menu.actions()) {
            if (action->isSeparator())
                continue;
            const QRect rect = menu.actionGeometry(action);
            const QRect column(rect.center().x(), rect.top(), rect.right() - rect.center().x() + 1,
                               rect.height());
            const int right = RightmostInk(image, column);
            QVERIFY2(right > 0, qPrintable(action->text()));
            QVERIFY(right <= rect.right() - 16);
            QVERIFY(right >= rect.right() - 16 - 2);
            rightEdges << right;
        }
        QCOMPARE(rightEdges.size(), 5);
        const auto [lowest, highest] = std::minmax_element(rightEdges.begin(), rightEdges.end());
        QVERIFY2(*highest - *lowest <= 1, qPrintable(QString::number(*highest - *lowest)));
    }

    void mnemonics_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<int>("commandId");
        QTest::newRow("t") << int(Qt::Key_T) << Qt::KeyboardModifiers() << kCut;
        QTest::newRow("shift T") << int(Qt::Key_T) << Qt::KeyboardModifiers(Qt::ShiftModifier) << kCut;
        QTest::newRow("u") << int(Qt::Key_U) << Qt::KeyboardModifiers() << kUndo;
        QTest::newRow("alt p") << int(Qt::Key_P) << Qt::KeyboardModifiers(Qt::AltModifier) << kPaste;
        QTest::newRow("shift C") << int(Qt::Key_C) << Qt::KeyboardModifiers(Qt::ShiftModifier) << kCopy;
    }

    void mnemonics() {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(int, commandId);
        QMenu menu;
        FillEditMenu(menu);
        BCMenu::Apply(&menu);
        QCOMPARE(menu.style(), BCMenu::Shared());
        QSignalSpy triggered(&menu, &QMenu::triggered);
        QVERIFY(Popup(menu));
        QTest::keyClick(&menu, static_cast<Qt::Key>(key), modifiers);
        QCOMPARE(triggered.size(), 1);
        QCOMPARE(triggered.at(0).at(0).value<QAction*>()->data().toInt(), commandId);
        QTRY_VERIFY(!menu.isVisible());
    }

    void applyReachesEveryPopup() {
        QMenuBar bar;
        QMenu* file = bar.addMenu(QStringLiteral("&File"));
        QMenu* early = file->addMenu(QStringLiteral("&Early"));
        BCMenu::Apply(&bar);
        QMenu* sendTo = file->addMenu(QStringLiteral("Send &To"));
        QMenu* help = bar.addMenu(QStringLiteral("&Help"));
        QMenu* nested = sendTo->addMenu(QStringLiteral("&Nested"));
        for (QMenu* menu : {file, early, sendTo, help, nested})
            QCOMPARE(menu->style(), BCMenu::Shared());
        QVERIFY(bar.style() != BCMenu::Shared());

        // A context menu made on the spot, with a submenu attached afterwards.
        QMenu context;
        BCMenu::Apply(&context);
        QMenu later;
        context.addMenu(&later);
        QCOMPARE(later.style(), BCMenu::Shared());
    }

    void sharedPicturesComeFromTheToolbar() {
        const BCMenuImages& images = BCMenu::Shared()->Images();
        for (int commandId : {kCut, kCopy, kPaste, 57664}) {
            const int index = images.IndexOf(commandId);
            QVERIFY(index >= 0);
            QCOMPARE(images.Picture(index, BCMenuImages::Variant::Normal, 1.0).size(), QSize(16, 15));
            QCOMPARE(images.Picture(index, BCMenuImages::Variant::Normal, 2.0).size(), QSize(32, 30));
        }
        // The File menu's commands and Undo have no button, so no picture.
        for (int commandId : {32781, 32782, 32777, 32778, 32779, 32794, 57665, kUndo, 32780, 32798})
            QCOMPARE(images.IndexOf(commandId), -1);
    }

    void toolbarImages() {
        BCMenu style(BCMenu::Look::Flat);
        QVERIFY(!style.LoadToolbarImages(QStringLiteral(":/no/such/strip.png")));
        QVERIFY(style.Images().IsEmpty());
        QVERIFY(!style.LoadToolbarImages(QImage(15, 15, QImage::Format_ARGB32)));
        QVERIFY(style.Images().IsEmpty());

        // A short strip gives pictures to its first buttons only.
        QVERIFY(style.LoadToolbarImages(TestStrip(1).copy(0, 0, 40, 15)));
        QCOMPARE(style.Images().IndexOf(57600), 0);
        QCOMPARE(style.Images().IndexOf(57601), 1);
        QCOMPARE(style.Images().IndexOf(kCut), -1);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("toolbar.png"));
        QVERIFY(TestStrip(1).save(path));
        QVERIFY(TestStrip(2).save(dir.filePath(QStringLiteral("toolbar@2x.png"))));
        QVERIFY(style.LoadToolbarImages(path));
        const BCMenuImages& images = style.Images();
        const QList<int> ids = {57600, 57601, 57603, kCut, kCopy, kPaste, 57607, 57664};
        for (int i = 0; i < ids.size(); ++i) {
            const int index = images.IndexOf(ids.at(i));
            QVERIFY(index >= 0);
            const QImage normal = images.Picture(index, BCMenuImages::Variant::Normal, 1.0);
            QCOMPARE(normal.size(), QSize(16, 15));
            QCOMPARE(normal.pixelColor(8, 7).rgb(), kPictureColours[i].rgb());
            const QImage sharp = images.Picture(index, BCMenuImages::Variant::Normal, 2.0);
            QCOMPARE(sharp.size(), QSize(32, 30));
            QCOMPARE(sharp.devicePixelRatio(), 2.0);
            QCOMPARE(images.Picture(index, BCMenuImages::Variant::Faded, 1.0).pixelColor(0, 0).rgb(),
                     Lighten(kPictureColours[i], 0.3).rgb());
            QVERIFY(images.Picture(index, BCMenuImages::Variant::Shadow, 1.0).pixelColor(0, 0).alpha() > 0);
        }
        QCOMPARE(images.IndexOf(57665), -1);

        // The ink leaves out what is as light as the face or the highlight, and what is
        // transparent.
        QImage picture(16, 15, QImage::Format_ARGB32);
        picture.fill(Qt::transparent);
        picture.setPixelColor(0, 0, Qt::white);
        picture.setPixelColor(1, 0, QColor(192, 192, 192));
        picture.setPixelColor(2, 0, QColor(220, 235, 255));
        picture.setPixelColor(3, 0, QColor(191, 191, 191));
        picture.setPixelColor(4, 0, QColor(0, 0, 200));
        picture.setPixelColor(5, 0, QColor(0, 0, 0, 100));
        BCMenuImages own;
        QVERIFY(own.AddStrip(picture, QImage(), {kCut}));
        const QImage ink = own.Ink(0, 1.0, QColor(192, 192, 192), Qt::white, Qt::red);
        const bool expected[] = {false, false, false, true, true, false, false};
        for (int x = 0; x < 7; ++x)
            QCOMPARE(ink.pixelColor(x, 0) == QColor(Qt::red), expected[x]);
    }
};

PELLAVO_TEST_MAIN(TestMenus)
#include "tst_Menus.moc"
