#include "shell/SendToMenu.h"

#include "base/AtomicFile.h"
#include "desktop/KdeConnect.h"
#include "shell/DesktopEntry.h"
#include "shell/WarningBox.h"
#include "shell/WorkerThreads.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QStyle>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
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

// What a copy's worker and the window share. The worker writes `bCopied`, `strError` and
// `strFailedFile` before it raises `done`.
struct CopyJob {
    std::atomic_bool cancel{false};
    std::atomic_bool done{false};
    std::atomic<qint64> copied{0}; // of all the files together
    bool bCopied = false;
    QString strError;
    QString strFailedFile;
};

QString ErrnoText(int nError) {
    return QString::fromLocal8Bit(std::strerror(nError));
}

// Copies the file into a folder under its own name. The copy is written beside the target
// and renamed into place only once it is whole, so the target keeps its old copy until
// then. Runs on a worker thread: it counts what it copied, after the `nBefore` bytes of the
// files before it, and stops when asked to.
bool CopyInto(const QString& strFile, const QString& strFolder, CopyJob& job, qint64 nBefore) {
    FeedFileReader reader(strFile);
    if (!reader.IsOpen()) {
        job.strError = reader.Error();
        return false;
    }
    const QFileInfo source(strFile);
    const QString strDest = QDir(strFolder).filePath(source.fileName());
    // Sending the file to its own folder: it is already there.
    if (QFileInfo(strDest).canonicalFilePath() == source.canonicalFilePath())
        return true;
    // A phone reached through GVFS may not rename onto a file that exists.
    AtomicFile out(strDest, AtomicFile::MoveOldAside);
    if (!out.Open()) {
        job.strError = QDir(strFolder).exists()
                           ? QStringLiteral("This target does not let a new file be written there (%1).")
                                 .arg(ErrnoText(out.Error()))
                           : ErrnoText(out.Error());
        return false;
    }
    QFile in;
    QFile copy;
    if (!in.open(reader.Handle(), QIODevice::ReadOnly | QIODevice::Unbuffered,
                 QFileDevice::DontCloseHandle) ||
        !copy.open(out.Handle(), QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::DontCloseHandle)) {
        job.strError = in.isOpen() ? copy.errorString() : in.errorString();
        return false;
    }
    constexpr qint64 kChunk = 64 * 1024;
    qint64 nWritten = 0;
    for (;;) {
        if (job.cancel.load())
            return false;
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty()) {
            if (in.error() == QFileDevice::NoError)
                break;
            job.strError = in.errorString();
            return false;
        }
        if (copy.write(chunk) != chunk.size()) {
            job.strError = copy.errorString();
            return false;
        }
        nWritten += chunk.size();
        job.copied = nBefore + nWritten;
    }
    copy.close();
    if (!out.Close()) {
        job.strError = out.ErrorString();
        return false;
    }
    if (job.cancel.load())
        return false;
    if (!out.Commit()) {
        job.strError = QStringLiteral("This target cannot take a copy written beside the old one and renamed "
                                      "into its place (%1). It was left as it was.")
                           .arg(out.ErrorString());
        return false;
    }
    // A device that drops part of a file while reporting success is caught here.
    const qint64 nOnTarget = QFileInfo(strDest).size();
    if (nOnTarget != nWritten) {
        job.strError =
            QStringLiteral("The target kept %1 of the file's %2 bytes.").arg(nOnTarget).arg(nWritten);
        return false;
    }
    return true;
}

// Copies the files one after the other, each whole or not at all.
bool CopyAllInto(const QStringList& lstFiles, const QString& strFolder, CopyJob& job) {
    qint64 nBefore = 0;
    for (const QString& strFile : lstFiles) {
        if (!CopyInto(strFile, strFolder, job, nBefore)) {
            job.strFailedFile = strFile;
            return false;
        }
        nBefore += QFileInfo(strFile).size();
    }
    return true;
}

enum class CopyResult { Copied, Failed, Cancelled };

// The progress box of the copy under way, if any: one copy at a time.
QPointer<QProgressDialog> g_pCopyUnderWay;

// How long a copy that was told to stop may take to tidy up before the window, or the end
// of the program, goes on without it.
constexpr std::chrono::milliseconds kStopGrace{500};

// A phone or a slow stick can take many seconds to take the file, and the window must
// keep painting and answering meanwhile: the copy runs on a thread of its own, and a
// progress box with Cancel appears when it takes longer than a moment. The worker owns
// its share of the job, so that one stuck on a dead device holds up nothing.
CopyResult CopyWithProgress(const QStringList& lstFiles, const QString& strFolder,
                            const QString& strTargetName, QWidget* pOwner, QString* pError,
                            QString* pFailedFile) {
    auto job = std::make_shared<CopyJob>();
    if (!StartWorkerThread([job, lstFiles, strFolder] {
            job->bCopied = CopyAllInto(lstFiles, strFolder, *job);
            job->done = true;
        })) {
        *pError = ErrnoText(EAGAIN);
        *pFailedFile = lstFiles.value(0);
        return CopyResult::Failed;
    }
    qint64 total = 0;
    for (const QString& strFile : lstFiles)
        total += QFileInfo(strFile).size();
    constexpr int kSteps = 1000;
    QProgressDialog progress(QStringLiteral("Sending the news feed file to %1...").arg(strTargetName),
                             QStringLiteral("Cancel"), 0, kSteps, pOwner);
    progress.setObjectName(QStringLiteral("sendToProgress"));
    progress.setWindowTitle(QStringLiteral("Send To"));
    // The window stays usable meanwhile, File Exit included; an update refuses to write the
    // file while it is being read, and a second Send To goes to this box.
    progress.setWindowModality(Qt::NonModal);
    progress.setMinimumDuration(500);
    g_pCopyUnderWay = &progress;
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    QEventLoop loop;
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    // The Cancel button, the window's close button and Escape all stop the copy.
    auto cancel = [&job, &giveUp] {
        job->cancel = true;
        if (!giveUp.isActive())
            giveUp.start(kStopGrace);
    };
    QObject::connect(&progress, &QProgressDialog::canceled, cancel);
    QObject::connect(&progress, &QDialog::rejected, cancel);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (job->done.load())
            loop.quit();
        else if (!progress.wasCanceled())
            progress.setValue(total > 0 ? int(qMin(job->copied.load(), total) * kSteps / total) : 0);
    });
    tick.start(20);
    // Also ends when the program does (Exit while the copy runs).
    loop.exec();
    if (!job->done.load()) {
        job->cancel = true;
        const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
        while (!job->done.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!job->done.load())
            return CopyResult::Cancelled;
    }
    if (job->bCopied)
        return CopyResult::Copied;
    if (job->cancel.load())
        return CopyResult::Cancelled;
    *pError = job->strError;
    *pFailedFile = job->strFailedFile;
    return CopyResult::Failed;
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

bool CannotStart(const SendTarget& target, const QString& strError, QWidget* pOwner) {
    ShowError(pOwner, QStringLiteral("Could not start \"%1\".\n\n%2").arg(target.strName, strError));
    return false;
}

// Themes name icons; a desktop without a theme still gets a picture from the style.
QIcon TargetIcon(const SendTarget& target) {
    if (QFileInfo(target.strIcon).isAbsolute() && QFileInfo::exists(target.strIcon))
        return QIcon(target.strIcon);
    if (!target.strIcon.isEmpty() && QIcon::hasThemeIcon(target.strIcon))
        return QIcon::fromTheme(target.strIcon);
    QStyle::StandardPixmap fallback = QStyle::SP_FileIcon;
    switch (target.kind) {
    case SendTarget::Kind::Copy:
        fallback = QStyle::SP_DriveHDIcon;
        break;
    case SendTarget::Kind::ChooseFolder:
        fallback = QStyle::SP_DirIcon;
        break;
    case SendTarget::Kind::KdeConnect:
        fallback = QStyle::SP_DriveNetIcon;
        break;
    case SendTarget::Kind::Run:
    case SendTarget::Kind::Mail:
        fallback = QStyle::SP_FileIcon;
        break;
    }
    return QApplication::style()->standardIcon(fallback);
}

// The desktop's answers that come within this time are in the menu that opens now; the
// menu still opens at once.
constexpr std::chrono::milliseconds kFreshAnswersWait{50};

QString MenuText(const QString& strName) {
    QString strText = strName;
    return strText.replace(u'&', QStringLiteral("&&"));
}

} // namespace

SendToMenu::SendToMenu() : SendToMenu(SendTargetFinder::ForThisDesktop()) {}

SendToMenu::SendToMenu(std::shared_ptr<SendTargetFinder> finder) : m_finder(std::move(finder)) {}

SendToMenu::~SendToMenu() = default;

bool SendToMenu::IsFeedFileReady(const QString& strFeedFile) {
    return FeedFileReader(strFeedFile).IsOpen();
}

bool SendToMenu::Run(const QString& strFeedFile, QWidget* pOwner, const QPoint& ptMenu,
                     const QStringList& lstWith) {
    if (g_pCopyUnderWay) {
        g_pCopyUnderWay->show();
        g_pCopyUnderWay->raise();
        g_pCopyUnderWay->activateWindow();
        return false;
    }
    if (!IsFeedFileReady(strFeedFile)) {
        ShowWarningBox(QStringLiteral("Warning"), kMissingFileText, pOwner);
        return false;
    }
    SetTargetPath(strFeedFile, lstWith);
    return ShowSendTo(pOwner, pOwner ? pOwner->mapToGlobal(ptMenu) : ptMenu);
}

void SendToMenu::SetTargetPath(const QString& strPath, const QStringList& lstWith) {
    m_lstFiles = QStringList{QFileInfo(strPath).absoluteFilePath()};
    for (const QString& strFile : lstWith)
        m_lstFiles << QFileInfo(strFile).absoluteFilePath();
}

bool SendToMenu::ShowSendTo(QWidget* pOwner, const QPoint& ptScreen) {
    const QList<SendTarget> lstTargets = m_finder->Targets(kFreshAnswersWait);
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
    QString strFailedFile;
    switch (CopyWithProgress(m_lstFiles, strFolder, strShownName, pOwner, &strError, &strFailedFile)) {
    case CopyResult::Copied:
        return true;
    case CopyResult::Failed: {
        const QString strWhat = strFailedFile == m_lstFiles.first()
                                    ? QStringLiteral("the news feed file")
                                    : QStringLiteral("\"%1\"").arg(QFileInfo(strFailedFile).fileName());
        ShowError(pOwner,
                  QStringLiteral("Could not copy %1 to \"%2\".\n\n%3").arg(strWhat, strShownName, strError));
        return false;
    }
    case CopyResult::Cancelled:
        break;
    }
    return false;
}

bool SendToMenu::ShareWithKdeConnect(const SendTarget& target, QWidget* pOwner) {
    for (const QString& strFile : m_lstFiles) {
        if (!ShareWithKdeConnect(target, strFile, pOwner))
            return false;
    }
    return true;
}

bool SendToMenu::ShareWithKdeConnect(const SendTarget& target, const QString& strFile, QWidget* pOwner) {
    // The window goes on answering while the daemon takes the file.
    QDBusPendingCallWatcher reply(QDBusConnection::sessionBus().asyncCall(
        KdeConnect::ShareCall(target.strDevice, strFile), KdeConnect::kTimeoutMs));
    QEventLoop loop;
    QObject::connect(&reply, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!reply.isFinished())
        loop.exec();
    // Not finished: the program is ending.
    if (!reply.isFinished())
        return false;
    if (!reply.isError())
        return true;
    ShowError(pOwner, QStringLiteral("Could not send the news feed file to \"%1\".\n\n%2")
                          .arg(target.strName, reply.error().message()));
    return false;
}

bool SendToMenu::SendTo(const SendTarget& target, QWidget* pOwner) {
    QString strError;
    switch (target.kind) {
    case SendTarget::Kind::ChooseFolder: {
        const QString strFolder = QFileDialog::getExistingDirectory(pOwner, QStringLiteral("Send To Folder"),
                                                                    QFileInfo(m_lstFiles.value(0)).path());
        if (strFolder.isEmpty())
            return false;
        return Copy(strFolder, QDir::toNativeSeparators(strFolder), pOwner);
    }
    case SendTarget::Kind::Copy:
        return Copy(target.strFolder, target.strName, pOwner);
    case SendTarget::Kind::KdeConnect:
        return ShareWithKdeConnect(target, pOwner);
    case SendTarget::Kind::Run:
        for (const QStringList& lstCommand : DesktopEntry::ExpandCommands(target, m_lstFiles)) {
            if (!StartDetached(lstCommand, target.strWorkDir, &strError))
                return CannotStart(target, strError, pOwner);
        }
        return true;
    case SendTarget::Kind::Mail: {
        QStringList lstCommand = target.lstCommand;
        for (const QString& strFile : m_lstFiles)
            lstCommand << QStringLiteral("--attach") << strFile;
        return StartDetached(lstCommand, target.strWorkDir, &strError) ||
               CannotStart(target, strError, pOwner);
    }
    }
    return false;
}
