#include "update/ui/UpdateController.h"

#include "base/AppPaths.h"
#include "base/Settings.h"
#include "edition/ArticleHistory.h"
#include "shell/WarningBox.h"
#include "update/EBookEdition.h"
#include "update/FeedCache.h"
#include "update/NewsFeedOutput.h"
#include "update/UpdateEngine.h"
#include "update/ui/CDlgOptions.h"
#include "update/ui/CDlgProgress.h"

#include <QDir>

namespace {
const QString kManualAgent = QStringLiteral("Corvantis RSS Reader");
const QString kScheduledAgent = QStringLiteral("RSS Reader");
} // namespace

UpdateController::UpdateController(Settings& settings, const Clock& clock, QObject* parent)
    : QObject(parent), m_settings(settings), m_clock(clock), m_check(clock) {
    const QString cacheFolder = AppPaths::FeedCacheFolder();
    if (!cacheFolder.isEmpty())
        m_pCache = std::make_shared<FeedCache>(cacheFolder);
    const QString pictureFolder = AppPaths::PictureCacheFolder();
    if (!pictureFolder.isEmpty())
        m_pPictureCache = std::make_shared<FeedCache>(pictureFolder);
    // The pages of whole articles come once or twice each: they have a cache of their own, so
    // that they never push the feeds out of theirs.
    const QString articleFolder = AppPaths::ArticleCacheFolder();
    if (!articleFolder.isEmpty())
        m_pArticleCache = std::make_shared<FeedCache>(articleFolder);
    m_nUpdateTimer.setInterval(1000);
    connect(&m_nUpdateTimer, &QTimer::timeout, this, &UpdateController::OnTimer);
}

UpdateController::~UpdateController() {
    AbandonScheduledRun();
    delete m_pProgress;
    m_pManual.reset();
}

void UpdateController::Attach(Sources sources, QWidget* dialogParent) {
    m_sources = std::move(sources);
    m_pDialogParent = dialogParent;
}

void UpdateController::LoadSettings() {
    m_strFeedFile = m_settings.FeedFile();
    m_bEBook = m_settings.EBook();
    m_bGreyPictures = m_settings.GreyPictures();
    m_nInterval = m_settings.Interval();
    m_nHour = m_settings.Hour();
    m_nMinute = m_settings.Minute();
}

void UpdateController::StartTimer() {
    m_check.Start();
    m_nUpdateTimer.start();
}

UpdateJob UpdateController::MakeJob(const QStringList& urls, bool scheduled,
                                    const QString& tempFolder) const {
    UpdateJob job;
    job.urls = urls;
    job.agentName = scheduled ? kScheduledAgent : kManualAgent;
    job.syncChannels = m_sources.syncChannels && m_sources.syncChannels();
    job.channelFile = m_sources.channelFile ? m_sources.channelFile() : AppPaths::ChannelFile();
    job.tempFolder = tempFolder;
    job.webOptions.cache = m_pCache;
    job.pictureCache = m_pPictureCache;
    job.articleCache = m_pArticleCache;
    if (m_bEBook) {
        const QStringList whole = m_settings.WholeArticleFeeds();
        job.wholeArticleFeeds = QSet<QString>(whole.begin(), whole.end());
        const Settings::Edition edition = m_settings.EditionOptions();
        job.edition = EditionJob{AppPaths::HistoryFile(),
                                 {edition.onlyNew, edition.maxArticles, edition.maxAgeDays},
                                 edition.keep,
                                 m_spareEditions};
    }
    job.greyPictures = m_bGreyPictures;
    job.runTime = m_clock.LocalNow();
    if (m_afterRun) {
        job.afterRun = [afterRun = m_afterRun, scheduled](const QString& book, const std::atomic_bool& stop) {
            return afterRun(scheduled, book, stop);
        };
    }
    return job;
}

void UpdateController::OnUpdate(const std::function<QStringList()>& collect) {
    AbandonScheduledRun();
    RunUpdate(collect(), m_strFeedFile);
}

int UpdateController::RunUpdate(const QStringList& urls, const QString& path) {
    AbandonScheduledRun();
    if (m_pProgress) {
        // The dialog is modal, so only a caller outside the window gets here: show the run under way.
        m_pProgress->raise();
        m_pProgress->activateWindow();
        return 0;
    }
    if (urls.isEmpty()) {
        m_bUpdating.store(false);
        return 0;
    }
    m_bUpdating.store(true);
    // Everything the run needs is checked before the file is truncated, so a run that
    // cannot start leaves the last good file as it was.
    QString error;
    const QString tempFolder = AppPaths::PrivateTempFolder(&error);
    if (tempFolder.isEmpty()) {
        m_bUpdating.store(false);
        ShowWarningBox(QStringLiteral("Error"),
                       QStringLiteral("Failed to create the temporary files of the update: %1").arg(error),
                       m_pDialogParent);
        return -1;
    }
    std::unique_ptr<NewsFeedOutput> output = NewsFeedOutput::Open(path, &error);
    if (!output) {
        m_bUpdating.store(false);
        ShowWarningBox(QStringLiteral("Error"),
                       QStringLiteral("Failed to create %1: %2").arg(QDir::toNativeSeparators(path), error),
                       m_pDialogParent);
        return -1;
    }
    m_pManual = std::make_unique<UpdateEngine>(MakeJob(urls, false, tempFolder), std::move(output));
    m_pProgress = new CDlgProgress(&m_pManual->Job().urls, m_pManual.get(), m_pDialogParent);
    m_pProgress->m_titleOf = m_sources.titleOf;
    connect(m_pProgress, &QDialog::finished, this, &UpdateController::OnManualRunClosed);
    // open() keeps the window's event loop running; the dialog starts the run when it shows.
    m_pProgress->open();
    return 0;
}

void UpdateController::OnManualRunClosed() {
    // A dialog that finished has told the e-book's failure itself; a cancelled one has not.
    const bool told = m_pProgress && m_pProgress->IsFinished();
    const QString bookError = m_pManual ? m_pManual->GetOutcome().bookError : QString();
    const QString bookPath = m_pManual ? m_pManual->GetOutcome().bookPath : QString();
    if (m_pProgress)
        m_pProgress->deleteLater();
    m_pProgress = nullptr;
    // The dialog closes only once the run has closed its file, so the engine goes without waiting.
    if (m_pManual)
        m_pManual.release()->deleteLater();
    m_bUpdating.store(false);
    emit manualRunClosed(told);
    emit runFinished(true);
    if (!told && !bookError.isEmpty())
        ShowWarningBox(QStringLiteral("Error"), CDlgProgress::EBookFailureText(bookPath, bookError),
                       m_pDialogParent);
}

void UpdateController::OnOptions() {
    CDlgOptions dialog(m_pDialogParent);
    dialog.m_strFeedFile = m_strFeedFile;
    dialog.m_bEBook = m_bEBook;
    const Settings::Edition edition = m_settings.EditionOptions();
    dialog.m_bOnlyNew = edition.onlyNew;
    dialog.m_nMaxArticles = edition.maxArticles;
    dialog.m_nMaxAgeDays = edition.maxAgeDays;
    dialog.m_nKeep = edition.keep;
    dialog.m_forgetArticles = [](QString* error) {
        edition::ArticleHistory history(AppPaths::HistoryFile());
        if (history.Forget())
            return true;
        *error = history.Note().isEmpty() ? history.ErrorString() : history.Note();
        return false;
    };
    dialog.m_bGreyPictures = m_bGreyPictures;
    dialog.m_nHour = m_nHour;
    dialog.m_nMinute = m_nMinute;
    dialog.m_nIntervalChoice = Schedule::IntervalToChoice(m_nInterval);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_strFeedFile = dialog.m_strFeedFile;
    m_nInterval = Schedule::ChoiceToInterval(dialog.m_nIntervalChoice, m_nInterval);
    if (dialog.m_nIntervalChoice == CDlgOptions::DailyChoice) {
        m_nHour = dialog.m_nHour;
        m_nMinute = dialog.m_nMinute;
    }
    m_bEBook = dialog.m_bEBook;
    m_bGreyPictures = dialog.m_bGreyPictures;
    m_settings.SetFeedFile(m_strFeedFile);
    m_settings.SetEBook(m_bEBook);
    m_settings.SetEditionOptions(
        {dialog.m_bOnlyNew, dialog.m_nMaxArticles, dialog.m_nMaxAgeDays, dialog.m_nKeep});
    m_settings.SetGreyPictures(m_bGreyPictures);
    m_settings.SetSchedule(m_nInterval, m_nHour, m_nMinute);
    m_settings.Sync();
}

QStringList UpdateController::WholeArticleFeeds() const {
    return m_settings.WholeArticleFeeds();
}

void UpdateController::SetWholeArticleFeeds(const QStringList& urls) {
    m_settings.SetWholeArticleFeeds(urls);
    m_settings.Sync();
}

void UpdateController::OnTimer() {
    // Every tick goes through the check, busy or not, so that it knows which minute it has seen.
    if (!m_check.Tick(m_nInterval, m_nHour, m_nMinute) || m_bUpdating.load())
        return;
    StartScheduledRun();
}

bool UpdateController::StartScheduledRun() {
    m_bUpdating.store(true);
    const QStringList urls = m_sources.collectAll ? m_sources.collectAll() : QStringList();
    QString error;
    const QString tempFolder = urls.isEmpty() ? QString() : AppPaths::PrivateTempFolder(&error);
    std::unique_ptr<NewsFeedOutput> output;
    if (!tempFolder.isEmpty()) {
        output = NewsFeedOutput::Open(m_strFeedFile, &error);
        if (!output)
            error =
                QStringLiteral("Failed to create %1: %2").arg(QDir::toNativeSeparators(m_strFeedFile), error);
    } else if (!urls.isEmpty()) {
        error = QStringLiteral("Failed to create the temporary files of the update: %1").arg(error);
    }
    if (!output) {
        m_bUpdating.store(false);
        if (!error.isEmpty())
            emit scheduledRunEnded(error);
        return false;
    }
    m_pScheduled = std::make_unique<UpdateEngine>(MakeJob(urls, true, tempFolder), std::move(output));
    UpdateEngine* engine = m_pScheduled.get();
    // The engine is the context: abandoning it drops whatever it had still queued for us.
    connect(engine, &UpdateEngine::finished, engine, [this, engine] {
        const UpdateEngine::Outcome outcome = engine->GetOutcome();
        emit scheduledRunEnded(outcome.failure == UpdateEngine::Failure::Write
                                   ? QStringLiteral("Failed to write %1: %2")
                                         .arg(QDir::toNativeSeparators(engine->OutputPath()), outcome.reason)
                                   : QString());
        m_pScheduled.release()->deleteLater();
        m_bUpdating.store(false);
        emit runFinished(false);
    });
    engine->Start();
    return true;
}

void UpdateController::AbandonScheduledRun() {
    if (!m_pScheduled)
        return;
    // The manual run that follows, or the exit, makes its own book: this one's is dropped.
    m_pScheduled->Abandon();
    m_pScheduled->Wait();
    m_pScheduled.reset();
    m_bUpdating.store(false);
}
