#pragma once

#include "view/CPellavoView.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QTemporaryDir>

class QTreeWidgetItem;

namespace fixture {

// Points QDir::tempPath(), and with it the private backup folder, into a folder of
// the test's own, and removes the channel file of earlier cases.
class Isolation {
public:
    Isolation();
    QString path(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

QString backupPath(unsigned n);

// An OPML document whose body is `body`.
QByteArray opml(const QByteArray& body);

// The first node whose label is `label`, searched in display order.
QTreeWidgetItem* node(const QTreeWidget& view, const QString& label);
// The labels of the whole tree, depth first, children indented by two blanks.
QStringList labels(const QTreeWidget& view);
// The labels of a model subtree in the model's own sibling order, in the form of labels().
QStringList modelLabels(const COutlineItem* root);
// The channel file that the writer makes from the view's tree as it is now.
QByteArray channelFromTree(const CPellavoView& view);

// The marks of the whole tree, one character per node in display order: ' ' unmarked, 'x' marked, '~' mixed.
QString marks(const QTreeWidget& view);

// A point on a part of a node's row, found with the view's own hit-test.
QPoint pointOn(const CPellavoView& view, QTreeWidgetItem* node, CPellavoView::HitPart part);

// A stand-in for the main window: the view, the File menu's Import and Export and
// the Edit menu's Undo, Cut, Copy and Paste, with the enabling rules run when a menu opens.
class MainWindow : public QMainWindow {
public:
    explicit MainWindow(CPellavoView* view);
};

} // namespace fixture
