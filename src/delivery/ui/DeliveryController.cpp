#include "delivery/ui/DeliveryController.h"

#include "base/AppPaths.h"
#include "base/Settings.h"
#include "delivery/Outbox.h"
#include "delivery/SecretStore.h"
#include "delivery/ui/CDlgDelivery.h"
#include "desktop/KdeConnect.h"
#include "edition/ArticleHistory.h"
#include "edition/EditionFiles.h"
#include "shell/WarningBox.h"
#include "update/ui/UpdateController.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>

#include <utility>

namespace {

constexpr int kRetryMinutes = 15;
const QString kRunTarget = QStringLiteral("run:scheduled");

// What the article history recorded of the edition in `book`: its counts for the mail, its
// number for the outbox. Asked on the delivery's thread, beside a run that may be writing.
EditionSummary SummaryOf(const QString& historyFile, const QString& book) {
    edition::ArticleHistory::Edition record;
    if (book.isEmpty() || !edition::ArticleHistory::FindEdition(historyFile, book, &record))
        return {};
    return {record.feeds, record.articles, record.number};
}

QString TriesAgain() {
    return QStringLiteral("\nPellavo tries again every %1 minutes.").arg(kRetryMinutes);
}

} // namespace

DeliveryController::DeliveryController(Settings& settings, UpdateController& update, QObject* parent)
    : QObject(parent), m_settings(settings), m_update(update) {
    m_retryTimer.setInterval(kRetryMinutes * 60 * 1000);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { StartPass(QString(), nullptr); });
    m_update.SetAfterRun([this](bool scheduled, const QString& book, const std::atomic_bool& stop) {
        return AfterRun(scheduled, book, stop);
    });
    m_update.SetSparedEditions([this] { return FilesStillWaiting(); });
    connect(&m_update, &UpdateController::scheduledRunEnded, this, &DeliveryController::OnScheduledRunEnded);
    connect(&m_update, &UpdateController::manualRunClosed, this, [this](bool endTextShown) {
        QList<DeliveryReport> reports;
        {
            const std::lock_guard lock(m_manualMutex);
            reports.swap(m_manualReports);
        }
        // A run cancelled while its book was made still delivers it, after its dialog has gone.
        if (!endTextShown && !reports.isEmpty())
            TellResult(reports, true, QApplication::activeWindow());
    });
}

DeliveryController::~DeliveryController() {
    // A scheduled run under way would deliver through this controller once its book is made.
    m_update.AbandonScheduledRun();
    m_update.SetAfterRun({});
    m_update.SetSparedEditions({});
    m_stop.store(true);
    if (m_worker.joinable())
        m_worker.join();
}

QString DeliveryController::NewestEdition(const QString& feedFile) {
    const QStringList editions = edition::EditionFiles(feedFile);
    return editions.isEmpty() ? QString() : editions.last();
}

void DeliveryController::LoadSettings() {
    Deliverer::Options options;
    options.settings = m_settings.DeliverySettings();
    options.keep = m_settings.EditionOptions().keep;
    options.outboxPath = AppPaths::HistoryFile();
    options.tempFolder = AppPaths::PrivateTempFolder();
    QDir().mkpath(QFileInfo(options.outboxPath).absolutePath());
    const std::lock_guard lock(m_mutex);
    m_options = std::move(options);
}

Deliverer::Options DeliveryController::Options() const {
    const std::lock_guard lock(m_mutex);
    return m_options;
}

void DeliveryController::Start() {
    LoadSettings();
    // What a crash or a missing network left in the outbox goes now.
    StartPass(QString(), nullptr);
    m_retryTimer.start();
}

QStringList DeliveryController::FilesStillWaiting() const {
    return Deliverer(Options()).FilesStillWaiting(QDateTime::currentDateTime());
}

QStringList DeliveryController::AfterRun(bool scheduled, const QString& book, const std::atomic_bool& stop) {
    Deliverer::Options options = Options();
    const int after = options.settings.after;
    const bool deliverEdition = !book.isEmpty() && (after == 2 || (after == 1 && scheduled));
    const QString edition = deliverEdition ? book : QString();
    const EditionSummary summary = SummaryOf(options.outboxPath, edition);
    const QList<DeliveryReport> reports =
        Deliverer(std::move(options)).Run(edition, summary, QDateTime::currentDateTime(), &stop);
    QStringList lines;
    for (const DeliveryReport& report : reports)
        lines << report.line;
    if (scheduled) {
        QMetaObject::invokeMethod(
            this, [this, reports] { TellFailures(reports); }, Qt::QueuedConnection);
    } else {
        const std::lock_guard lock(m_manualMutex);
        m_manualReports = reports;
    }
    return lines;
}

bool DeliveryController::StartPass(const QString& edition, QWidget* reportTo) {
    if (m_bBusy.exchange(true))
        return false;
    if (m_worker.joinable())
        m_worker.join();
    QPointer<QWidget> window(reportTo);
    const bool manual = reportTo != nullptr;
    m_bManualPass = manual;
    m_worker = std::thread([this, edition, window, manual, options = Options()]() mutable {
        const EditionSummary summary = SummaryOf(options.outboxPath, edition);
        const QList<DeliveryReport> reports =
            Deliverer(std::move(options)).Run(edition, summary, QDateTime::currentDateTime(), &m_stop);
        QMetaObject::invokeMethod(
            this,
            [this, reports, window, manual, hadEdition = !edition.isEmpty()] {
                m_bBusy.store(false);
                emit passFinished(reports);
                if (manual)
                    TellResult(reports, hadEdition, window);
                else
                    TellFailures(reports);
                if (std::exchange(m_bDeliverNowWaits, false))
                    OnDeliverNow(m_pDeliverNowWindow);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void DeliveryController::OnDelivery(QWidget* parent) {
    LoadSettings();
    CDlgDelivery dialog(parent);
    dialog.m_delivery = m_settings.DeliverySettings();
    dialog.m_bSecretStore = SecretStore::IsAvailable(&dialog.m_strSecretStoreReason);
    const QString serverKey = SecretStore::ServerKey(dialog.m_delivery.smtpHost, dialog.m_delivery.smtpPort);
    if (dialog.m_bSecretStore && !dialog.m_delivery.smtpUser.isEmpty())
        dialog.m_strPassword = SecretStore::LookupPassword(serverKey, dialog.m_delivery.smtpUser);
    const QString storedPassword = dialog.m_strPassword;
    dialog.m_lstDevices = KdeConnect::PairedDevices();
    dialog.m_lstRecent = Outbox(AppPaths::HistoryFile()).Recent(20);
    dialog.m_sendTestMail = [options = Options()](const Settings::Delivery& delivery,
                                                  const QString& password) mutable {
        options.settings = delivery;
        options.password = [password](const QString&, const QString&, QString*) { return password; };
        return Deliverer(std::move(options)).SendTestMail(QDateTime::currentDateTime());
    };
    dialog.TransferToControls();
    if (dialog.exec() != QDialog::Accepted)
        return;
    const Settings::Delivery& chosen = dialog.m_delivery;
    const QString chosenKey = SecretStore::ServerKey(chosen.smtpHost, chosen.smtpPort);
    if (dialog.m_bSecretStore && !chosen.smtpUser.isEmpty() &&
        (dialog.m_strPassword != storedPassword || chosenKey != serverKey ||
         chosen.smtpUser != m_settings.DeliverySettings().smtpUser)) {
        QString reason;
        if (!SecretStore::StorePassword(chosenKey, chosen.smtpUser, dialog.m_strPassword, &reason))
            ShowWarningBox(QStringLiteral("Error"),
                           QStringLiteral("The password could not be kept: %1").arg(reason), parent);
    }
    m_settings.SetDeliverySettings(chosen);
    m_settings.Sync();
    LoadSettings();
}

void DeliveryController::OnDeliverNow(QWidget* parent) {
    LoadSettings();
    // What the user must mend before anything can go is said at once.
    if (Deliverer::Targets(Options().settings).isEmpty()) {
        ShowWarningBox(QStringLiteral("Warning"),
                       QStringLiteral("No delivery is set up. Choose where each new e-book goes in "
                                      "View > Delivery."),
                       parent);
        return;
    }
    const QString edition = NewestEdition(m_update.FeedFile());
    if (edition.isEmpty() && FilesStillWaiting().isEmpty()) {
        ShowWarningBox(QStringLiteral("Warning"),
                       QStringLiteral("There is no e-book to deliver yet. Tick \"Also make an e-book for the "
                                      "phone's reader\" in View > Options, then update the feeds."),
                       parent);
        return;
    }
    if (StartPass(edition, parent))
        return;
    if (m_bManualPass) {
        QMessageBox::information(
            parent, QStringLiteral("Delivery"),
            QStringLiteral("A delivery is under way; Pellavo tells you when it is done."));
        return;
    }
    // The outbox is being tried on its own; the user's delivery follows it and is told.
    m_bDeliverNowWaits = true;
    m_pDeliverNowWindow = parent;
}

void DeliveryController::TellResult(const QList<DeliveryReport>& reports, bool hadEdition, QWidget* window) {
    QStringList lines;
    bool failed = false;
    bool waiting = false;
    for (const DeliveryReport& report : reports) {
        lines << report.line;
        failed = failed || !report.ok;
        waiting = waiting || report.waiting;
    }
    // A failure is what the user must see and answer; success only needs saying, without a
    // box to close, unless the desktop has no notifications to say it with.
    if (failed) {
        ShowWarningBox(QStringLiteral("Error"),
                       lines.join(QLatin1Char('\n')) + (waiting ? TriesAgain() : QString()), window);
        return;
    }
    const QString title =
        lines.isEmpty() ? QStringLiteral("Nothing new to deliver") : QStringLiteral("The news is delivered");
    const QString text = !lines.isEmpty() ? lines.join(QLatin1Char('\n'))
                         : hadEdition     ? QStringLiteral("Every target has had the newest e-book.")
                                          : QStringLiteral("Nothing waits in the outbox.");
    if (Notify(title, text))
        return;
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Delivery"),
                                title + QStringLiteral(".\n") + text, QMessageBox::Ok, window);
    box->setDefaultButton(QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void DeliveryController::TellFailures(const QList<DeliveryReport>& reports) {
    for (const DeliveryReport& report : reports) {
        if (!report.ok && report.firstFailure)
            NotifyFailure(QStringLiteral("Pellavo could not deliver the news"),
                          report.line + (report.waiting ? TriesAgain() : QString()));
    }
}

void DeliveryController::OnScheduledRunEnded(const QString& reason) {
    Outbox outbox(AppPaths::HistoryFile());
    if (reason.isEmpty()) {
        outbox.NoteSuccess(kRunTarget);
        return;
    }
    outbox.RecordFailure(kRunTarget, reason, QDateTime::currentDateTime());
    if (outbox.NoteFailure(kRunTarget))
        NotifyFailure(QStringLiteral("The scheduled update failed"), reason);
}

bool DeliveryController::Notify(const QString& title, const QString& text) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Pellavo") << uint(0) << QStringLiteral("pellavo") << title << text
         << QStringList() << QVariantMap() << int(-1);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void DeliveryController::NotifyFailure(const QString& title, const QString& text) {
    if (!Notify(title, text))
        emit trayMessage(title, text);
}
