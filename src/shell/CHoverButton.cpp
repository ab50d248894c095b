#include "shell/CHoverButton.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {
// How long the mouse must rest before the button lights up.
constexpr int kHoverTimeMs = 1;
} // namespace

CHoverButton::CHoverButton(QWidget* parent) : QAbstractButton(parent) {
    setMouseTracking(true);
    // Keyboard users reach the buttons with Tab; a click does not take the focus away
    // from the tree.
    setFocusPolicy(Qt::TabFocus);
    m_hoverTimer.setSingleShot(true);
    m_hoverTimer.setInterval(kHoverTimeMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CHoverButton::BecomeHot);
    resize(0, 0);
}

QString CHoverButton::ResourcePath(int nBitmapId) {
    return QStringLiteral(":/images/taskbar_%1.png").arg(nBitmapId);
}

QString CHoverButton::ResourcePath2x(int nBitmapId) {
    return QStringLiteral(":/images/taskbar_%1@2x.png").arg(nBitmapId);
}

bool CHoverButton::LoadStates(int nBitmapId) {
    SetStates(QPixmap(ResourcePath(nBitmapId)), QPixmap(ResourcePath2x(nBitmapId)));
    return true;
}

void CHoverButton::SetStates(const QPixmap& states, const QPixmap& states2x) {
    m_bmpStates = states;
    m_bmpStates2x = states2x;
    if (!m_bmpStates2x.isNull())
        m_bmpStates2x.setDevicePixelRatio(2.0);
    m_sizeFrame = m_bmpStates.isNull() ? QSize(0, 0) : QSize(m_bmpStates.width() / 3, m_bmpStates.height());
    resize(m_sizeFrame);
    updateGeometry();
    update();
}

void CHoverButton::SetTip(const QString& strText, bool bActivate) {
    if (strText.isEmpty())
        return;
    setToolTip(bActivate ? strText : QString());
}

void CHoverButton::paintEvent(QPaintEvent*) {
    if (m_sizeFrame.isEmpty())
        return;
    int nFrame = 0;
    if (isDown())
        nFrame = 1;
    else if (m_bHot || HasVisibleFocus())
        nFrame = 2;
    const bool bUse2x = devicePixelRatioF() > 1.0 && !m_bmpStates2x.isNull();
    const QPixmap& bmp = bUse2x ? m_bmpStates2x : m_bmpStates;
    const qreal scale = bUse2x ? 2.0 : 1.0;
    const QRectF source(nFrame * m_sizeFrame.width() * scale, 0, m_sizeFrame.width() * scale,
                        m_sizeFrame.height() * scale);
    QPainter painter(this);
    painter.drawPixmap(QRectF(QPointF(0, 0), QSizeF(m_sizeFrame)), bmp, source);
}

void CHoverButton::Watch() {
    if (m_bWatching)
        return;
    m_bWatching = true;
    m_hoverTimer.start();
}

void CHoverButton::BecomeHot() {
    if (!m_bWatching || m_bHot)
        return;
    m_bHot = true;
    update();
}

void CHoverButton::enterEvent(QEnterEvent* event) {
    Watch();
    QAbstractButton::enterEvent(event);
}

// A button that appears under a resting mouse gets no enter event: the first move arms it.
void CHoverButton::mouseMoveEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint()))
        Watch();
    QAbstractButton::mouseMoveEvent(event);
}

void CHoverButton::leaveEvent(QEvent* event) {
    m_hoverTimer.stop();
    m_bWatching = false;
    m_bHot = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// Return presses the button as Space does, also where the window hands Space to another widget.
void CHoverButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        animateClick();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

// Focus that came from the keyboard looks like the mouse resting on the button, so that
// Tab shows where Return will act; focus a click or the window's activation gave stays unseen.
bool CHoverButton::HasVisibleFocus() const {
    return hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void CHoverButton::focusInEvent(QFocusEvent* event) {
    update();
    QAbstractButton::focusInEvent(event);
}

void CHoverButton::focusOutEvent(QFocusEvent* event) {
    update();
    QAbstractButton::focusOutEvent(event);
}
