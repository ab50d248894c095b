#include "ViewFixture.h"

#include "base/AppPaths.h"
#include "model/OpmlWriter.h"
#include "view/Commands.h"
#include "view/TreeOutline.h"

#include <QBuffer>
#include <QFile>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidgetItemIterator>

#include <vector>

namespace fixture {

Isolation::Isolation() {
    qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    QFile::remove(AppPaths::ChannelFile());
}

QString backupPath(unsigned n) {
    return AppPaths::PrivateTempFolder() + QLatin1Char('/') + AppPaths::BackupFileName(n);
}

QByteArray opml(const QByteArray& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml "
           "version=\"1.1\">\n<head><title>t</title></head>\n"
           "<body>\n" +
           body + "</body>\n</opml>\n";
}

QTreeWidgetItem* node(const QTreeWidget& view, const QString& label) {
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&view)); *it; ++it) {
        if ((*it)->text(0) == label)
            return *it;
    }
    return nullptr;
}

QStringList labels(const QTreeWidget& view) {
    QStringList result;
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&view)); *it; ++it) {
        int depth = 0;
        for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent())
            ++depth;
        result.append(QString(depth * 2, QLatin1Char(' ')) + (*it)->text(0));
    }
    return result;
}

QStringList modelLabels(const COutlineItem* root) {
    QStringList result;
    std::vector<std::pair<const COutlineItem*, int>> pending{{root, 0}};
    while (!pending.empty()) {
        const auto [item, depth] = pending.back();
        pending.pop_back();
        result.append(QString(depth * 2, QLatin1Char(' ')) + CPellavoView::LabelOf(item));
        std::vector<const COutlineItem*> children;
        for (const COutlineItem* child = item->m_pFirstChild; child; child = child->m_pNext)
            children.push_back(child);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.emplace_back(*it, depth + 1);
    }
    return result;
}

QByteArray channelFromTree(const CPellavoView& view) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    WriteOpml(buffer, TreeOutline(view), OpmlForm::Channel);
    return buffer.data();
}

QString marks(const QTreeWidget& view) {
    QString result;
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&view)); *it; ++it) {
        switch (CPellavoView::GetMark(*it)) {
        case CPellavoView::Unmarked:
            result += QLatin1Char(' ');
            break;
        case CPellavoView::Marked:
            result += QLatin1Char('x');
            break;
        case CPellavoView::Mixed:
            result += QLatin1Char('~');
            break;
        }
    }
    return result;
}

QPoint pointOn(const CPellavoView& view, QTreeWidgetItem* node, CPellavoView::HitPart part) {
    const QRect row = view.visualItemRect(node);
    const int y = row.center().y();
    // The indent and the expand button lie left of the cell.
    for (int x = 0; x < view.viewport()->width(); ++x) {
        QTreeWidgetItem* hit = nullptr;
        if (view.HitTest(QPoint(x, y), &hit) == part && hit == node)
            return QPoint(x + (part == CPellavoView::HitPart::Elsewhere ? 0 : 2), y);
    }
    return QPoint(-1, -1);
}

MainWindow::MainWindow(CPellavoView* view) {
    setCentralWidget(view);
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(view->Action(ID_IMPORT_OPML));
    file->addAction(view->Action(ID_EXPORT_OPML));
    file->addSeparator();
    file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(view->Action(ID_EDIT_UNDO));
    edit->addSeparator();
    for (int id : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE})
        edit->addAction(view->Action(id));
    for (QMenu* menu : {file, edit})
        connect(menu, &QMenu::aboutToShow, view, &CPellavoView::UpdateCommandUI);
}

} // namespace fixture
