#include "view/CPellavoView.h"

#include "view/Commands.h"

#include "model/PellavoDoc.h"
#include "model/TextConv.h"
#include "shell/BCMenu.h"
#include "shell/WarningBox.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStyledItemDelegate>

#include <utility>
#include <vector>

// A tree node: carries a pointer to its outline item, which the document owns.
class OutlineNode : public QTreeWidgetItem {
public:
    static constexpr int NodeType = QTreeWidgetItem::UserType + 1;
    explicit OutlineNode(COutlineItem* item) : QTreeWidgetItem(NodeType), m_pItem(item) {}
    // The order of Sort By Name, which the tree's own stable sort of a level uses.
    bool operator<(const QTreeWidgetItem& other) const override {
        return CPellavoView::CompareByName(this, &other) < 0;
    }
    COutlineItem* const m_pItem;
};

// The standard delegate, with the layout of a row's check box, icon and text
// made available to the view's hit-test, and the drop target of a drag drawn as selected.
class MarkDelegate : public QStyledItemDelegate {
public:
    explicit MarkDelegate(CPellavoView* view) : QStyledItemDelegate(view), m_pView(view) {}
    void Prepare(QStyleOptionViewItem* option, const QModelIndex& index) const {
        initStyleOption(option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (m_pView->IsDropHighlight(index))
            option->state |= QStyle::State_Selected;
    }

private:
    const CPellavoView* m_pView;
};

namespace {

using Handler = void (CPellavoView::*)();

// The handler of each command of the table.
const QHash<int, Handler>& CommandHandlers() {
    static const QHash<int, Handler> handlers = {
        {ID_PROPERTIES, &CPellavoView::OnProperties},
        {ID_NEW_GROUP, &CPellavoView::OnNewGroup},
        {ID_NEW_FEED, &CPellavoView::OnNewFeed},
        {ID_TREE_CUT, &CPellavoView::OnTreeCut},
        {ID_TREE_COPY, &CPellavoView::OnTreeCopy},
        {ID_TREE_PASTE, &CPellavoView::OnTreePaste},
        {ID_TREE_DELETE, &CPellavoView::OnTreeDelete},
        {ID_SORT_BY_NAME, &CPellavoView::OnSortByName},
        {ID_EDIT_CUT, &CPellavoView::OnEditCut},
        {ID_EDIT_COPY, &CPellavoView::OnEditCopy},
        {ID_EDIT_PASTE, &CPellavoView::OnEditPaste},
        {ID_EDIT_UNDO, &CPellavoView::OnEditUndo},
        {ID_IMPORT_OPML, &CPellavoView::OnImportOpml},
        {ID_EXPORT_OPML, &CPellavoView::OnExportOpml},
        {ID_UPDATE_ALL, &CPellavoView::OnUpdateAll},
        {ID_UPDATE_MARKED, &CPellavoView::OnUpdateMarked},
        {ID_UPDATE_CURRENT, &CPellavoView::OnUpdateCurrent},
        {ID_OPTIONS, &CPellavoView::OnOptions},
        {ID_SEND_TO, &CPellavoView::OnSendTo},
        {ID_DELIVER_NOW, &CPellavoView::OnDeliverNow},
        {ID_DELIVERY, &CPellavoView::OnDelivery},
        {ID_HELP_CONTENTS, &CPellavoView::OnHelpContents},
    };
    return handlers;
}

Qt::CheckState CheckStateOf(CPellavoView::Mark mark) {
    switch (mark) {
    case CPellavoView::Marked:
        return Qt::Checked;
    case CPellavoView::Mixed:
        return Qt::PartiallyChecked;
    case CPellavoView::Unmarked:
        break;
    }
    return Qt::Unchecked;
}

} // namespace

CPellavoView::CPellavoView(CPellavoDoc* doc, QWidget* parent, UpdateController* update)
    : QTreeWidget(parent), m_pDoc(doc), m_pDelegate(new MarkDelegate(this)), m_pUpdate(update) {
    setColumnCount(1);
    // Hidden, yet what a screen reader calls the column.
    setHeaderLabel(QStringLiteral("Name"));
    setHeaderHidden(true);
    setAccessibleName(QStringLiteral("Subscriptions"));
    header()->setStretchLastSection(true);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setItemDelegate(m_pDelegate);

    m_iconGroup.addFile(QStringLiteral(":/images/tree_group_closed.png"), QSize(), QIcon::Normal);
    m_iconGroup.addFile(QStringLiteral(":/images/tree_group_open.png"), QSize(), QIcon::Selected);
    m_iconFeed.addFile(QStringLiteral(":/images/tree_feed.png"), QSize(), QIcon::Normal);
    m_iconFeed.addFile(QStringLiteral(":/images/tree_feed.png"), QSize(), QIcon::Selected);

    for (const CommandInfo& info : CommandTable()) {
        // The text after the tab is the shortcut's, which the menu shows from the action's
        // shortcut and a screen reader reads apart from the item's name.
        auto* action = new QAction(info.text.section(QLatin1Char('\t'), 0, 0), this);
        // The menus' look finds the command's picture through the id.
        action->setData(info.id);
        action->setStatusTip(info.prompt);
        action->setShortcuts(info.shortcuts);
        // The accelerators work anywhere in the main window, as its menu's would.
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, id = info.id] { RunCommand(id); });
        if (!info.shortcuts.isEmpty())
            addAction(action);
        m_actions.insert(info.id, action);
    }
    m_nHoverTimer.setSingleShot(true);
    m_nHoverTimer.setInterval(200);
    connect(&m_nHoverTimer, &QTimer::timeout, this, &CPellavoView::OnHoverTimer);
    m_nScrollTimer.setInterval(20);
    connect(&m_nScrollTimer, &QTimer::timeout, this, &CPellavoView::OnScrollTimer);
    connect(this, &QTreeWidget::currentItemChanged, this, &CPellavoView::UpdateCommandUI);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CPellavoView::UpdateCommandUI);
    UpdateCommandUI();
    AttachUpdates();
}

CPellavoView::~CPellavoView() {
    DetachUpdates();
    ClearTree();
}

QAction* CPellavoView::Action(int commandId) const {
    return m_actions.value(commandId);
}

void CPellavoView::UpdateCommandUI() {
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it)
        it.value()->setEnabled(IsCommandEnabled(it.key()));
}

bool CPellavoView::IsCommandEnabled(int commandId) const {
    return CommandHandlers().contains(commandId) && CommandRuleAllows(commandId);
}

bool CPellavoView::CommandRuleAllows(int commandId) const {
    const COutlineItem* current = ItemOf(m_hCurrentItem);
    const bool currentIsGroup = current && !current->IsFeed();
    const bool currentHasParent = current && m_hCurrentItem->parent();
    const QTreeWidgetItem* selected = SelectedNode();
    const COutlineItem* selectedItem = ItemOf(selected);
    switch (commandId) {
    case ID_NEW_GROUP:
    case ID_NEW_FEED:
        return currentIsGroup;
    case ID_TREE_PASTE:
        return currentIsGroup && m_pClipItem;
    case ID_TREE_CUT:
    case ID_TREE_COPY:
    case ID_TREE_DELETE:
    case ID_PROPERTIES:
        return currentHasParent;
    case ID_SORT_BY_NAME:
        return current != nullptr;
    case ID_EDIT_CUT:
    case ID_EDIT_COPY:
        return selectedItem && selected->parent();
    case ID_EDIT_PASTE:
        return selectedItem && !selectedItem->IsFeed() && m_pClipItem;
    case ID_EDIT_UNDO:
        return m_nBackupCount != 0;
    case ID_UPDATE_CURRENT:
        return selected != nullptr;
    default:
        return true;
    }
}

void CPellavoView::RunCommand(int commandId) {
    RunGuarded(commandId, [this, commandId] { (this->*CommandHandlers().value(commandId))(); });
}

void CPellavoView::RunSendTo(QWidget* owner, const QPoint& pos) {
    RunGuarded(ID_SEND_TO, [&] { SendTo(owner, pos); });
}

void CPellavoView::RunGuarded(int commandId, const std::function<void()>& handler) {
    // A shortcut, a button or a stale menu must never run a command that is disabled now.
    if (!IsCommandEnabled(commandId))
        return;
    // A command may remove or replace the nodes that a drag holds.
    CancelDrag();
    handler();
    UpdateCommandUI();
    // Whatever the command showed and wherever it came from, the keys go on acting on
    // the tree; in a window that a dialog still covers, once the window is active again.
    setFocus(Qt::OtherFocusReason);
}

QTreeWidgetItem* CPellavoView::MakeNode(COutlineItem* item) const {
    auto* node = new OutlineNode(item);
    node->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    node->setText(0, LabelOf(item));
    node->setIcon(0, item->IsFeed() ? m_iconFeed : m_iconGroup);
    node->setCheckState(0, CheckStateOf(Unmarked));
    return node;
}

QTreeWidgetItem* CPellavoView::InsertItemTree(COutlineItem* item, QTreeWidgetItem* parent) {
    if (!item)
        return nullptr;
    QTreeWidgetItem* top = BuildNodeTree(item);
    if (parent)
        parent->addChild(top);
    else
        addTopLevelItem(top);
    return top;
}

QTreeWidgetItem* CPellavoView::BuildNodeTree(COutlineItem* item) const {
    // The subtree is built detached and inserted whole, so the tree's model hears of
    // one insertion instead of one per node.
    QTreeWidgetItem* top = MakeNode(item);
    std::vector<std::pair<const COutlineItem*, QTreeWidgetItem*>> pending{{item, top}};
    while (!pending.empty()) {
        const auto [source, node] = pending.back();
        pending.pop_back();
        QList<QTreeWidgetItem*> children;
        for (COutlineItem* child = source->m_pFirstChild; child; child = child->m_pNext) {
            QTreeWidgetItem* childNode = MakeNode(child);
            children.append(childNode);
            pending.emplace_back(child, childNode);
        }
        node->addChildren(children);
    }
    return top;
}

void CPellavoView::PopulateTree() {
    if (QTreeWidgetItem* root = InsertItemTree(m_pDoc->m_pRoot.get(), nullptr))
        root->setExpanded(true);
}

QTreeWidgetItem* CPellavoView::RootNode() const {
    return topLevelItemCount() ? topLevelItem(0) : nullptr;
}

QTreeWidgetItem* CPellavoView::SelectedNode() const {
    QTreeWidgetItem* node = currentItem();
    return node && node->isSelected() ? node : nullptr;
}

COutlineItem* CPellavoView::ItemOf(const QTreeWidgetItem* node) {
    if (!node || node->type() != OutlineNode::NodeType)
        return nullptr;
    return static_cast<const OutlineNode*>(node)->m_pItem;
}

QString CPellavoView::LabelOf(const COutlineItem* item) {
    return Utf8ToAnsi(LabelBytes(item));
}

const char* CPellavoView::LabelBytes(const COutlineItem* item) {
    for (const char* candidate : {item->m_pszTitle, item->m_pszText, item->m_pszXmlUrl}) {
        if (candidate && *candidate)
            return candidate;
    }
    return "(untitled)";
}

void CPellavoView::ClearTree() {
    CancelDrag();
    m_hCurrentItem = nullptr;
    m_pressedMark = QPersistentModelIndex();
    while (topLevelItemCount())
        DestroyNodeTree(topLevelItem(topLevelItemCount() - 1));
}

void CPellavoView::DestroyNodeTree(QTreeWidgetItem* top) {
    const auto inside = [top](const QTreeWidgetItem* node) {
        for (; node; node = node->parent()) {
            if (node == top)
                return true;
        }
        return false;
    };
    if (m_bDragging)
        CancelDrag();
    for (QTreeWidgetItem** held : {&m_hCurrentItem, &m_hDragItem, &m_hDropTarget}) {
        if (inside(*held))
            *held = nullptr;
    }
    QTreeWidgetItem* parent = top->parent();
    QTreeWidgetItem* node =
        parent ? parent->takeChild(parent->indexOfChild(top)) : takeTopLevelItem(indexOfTopLevelItem(top));
    // Qt deletes a node's children recursively, and taking a node out walks its
    // whole subtree: delete from the bottom, always the last child of a node that
    // has no children left, so that deep or wide trees cost neither stack nor time.
    while (node) {
        if (node->childCount()) {
            node = node->child(node->childCount() - 1);
            continue;
        }
        QTreeWidgetItem* above = node->parent();
        if (above)
            above->takeChild(above->childCount() - 1);
        delete node;
        node = above;
    }
}

CPellavoView::Mark CPellavoView::GetMark(const QTreeWidgetItem* node) {
    switch (node->checkState(0)) {
    case Qt::Checked:
        return Marked;
    case Qt::PartiallyChecked:
        return Mixed;
    case Qt::Unchecked:
        break;
    }
    return Unmarked;
}

void CPellavoView::SetMark(QTreeWidgetItem* node, Mark mark) {
    const Qt::CheckState state = CheckStateOf(mark);
    node->setCheckState(0, state);
    if (mark == Mixed)
        return;
    std::vector<QTreeWidgetItem*> pending{node};
    while (!pending.empty()) {
        QTreeWidgetItem* current = pending.back();
        pending.pop_back();
        for (int i = 0; i < current->childCount(); ++i) {
            QTreeWidgetItem* child = current->child(i);
            child->setCheckState(0, state);
            pending.push_back(child);
        }
    }
}

void CPellavoView::UpdateAncestorMarks(QTreeWidgetItem* node) {
    for (; node && node->childCount(); node = node->parent()) {
        int unmarked = 0;
        int marked = 0;
        int mixed = 0;
        for (int i = 0; i < node->childCount(); ++i) {
            switch (GetMark(node->child(i))) {
            case Unmarked:
                ++unmarked;
                break;
            case Marked:
                ++marked;
                break;
            case Mixed:
                ++mixed;
                break;
            }
        }
        if (marked == 0 && mixed == 0)
            SetMark(node, Unmarked);
        else if (unmarked == 0 && mixed == 0)
            SetMark(node, Marked);
        else
            SetMark(node, Mixed);
    }
}

void CPellavoView::ToggleMark(QTreeWidgetItem* node) {
    SetMark(node, GetMark(node) == Unmarked ? Marked : Unmarked);
    if (QTreeWidgetItem* parent = node->parent())
        UpdateAncestorMarks(parent);
}

void CPellavoView::CollectFeeds(const QTreeWidgetItem* node) {
    CollectLeaves(node, false);
}

void CPellavoView::CollectMarkedFeeds(const QTreeWidgetItem* node) {
    CollectLeaves(node, true);
}

void CPellavoView::CollectLeaves(const QTreeWidgetItem* node, bool markedOnly) {
    if (!node)
        return;
    // Depth first in tree order: each entry is a node and the next child to visit.
    std::vector<std::pair<const QTreeWidgetItem*, int>> pending{{node, 0}};
    while (!pending.empty()) {
        auto& [current, next] = pending.back();
        if (current->childCount() == 0) {
            const COutlineItem* item = ItemOf(current);
            if (item && item->m_pszXmlUrl && (!markedOnly || GetMark(current) == Marked))
                m_lstFeedUrls.append(QByteArray(item->m_pszXmlUrl));
            pending.pop_back();
        } else if (next < current->childCount()) {
            const QTreeWidgetItem* child = current->child(next++);
            pending.emplace_back(child, 0);
        } else {
            pending.pop_back();
        }
    }
}

CPellavoView::HitPart CPellavoView::HitTest(const QPoint& pos, QTreeWidgetItem** nodeOut) const {
    *nodeOut = nullptr;
    // Find the row first, whatever part of it the point is on (the indent and the
    // expand button lie outside the cell).
    const int insideRow = header()->sectionViewportPosition(0) + header()->sectionSize(0) - 1;
    const QModelIndex index = indexAt(QPoint(insideRow, pos.y()));
    QTreeWidgetItem* node = itemFromIndex(index);
    if (!node)
        return HitPart::Nowhere;
    *nodeOut = node;

    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    m_pDelegate->Prepare(&option, index);
    QStyle* st = style();
    if (st->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this).contains(pos))
        return HitPart::StateIcon;
    if (st->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this).contains(pos))
        return HitPart::Icon;
    QRect label = st->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    const int margin = st->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, this) + 1;
    label.setWidth(qMin(label.width(), option.fontMetrics.horizontalAdvance(option.text) + 2 * margin));
    return label.contains(pos) ? HitPart::Label : HitPart::Elsewhere;
}

void CPellavoView::OnTreeClick(const QPoint& pos) {
    QTreeWidgetItem* node = nullptr;
    if (HitTest(pos, &node) == HitPart::StateIcon)
        ToggleMark(node);
}

void CPellavoView::OnTreeRClick(const QPoint& pos) {
    QTreeWidgetItem* node = nullptr;
    const HitPart hit = HitTest(pos, &node);
    setCurrentItem(node);
    if (!node)
        clearSelection();
    const QPoint globalPos = viewport()->mapToGlobal(pos);
    if (hit == HitPart::Icon || hit == HitPart::Label) {
        if (!ItemOf(node))
            return;
        m_hCurrentItem = node;
        ShowContextMenu(MenuKind::Node, globalPos);
    } else {
        // New items made from empty space go into the root.
        m_hCurrentItem = RootNode();
        ShowContextMenu(MenuKind::EmptySpace, globalPos);
    }
}

bool CPellavoView::OnTreeDblClk(const QPoint& pos) {
    QTreeWidgetItem* node = nullptr;
    const HitPart hit = HitTest(pos, &node);
    if (node)
        setCurrentItem(node);
    if ((hit != HitPart::Icon && hit != HitPart::Label) || !ItemOf(node))
        return false;
    m_hCurrentItem = node;
    if (node->childCount())
        return false;
    OnProperties();
    UpdateCommandUI();
    return true;
}

void CPellavoView::ShowContextMenu(MenuKind kind, const QPoint& globalPos) {
    UpdateCommandUI();
    QMenu menu(this);
    BCMenu::Apply(&menu);
    menu.setObjectName(kind == MenuKind::Node ? QStringLiteral("nodeMenu")
                                              : QStringLiteral("emptySpaceMenu"));
    QMenu* newMenu = menu.addMenu(QStringLiteral("&New"));
    newMenu->addAction(Action(ID_NEW_GROUP));
    newMenu->addAction(Action(ID_NEW_FEED));
    if (kind == MenuKind::Node) {
        menu.addAction(Action(ID_SORT_BY_NAME));
        menu.addSeparator();
        menu.addAction(Action(ID_TREE_CUT));
        menu.addAction(Action(ID_TREE_COPY));
        menu.addAction(Action(ID_TREE_PASTE));
        menu.addAction(Action(ID_TREE_DELETE));
        menu.addSeparator();
        menu.addAction(Action(ID_PROPERTIES));
    }
    menu.exec(globalPos);
}

void CPellavoView::mousePressEvent(QMouseEvent* event) {
    if (m_bDragging) {
        // While dragging, only the left button's release counts; a press without the
        // left button held, or of the left button itself, shows that its release was lost.
        if (event->button() != Qt::LeftButton && (event->buttons() & Qt::LeftButton)) {
            event->accept();
            return;
        }
        CancelDrag();
    }
    QTreeWidgetItem* node = nullptr;
    const QPoint pos = event->position().toPoint();
    const HitPart hit = event->button() == Qt::LeftButton ? HitTest(pos, &node) : HitPart::Nowhere;
    m_pressedMark =
        hit == HitPart::StateIcon ? QPersistentModelIndex(indexFromItem(node)) : QPersistentModelIndex();
    if (event->button() == Qt::LeftButton) {
        OnLButtonDown();
        // Only a node's icon or label can be dragged; the moves of any other left-button
        // gesture are kept from the tree's own drag-selection.
        const bool onNode = hit == HitPart::Icon || hit == HitPart::Label;
        m_pressGesture = onNode ? PressGesture::MayDrag : PressGesture::NoDrag;
        m_dragCandidate = onNode ? QPersistentModelIndex(indexFromItem(node)) : QPersistentModelIndex();
        m_ptButtonDown = pos;
    }
    QTreeWidget::mousePressEvent(event);
}

void CPellavoView::mouseMoveEvent(QMouseEvent* event) {
    if (!DragGestureMove(event->position().toPoint(), event->buttons()))
        QTreeWidget::mouseMoveEvent(event);
}

void CPellavoView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    m_pressGesture = PressGesture::None;
    m_dragCandidate = QPersistentModelIndex();
    if (m_bDragging) {
        OnLButtonUp();
        return;
    }
    if (!m_pressedMark.isValid())
        return;
    // A click counts only when the button goes down and up on the same check box.
    QTreeWidgetItem* pressed = itemFromIndex(m_pressedMark);
    m_pressedMark = QPersistentModelIndex();
    QTreeWidgetItem* node = nullptr;
    if (HitTest(event->position().toPoint(), &node) == HitPart::StateIcon && node == pressed)
        OnTreeClick(event->position().toPoint());
}

void CPellavoView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (m_bDragging) {
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        QTreeWidgetItem* node = nullptr;
        // Quick clicks on a check box each toggle it; they neither expand nor open anything.
        if (HitTest(event->position().toPoint(), &node) == HitPart::StateIcon) {
            m_pressedMark = QPersistentModelIndex(indexFromItem(node));
            return;
        }
        if (OnTreeDblClk(event->position().toPoint()))
            return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void CPellavoView::contextMenuEvent(QContextMenuEvent* event) {
    if (m_bDragging)
        return;
    if (event->reason() != QContextMenuEvent::Keyboard) {
        OnTreeRClick(event->pos());
        return;
    }
    // From the keyboard the menu is the one of the selected node, shown beside it.
    if (QTreeWidgetItem* node = SelectedNode(); ItemOf(node)) {
        m_hCurrentItem = node;
        ShowContextMenu(MenuKind::Node, viewport()->mapToGlobal(visualItemRect(node).center()));
    } else {
        m_hCurrentItem = RootNode();
        ShowContextMenu(MenuKind::EmptySpace, viewport()->mapToGlobal(QPoint(0, 0)));
    }
}

void CPellavoView::keyPressEvent(QKeyEvent* event) {
    // During a drag the keys do nothing, but Escape ends it without a move.
    if (m_bDragging) {
        if (event->key() == Qt::Key_Escape)
            CancelDrag();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Delete && !event->isAutoRepeat())
        m_bDeleteKeyDown = event->modifiers() == Qt::NoModifier;
    // The clipboard is the view's own: a greyed Copy must not put the label into the
    // system's, as the tree would by itself.
    if (event->matches(QKeySequence::Copy)) {
        event->accept();
        return;
    }
    // Shift+F10 opens the context menu on desktops whose keyboards lack a Menu key.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), mapToGlobal(QPoint()));
        contextMenuEvent(&menu);
        event->accept();
        return;
    }
    // Space toggles the selected node's check box, as a click on it does.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        if (QTreeWidgetItem* node = SelectedNode())
            ToggleMark(node);
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void CPellavoView::keyReleaseEvent(QKeyEvent* event) {
    // Shift+Delete is Cut: its press never reaches the tree, so its release deletes nothing.
    if (event->key() == Qt::Key_Delete && !event->isAutoRepeat() && std::exchange(m_bDeleteKeyDown, false) &&
        !m_bDragging)
        OnDeleteKey();
    QTreeWidget::keyReleaseEvent(event);
}

// A drag lives only as long as the view holds the mouse: another window, a popup or
// a hidden view takes it away, and the drag ends there without a move.
void CPellavoView::focusOutEvent(QFocusEvent* event) {
    CancelDrag();
    QTreeWidget::focusOutEvent(event);
}

void CPellavoView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        CancelDrag();
    QTreeWidget::changeEvent(event);
}

void CPellavoView::hideEvent(QHideEvent* event) {
    CancelDrag();
    QTreeWidget::hideEvent(event);
}

void CPellavoView::ShowMessage(const QString& text, const QString& caption) {
    ShowWarningBox(caption, text, this);
}
