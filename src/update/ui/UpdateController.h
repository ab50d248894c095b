#pragma once

#include "update/CWebAccess.h"
#include "update/Schedule.h"
#include "update/ui/CDlgProgress.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class Settings;
class UpdateEngine;
struct UpdateJob;
class QWidget;

// The update commands, the options and the automatic schedule of the tree view. The view
// keeps the tree and collects the addresses; everything else about update runs is here.
class UpdateController : public QObject {
    Q_OBJECT
public:
    // What the controller asks of the view.
    struct Sources {
        std::function<QStringList()> collectAll; // every feed in tree order (scheduled runs)
        std::function<bool()> syncChannels;      // the "Synchronize Channels" switch
        std::function<QString()> channelFile;    // the channel file carried while the switch is on
    };

    // `dialogParent` owns the dialogs' windows (the view); `settings` and `clock` outlive the controller.
    UpdateController(Settings& settings, const Clock& clock, Sources sources, QWidget* dialogParent,
                     QObject* parent = nullptr);
    // Stops a run under way and waits until its file is closed.
    ~UpdateController() override;

    // Reads the output path and the schedule (once, when the view first initialises).
    void LoadSettings();
    // Starts the one-second schedule timer; it runs until the controller goes.
    void StartTimer();

    // "Update All Feeds", "Update Marked Feeds", "Update Current Feed": abandons a scheduled
    // run under way, then collects the feeds and runs them under the progress dialog.
    void OnUpdate(const std::function<QStringList()>& collect);
    // The manual run. 0 when the run was shown or there was nothing to do; -1 when the
    // output file cannot be created, which is said in an "Error" box.
    int RunUpdate(const QStringList& urls, const QString& path);
    // "Options": runs the options dialog and stores what it says.
    void OnOptions();
    // One tick of the schedule timer.
    void OnTimer();
    // Starts a run of every feed without any window; false when nothing was started.
    bool StartScheduledRun();
    // Stops a scheduled run under way and waits until its file is closed with complete records.
    void AbandonScheduledRun();

    QString FeedFile() const { return m_strFeedFile; }
    int Interval() const { return m_nInterval; }
    int Hour() const { return m_nHour; }
    int Minute() const { return m_nMinute; }
    bool IsUpdating() const { return m_bUpdating.load(); }
    const QTimer& UpdateTimer() const { return m_nUpdateTimer; }

    // The dialog of the manual run under way, and the scheduled run under way.
    CDlgProgress* ProgressDialog() const { return m_pProgress; }
    UpdateEngine* ScheduledRun() const { return m_pScheduled.get(); }

    // Downloads at once, in all and from one host (tests compare with one at a time).
    void SetTransferLimits(int maxTransfers, int maxPerHost);
    void SetWebOptions(const CWebAccess::Options& options) { m_webOptions = options; }

signals:
    // A run has ended: its file is closed and, for a manual run, its dialog is gone.
    void runFinished(bool manual);

private:
    UpdateJob MakeJob(const QStringList& urls, const QString& agentName) const;
    void OnManualRunClosed();

    Settings& m_settings;
    Sources m_sources;
    QWidget* m_pDialogParent;
    ScheduleCheck m_check;

    QString m_strFeedFile;
    int m_nInterval = 1;
    int m_nHour = 6;
    int m_nMinute = 0;
    std::atomic_bool m_bUpdating{false};
    QTimer m_nUpdateTimer;

    int m_nMaxTransfers = 8;
    int m_nMaxPerHost = 4;
    CWebAccess::Options m_webOptions;

    std::unique_ptr<UpdateEngine> m_pManual;
    QPointer<CDlgProgress> m_pProgress;
    std::unique_ptr<UpdateEngine> m_pScheduled;
};
