#pragma once

#include "update/Schedule.h"
#include "update/ui/CDlgProgress.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class FeedCache;
class Settings;
class UpdateEngine;
struct UpdateJob;
class QWidget;

// The update service: the update commands, the options and the automatic schedule. The
// application makes the one instance and hands it to the tree view, which keeps the tree
// and collects the addresses; everything else about update runs is here.
class UpdateController : public QObject {
    Q_OBJECT
public:
    // What the controller asks of the view.
    struct Sources {
        std::function<QStringList()> collectAll;            // every feed in tree order (scheduled runs)
        std::function<bool()> syncChannels;                 // the "Synchronize Channels" switch
        std::function<QString()> channelFile;               // the channel file carried while the switch is on
        std::function<QString(const QString& url)> titleOf; // a feed's title, for the list of failures
    };

    // `settings` and `clock` outlive the controller. The feed cache lives in the user's
    // cache folder.
    UpdateController(Settings& settings, const Clock& clock, QObject* parent = nullptr);
    // Stops a run under way and waits until its file is closed.
    ~UpdateController() override;

    // The view that the runs serve: where the feeds come from, and the window that owns
    // the dialogs and boxes (null: none).
    void Attach(Sources sources, QWidget* dialogParent);

    // Reads the output path, the e-book switch and the schedule (once, when the view first
    // initialises).
    void LoadSettings();
    // Starts the one-second schedule timer; it runs until the controller goes.
    void StartTimer();

    // What follows every run on its thread once its book is made (the delivery): see
    // UpdateJob::afterRun; `scheduled` tells a scheduled run from a manual one.
    using AfterRun =
        std::function<QStringList(bool scheduled, const QString& book, const std::atomic_bool& stop)>;
    void SetAfterRun(AfterRun afterRun) { m_afterRun = std::move(afterRun); }
    // The editions that the keep count must leave (those the delivery still has to carry):
    // see EditionJob::spare.
    void SetSparedEditions(std::function<QStringList()> spare) { m_spareEditions = std::move(spare); }

    // "Update All Feeds", "Update Marked Feeds", "Update Current Feed": abandons a scheduled
    // run under way, then collects the feeds and runs them under the progress dialog.
    void OnUpdate(const std::function<QStringList()>& collect);
    // The manual run. 0 when the run was shown or there was nothing to do; -1 when the
    // private temporary folder cannot be used or the output file cannot be created, which
    // is said in an "Error" box; the file is then left as it was.
    int RunUpdate(const QStringList& urls, const QString& path);
    // "Options": runs the options dialog and stores what it says.
    void OnOptions();
    // One tick of the schedule timer.
    void OnTimer();
    // Starts a run of every feed without any window; false when nothing was started, and
    // then the file is left as it was.
    bool StartScheduledRun();
    // Stops a scheduled run under way and waits until its file is closed with complete records.
    void AbandonScheduledRun();

    QString FeedFile() const { return m_strFeedFile; }
    // Whether every run also makes the e-book edition beside the news feed file.
    bool EBook() const { return m_bEBook; }
    int Interval() const { return m_nInterval; }
    int Hour() const { return m_nHour; }
    int Minute() const { return m_nMinute; }
    bool IsUpdating() const { return m_bUpdating.load(); }
    const QTimer& UpdateTimer() const { return m_nUpdateTimer; }

    // The dialog of the manual run under way, and the scheduled run under way.
    CDlgProgress* ProgressDialog() const { return m_pProgress; }
    UpdateEngine* ScheduledRun() const { return m_pScheduled.get(); }
    // The last good copies of the feeds; null when the system names no cache folder.
    const std::shared_ptr<FeedCache>& Cache() const { return m_pCache; }

    // The addresses of the feeds whose articles the e-book carries whole, fetched from the web.
    QStringList WholeArticleFeeds() const;
    void SetWholeArticleFeeds(const QStringList& urls);

signals:
    // A run has ended: its file is closed and, for a manual run, its dialog is gone.
    void runFinished(bool manual);
    // A manual run's dialog is gone; `endTextShown` is false when it closed before its end
    // text (cancelled), so what followed the run (the delivery) is still to be told.
    void manualRunClosed(bool endTextShown);
    // A scheduled run has ended (`failure` empty), or could not start or stopped as a whole
    // (the news feed file or the temporary folder cannot be used) and why; nobody is there to
    // see a box.
    void scheduledRunEnded(const QString& failure);

private:
    UpdateJob MakeJob(const QStringList& urls, bool scheduled, const QString& tempFolder) const;
    void OnManualRunClosed();

    Settings& m_settings;
    const Clock& m_clock;
    Sources m_sources;
    AfterRun m_afterRun;
    std::function<QStringList()> m_spareEditions;
    QWidget* m_pDialogParent = nullptr;
    ScheduleCheck m_check;
    std::shared_ptr<FeedCache> m_pCache;
    std::shared_ptr<FeedCache> m_pPictureCache;
    std::shared_ptr<FeedCache> m_pArticleCache;

    QString m_strFeedFile;
    bool m_bEBook = false;
    bool m_bGreyPictures = false;
    int m_nInterval = 1;
    int m_nHour = 6;
    int m_nMinute = 0;
    std::atomic_bool m_bUpdating{false};
    QTimer m_nUpdateTimer;

    std::unique_ptr<UpdateEngine> m_pManual;
    QPointer<CDlgProgress> m_pProgress;
    std::unique_ptr<UpdateEngine> m_pScheduled;
};
