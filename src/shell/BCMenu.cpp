#include "shell/BCMenu.h"

#include "shell/MenuColors.h"

#include <QAction>
#include <QActionEvent>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

#include <algorithm>

namespace {

// The classic desktop's menu bar is its menu font's height plus six pixels (13 + 6 at
// 96 dots per inch); items are never lower than that.
constexpr int kMenuBarExtra = 6;
// The desktop widens every drawn item by the width of its own check mark.
constexpr int kCheckMarkWidth = 12;
// Room between an item's text and its accelerator or submenu arrow.
constexpr int kColumnGap = 24;
// The accelerator column's right edge, and the submenu arrow's place, from the item's right.
constexpr int kRightColumn = 16;
// The three-dimensional look's picture box: the picture and a two-pixel frame around it.
constexpr int kBoxWidth = BCMenu::kImageWidth + 4;
constexpr int kBoxHeight = BCMenu::kImageHeight + 4;
// The three-dimensional look leaves the picture box out of the selection.
constexpr int kSelectionIndent = BCMenu::kImageWidth + 5;

QString TextBeforeTab(const QString& text) {
    return text.section(QLatin1Char('\t'), 0, 0);
}

QString TextAfterTab(const QString& text) {
    const qsizetype tab = text.lastIndexOf(QLatin1Char('\t'));
    return tab < 0 ? QString() : text.mid(tab + 1);
}

bool IsMenu(const QWidget* widget) {
    return qobject_cast<const QMenu*>(widget) != nullptr;
}

QFont ItemFont(const QStyleOptionMenuItem& option) {
    QFont font = option.font;
    if (option.menuItemType == QStyleOptionMenuItem::DefaultItem)
        font.setBold(true);
    return font;
}

QColor Role(const QPalette& palette, QPalette::ColorRole role) {
    return palette.color(QPalette::Active, role);
}

// Top and left edges in one colour, bottom and right in the other.
void Frame3d(QPainter* painter, const QRect& rect, const QColor& topLeft, const QColor& bottomRight) {
    painter->fillRect(rect.x(), rect.y(), rect.width() - 1, 1, topLeft);
    painter->fillRect(rect.x(), rect.y(), 1, rect.height() - 1, topLeft);
    painter->fillRect(rect.x() + rect.width() - 1, rect.y(), 1, rect.height(), bottomRight);
    painter->fillRect(rect.x(), rect.y() + rect.height() - 1, rect.width(), 1, bottomRight);
}

void Frame(QPainter* painter, const QRect& rect, const QColor& colour) {
    Frame3d(painter, rect, colour, colour);
}

// An etched line: shadow above, highlight below.
void EtchedLine(QPainter* painter, int left, int right, int y, const QPalette& palette) {
    painter->fillRect(left, y, right - left, 1, Role(palette, QPalette::Dark));
    painter->fillRect(left, y + 1, right - left, 1, Role(palette, QPalette::Light));
}

void DrawMark(QPainter* painter, const QRect& box, bool radio, const QColor& colour) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(box).center();
    if (radio) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(colour);
        painter->drawEllipse(centre, 3.0, 3.0);
    } else {
        painter->setPen(QPen(colour, 2.0));
        painter->setBrush(Qt::NoBrush);
        const QPointF tick[] = {centre + QPointF(-4.0, 0.0), centre + QPointF(-1.5, 3.0),
                                centre + QPointF(4.0, -3.5)};
        painter->drawPolyline(tick, 3);
    }
    painter->restore();
}

void DrawSubmenuArrow(QPainter* painter, const QRect& item, const QColor& colour) {
    const int x = item.x() + item.width() - kRightColumn / 2 - 2;
    const int y = item.y() + item.height() / 2;
    QPainterPath arrow;
    arrow.moveTo(x, y - 4);
    arrow.lineTo(x + 4, y);
    arrow.lineTo(x, y + 4);
    arrow.closeSubpath();
    painter->fillPath(arrow, colour);
}

} // namespace

struct BCMenu::Item {
    QRect rect;
    QPalette palette;
    QString text;
    QFont font;
    int textFlags = 0;
    int image = -1;
    qreal devicePixelRatio = 1.0;
    bool separator = false;
    bool selected = false;
    bool enabled = true;
    bool ticked = false;
    bool radio = false;
    bool submenu = false;
};

QString BCMenu::ToolbarPath() {
    return QStringLiteral(":/images/toolbar.png");
}

const QList<int>& BCMenu::ToolbarCommands() {
    static const QList<int> commands = {57600, 57601, 57603, 57635, 57634, 57637, 57607, 57664};
    return commands;
}

BCMenu::Look BCMenu::DefaultLook() {
    const QStyle* style = QApplication::style();
    if (const auto* proxy = qobject_cast<const QProxyStyle*>(style))
        style = proxy->baseStyle();
    const bool classic = style && style->name().compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0;
    return classic ? Look::ThreeD : Look::Flat;
}

BCMenu* BCMenu::Shared() {
    static QPointer<BCMenu> shared;
    if (!shared) {
        shared = new BCMenu(DefaultLook());
        shared->setParent(QCoreApplication::instance());
        shared->LoadToolbarImages();
    }
    return shared;
}

void BCMenu::Apply(QMenu* menu) {
    Shared()->Attach(menu);
}

void BCMenu::Apply(QMenuBar* bar) {
    Shared()->Attach(bar);
}

BCMenu::BCMenu(Look look) : QProxyStyle(QStyleFactory::create(QApplication::style()->name())), m_look(look) {}

int BCMenu::BandMargin() const {
    return m_look == Look::Flat ? 7 : 4;
}

int BCMenu::BandWidth() const {
    return kImageWidth + BandMargin();
}

int BCMenu::ItemHeight(const QFontMetrics& metrics) const {
    return std::max(metrics.height() + kMenuBarExtra, kImageHeight + BandMargin());
}

int BCMenu::SeparatorHeight(const QFontMetrics& metrics) const {
    if (m_look == Look::Flat)
        return 3;
    return std::max((metrics.height() + kMenuBarExtra) / 2, (kImageHeight + BandMargin()) / 2);
}

int BCMenu::TextIndent() const {
    return m_look == Look::Flat ? BandWidth() + 8 : kImageWidth + 9;
}

bool BCMenu::LoadToolbarImages(const QString& path) {
    return m_images.LoadStrip(path, ToolbarCommands());
}

bool BCMenu::LoadToolbarImages(const QImage& strip, const QImage& strip2x) {
    return m_images.AddStrip(strip, strip2x, ToolbarCommands());
}

void BCMenu::Attach(QMenu* menu) {
    if (!menu || menu->style() == this)
        return;
    menu->setStyle(this);
    menu->installEventFilter(this);
    for (QAction* action : menu->actions())
        Attach(action->menu<QMenu*>());
}

void BCMenu::Attach(QMenuBar* bar) {
    if (!bar)
        return;
    bar->installEventFilter(this);
    for (QAction* action : bar->actions())
        Attach(action->menu<QMenu*>());
}

bool BCMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionChanged) {
        if (QAction* action = static_cast<QActionEvent*>(event)->action())
            Attach(action->menu<QMenu*>());
    }
    return QProxyStyle::eventFilter(watched, event);
}

int BCMenu::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    if (IsMenu(widget)) {
        const bool flat = m_look == Look::Flat;
        switch (metric) {
        case PM_MenuPanelWidth:
            return flat ? 1 : 2;
        case PM_MenuHMargin:
            return flat ? 0 : 1;
        case PM_MenuVMargin:
            return flat ? 2 : 1;
        default:
            break;
        }
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

int BCMenu::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                      QStyleHintReturn* returnData) const {
    if (IsMenu(widget)) {
        switch (hint) {
        case SH_Menu_AllowActiveAndDisabled:
            return m_look == Look::ThreeD ? 1 : 0;
        case SH_Menu_KeyboardSearch:
        case SH_Menu_SupportsSections:
        case SH_Menu_Mask:
            return 0;
        default:
            break;
        }
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QSize BCMenu::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                               const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuItem || !item || !IsMenu(widget))
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    switch (item->menuItemType) {
    case QStyleOptionMenuItem::Separator:
        // Qt drops items without width, so a separator asks for one pixel.
        return QSize(1, SeparatorHeight(item->fontMetrics));
    case QStyleOptionMenuItem::Normal:
    case QStyleOptionMenuItem::DefaultItem:
    case QStyleOptionMenuItem::SubMenu:
        break;
    default:
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    }
    const QFontMetrics metrics(ItemFont(*item));
    const int textWidth =
        metrics.boundingRect(QRect(), Qt::TextSingleLine | Qt::TextShowMnemonic, TextBeforeTab(item->text))
            .width();
    int width = m_look == Look::Flat ? textWidth + BandWidth() + 8 : textWidth + 2 * kImageWidth + 1;
    width += kCheckMarkWidth;
    if (item->text.contains(QLatin1Char('\t')) || item->menuItemType == QStyleOptionMenuItem::SubMenu)
        width += kColumnGap;
    return QSize(width, ItemHeight(item->fontMetrics));
}

void BCMenu::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                           const QWidget* widget) const {
    if (IsMenu(widget) && option) {
        if (element == PE_PanelMenu) {
            FillPanel(*option, painter, widget);
            return;
        }
        if (element == PE_FrameMenu) {
            const QPalette& palette = option->palette;
            if (m_look == Look::Flat) {
                Frame(painter, option->rect, Role(palette, QPalette::Dark));
            } else {
                Frame3d(painter, option->rect, Role(palette, QPalette::Midlight),
                        Role(palette, QPalette::Shadow));
                Frame3d(painter, option->rect.adjusted(1, 1, -1, -1), Role(palette, QPalette::Light),
                        Role(palette, QPalette::Dark));
            }
            return;
        }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void BCMenu::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                         const QWidget* widget) const {
    if (IsMenu(widget) && option) {
        if (element == CE_MenuEmptyArea) {
            FillPanel(*option, painter, widget);
            return;
        }
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element == CE_MenuItem && item) {
            switch (item->menuItemType) {
            case QStyleOptionMenuItem::Normal:
            case QStyleOptionMenuItem::DefaultItem:
            case QStyleOptionMenuItem::SubMenu:
            case QStyleOptionMenuItem::Separator:
                DrawItem(*item, painter, widget);
                return;
            default:
                break;
            }
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void BCMenu::FillPanel(const QStyleOption& option, QPainter* painter, const QWidget* widget) const {
    const QPalette& palette = option.palette;
    if (m_look == Look::ThreeD) {
        painter->fillRect(option.rect, Role(palette, QPalette::Window));
        return;
    }
    painter->fillRect(option.rect, Darken(Role(palette, QPalette::Base), 0.02));
    // The band runs from the top of the menu to its bottom, past the first and last item.
    const int left =
        pixelMetric(PM_MenuPanelWidth, &option, widget) + pixelMetric(PM_MenuHMargin, &option, widget);
    painter->fillRect(option.rect.x() + left, option.rect.y(), BandWidth(), option.rect.height(),
                      Role(palette, QPalette::Button));
}

BCMenu::Item BCMenu::Describe(const QStyleOptionMenuItem& option, const QWidget* widget) const {
    Item item;
    item.rect = option.rect;
    item.palette = option.palette;
    item.text = option.text;
    item.font = ItemFont(option);
    item.separator = option.menuItemType == QStyleOptionMenuItem::Separator;
    item.submenu = option.menuItemType == QStyleOptionMenuItem::SubMenu;
    item.enabled = option.state & State_Enabled;
    item.selected = option.state & State_Selected;
    item.ticked = option.checkType != QStyleOptionMenuItem::NotCheckable && option.checked;
    item.radio = option.checkType == QStyleOptionMenuItem::Exclusive;
    item.textFlags = Qt::AlignVCenter | Qt::TextSingleLine |
                     (proxy()->styleHint(SH_UnderlineShortcut, &option, widget) ? Qt::TextShowMnemonic
                                                                                : Qt::TextHideMnemonic);
    if (const auto* menu = qobject_cast<const QMenu*>(widget)) {
        if (const QAction* action = menu->actionAt(option.rect.center()))
            item.image = ImageOf(action);
        item.devicePixelRatio = menu->devicePixelRatio();
    }
    return item;
}

int BCMenu::ImageOf(const QAction* action) const {
    bool isId = false;
    const int commandId = action->data().toInt(&isId);
    return isId ? m_images.IndexOf(commandId) : -1;
}

void BCMenu::DrawItem(const QStyleOptionMenuItem& option, QPainter* painter, const QWidget* widget) const {
    const Item item = Describe(option, widget);
    painter->save();
    painter->setFont(item.font);
    if (m_look == Look::Flat)
        DrawFlat(item, painter);
    else
        DrawThreeD(item, painter);
    painter->restore();
}

void BCMenu::DrawThreeD(const Item& item, QPainter* painter) const {
    const QPalette& palette = item.palette;
    const QColor menu = Role(palette, QPalette::Window);
    const QRect& rect = item.rect;
    painter->fillRect(rect, menu);
    if (item.separator) {
        EtchedLine(painter, rect.x(), rect.x() + rect.width(), rect.y() + rect.height() / 2, palette);
        return;
    }
    const bool hasImage = item.image >= 0;
    if (item.selected) {
        QRect selection = rect;
        if (hasImage || item.ticked)
            selection.setLeft(rect.x() + kSelectionIndent);
        painter->fillRect(selection, Role(palette, QPalette::Highlight));
    }

    const int offset = std::max(0, (rect.height() - kBoxHeight) / 2);
    const QRect box(rect.x(), rect.y() + offset, kBoxWidth, kBoxHeight);
    const QPoint imageAt = box.topLeft() + QPoint(2, 2);
    const QColor light = Role(palette, QPalette::Light);
    const QColor dark = Role(palette, QPalette::Dark);
    if (hasImage && !item.enabled) {
        DrawEmbossedImage(item, painter, imageAt, menu);
    } else if (hasImage) {
        if (item.selected) {
            if (item.ticked)
                Frame3d(painter, box, dark, light);
            else
                Frame3d(painter, box, light, dark);
        } else if (item.ticked) {
            painter->fillRect(box, Lighten(menu, 0.6));
            Frame3d(painter, box, dark, light);
        }
        painter->drawImage(
            imageAt, m_images.Picture(item.image, BCMenuImages::Variant::Normal, item.devicePixelRatio));
    } else if (item.ticked) {
        const QColor mark = item.enabled ? Role(palette, QPalette::WindowText)
                                         : palette.color(QPalette::Disabled, QPalette::WindowText);
        DrawMark(painter, box, item.radio, mark);
    }

    if (!item.enabled)
        DrawText(item, painter, item.selected ? menu : QColor(), !item.selected);
    else
        DrawText(item, painter,
                 Role(palette, item.selected ? QPalette::HighlightedText : QPalette::WindowText), false);
}

void BCMenu::DrawFlat(const Item& item, QPainter* painter) const {
    const QPalette& palette = item.palette;
    const QRect& rect = item.rect;
    const int band = BandWidth();
    const QColor face = Role(palette, QPalette::Button);
    const QColor highlight = Role(palette, QPalette::Highlight);
    const QColor selectionColour = Lighten(highlight, 0.7);
    const QRect bandRect(rect.x(), rect.y(), band, rect.height());
    // A disabled item never looks selected here, even when the keyboard or the pointer is on it.
    const bool selected = item.selected && item.enabled;

    if (selected) {
        painter->fillRect(rect, selectionColour);
        Frame(painter, rect, highlight);
    } else {
        painter->fillRect(rect, Darken(Role(palette, QPalette::Base), 0.02));
        painter->fillRect(bandRect, face);
    }
    if (item.separator) {
        EtchedLine(painter, rect.x() + band + BandMargin(), rect.x() + rect.width(),
                   rect.y() + rect.height() / 2, palette);
        return;
    }

    const QRect box(rect.x() + 1, rect.y() + 1, band - 3, rect.height() - 2);
    const QPoint imageAt(rect.x() + std::max(0, static_cast<int>((band - kImageWidth) * 0.5 + 0.5)),
                         rect.y() +
                             std::max(0, static_cast<int>((rect.height() - kImageHeight) * 0.5 + 0.5)));
    const QPoint raised = imageAt - QPoint(1, 1);
    const QColor tickedFill = Lighten(highlight, selected ? 0.55 : 0.85);
    const auto picture = [&](BCMenuImages::Variant variant) {
        return m_images.Picture(item.image, variant, item.devicePixelRatio);
    };
    if (item.image >= 0 && !item.enabled) {
        DrawEmbossedImage(item, painter, imageAt, face);
    } else if (item.image >= 0 && item.ticked) {
        painter->fillRect(box, tickedFill);
        Frame(painter, box, highlight);
        painter->drawImage(raised, picture(BCMenuImages::Variant::Normal));
    } else if (item.image >= 0 && selected) {
        painter->fillRect(box, selectionColour);
        painter->drawImage(imageAt + QPoint(1, 1), picture(BCMenuImages::Variant::Shadow));
        painter->drawImage(raised, picture(BCMenuImages::Variant::Normal));
    } else if (item.image >= 0) {
        painter->fillRect(box, face);
        painter->drawImage(imageAt, picture(BCMenuImages::Variant::Faded));
    } else if (item.ticked) {
        painter->fillRect(box, tickedFill);
        Frame(painter, box, highlight);
        DrawMark(painter, box, item.radio,
                 item.enabled ? Role(palette, QPalette::WindowText)
                              : palette.color(QPalette::Disabled, QPalette::WindowText));
    }

    const QColor text = item.enabled ? Role(palette, QPalette::WindowText)
                                     : palette.color(QPalette::Disabled, QPalette::WindowText);
    DrawText(item, painter, text, false);
}

void BCMenu::DrawText(const Item& item, QPainter* painter, const QColor& colour, bool embossed) const {
    const QRect& rect = item.rect;
    const int indent = TextIndent();
    const QRect textRect(rect.x() + indent, rect.y() - 1, rect.width() - indent, rect.height());
    const QRect acceleratorRect = textRect.adjusted(0, 0, -kRightColumn, 0);
    const QString label = TextBeforeTab(item.text);
    const QString accelerator = TextAfterTab(item.text);
    const auto draw = [&](const QPoint& shift, const QColor& pen) {
        painter->setPen(pen);
        painter->drawText(textRect.translated(shift), item.textFlags | Qt::AlignLeft, label);
        if (!accelerator.isEmpty())
            painter->drawText(acceleratorRect.translated(shift), item.textFlags | Qt::AlignRight,
                              accelerator);
        if (item.submenu)
            DrawSubmenuArrow(painter, rect.translated(shift), pen);
    };
    if (embossed) {
        draw(QPoint(1, 1), Role(item.palette, QPalette::Light));
        draw(QPoint(0, 0), item.palette.color(QPalette::Disabled, QPalette::WindowText));
    } else {
        draw(QPoint(0, 0), colour);
    }
}

void BCMenu::DrawEmbossedImage(const Item& item, QPainter* painter, const QPoint& at,
                               const QColor& background) const {
    const QPalette& palette = item.palette;
    const QColor face = Role(palette, QPalette::Button);
    const QColor light = Role(palette, QPalette::Light);
    painter->fillRect(QRect(at, QSize(kImageWidth, kImageHeight)), background);
    painter->drawImage(at + QPoint(1, 1),
                       m_images.Ink(item.image, item.devicePixelRatio, face, light, light));
    painter->drawImage(
        at, m_images.Ink(item.image, item.devicePixelRatio, face, light, Role(palette, QPalette::Dark)));
}
