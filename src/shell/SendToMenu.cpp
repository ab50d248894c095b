#include "shell/SendToMenu.h"

#include "shell/DesktopEntry.h"
#include "shell/WarningBox.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QProcess>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStyle>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

const QString SendToMenu::kMissingFileText =
    QStringLiteral("The updated feeds file does not exist. Please update feeds first.");

namespace {

// The news feed file opened for reading with a shared lock. An update run holds an
// exclusive lock while it writes the file, so a half-written file is never sent.
class FeedFileReader {
public:
    explicit FeedFileReader(const QString& strPath) {
        // Non-blocking, so that a FIFO in place of the file cannot hang the menu.
        m_fd = ::open(QFile::encodeName(strPath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0) {
            m_strError = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            m_strError = QStringLiteral("Not a regular file.");
            Close();
            return;
        }
        if (::flock(m_fd, LOCK_SH | LOCK_NB) != 0) {
            m_strError = QStringLiteral("An update is writing the file.");
            Close();
        }
    }
    ~FeedFileReader() { Close(); }
    FeedFileReader(const FeedFileReader&) = delete;
    FeedFileReader& operator=(const FeedFileReader&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Handle() const { return m_fd; }
    QString Error() const { return m_strError; }

private:
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int m_fd = -1;
    QString m_strError;
};

void ShowError(QWidget* pOwner, const QString& strText) {
    ShowWarningBox(QStringLiteral("Error"), strText, pOwner);
}

// Copies the file into a folder under its own name, replacing what is there only once
// the new copy is complete where the folder allows it. Runs on a worker thread: it
// counts what it copied in `copied` and stops when `cancel` is raised.
bool CopyInto(const QString& strFile, const QString& strFolder, const std::atomic_bool& cancel,
              std::atomic<qint64>& copied, QString* pError) {
    FeedFileReader reader(strFile);
    if (!reader.IsOpen()) {
        *pError = reader.Error();
        return false;
    }
    const QFileInfo source(strFile);
    const QString strDest = QDir(strFolder).filePath(source.fileName());
    // Sending the file to its own folder: it is already there.
    if (QFileInfo(strDest).canonicalFilePath() == source.canonicalFilePath())
        return true;
    QFile in;
    if (!in.open(reader.Handle(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        *pError = in.errorString();
        return false;
    }
    QSaveFile out(strDest);
    // Phones mounted through GVFS cannot always rename: write in place there.
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly)) {
        *pError = out.errorString();
        return false;
    }
    constexpr qint64 kChunk = 64 * 1024;
    while (!in.atEnd()) {
        if (cancel.load()) {
            out.cancelWriting();
            return false;
        }
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
            *pError = in.errorString();
            out.cancelWriting();
            return false;
        }
        if (out.write(chunk) != chunk.size()) {
            *pError = out.errorString();
            out.cancelWriting();
            return false;
        }
        copied += chunk.size();
    }
    if (!out.commit()) {
        *pError = out.errorString();
        return false;
    }
    return true;
}

enum class CopyResult { Copied, Failed, Cancelled };

// A phone or a slow stick can take many seconds to take the file, and the window must
// keep painting and answering meanwhile: the copy runs on a thread of its own, and a
// progress box with Cancel appears when it takes longer than a moment.
CopyResult CopyWithProgress(const QString& strFile, const QString& strFolder, const QString& strTargetName,
                            QWidget* pOwner, QString* pError) {
    std::atomic_bool cancel{false};
    std::atomic<qint64> copied{0};
    const qint64 total = QFileInfo(strFile).size();
    QEventLoop loop;
    bool bCopied = false;
    std::thread worker([&] {
        bCopied = CopyInto(strFile, strFolder, cancel, copied, pError);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    constexpr int kSteps = 1000;
    QProgressDialog progress(QStringLiteral("Sending the news feed file to %1...").arg(strTargetName),
                             QStringLiteral("Cancel"), 0, kSteps, pOwner);
    progress.setObjectName(QStringLiteral("sendToProgress"));
    progress.setWindowTitle(QStringLiteral("Send To"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    // The Cancel button, the window's close button and Escape all stop the copy.
    QObject::connect(&progress, &QProgressDialog::canceled, [&cancel] { cancel = true; });
    QObject::connect(&progress, &QDialog::rejected, [&cancel] { cancel = true; });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!progress.wasCanceled())
            progress.setValue(total > 0 ? int(qMin(copied.load(), total) * kSteps / total) : 0);
    });
    tick.start(100);
    loop.exec();
    worker.join();
    if (bCopied)
        return CopyResult::Copied;
    return cancel.load() ? CopyResult::Cancelled : CopyResult::Failed;
}

bool StartDetached(const QStringList& lstCommand, const QString& strWorkDir, QString* pError) {
    if (lstCommand.isEmpty() || lstCommand.first().isEmpty()) {
        *pError = QStringLiteral("The command is empty.");
        return false;
    }
    QProcess process;
    process.setProgram(lstCommand.first());
    process.setArguments(lstCommand.mid(1));
    process.setWorkingDirectory(strWorkDir);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        *pError = process.errorString();
        return false;
    }
    return true;
}

// Themes name icons; a desktop without a theme still gets a picture from the style.
QIcon TargetIcon(const SendTarget& target) {
    if (QFileInfo(target.strIcon).isAbsolute() && QFileInfo::exists(target.strIcon))
        return QIcon(target.strIcon);
    if (QIcon::hasThemeIcon(target.strIcon))
        return QIcon::fromTheme(target.strIcon);
    QStyle::StandardPixmap fallback = QStyle::SP_FileIcon;
    switch (target.kind) {
    case SendTarget::Kind::Copy:
        fallback = QStyle::SP_DriveHDIcon;
        break;
    case SendTarget::Kind::ChooseFolder:
        fallback = QStyle::SP_DirIcon;
        break;
    case SendTarget::Kind::Run:
        fallback = target.strEntryFile.isEmpty() ? QStyle::SP_DriveNetIcon : QStyle::SP_FileIcon;
        break;
    }
    return QApplication::style()->standardIcon(fallback);
}

QString MenuText(const QString& strName) {
    QString strText = strName;
    return strText.replace(u'&', QStringLiteral("&&"));
}

} // namespace

SendToMenu::SendToMenu() : SendToMenu(std::make_unique<SystemSendTargets>()) {}

SendToMenu::SendToMenu(std::unique_ptr<ISendTargetSource> source) : m_source(std::move(source)) {}

SendToMenu::~SendToMenu() = default;

bool SendToMenu::IsFeedFileReady(const QString& strFeedFile) {
    return FeedFileReader(strFeedFile).IsOpen();
}

bool SendToMenu::Run(const QString& strFeedFile, QWidget* pOwner, const QPoint& ptMenu) {
    if (!IsFeedFileReady(strFeedFile)) {
        ShowWarningBox(QStringLiteral("Warning"), kMissingFileText, pOwner);
        return false;
    }
    SetTargetPath(strFeedFile);
    return ShowSendTo(pOwner, pOwner ? pOwner->mapToGlobal(ptMenu) : ptMenu);
}

void SendToMenu::SetTargetPath(const QString& strPath) {
    m_strTargetPath = QFileInfo(strPath).absoluteFilePath();
}

bool SendToMenu::ShowSendTo(QWidget* pOwner, const QPoint& ptScreen) {
    const QList<SendTarget> lstTargets = CollectSendTargets(*m_source);
    QMenu menu(pOwner);
    menu.setObjectName(QStringLiteral("sendToMenu"));
    for (qsizetype i = 0; i < lstTargets.size(); ++i) {
        QAction* pAction = menu.addAction(TargetIcon(lstTargets[i]), MenuText(lstTargets[i].strName));
        pAction->setData(int(i));
    }
    const QAction* pChosen = menu.exec(ptScreen);
    if (!pChosen)
        return false;
    return SendTo(lstTargets[pChosen->data().toInt()], pOwner);
}

bool SendToMenu::Copy(const QString& strFolder, const QString& strShownName, QWidget* pOwner) {
    QString strError;
    switch (CopyWithProgress(m_strTargetPath, strFolder, strShownName, pOwner, &strError)) {
    case CopyResult::Copied:
        return true;
    case CopyResult::Failed:
        ShowError(
            pOwner,
            QStringLiteral("Could not copy the news feed file to \"%1\".\n\n%2").arg(strShownName, strError));
        return false;
    case CopyResult::Cancelled:
        break;
    }
    return false;
}

bool SendToMenu::SendTo(const SendTarget& target, QWidget* pOwner) {
    QString strError;
    switch (target.kind) {
    case SendTarget::Kind::ChooseFolder: {
        const QString strFolder = QFileDialog::getExistingDirectory(pOwner, QStringLiteral("Send To Folder"),
                                                                    QFileInfo(m_strTargetPath).path());
        if (strFolder.isEmpty())
            return false;
        return Copy(strFolder, QDir::toNativeSeparators(strFolder), pOwner);
    }
    case SendTarget::Kind::Copy:
        return Copy(target.strFolder, target.strName, pOwner);
    case SendTarget::Kind::Run:
        if (StartDetached(DesktopEntry::ExpandCommand(target, m_strTargetPath), target.strWorkDir, &strError))
            return true;
        ShowError(pOwner, QStringLiteral("Could not start \"%1\".\n\n%2").arg(target.strName, strError));
        return false;
    }
    return false;
}
