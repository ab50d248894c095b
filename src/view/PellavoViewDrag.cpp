// Drag and drop inside the tree: a node moves with its subtree onto a group, as its
// last child, or directly after a feed. Built on the view's own mouse events and
// timers rather than Qt's item-view drag and drop, whose rules differ.
#include "view/CPellavoView.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>

#include <chrono>
#include <utility>

namespace {

// A drag that follows its press this quickly is taken for a slip of the hand.
constexpr quint32 kMinDragDelayMs = 60;
// Where the pointer is in the drag image.
constexpr QPoint kHotSpot(8, 8);
constexpr int kIconSize = 16;
// A release this close to the tree's left edge moves nothing.
constexpr int kNoDropMargin = 20;
// Auto-scroll: the height of the bands inside the top and bottom edges, the distance
// over which the speed goes up by one step, and the slowest period in ticks.
constexpr int kScrollBand = 10;
constexpr int kScrollStep = 20;
constexpr int kSlowestPeriod = 6;

quint32 TickCount() {
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The node's icon and label, a little transparent, in a widget over the tree.
std::unique_ptr<QLabel> MakeDragImage(const QTreeWidgetItem* node, QWidget* parent) {
    const QString text = node->text(0);
    const QFontMetrics metrics(parent->font());
    const int textLeft = kIconSize + 4;
    const QSize size(textLeft + metrics.horizontalAdvance(text) + 2, qMax(kIconSize, metrics.height()));
    const qreal ratio = parent->devicePixelRatioF();
    QPixmap pixmap(size * ratio);
    if (pixmap.isNull())
        return nullptr;
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setOpacity(0.75);
        node->icon(0).paint(&painter, QRect(0, 0, kIconSize, kIconSize));
        painter.setFont(parent->font());
        painter.setPen(parent->palette().color(QPalette::Text));
        painter.drawText(QRect(textLeft, 0, size.width() - textLeft, size.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    auto image = std::make_unique<QLabel>(parent);
    image->setObjectName(QStringLiteral("dragImage"));
    image->setAttribute(Qt::WA_TransparentForMouseEvents);
    image->setPixmap(pixmap);
    image->resize(size);
    return image;
}

} // namespace

void CPellavoView::OnLButtonDown() {
    m_dwButtonDownTime = TickCount();
}

bool CPellavoView::DragGestureMove(const QPoint& pos, Qt::MouseButtons buttons) {
    if (m_bDragging) {
        // The release went to another window: the view lost the mouse.
        if (!(buttons & Qt::LeftButton)) {
            CancelDrag();
            return true;
        }
        OnMouseMove(pos);
        return true;
    }
    if (m_pressGesture == PressGesture::None)
        return false;
    if (!(buttons & Qt::LeftButton)) {
        m_pressGesture = PressGesture::None;
        return false;
    }
    if (m_pressGesture == PressGesture::MayDrag &&
        (pos - m_ptButtonDown).manhattanLength() >= QApplication::startDragDistance()) {
        // One try per gesture: a refused drag does not start later in the same gesture.
        m_pressGesture = PressGesture::NoDrag;
        if (QTreeWidgetItem* node = itemFromIndex(m_dragCandidate))
            OnTreeBeginDrag(node, m_ptButtonDown);
        OnMouseMove(pos);
    }
    return true;
}

void CPellavoView::OnTreeBeginDrag(QTreeWidgetItem* node, const QPoint& start) {
    if (quint32(TickCount() - m_dwButtonDownTime) < kMinDragDelayMs)
        return;
    m_hDragItem = node;
    m_hDropTarget = nullptr;
    if (!node || !node->parent())
        return;
    std::unique_ptr<QLabel> image = MakeDragImage(node, this);
    if (!image)
        return;
    m_bDragging = true;
    m_pDragImage = std::move(image);
    m_pDragImage->move(viewport()->mapTo(this, start) - kHotSpot);
    m_pDragImage->show();
    m_pDragImage->raise();
    viewport()->grabMouse();
    // Moves without a button come too, so that a release lost elsewhere ends the drag.
    m_bTrackedBeforeDrag = viewport()->hasMouseTracking();
    viewport()->setMouseTracking(true);
    m_nScrollTimer.start();
}

void CPellavoView::OnMouseMove(const QPoint& pos) {
    if (!m_bDragging)
        return;
    m_nHoverTimer.start();
    m_ptLastMouse = pos;
    m_pDragImage->move(viewport()->mapTo(this, pos) - kHotSpot);
    // Over empty space the last target stays.
    if (QTreeWidgetItem* node = NodeAt(pos)) {
        SetDropHighlight(node);
        m_hDropTarget = node;
    }
    if (pos.x() < kNoDropMargin)
        m_hDropTarget = nullptr;
}

QTreeWidgetItem* CPellavoView::NodeAt(const QPoint& pos) const {
    QTreeWidgetItem* node = nullptr;
    if (viewport()->rect().contains(pos))
        HitTest(pos, &node);
    return node;
}

void CPellavoView::OnHoverTimer() {
    m_nHoverTimer.stop();
    QTreeWidgetItem* node = NodeAt(m_ptLastMouse);
    if (node && m_bDragging) {
        setCurrentItem(node);
        node->setExpanded(true);
    }
}

void CPellavoView::OnScrollTimer() {
    if (!m_bDragging) {
        m_nScrollTimer.stop();
        return;
    }
    // Another widget took the mouse, so the release will never come here.
    if (QWidget::mouseGrabber() != viewport()) {
        CancelDrag();
        return;
    }
    ++m_nScrollTicks;
    const int y = m_ptLastMouse.y();
    const int bottom = viewport()->height();
    int distance = 0;
    bool up = false;
    if (y < kScrollBand) {
        distance = kScrollBand - y;
        up = true;
    } else if (y > bottom - kScrollBand) {
        distance = y - (bottom - kScrollBand);
    } else {
        return;
    }
    const int period = qMax(1, kSlowestPeriod - distance / kScrollStep);
    if (m_nScrollTicks % period != 0)
        return;
    QTreeWidgetItem* first = NodeAt(QPoint(0, 0));
    verticalScrollBar()->triggerAction(up ? QAbstractSlider::SliderSingleStepSub
                                          : QAbstractSlider::SliderSingleStepAdd);
    if (up) {
        SetDropHighlight(first);
        m_hDropTarget = first;
        return;
    }
    // The node that was the last fully visible row before the scroll.
    const int rowHeight = first ? visualItemRect(first).height() : 0;
    const int visible = rowHeight > 0 ? bottom / rowHeight : 0;
    QTreeWidgetItem* node = first;
    for (int i = 1; node && i < visible; ++i)
        node = itemBelow(node);
    if (node)
        SetDropHighlight(node);
    m_hDropTarget = node;
}

void CPellavoView::OnLButtonUp() {
    if (!m_bDragging)
        return;
    EndDragDisplay();
    m_nScrollTimer.stop();
    QTreeWidgetItem* dragged = std::exchange(m_hDragItem, nullptr);
    QTreeWidgetItem* target = std::exchange(m_hDropTarget, nullptr);
    if (!target || target == dragged)
        return;
    target->setExpanded(true);
    // Never into the dragged node's own subtree.
    for (const QTreeWidgetItem* up = target; up; up = up->parent()) {
        if (up == dragged)
            return;
    }
    COutlineItem* moved = ItemOf(dragged);
    COutlineItem* onto = ItemOf(target);
    QTreeWidgetItem* parent = target->parent();
    if (!moved || !moved->m_pParent || !onto || (onto->IsFeed() && !ItemOf(parent)))
        return;
    moved->m_pParent->RemoveChild(moved);
    // The nodes move as they stand rather than being rebuilt from the model's links, which
    // Sort By Name leaves in their old order. They arrive unmarked, as new nodes would.
    QTreeWidgetItem* from = dragged->parent();
    QTreeWidgetItem* node = from->takeChild(from->indexOfChild(dragged));
    SetMark(node, Unmarked);
    if (onto->IsFeed()) {
        ItemOf(parent)->InsertChildAfter(moved, onto);
        parent->insertChild(parent->indexOfChild(target) + 1, node);
        setCurrentItem(node);
    } else {
        onto->AppendChild(moved);
        target->addChild(node);
    }
    node->setExpanded(true);
    SaveChannel();
}

void CPellavoView::CancelDrag() {
    if (!m_bDragging)
        return;
    EndDragDisplay();
    m_nScrollTimer.stop();
    m_hDragItem = nullptr;
    m_hDropTarget = nullptr;
}

void CPellavoView::EndDragDisplay() {
    m_bDragging = false;
    m_nHoverTimer.stop();
    m_pDragImage.reset();
    if (QWidget::mouseGrabber() == viewport())
        viewport()->releaseMouse();
    viewport()->setMouseTracking(m_bTrackedBeforeDrag);
    SetDropHighlight(nullptr);
}

void CPellavoView::SetDropHighlight(QTreeWidgetItem* node) {
    const QModelIndex index = node ? indexFromItem(node) : QModelIndex();
    if (index == m_dropHighlight)
        return;
    const QModelIndex previous = m_dropHighlight;
    m_dropHighlight = index;
    if (previous.isValid())
        update(previous);
    if (index.isValid())
        update(index);
}

QTreeWidgetItem* CPellavoView::DropHighlight() const {
    return itemFromIndex(m_dropHighlight);
}

const QWidget* CPellavoView::DragImage() const {
    return m_pDragImage.get();
}

void CPellavoView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // While dragging only the pointer scrolls: the tree's own scrolling to the
    // current node (after a press, on a hover selection) would pull the view away.
    if (m_bDragging)
        return;
    QTreeWidget::scrollTo(index, hint);
}
