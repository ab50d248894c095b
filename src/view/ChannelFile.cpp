// The channel file: the start-up load, saving with numbered backups, Undo, Import and Export.
#include "view/CPellavoView.h"

#include "view/PropertyDialogs.h"
#include "view/TreeOutline.h"

#include "model/OpmlReader.h"
#include "model/OpmlWriter.h"
#include "model/PellavoDoc.h"
#include "update/AppPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

const QString kError = QStringLiteral("Error");
const QString kWarning = QStringLiteral("Warning");

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Reads a whole file; on failure says which file and why.
bool ReadWhole(const QString& path, QByteArray* bytes, QString* error) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        *bytes = file.readAll();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    *error = QStringLiteral("%1: %2").arg(Native(path), file.errorString());
    return false;
}

// Writes `bytes` to `path` beside and renames, so a failure leaves the old file whole.
bool WriteWhole(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("%1: %2").arg(Native(path), file.errorString());
    return false;
}

// Writes a backup. It lives in a temporary folder, so it is not worth a flush to the
// disk on every save; a failed one is removed by the caller.
bool WriteBackup(const QString& path, const QByteArray& bytes, QString* error) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
        file.flush())
        return true;
    *error = QStringLiteral("%1: %2").arg(Native(path), file.errorString());
    return false;
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

// A save cut short by a crash or a power loss leaves its unfinished copy beside the
// channel file, under the channel file's name and a six-character suffix. Only one
// Pellavo runs per user, so at start-up every such copy is an orphan.
void RemoveUnfinishedSaves(const QString& channelFile) {
    const QFileInfo channel(channelFile);
    QDir folder = channel.absoluteDir();
    const QString prefix = channel.fileName() + QLatin1Char('.');
    for (const QString& name :
         folder.entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden)) {
        const QStringView suffix = QStringView(name).mid(prefix.size());
        if (std::all_of(suffix.begin(), suffix.end(),
                        [](QChar c) { return c.isLetterOrNumber() && c.unicode() < 128; }))
            folder.remove(name);
    }
}

// The next save would replace a channel file that did not load whole with the part
// that did, and the backup of it lives in a temporary folder that a restart clears:
// keep the file as it was beside it, and say what happened.
QString KeepDamagedChannel(const QString& channelFile, const OpmlParseError& error) {
    const QString where =
        error.line > 0 ? QStringLiteral("line %1: %2").arg(error.line).arg(error.reason) : error.reason;
    const QString copy = channelFile + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString kept = QFile::copy(channelFile, copy)
                             ? QStringLiteral("The file as it was is kept as %1.").arg(Native(copy))
                             : QStringLiteral("The file could not be kept as it was, so the next change "
                                              "replaces it with what is shown.");
    return QStringLiteral("The subscriptions in %1 could not be read completely (%2).\n"
                          "Pellavo shows what it could read. %3")
        .arg(Native(channelFile), where, kept);
}

} // namespace

void CPellavoView::OnInitialUpdate() {
    // The nodes point into the model that the load replaces.
    ClearTree();
    const QString channelFile = AppPaths::ChannelFile();
    RemoveUnfinishedSaves(channelFile);
    OpmlParseError error;
    // An empty file is what Undo of the first save leaves: no subscriptions, not damage.
    if (!m_pDoc->LoadOutline(channelFile, &error) && QFileInfo(channelFile).size() > 0) {
        // Told once the window is up rather than over the start-up.
        QTimer::singleShot(
            0, this, [this, text = KeepDamagedChannel(channelFile, error)] { ShowMessage(text, kWarning); });
    }
    PopulateTree();
    StartUpdates();
    UpdateCommandUI();
}

void CPellavoView::SaveChannel() {
    const QString channelFile = AppPaths::ChannelFile();
    QDir().mkpath(QFileInfo(channelFile).absolutePath());
    ++m_nBackupCount;
    MakeBackup(channelFile);
    QString error;
    if (!WriteOpmlFile(channelFile, TreeOutline(*this), OpmlForm::Channel, &error)) {
        ShowMessage(QStringLiteral("The subscriptions could not be saved to %1.\n%2\n"
                                   "The change is shown but will be lost when Pellavo ends.")
                        .arg(Native(channelFile), error),
                    kError);
    }
    if (!m_bSyncChannels) {
        m_bSyncChannels = true;
        emit syncChannelsChanged(true);
    }
    UpdateCommandUI();
}

void CPellavoView::MakeBackup(const QString& channelFile) {
    QString error;
    const QString folder = AppPaths::PrivateTempFolder(&error);
    if (!folder.isEmpty()) {
        const QString backup = folder + QLatin1Char('/') + AppPaths::BackupFileName(m_nBackupCount);
        // Before the first save there is no channel file: the backup is then empty,
        // so that Undo of this step gives the empty list and never a stale backup.
        QByteArray bytes;
        if ((!QFile::exists(channelFile) || ReadWhole(channelFile, &bytes, &error)) &&
            WriteBackup(backup, bytes, &error))
            return;
        // A backup left under this number by an earlier run must not be restored for this step.
        QFile::remove(backup);
    }
    ShowMessage(QStringLiteral("No backup could be made before saving the subscriptions, so this change "
                               "cannot be undone.\n%1")
                    .arg(error),
                kError);
}

bool CPellavoView::RestoreBackup(const QString& channelFile, QString* error) const {
    const QString folder = AppPaths::PrivateTempFolder(error);
    QByteArray bytes;
    if (folder.isEmpty() ||
        !ReadWhole(folder + QLatin1Char('/') + AppPaths::BackupFileName(m_nBackupCount), &bytes, error))
        return false;
    QDir().mkpath(QFileInfo(channelFile).absolutePath());
    return WriteWhole(channelFile, bytes, error);
}

void CPellavoView::OnEditUndo() {
    if (m_nBackupCount == 0)
        return;
    const QString channelFile = AppPaths::ChannelFile();
    QString error;
    if (RestoreBackup(channelFile, &error))
        ReloadChannel(channelFile);
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
    if (!root || !root->m_pFirstChild) {
        ShowMessage(QStringLiteral("No feed was found in the input file. Please check it."), kError);
        return;
    }
    const int feeds = CountFeeds(root.get());
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
