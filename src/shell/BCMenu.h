#pragma once

#include "shell/BCMenuImages.h"

#include <QFontMetrics>
#include <QList>
#include <QProxyStyle>

class QAction;
class QMenu;
class QMenuBar;
class QStyleOptionMenuItem;

// Pellavo's popup menus draw their items themselves, in one of two looks: the flat look
// (a tinted band on the left for the pictures, a light selection with a thin frame) or
// the three-dimensional look (pictures in raised or sunken boxes, the highlight colour
// for the selection). Menu bars stay as the desktop draws them; only their popups change.
// Qt keeps the items, their mnemonics and the accelerator column; this style gives them
// their sizes, their colours and the tool bar's pictures, found through the command id
// that each action carries as its data (an int).
class BCMenu : public QProxyStyle {
    Q_OBJECT
public:
    enum class Look { Flat, ThreeD };

    static constexpr int kImageWidth = BCMenuImages::kWidth;
    static constexpr int kImageHeight = BCMenuImages::kHeight;

    // The main tool bar's picture strip and its buttons' command ids, in strip order:
    // New, Open, Save, Cut, Copy, Paste, Print, About.
    static QString ToolbarPath();
    static const QList<int>& ToolbarCommands();

    // The look for this run: three-dimensional under Qt's classic "windows" style, the
    // nearest thing to the classic desktop theme; flat otherwise.
    static Look DefaultLook();
    // The style all of the program's menus share, in the default look, with the tool
    // bar's pictures. It lives as long as the application object.
    static BCMenu* Shared();
    // Gives a popup menu (a menu bar's popup, a context menu, the tray menu) and its
    // submenus the shared look; submenus added later get it too.
    static void Apply(QMenu* menu);
    // The same for every popup of a menu bar, now and later; the bar itself stays native.
    static void Apply(QMenuBar* bar);

    // The base style is a fresh copy of the application's style.
    explicit BCMenu(Look look);

    Look GetLook() const { return m_look; }
    // Band margin P: 7 in the flat look, whose pictures are drawn raised; 4 otherwise.
    int BandMargin() const;
    // The flat look's band: the picture's width and the band margin.
    int BandWidth() const;
    int ItemHeight(const QFontMetrics& metrics) const;
    int SeparatorHeight(const QFontMetrics& metrics) const;
    // Where an item's text begins, from the item's left edge.
    int TextIndent() const;

    // Gives the items the pictures of the tool bar strip (and of "name@2x.png" beside it
    // for high-density screens). False when the strip cannot be read; the menus then go
    // on without pictures.
    bool LoadToolbarImages(const QString& path = ToolbarPath());
    bool LoadToolbarImages(const QImage& strip, const QImage& strip2x = QImage());
    const BCMenuImages& Images() const { return m_images; }
    // The picture an item of this action shows: its index in Images(), or -1 for none.
    int ImageOf(const QAction* action) const;

    // Apply, with this style rather than the shared one.
    void Attach(QMenu* menu);
    void Attach(QMenuBar* bar);

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Item;
    Item Describe(const QStyleOptionMenuItem& option, const QWidget* widget) const;
    void DrawItem(const QStyleOptionMenuItem& option, QPainter* painter, const QWidget* widget) const;
    void DrawFlat(const Item& item, QPainter* painter) const;
    void DrawThreeD(const Item& item, QPainter* painter) const;
    void DrawText(const Item& item, QPainter* painter, const QColor& colour, bool embossed) const;
    void DrawEmbossedImage(const Item& item, QPainter* painter, const QPoint& at,
                           const QColor& background) const;
    void FillPanel(const QStyleOption& option, QPainter* painter, const QWidget* widget) const;

    Look m_look;
    BCMenuImages m_images;
};
