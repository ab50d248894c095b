#pragma once

#include "OutlineItem.h"

#include <QByteArray>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QPersistentModelIndex>
#include <QTreeWidget>

#include <memory>

class CClock;
class CPellavoDoc;
class CMarkDelegate;
class CSettings;
class CUpdateController;

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

    // `settings` is the profile for the output file and the schedule; the user's own when null.
    explicit CPellavoView(CPellavoDoc* doc, QWidget* parent = nullptr, CSettings* settings = nullptr);
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
    // Runs a command when it is enabled.
    void RunCommand(int commandId);

    // Building the tree.
    void PopulateTree();
    QTreeWidgetItem* InsertItemTree(COutlineItem* item, QTreeWidgetItem* parent);
    QTreeWidgetItem* RootNode() const;
    // The selected node, or null when nothing is selected.
    QTreeWidgetItem* SelectedNode() const;
    static COutlineItem* ItemOf(const QTreeWidgetItem* node);
    // The label of an item: its title, else its text, else its feed address.
    static QString LabelOf(const COutlineItem* item);

    // Marks.
    static Mark GetMark(const QTreeWidgetItem* node);
    static void SetMark(QTreeWidgetItem* node, Mark mark);
    static void UpdateAncestorMarks(QTreeWidgetItem* node);

    // The feed walkers: append to m_lstFeedUrls, in tree order, the addresses of the
    // leaves below `node` (of the marked leaves only, for CollectMarkedFeeds).
    void CollectFeeds(const QTreeWidgetItem* node);
    void CollectMarkedFeeds(const QTreeWidgetItem* node);

    // The part of a row under a viewport point, and the row's node (null below the rows).
    HitPart HitTest(const QPoint& viewportPos, QTreeWidgetItem** node) const;

    // Mouse and keyboard reactions, by viewport position.
    void OnTreeClick(const QPoint& pos);
    void OnTreeRClick(const QPoint& pos);
    // True when it ran Properties; otherwise the double-click expands or collapses.
    bool OnTreeDblClk(const QPoint& pos);

    // Commands.
    void OnProperties();
    void OnEditUndo();
    void OnImportOpml();
    void OnExportOpml();
    void OnUpdateAll();
    void OnUpdateMarked();
    void OnUpdateCurrent();
    void OnOptions();
    void OnSendTo();
    void OnHelpContents();

    // Update runs, the output file and the schedule.
    CUpdateController* UpdateController() const { return m_pUpdate.get(); }
    // The news feed file's path.
    QString FeedFile() const;

    // The channel file.
    void SaveChannel();
    void ReloadChannel(const QString& path);
    void SetSyncChannels(bool on);

    // The node that the context-menu commands and Properties act on.
    QTreeWidgetItem* m_hCurrentItem = nullptr;
    // The internal clipboard: a deep copy of an item, or null.
    std::unique_ptr<COutlineItem> m_pClipItem;
    // The feed addresses (UTF-8) of the current update run.
    QList<QByteArray> m_lstFeedUrls;
    // The number of the newest backup of this run, which is the number of Undo steps left.
    quint32 m_nBackupCount = 0;
    // "Synchronize Channels": while set, update runs carry the channel file.
    bool m_bSyncChannels = false;

signals:
    void syncChannelsChanged(bool on);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class MenuKind { Node, EmptySpace };

    QTreeWidgetItem* MakeNode(COutlineItem* item) const;
    void ToggleMark(QTreeWidgetItem* node);
    void CollectLeaves(const QTreeWidgetItem* node, bool markedOnly);
    void ShowContextMenu(MenuKind kind, const QPoint& globalPos);
    void ClearTree();
    void InstallModel(std::unique_ptr<COutlineHead> head, std::unique_ptr<COutlineItem> root);
    void MakeBackup(const QString& channelFile);
    bool RestoreBackup(const QString& channelFile, QString* error) const;
    QString AskOpmlFileName(bool save);
    // Creates the update controller once, reads its settings and starts the schedule.
    void StartUpdates();
    // The addresses that the walker left in m_lstFeedUrls, for the update run.
    QStringList TakeFeedUrls();
    void ShowMessage(const QString& text, const QString& caption);

    CPellavoDoc* m_pDoc;
    CMarkDelegate* m_pDelegate;
    std::unique_ptr<CSettings> m_pOwnSettings;
    CSettings* m_pSettings;
    std::unique_ptr<CClock> m_pClock;
    std::unique_ptr<CUpdateController> m_pUpdate;
    QHash<int, QAction*> m_actions;
    QIcon m_iconGroup;
    QIcon m_iconFeed;
    // The row whose check box the left button went down on, until it comes up.
    QPersistentModelIndex m_pressedMark;
};
