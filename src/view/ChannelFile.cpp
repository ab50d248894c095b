// The channel file: the start-up load, saving with numbered backups, Undo, Import and Export.
#include "view/CPellavoView.h"

#include "view/PropertyDialogs.h"
#include "view/TreeOutline.h"

#include "base/AppPaths.h"
#include "model/ChannelStore.h"
#include "model/OpmlReader.h"
#include "model/OpmlWriter.h"
#include "model/PellavoDoc.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>

#include <vector>

namespace {

const QString kError = QStringLiteral("Error");
const QString kWarning = QStringLiteral("Warning");

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Built at every use: the paths follow the environment, which tests point elsewhere.
ChannelStore Store() {
    return ChannelStore(AppPaths::ChannelFile(), AppPaths::BackupFile);
}

int CountFeeds(const COutlineItem* root) {
    int feeds = 0;
    std::vector<const COutlineItem*> pending{root};
    while (!pending.empty()) {
        const COutlineItem* item = pending.back();
        pending.pop_back();
        for (const COutlineItem* child = item->m_pFirstChild; child; child = child->m_pNext) {
            feeds += child->IsFeed() ? 1 : 0;
            pending.push_back(child);
        }
    }
    return feeds;
}

// The next save would replace a channel file that did not load whole with the part
// that did, and the backup of it lives in a temporary folder that a restart clears:
// keep the file as it was beside it, and say what happened.
QString KeepDamagedChannel(const ChannelStore& store, const OpmlParseError& error) {
    const QString where =
        error.line > 0 ? QStringLiteral("line %1: %2").arg(error.line).arg(error.reason) : error.reason;
    const QString copy = store.KeepDamagedCopy();
    const QString kept = !copy.isEmpty()
                             ? QStringLiteral("The file as it was is kept as %1.").arg(Native(copy))
                             : QStringLiteral("The file could not be kept as it was, so the next change "
                                              "replaces it with what is shown.");
    return QStringLiteral("The subscriptions in %1 could not be read completely (%2).\n"
                          "Pellavo shows what it could read. %3")
        .arg(Native(store.ChannelFile()), where, kept);
}

} // namespace

void CPellavoView::OnInitialUpdate() {
    // The nodes point into the model that the load replaces.
    ClearTree();
    const ChannelStore store = Store();
    store.RemoveUnfinishedSaves();
    OpmlParseError error;
    // An empty file is what Undo of the first save leaves: no subscriptions, not damage.
    if (!m_pDoc->LoadOutline(store.ChannelFile(), &error) && QFileInfo(store.ChannelFile()).size() > 0) {
        // Told once the window is up rather than over the start-up.
        QTimer::singleShot(0, this,
                           [this, text = KeepDamagedChannel(store, error)] { ShowMessage(text, kWarning); });
    }
    PopulateTree();
    StartUpdates();
    UpdateCommandUI();
}

void CPellavoView::SaveChannel() {
    const ChannelStore store = Store();
    ++m_nBackupCount;
    QString error;
    if (!store.Backup(m_nBackupCount, &error)) {
        ShowMessage(QStringLiteral("No backup could be made before saving the subscriptions, so this "
                                   "change cannot be undone.\n%1")
                        .arg(error),
                    kError);
    }
    if (!store.Write(TreeOutline(*this), &error)) {
        ShowMessage(QStringLiteral("The subscriptions could not be saved to %1.\n%2\n"
                                   "The change is shown but will be lost when Pellavo ends.")
                        .arg(Native(store.ChannelFile()), error),
                    kError);
    }
    if (!m_bSyncChannels) {
        m_bSyncChannels = true;
        emit syncChannelsChanged(true);
    }
    UpdateCommandUI();
}

void CPellavoView::OnEditUndo() {
    if (m_nBackupCount == 0)
        return;
    const ChannelStore store = Store();
    QString error;
    if (store.Restore(m_nBackupCount, &error))
        ReloadChannel(store.ChannelFile());
    else
        ShowMessage(QStringLiteral("The last change could not be undone.\n%1").arg(error), kError);
    --m_nBackupCount;
    UpdateCommandUI();
}

void CPellavoView::ReloadChannel(const QString& path) {
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    ParseOutlineFile(path, head, root);
    InstallModel(std::move(head), std::move(root));
}

void CPellavoView::InstallModel(std::unique_ptr<COutlineHead> head, std::unique_ptr<COutlineItem> root) {
    ClearTree();
    m_pDoc->SetModel(std::move(head), std::move(root));
    if (QTreeWidgetItem* rootNode = InsertItemTree(m_pDoc->m_pRoot.get(), nullptr)) {
        rootNode->setExpanded(true);
        setCurrentItem(rootNode);
    }
}

void CPellavoView::SetSyncChannels(bool on) {
    if (m_bSyncChannels == on)
        return;
    m_bSyncChannels = on;
    emit syncChannelsChanged(on);
}

QString CPellavoView::AskOpmlFileName(bool save) {
    QFileDialog dialog(this);
    if (save) {
        dialog.setWindowTitle(QStringLiteral("Export OPML File"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters({QStringLiteral("OPML Files (*.xml)")});
        dialog.setDefaultSuffix(QStringLiteral("xml"));
    } else {
        dialog.setWindowTitle(QStringLiteral("Import OPML File"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(
            {QStringLiteral("All OPML Files (*.opml *.xml)"), QStringLiteral("All Files (*)")});
        dialog.setDefaultSuffix(QStringLiteral("opml"));
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

void CPellavoView::OnImportOpml() {
    const QString path = AskOpmlFileName(false);
    if (path.isEmpty())
        return;
    CDlgImportConfirm confirm(this);
    if (confirm.DoModal() != PellavoDialog::IDOK)
        return;
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    OpmlParseError parseError;
    const bool whole = ParseOutlineFile(path, head, root, &parseError);
    // Groups without a feed would replace every subscription with nothing worth saving.
    const int feeds = root ? CountFeeds(root.get()) : 0;
    if (feeds == 0) {
        ShowMessage(QStringLiteral("No feed was found in the input file. Please check it."), kError);
        return;
    }
    InstallModel(std::move(head), std::move(root));
    SaveChannel();
    if (!whole) {
        // What was read replaces the subscriptions; the user must know what was left behind.
        ShowMessage(QStringLiteral("The input file %1 breaks off at line %2: %3.\n"
                                   "Only what came before that point was imported: %4.")
                        .arg(Native(path))
                        .arg(parseError.line)
                        .arg(parseError.reason,
                             feeds == 1 ? QStringLiteral("1 feed") : QStringLiteral("%1 feeds").arg(feeds)),
                    kWarning);
    }
}

void CPellavoView::OnExportOpml() {
    const QString path = AskOpmlFileName(true);
    if (path.isEmpty())
        return;
    QString error;
    if (!WriteOpmlFile(path, TreeOutline(*this), OpmlForm::Export, &error))
        ShowMessage(
            QStringLiteral("The subscriptions could not be exported to %1.\n%2").arg(Native(path), error),
            kError);
}
