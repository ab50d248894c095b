#pragma once

#include "delivery/Deliverer.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class Settings;
class UpdateController;
class QWidget;

// The delivery service: delivers each new edition after the runs the user chose, tries the
// outbox again at start, every 15 minutes and after every run, runs "Delivery" and "Deliver
// Now", and tells the user what came of it: a manual run in its end text; Deliver Now (and a
// manual run whose dialog was closed before its end) with an "Error" box for a failure and a
// desktop notification for success; a background pass as one desktop notification per failing
// target until it succeeds again.
class DeliveryController : public QObject {
    Q_OBJECT
public:
    // `settings` and `update` outlive the controller.
    DeliveryController(Settings& settings, UpdateController& update, QObject* parent = nullptr);
    // Stops a delivery under way (it stays in the outbox) and waits for it.
    ~DeliveryController() override;

    // Reads the settings, then tries the outbox and starts the 15-minute timer.
    void Start();

    // "Delivery...": runs the dialog and keeps what it says.
    void OnDelivery(QWidget* parent);
    // "Deliver Now": the newest edition to every target that has not had it, and whatever waits.
    void OnDeliverNow(QWidget* parent);

    // The newest edition of the news feed file, empty when there is none: what Deliver Now
    // carries to the targets that have not had it.
    static QString NewestEdition(const QString& feedFile);
    // The editions still waiting in the outbox, which the keep count must leave.
    QStringList FilesStillWaiting() const;

    bool IsDelivering() const { return m_bBusy.load(); }
    const QTimer& RetryTimer() const { return m_retryTimer; }

signals:
    // A failure to tell with the tray icon, where the desktop shows no notifications.
    void trayMessage(const QString& title, const QString& text);
    // A background pass (outbox, Deliver Now) has ended.
    void passFinished(const QList<DeliveryReport>& reports);

private:
    Deliverer::Options Options() const;
    void LoadSettings();
    // Runs on the run's thread: the delivery that follows a run.
    QStringList AfterRun(bool scheduled, const QString& book, const std::atomic_bool& stop);
    // A pass on a thread of its own; false when one is under way already.
    bool StartPass(const QString& edition, QWidget* reportTo);
    void TellFailures(const QList<DeliveryReport>& reports);
    // What the user asked for (Deliver Now, a manual run) came to this.
    void TellResult(const QList<DeliveryReport>& reports, bool hadEdition, QWidget* window);
    // A scheduled run that failed as a whole is recorded and told once, until one succeeds.
    void OnScheduledRunEnded(const QString& reason);
    // A desktop notification; false when no notification service took it.
    bool Notify(const QString& title, const QString& text);
    // A failure nobody waits for: a notification, else the tray icon's message.
    void NotifyFailure(const QString& title, const QString& text);

    Settings& m_settings;
    UpdateController& m_update;
    mutable std::mutex m_mutex; // guards m_options, which the runs' threads read
    Deliverer::Options m_options;
    QTimer m_retryTimer;
    std::thread m_worker;
    std::atomic_bool m_bBusy{false};
    std::atomic_bool m_stop{false};
    // Whether the pass under way was asked for by the user; a Deliver Now that came while
    // another pass ran, to start once it ends.
    bool m_bManualPass = false;
    bool m_bDeliverNowWaits = false;
    QPointer<QWidget> m_pDeliverNowWindow;
    // The delivery that followed the manual run under way, until its dialog has told it.
    std::mutex m_manualMutex;
    QList<DeliveryReport> m_manualReports;
};
