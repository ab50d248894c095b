#include "CSendTo.h"

#include "DesktopEntry.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QSaveFile>
#include <QStyle>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const QString CSendTo::kMissingFileText =
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
    QMessageBox::warning(pOwner, QStringLiteral("Error"), strText);
}

// Copies the file into a folder under its own name, replacing what is there only once
// the new copy is complete where the folder allows it.
bool CopyInto(const QString& strFile, const QString& strFolder, QString* pError) {
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
    }
    if (!out.commit()) {
        *pError = out.errorString();
        return false;
    }
    return true;
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

CSendTo::CSendTo() : CSendTo(std::make_unique<CSystemSendTargets>()) {}

CSendTo::CSendTo(std::unique_ptr<ISendTargetSource> source) : m_source(std::move(source)) {}

CSendTo::~CSendTo() = default;

bool CSendTo::IsFeedFileReady(const QString& strFeedFile) {
    return FeedFileReader(strFeedFile).IsOpen();
}

bool CSendTo::Run(const QString& strFeedFile, QWidget* pOwner, const QPoint& ptMenu) {
    if (!IsFeedFileReady(strFeedFile)) {
        QMessageBox::warning(pOwner, QStringLiteral("Warning"), kMissingFileText);
        return false;
    }
    SetTargetPath(strFeedFile);
    return ShowSendTo(pOwner, pOwner ? pOwner->mapToGlobal(ptMenu) : ptMenu);
}

void CSendTo::SetTargetPath(const QString& strPath) {
    m_strTargetPath = QFileInfo(strPath).absoluteFilePath();
}

bool CSendTo::ShowSendTo(QWidget* pOwner, const QPoint& ptScreen) {
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

bool CSendTo::SendTo(const SendTarget& target, QWidget* pOwner) {
    QString strError;
    switch (target.kind) {
    case SendTarget::Kind::ChooseFolder: {
        const QString strFolder = QFileDialog::getExistingDirectory(pOwner, QStringLiteral("Send To Folder"),
                                                                    QFileInfo(m_strTargetPath).path());
        if (strFolder.isEmpty())
            return false;
        if (CopyInto(m_strTargetPath, strFolder, &strError))
            return true;
        ShowError(pOwner, QStringLiteral("Could not copy the news feed file to \"%1\".\n\n%2")
                              .arg(QDir::toNativeSeparators(strFolder), strError));
        return false;
    }
    case SendTarget::Kind::Copy:
        if (CopyInto(m_strTargetPath, target.strFolder, &strError))
            return true;
        ShowError(pOwner, QStringLiteral("Could not copy the news feed file to \"%1\".\n\n%2")
                              .arg(target.strName, strError));
        return false;
    case SendTarget::Kind::Run:
        if (StartDetached(DesktopEntry::ExpandCommand(target, m_strTargetPath), target.strWorkDir, &strError))
            return true;
        ShowError(pOwner, QStringLiteral("Could not start \"%1\".\n\n%2").arg(target.strName, strError));
        return false;
    }
    return false;
}
