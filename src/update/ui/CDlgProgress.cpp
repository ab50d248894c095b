#include "update/ui/CDlgProgress.h"

#include "shell/WarningBox.h"
#include "update/UpdateEngine.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

namespace {
const QString kFinished = QStringLiteral("Finished.");
const QString kFinishedFailed =
    QStringLiteral("Finished. Failed to get one or more feeds, which will not be updated on your phone.");
const QString kMakingEBook = QStringLiteral("Making the e-book...");
// How long the feeds done wait at most before the dialog tells them.
constexpr int kPresentIntervalMs = 50;
} // namespace

CDlgProgress::CDlgProgress(const QStringList* pUrlList, UpdateEngine* pEngine, QWidget* parent)
    : QDialog(parent), m_pUrlList(pUrlList), m_pEngine(pEngine), m_strStatus(QStringLiteral("Updating...")) {
    setWindowTitle(QStringLiteral("Updating Feeds..."));

    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/images/dlg_progress.png")));
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    m_ctlStatus = new QLabel(QStringLiteral("Update "), this);
    m_ctlStatus->setObjectName(QStringLiteral("status"));
    m_ctlStatus->setTextFormat(Qt::PlainText);
    m_ctlStatus->setMinimumWidth(360);
    // A long address must not widen the dialog past the screen; a long line wraps instead.
    m_ctlStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_ctlStatus->setWordWrap(true);
    m_ctlProgress = new QProgressBar(this);
    m_ctlProgress->setObjectName(QStringLiteral("progress"));
    m_ctlProgress->setAccessibleName(QStringLiteral("Progress"));
    m_ctlProgress->setTextVisible(false);
    m_ctlProgress->setRange(0, static_cast<int>(m_pUrlList->size()));
    m_ctlProgress->setValue(0);

    // Filled and shown when the run ends with failures.
    m_ctlFailed = new QTreeWidget(this);
    m_ctlFailed->setObjectName(QStringLiteral("failed"));
    m_ctlFailed->setAccessibleName(QStringLiteral("Failed feeds"));
    m_ctlFailed->setHeaderLabels(
        {QStringLiteral("Title"), QStringLiteral("Address"), QStringLiteral("Reason")});
    m_ctlFailed->setRootIsDecorated(false);
    m_ctlFailed->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_ctlFailed->setMinimumHeight(120);
    m_ctlFailed->hide();
    m_btnCopyFailed = new QPushButton(QStringLiteral("&Copy List"), this);
    m_btnCopyFailed->setAutoDefault(false);
    m_btnCopyFailed->hide();
    connect(m_btnCopyFailed, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(FailedFeedsText()); });

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    m_btnOK = new QPushButton(QStringLiteral("OK"), this);
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(m_btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CDlgProgress::reject);

    auto* right = new QVBoxLayout;
    right->addWidget(m_ctlStatus);
    right->addWidget(m_ctlProgress);
    right->addWidget(m_ctlFailed, 100);
    right->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_btnCopyFailed);
    buttons->addStretch(1);
    buttons->addWidget(m_btnOK);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(line);
    layout->addLayout(buttons);

    SetStatus(m_strStatus);
    m_btnOK->setEnabled(false);
    m_btnCancel->setEnabled(true);
    m_btnCancel->setDefault(true);

    m_presentTimer.setSingleShot(true);
    m_presentTimer.setInterval(kPresentIntervalMs);
    connect(&m_presentTimer, &QTimer::timeout, this, &CDlgProgress::Present);
    connect(m_pEngine, &UpdateEngine::feedDone, this, &CDlgProgress::OnFeedDone);
    connect(m_pEngine, &UpdateEngine::makingEBook, this, &CDlgProgress::OnMakingEBook);
    connect(m_pEngine, &UpdateEngine::articlesFetched, this,
            [this](int done, int total) { OnBookStage(QStringLiteral("articles"), done, total); });
    connect(m_pEngine, &UpdateEngine::picturesFetched, this,
            [this](int done, int total) { OnBookStage(QStringLiteral("pictures"), done, total); });
    connect(m_pEngine, &UpdateEngine::delivering, this, [this] {
        if (!m_bClosing && !m_bFinished)
            SetStatus(QStringLiteral("Delivering the e-book..."));
    });
    connect(m_pEngine, &UpdateEngine::finished, this, &CDlgProgress::OnEngineFinished);
}

QString CDlgProgress::FailureText(const QString& url) {
    return QStringLiteral("Failed to download %1, please check the URL and the Internet connection.")
        .arg(url);
}

QString CDlgProgress::EBookFailureText(const QString& bookPath, const QString& reason) {
    const QString path = QDir::toNativeSeparators(bookPath);
    // The writer's reasons often begin with the book's path; once is enough.
    const QString prefix = path + QStringLiteral(": ");
    return QStringLiteral("Failed to write the e-book %1: %2")
        .arg(path, reason.startsWith(prefix) ? reason.mid(prefix.size()) : reason);
}

QString CDlgProgress::FailedFeedsText() const {
    QString text;
    for (const Done& failed : m_failed) {
        const QString& url = m_pUrlList->at(failed.index);
        text +=
            TitleOf(url) + QLatin1Char('\t') + url + QLatin1Char('\t') + failed.reason + QLatin1Char('\n');
    }
    return text;
}

void CDlgProgress::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_bStarted)
        return;
    m_bStarted = true;
    if (!m_pUrlList->isEmpty())
        SetStatus(QStringLiteral("Downloading ") + m_pUrlList->first());
    m_pEngine->Start();
}

void CDlgProgress::SetStatus(const QString& text) {
    m_strStatus = text;
    m_ctlStatus->setText(text);
}

void CDlgProgress::OnFeedDone(int index, bool ok, const QString& reason) {
    m_pending.push_back({index, ok, reason});
    // Thousands of feeds can be done within a second: told in batches a few times a second,
    // the dialog does not spend the run laying out and painting lines nobody could read.
    if (!m_presentTimer.isActive())
        m_presentTimer.start();
}

void CDlgProgress::OnMakingEBook() {
    m_bMakingEBook = true;
    m_strStage.clear();
    // A cancelled run still makes the book of what it wrote: say why the dialog stays.
    if (m_bClosing)
        SetStatus(kMakingEBook);
    else
        Present();
}

void CDlgProgress::OnBookStage(const QString& what, int done, int total) {
    m_strStage = what;
    m_nStageDone = done;
    m_nStageTotal = total;
    if (!m_bClosing)
        Present();
}

void CDlgProgress::OnEngineFinished() {
    m_bEngineDone = true;
    if (m_bClosing) {
        if (isVisible())
            QDialog::reject();
        return;
    }
    Present();
}

// Tells the feeds done so far, in list order, up to the next failure, whose box then
// holds the story until it is answered.
void CDlgProgress::Present() {
    m_presentTimer.stop();
    const int presented = m_nPresented;
    while (!m_pBox && !m_pending.empty() && !m_bClosing) {
        const Done done = m_pending.front();
        m_pending.pop_front();
        if (!done.ok) {
            ShowPresented();
            m_bFailed = true;
            m_failed.push_back(done);
            ShowBox(FailureText(m_pUrlList->at(done.index)), done.reason);
            return;
        }
        ++m_nPresented;
    }
    if (m_nPresented != presented)
        ShowPresented();
    if (m_pBox || !m_pending.empty() || m_bFinished || m_bClosing)
        return;
    if (m_bEngineDone) {
        Finish();
    } else if (!m_strStage.isEmpty()) {
        // The book's downloads are stages of their own, counted on the same bar.
        m_ctlProgress->setRange(0, m_nStageTotal);
        m_ctlProgress->setValue(m_nStageDone);
        SetStatus(
            QStringLiteral("Fetching %1: %2 of %3").arg(m_strStage).arg(m_nStageDone).arg(m_nStageTotal));
    } else if (m_bMakingEBook) {
        SetStatus(kMakingEBook);
    }
}

void CDlgProgress::Advance() {
    ++m_nPresented;
    ShowPresented();
}

void CDlgProgress::ShowPresented() {
    m_ctlProgress->setValue(m_nPresented);
    if (m_nPresented < m_pUrlList->size())
        SetStatus(QStringLiteral("Downloading ") + m_pUrlList->at(m_nPresented));
}

void CDlgProgress::ShowBox(const QString& text, const QString& reason) {
    // A child window that is not modal: the dialog's own buttons stay usable under it.
    QMessageBox* box = MakeWarningBox(QStringLiteral("Error"), text, this);
    box->setInformativeText(reason);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this] {
        m_pBox = nullptr;
        if (m_bFinished || m_bClosing)
            return;
        Advance();
        Present();
    });
    m_pBox = box;
    ShowWhenDialogIsUp(box);
}

// A box mapped before the window manager has put the dialog itself on screen is not
// stacked over it (the first feed can fail within milliseconds), and Return would then
// press the dialog's Cancel: the box waits until the dialog is up.
void CDlgProgress::ShowWhenDialogIsUp(QMessageBox* box) {
    if (!windowHandle() || !windowHandle()->isExposed()) {
        QTimer::singleShot(20, box, [this, box] { ShowWhenDialogIsUp(box); });
        return;
    }
    box->show();
    box->raise();
    box->activateWindow();
}

void CDlgProgress::Finish() {
    m_bFinished = true;
    const UpdateEngine::Outcome outcome = m_pEngine->GetOutcome();
    m_btnCancel->setEnabled(false);
    m_btnOK->setEnabled(true);
    m_btnOK->setDefault(true);
    m_btnOK->setFocus();
    // The end is told about the feeds alone, and so is the bar.
    m_ctlProgress->setRange(0, static_cast<int>(m_pUrlList->size()));
    m_ctlProgress->setValue(m_nPresented);
    const bool stopped = outcome.failure != UpdateEngine::Failure::None;
    QStringList end{m_bFailed || stopped ? kFinishedFailed : kFinished};
    end += outcome.bookNotes;
    end += outcome.afterRunLines;
    SetStatus(end.join(QLatin1Char('\n')));
    ShowFailedFeeds();
    if (outcome.failure == UpdateEngine::Failure::Write)
        ShowBox(QStringLiteral("Failed to write %1: %2\nThe update was stopped.")
                    .arg(QDir::toNativeSeparators(m_pEngine->OutputPath()), outcome.reason));
    else if (!outcome.bookError.isEmpty())
        ShowBox(EBookFailureText(outcome.bookPath, outcome.bookError));
}

void CDlgProgress::ShowFailedFeeds() {
    if (m_failed.empty())
        return;
    for (const Done& failed : m_failed) {
        const QString& url = m_pUrlList->at(failed.index);
        auto* row = new QTreeWidgetItem(m_ctlFailed, {TitleOf(url), url, failed.reason});
        row->setToolTip(1, url);
    }
    m_ctlFailed->header()->resizeSections(QHeaderView::ResizeToContents);
    m_ctlFailed->show();
    m_btnCopyFailed->show();
    // Room for the list without the user having to resize the dialog.
    resize(std::max(width(), 640), std::max(height(), sizeHint().height()));
}

void CDlgProgress::reject() {
    m_bClosing = true;
    if (m_pBox)
        m_pBox->close();
    if (!m_bEngineDone && m_pEngine->IsRunning()) {
        // Close once the file ends after its last complete record and its lock is released.
        m_btnCancel->setEnabled(false);
        m_pEngine->Cancel();
        return;
    }
    QDialog::reject();
}
