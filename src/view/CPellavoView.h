#pragma once

#include "model/OutlineItem.h"

#include <QByteArray>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>

class QLabel;
class CPellavoDoc;
class MarkDelegate;
class UpdateController;
class DeliveryController;

// The tree of subscriptions: one node per outline item, the root included. The
// tree, not the model's links, decides what is saved and updated and in which
// order, and the marks for "Update Marked Feeds" live only here.
class CPellavoView : public QTreeWidget {
    Q_OBJECT
public:
    // A node's mark, shown as its check box.
    enum Mark { Unmarked = 1, Marked = 2, Mixed = 3 };

    // Which part of a row a point is on.
    enum class HitPart { Nowhere, StateIcon, Icon, Label, Elsewhere };

    // `update` is the application's update service, which outlives the view; without one
    // the update commands and the schedule do nothing.
    explicit CPellavoView(CPellavoDoc* doc, QWidget* parent = nullptr, UpdateController* update = nullptr);
    ~CPellavoView() override;

    // The start-up load: the channel file into the model and the tree; then the update
    // settings and the schedule timer.
    void OnInitialUpdate();

    // The view's action for a command id, or null for an id that is not the view's.
    QAction* Action(int commandId) const;
    // Enables and disables every action by the current state; the main frame calls
    // it when a menu is about to show.
    void UpdateCommandUI();
    // Whether a command may run now: it is built and its enabling rule allows it.
    bool IsCommandEnabled(int commandId) const;
    // The enabling rule of a command alone: the greying of the context menus for
    // m_hCurrentItem, of the Edit menu for the selected node.
    bool CommandRuleAllows(int commandId) const;
    // Runs a command when it is enabled, then gives the tree the keyboard focus. Every
    // menu, accelerator and task-bar button goes through here.
    void RunCommand(int commandId);
    // Send To with its menu at `pos` in `owner` (the task bar's button) rather than at the view.
    void RunSendTo(QWidget* owner, const QPoint& pos);

    // Building the tree.
    void PopulateTree();
    QTreeWidgetItem* InsertItemTree(COutlineItem* item, QTreeWidgetItem* parent);
    QTreeWidgetItem* RootNode() const;
    // The selected node, or null when nothing is selected.
    QTreeWidgetItem* SelectedNode() const;
    static COutlineItem* ItemOf(const QTreeWidgetItem* node);
    // The label of an item: its title, else its text, else its feed address.
    static QString LabelOf(const COutlineItem* item);
    // The same label as the model's UTF-8 bytes.
    static const char* LabelBytes(const COutlineItem* item);

    // Marks.
    static Mark GetMark(const QTreeWidgetItem* node);
    static void SetMark(QTreeWidgetItem* node, Mark mark);
    static void UpdateAncestorMarks(QTreeWidgetItem* node);

    // The feed walkers: append to m_lstFeedUrls, in tree order, the addresses of the
    // leaves below `node` (of the marked leaves only, for CollectMarkedFeeds).
    void CollectFeeds(const QTreeWidgetItem* node);
    void CollectMarkedFeeds(const QTreeWidgetItem* node);
    // The addresses of a run: empties m_lstFeedUrls, fills it with the walker, and returns it.
    QStringList CollectRunFeeds(const QTreeWidgetItem* node, bool markedOnly = false);

    // The part of a row under a viewport point, and the row's node (null below the rows).
    HitPart HitTest(const QPoint& viewportPos, QTreeWidgetItem** node) const;

    // Mouse and keyboard reactions, by viewport position.
    void OnTreeClick(const QPoint& pos);
    void OnTreeRClick(const QPoint& pos);
    // True when it ran Properties; otherwise the double-click expands or collapses.
    bool OnTreeDblClk(const QPoint& pos);

    // Editing commands. The context-menu commands act on m_hCurrentItem; the Edit
    // menu's set it to the selected node first.
    void OnProperties();
    void OnNewGroup();
    void OnNewFeed();
    void OnTreeCut();
    void OnTreeCopy();
    void OnTreePaste();
    void OnTreeDelete();
    void OnSortByName();
    void OnEditCut();
    void OnEditCopy();
    void OnEditPaste();
    // The Delete key: asks, then deletes the selected node.
    void OnDeleteKey();
    // The order of Sort By Name: groups before feeds, then by label, byte by byte
    // with A to Z taken as a to z. Negative, zero or positive, as a comparison goes.
    static int CompareByName(const QTreeWidgetItem* a, const QTreeWidgetItem* b);

    // Drag and drop inside the tree, by viewport position.
    void OnLButtonDown();
    void OnTreeBeginDrag(QTreeWidgetItem* node, const QPoint& start);
    void OnMouseMove(const QPoint& pos);
    void OnLButtonUp();
    void OnHoverTimer();
    void OnScrollTimer();
    // Ends a drag under way without moving anything.
    void CancelDrag();
    // The node shown as the drop target, or null.
    QTreeWidgetItem* DropHighlight() const;
    bool IsDropHighlight(const QModelIndex& index) const {
        return index.isValid() && index == m_dropHighlight;
    }
    // The picture of the dragged node that follows the pointer, or null.
    const QWidget* DragImage() const;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    // Other commands.
    void OnEditUndo();
    void OnImportOpml();
    void OnExportOpml();
    void OnUpdateAll();
    void OnUpdateMarked();
    void OnUpdateCurrent();
    void OnOptions();
    void OnSendTo();
    void OnDeliverNow();
    void OnDelivery();
    void OnHelpContents();
    // The delivery service, which outlives the view; without one the delivery commands do nothing.
    void SetDelivery(DeliveryController* delivery) { m_pDelivery = delivery; }

    // The news feed file's path.
    QString FeedFile() const;

    // The channel file.
    void SaveChannel();
    void ReloadChannel(const QString& path);
    void SetSyncChannels(bool on);

    // What the main frame, the tests and the benchmarks see of the view's state.
    // The node that the context-menu commands and Properties act on.
    QTreeWidgetItem* CommandNode() const { return m_hCurrentItem; }
    void SetCommandNode(QTreeWidgetItem* node) { m_hCurrentItem = node; }
    // The internal clipboard, or null.
    const COutlineItem* ClipItem() const { return m_pClipItem.get(); }
    // The number of Undo steps left.
    quint32 BackupCount() const { return m_nBackupCount; }
    bool SyncChannels() const { return m_bSyncChannels; }
    // The drag under way: whether there is one, its node, and where it would drop now.
    bool IsDragging() const { return m_bDragging; }
    QTreeWidgetItem* DragItem() const { return m_hDragItem; }
    QTreeWidgetItem* DropTarget() const { return m_hDropTarget; }

signals:
    void syncChannelsChanged(bool on);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum class MenuKind { Node, EmptySpace };

    void RunGuarded(int commandId, const std::function<void()>& handler);
    // Where every Send To starts: the menu of the news feed file's targets, at `pos` in `owner`.
    void SendTo(QWidget* owner, const QPoint& pos);
    // What the moves of a left-button gesture in the tree may do.
    enum class PressGesture { None, MayDrag, NoDrag };

    QTreeWidgetItem* MakeNode(COutlineItem* item) const;
    // A node for the item with nodes for its whole subtree, not yet in the tree.
    QTreeWidgetItem* BuildNodeTree(COutlineItem* item) const;
    // Takes a node with its subtree out of the tree and deletes the nodes, never the items.
    void DestroyNodeTree(QTreeWidgetItem* node);
    // Unlinks a node's item from the model and destroys both with their subtrees, then saves.
    void RemoveNode(QTreeWidgetItem* node, bool updateMarks);
    void NewItem(bool feed);
    // Runs the feed or the group dialog on the item; false on Cancel. `title` gets the title as typed.
    bool EditItem(COutlineItem* item, bool feed, QString* title);
    // Keeps "Fetch whole articles" of a feed whose dialog said OK: its address went from
    // `before` to `after`, the box from `wasChecked` to `checked`.
    void KeepWholeArticles(const QByteArray& before, const QByteArray& after, bool wasChecked, bool checked);
    // Asks, then removes the node; the menu's Delete recomputes the parent's mark, the key's does not.
    void ConfirmDelete(QTreeWidgetItem* node, bool updateMarks);
    // Handles the moves of a left-button gesture that began on the tree; false passes the move on.
    bool DragGestureMove(const QPoint& pos, Qt::MouseButtons buttons);
    void EndDragDisplay();
    void SetDropHighlight(QTreeWidgetItem* node);
    QTreeWidgetItem* NodeAt(const QPoint& pos) const;
    void ToggleMark(QTreeWidgetItem* node);
    void CollectLeaves(const QTreeWidgetItem* node, bool markedOnly);
    void ShowContextMenu(MenuKind kind, const QPoint& globalPos);
    void ClearTree();
    void InstallModel(std::unique_ptr<COutlineHead> head, std::unique_ptr<COutlineItem> root);
    QString AskOpmlFileName(bool save);
    // Makes this view the one the update service's runs serve, and undoes that.
    void AttachUpdates();
    void DetachUpdates();
    // Reads the update settings and starts the schedule, once.
    void StartUpdates();
    // The label of the first feed in the tree with this address.
    QString FeedTitle(const QString& url) const;
    void ShowMessage(const QString& text, const QString& caption);

    CPellavoDoc* m_pDoc;
    MarkDelegate* m_pDelegate;
    UpdateController* m_pUpdate;
    DeliveryController* m_pDelivery = nullptr;
    QHash<int, QAction*> m_actions;
    QIcon m_iconGroup;
    QIcon m_iconFeed;
    // The row whose check box the left button went down on, until it comes up.
    QPersistentModelIndex m_pressedMark;
    // Set by a plain press of the Delete key in the tree, so that only its release deletes.
    bool m_bDeleteKeyDown = false;
    PressGesture m_pressGesture = PressGesture::None;
    QPersistentModelIndex m_dragCandidate;
    QPoint m_ptButtonDown;
    std::unique_ptr<QLabel> m_pDragImage;
    bool m_bTrackedBeforeDrag = false;
    QPersistentModelIndex m_dropHighlight;
    QTimer m_nHoverTimer;
    QTimer m_nScrollTimer;

    // The node that the context-menu commands and Properties act on.
    QTreeWidgetItem* m_hCurrentItem = nullptr;
    // The internal clipboard: a deep copy of an item, or null.
    std::unique_ptr<COutlineItem> m_pClipItem;
    // The feed addresses (UTF-8) of the current update run.
    QList<QByteArray> m_lstFeedUrls;
    // The number of the newest backup of this run, which is the number of Undo steps left.
    quint32 m_nBackupCount = 0;
    // The feeds with whole articles as they were before the saves that changed them, by the
    // number of the save's backup: Undo of that step puts them back.
    QHash<quint32, QStringList> m_wholeArticlesUndo;
    // "Synchronize Channels": while set, update runs carry the channel file.
    bool m_bSyncChannels = false;
    // Milliseconds on a steady clock of the last left-button press in the tree.
    quint32 m_dwButtonDownTime = 0;
    bool m_bDragging = false;
    QTreeWidgetItem* m_hDragItem = nullptr;
    // Where a drop would go now, or null for nowhere.
    QTreeWidgetItem* m_hDropTarget = nullptr;
    // The pointer's last position during a drag.
    QPoint m_ptLastMouse;
    // Auto-scroll ticks since the view was made; the scroll periods are counted in them.
    quint32 m_nScrollTicks = 0;
};
