#include "shell/CTaskBar.h"

#include "shell/CHoverButton.h"

#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <iterator>

namespace {

// The dialog template the bar's size comes from, in dialog units.
constexpr int kTemplateWidthDu = 109;
constexpr int kTemplateHeightDu = 166;

constexpr int kPanelBitmapId = 158;
constexpr QRect kPanelRect(6, 15, 153, 227);

const QColor kGradientTop(221, 236, 255);
const QColor kGradientBottom(74, 122, 201);

struct ButtonLayout {
    int nId;
    const char* pszText;
    QPoint ptTopLeft;
    int nBitmapId;
    const char* pszTip;
};

// In creation order, which is also the order Tab walks them.
constexpr ButtonLayout kButtons[] = {
    {CTaskBar::IdUpdateAll,
     "Update All Feeds",
     {26, 95},
     145,
     "Update all feeds include those in subfolders"},
    {CTaskBar::IdUpdateMarked,
     "Update Marked Feeds",
     {26, 110},
     146,
     "Update marked feeds and/or folders only"},
    {CTaskBar::IdUpdateCurrent,
     "Update Current Feed",
     {26, 125},
     150,
     "Update current selected feed or folder only"},
    {CTaskBar::IdImportOpml, "Import OPML", {26, 140}, 148, "Import subscriptions from an OPML file"},
    {CTaskBar::IdExportOpml, "Export OPML", {26, 155}, 147, "Export subscriptions into an OPML file"},
    {CTaskBar::IdSendTo,
     "Send To",
     {26, 185},
     157,
     "Send the updated feeds to a mobile phone or the file system"},
    {CTaskBar::IdSyncOff,
     "Synchronize Channels",
     {26, 215},
     149,
     "Check if you also want to update the subscriptions to the mobile phone"},
    {CTaskBar::IdSyncOn,
     "Synchronize Channels",
     {26, 215},
     152,
     "Check if you also want to update the subscriptions to the mobile phone"},
};

// Dialog units convert through the dialog font's average character width and height,
// the way dialog templates are laid out.
int HorizontalBaseUnit(const QFontMetrics& fm) {
    const int nAlphabet =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return (nAlphabet / 26 + 1) / 2;
}

int MulDivRound(int a, int b, int c) {
    return (a * b + c / 2) / c;
}

// The keys a focused button answers itself: moving the focus, pressing it, and the
// modifiers on their own, which must not pull the focus away before Shift+Tab.
bool ButtonKeepsKey(int nKey) {
    switch (nKey) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return true;
    default:
        return false;
    }
}

// The bar as a screen reader sees it: its buttons that are not hidden, so that the switch's
// hidden twin does not show up beside it.
class TaskBarAccessible : public QAccessibleWidget {
public:
    explicit TaskBarAccessible(QWidget* bar) : QAccessibleWidget(bar) {}

    int childCount() const override { return int(Shown().size()); }
    QAccessibleInterface* child(int index) const override {
        QObject* pChild = Shown().value(index);
        return pChild ? QAccessible::queryAccessibleInterface(pChild) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(Shown().indexOf(child->object())) : -1;
    }

private:
    QObjectList Shown() const {
        QObjectList shown;
        for (QObject* pChild : widget()->children()) {
            const auto* pWidget = qobject_cast<QWidget*>(pChild);
            if (pWidget && !pWidget->isWindow() && !pWidget->isHidden())
                shown << pChild;
        }
        return shown;
    }
};

QAccessibleInterface* TaskBarAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("CTaskBar") && object && object->isWidgetType())
        return new TaskBarAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

CTaskBar::CTaskBar(QWidget* parent) : QWidget(parent) {
    static const bool bFactoryInstalled = [] {
        QAccessible::installFactory(TaskBarAccessibleFactory);
        return true;
    }();
    Q_UNUSED(bFactoryInstalled);
    // Everything is painted in one pass from an off-screen picture: no background erase.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);

    CHoverButton** members[] = {&m_pUpdateAll,  &m_pUpdateMarked, &m_pUpdateCurrent, &m_pImportOpml,
                                &m_pExportOpml, &m_pSendTo,       &m_pSyncOff,       &m_pSyncOn};
    for (int i = 0; i < int(std::size(kButtons)); ++i) {
        const ButtonLayout& layout = kButtons[i];
        auto* pButton = new CHoverButton(this);
        pButton->setObjectName(QStringLiteral("button%1").arg(layout.nId));
        pButton->setText(QString::fromLatin1(layout.pszText));
        // Before anything asks for its accessible interface, which takes its role from this.
        pButton->setCheckable(layout.nId == IdSyncOff || layout.nId == IdSyncOn);
        pButton->setAccessibleName(pButton->text());
        pButton->move(layout.ptTopLeft);
        pButton->LoadStates(layout.nBitmapId);
        pButton->SetTip(QString::fromLatin1(layout.pszTip), true);
        pButton->installEventFilter(this);
        *members[i] = pButton;
    }

    connect(m_pUpdateAll, &QAbstractButton::clicked, this, &CTaskBar::updateAllClicked);
    connect(m_pUpdateMarked, &QAbstractButton::clicked, this, &CTaskBar::updateMarkedClicked);
    connect(m_pUpdateCurrent, &QAbstractButton::clicked, this, &CTaskBar::updateCurrentClicked);
    connect(m_pImportOpml, &QAbstractButton::clicked, this, &CTaskBar::importClicked);
    connect(m_pExportOpml, &QAbstractButton::clicked, this, &CTaskBar::exportClicked);
    connect(m_pSendTo, &QAbstractButton::clicked, this, &CTaskBar::sendToClicked);
    // The switch is one check box to a screen reader: the shown button, checked when it is
    // the ticked one. Either button toggles to the flag's new value, whether clicked or
    // toggled through accessibility, and the pair then shows the state anew.
    connect(m_pSyncOff, &QAbstractButton::toggled, this, &CTaskBar::OnSyncClicked);
    connect(m_pSyncOn, &QAbstractButton::toggled, this, &CTaskBar::OnSyncClicked);

    // The flag is off until the view says otherwise.
    UpdateSyncButtons(false);

    SetPanel(QPixmap(CHoverButton::ResourcePath(kPanelBitmapId)),
             QPixmap(CHoverButton::ResourcePath2x(kPanelBitmapId)));
    setFixedWidth(BarWidth());
}

CTaskBar::~CTaskBar() = default;

CHoverButton* CTaskBar::Button(int nId) const {
    return findChild<CHoverButton*>(QStringLiteral("button%1").arg(nId), Qt::FindDirectChildrenOnly);
}

QPoint CTaskBar::SendToMenuPos() const {
    return m_pSendTo->pos();
}

int CTaskBar::BarWidth() const {
    const int nWidth = MulDivRound(kTemplateWidthDu, HorizontalBaseUnit(fontMetrics()), 4);
    return std::max(nWidth, kPanelRect.right() + 1);
}

QSize CTaskBar::sizeHint() const {
    const int nHeight = MulDivRound(kTemplateHeightDu, fontMetrics().height(), 8);
    return {BarWidth(), std::max(nHeight, minimumSizeHint().height())};
}

QSize CTaskBar::minimumSizeHint() const {
    return {BarWidth(), kPanelRect.bottom() + 1};
}

void CTaskBar::SetPanel(const QPixmap& panel, const QPixmap& panel2x) {
    m_bmpPanel = panel;
    m_bmpPanel2x = panel2x;
    if (!m_bmpPanel2x.isNull())
        m_bmpPanel2x.setDevicePixelRatio(2.0);
    update();
}

void CTaskBar::SetPrompt(int nId, const QString& strPrompt) {
    CHoverButton* pButton = Button(nId);
    if (pButton && pButton->toolTip().isEmpty())
        pButton->SetTip(strPrompt, true);
}

void CTaskBar::SetKeyTarget(QWidget* pTarget) {
    m_pKeyTarget = pTarget;
}

bool CTaskBar::eventFilter(QObject* watched, QEvent* event) {
    if (!m_pKeyTarget)
        return QWidget::eventFilter(watched, event);
    bool bHandOver = false;
    if (event->type() == QEvent::KeyPress)
        bHandOver = !ButtonKeepsKey(static_cast<QKeyEvent*>(event)->key());
    else if (event->type() == QEvent::ContextMenu) {
        // The menu key reaches the focus as a context menu event before its key press.
        bHandOver = static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard;
    }
    if (!bHandOver)
        return QWidget::eventFilter(watched, event);
    // The target takes the focus, so that the key's release and the keys after it go there too.
    m_pKeyTarget->setFocus(Qt::OtherFocusReason);
    if (event->type() == QEvent::ContextMenu) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), m_pKeyTarget->mapToGlobal(QPoint()));
        QCoreApplication::sendEvent(m_pKeyTarget, &menu);
    } else {
        QCoreApplication::sendEvent(m_pKeyTarget, event);
    }
    return true;
}

void CTaskBar::UpdateSyncButtons(bool bSyncChannels) {
    CHoverButton* pShown = bSyncChannels ? m_pSyncOn : m_pSyncOff;
    CHoverButton* pHidden = bSyncChannels ? m_pSyncOff : m_pSyncOn;
    for (CHoverButton* pButton : {m_pSyncOff, m_pSyncOn}) {
        const QSignalBlocker blocker(pButton);
        pButton->setChecked(pButton == m_pSyncOn);
    }
    const bool bHadFocus = pHidden->hasFocus();
    pHidden->setEnabled(false);
    pHidden->hide();
    pShown->setEnabled(true);
    pShown->show();
    // A keyboard user who toggled the switch keeps it under the focus.
    if (bHadFocus)
        pShown->setFocus(Qt::TabFocusReason);
}

void CTaskBar::OnSyncClicked(bool bSyncChannels) {
    UpdateSyncButtons(bSyncChannels);
    emit syncToggled(bSyncChannels);
}

void CTaskBar::paintEvent(QPaintEvent*) {
    const qreal dpr = devicePixelRatioF();
    QPixmap offscreen(size() * dpr);
    if (offscreen.isNull())
        return;
    offscreen.setDevicePixelRatio(dpr);
    {
        QPainter painter(&offscreen);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0.0, kGradientTop);
        gradient.setColorAt(1.0, kGradientBottom);
        painter.fillRect(rect(), gradient);
        const QPixmap& panel = (dpr > 1.0 && !m_bmpPanel2x.isNull()) ? m_bmpPanel2x : m_bmpPanel;
        if (!panel.isNull())
            painter.drawPixmap(kPanelRect, panel);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, offscreen);
}

void CTaskBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        setFixedWidth(BarWidth());
        updateGeometry();
    }
    QWidget::changeEvent(event);
}
