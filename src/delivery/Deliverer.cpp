#include "delivery/Deliverer.h"

#include "delivery/FolderDelivery.h"
#include "delivery/Outbox.h"
#include "delivery/SecretStore.h"
#include "desktop/KdeConnect.h"
#include "ebook/PictureFreeCopy.h"
#include "edition/ArticleHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QUuid>

#include <mutex>

namespace {

const QString kMail = QStringLiteral("mail:");
const QString kFolder = QStringLiteral("folder:");
const QString kKdeConnect = QStringLiteral("kdeconnect:");

// What a mail carrying `bytes` of attachment weighs: base64 makes 57 bytes into a line of 78.
qint64 MailSize(qint64 bytes) {
    return bytes / 57 * 78 + 78 + 8 * 1024;
}

QString Megabytes(qint64 bytes) {
    return QLocale().toString(double(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
}

// The attachment's name: mail readers and Send-to-Kindle trip over anything but ASCII.
QString AsciiFileName(const QString& name) {
    QString ascii;
    for (QChar c : name.normalized(QString::NormalizationForm_KD)) {
        if (c.unicode() < 0x80 && c.unicode() >= 0x20 && c != QLatin1Char('"') && c != QLatin1Char('\\'))
            ascii += c;
        else if (!c.isMark())
            ascii += QLatin1Char('_');
    }
    return ascii.isEmpty() ? QStringLiteral("news.epub") : ascii;
}

} // namespace

Deliverer::Deliverer(Options options) : m_options(std::move(options)) {
    if (!m_options.password)
        m_options.password = [](const QString& server, const QString& user, QString* reason) {
            return SecretStore::LookupPassword(server, user, reason);
        };
    if (!m_options.pictureFreeCopy)
        m_options.pictureFreeCopy = [](const QString& edition, const QString& copyPath, QString* error) {
            return ebook::WritePictureFreeCopy(edition, copyPath, error);
        };
}

QStringList Deliverer::MailAddresses(const QString& mailTo) {
    QStringList addresses;
    for (const QString& part : mailTo.split(QRegularExpression(QStringLiteral("[,;]")))) {
        if (!part.trimmed().isEmpty())
            addresses << part.trimmed();
    }
    return addresses;
}

QStringList Deliverer::Targets(const Settings::Delivery& settings) {
    QStringList targets;
    if (!settings.smtpHost.trimmed().isEmpty()) {
        for (const QString& address : MailAddresses(settings.mailTo))
            targets << kMail + address;
    }
    if (!settings.folder.trimmed().isEmpty())
        targets << kFolder + QDir::cleanPath(settings.folder.trimmed());
    if (!settings.kdeConnectDevice.isEmpty())
        targets << kKdeConnect + settings.kdeConnectDevice;
    return targets;
}

QString Deliverer::Subject(const QDateTime& when) {
    const QLocale locale;
    return QStringLiteral("Pellavo News – %1, %2")
        .arg(locale.toString(when.date(), QLocale::LongFormat),
             locale.toString(when.time(), QStringLiteral("HH:mm")));
}

QStringList Deliverer::FilesStillWaiting(const QDateTime& now) const {
    return Outbox(m_options.outboxPath).FilesStillWaiting(now);
}

QList<DeliveryReport> Deliverer::Run(const QString& edition, const EditionSummary& summary,
                                     const QDateTime& now, const std::atomic_bool* stop) {
    static std::mutex passes;
    const std::lock_guard lock(passes);
    QList<DeliveryReport> reports;
    Outbox outbox(m_options.outboxPath);
    const QStringList targets = Targets(m_options.settings);
    if (!outbox.IsOpen()) {
        // Nothing is sent that could not be recorded: the edition stays where it is.
        if (!edition.isEmpty() && !targets.isEmpty()) {
            DeliveryReport report;
            report.edition = edition;
            report.reason =
                QStringLiteral("The list of deliveries cannot be opened: ") + outbox.ErrorString();
            report.line = QStringLiteral("Delivery failed: ") + report.reason;
            reports << report;
        }
        return reports;
    }
    if (!edition.isEmpty())
        outbox.Enqueue(edition, summary.number, targets, summary.feeds, summary.articles, now);
    outbox.DropTargetsOtherThan(targets, now);
    for (const Outbox::Entry& entry : outbox.Due(now)) {
        if (stop && stop->load())
            break;
        // Recorded before it is tried: a crash from here on leaves it due.
        outbox.MarkAttempting(entry.id, QDateTime::currentDateTime());
        Attempt attempt;
        if (!QFileInfo::exists(entry.edition)) {
            attempt.permanent = true;
            attempt.reason =
                QStringLiteral("The e-book %1 no longer exists").arg(QDir::toNativeSeparators(entry.edition));
        } else if (entry.target.startsWith(kMail)) {
            attempt =
                Mail(entry.target.mid(kMail.size()), entry.edition, {entry.feeds, entry.articles}, stop);
        } else if (entry.target.startsWith(kFolder)) {
            attempt = CopyToFolder(entry.edition);
        } else if (entry.target.startsWith(kKdeConnect)) {
            attempt = ShareWithDevice(entry.target.mid(kKdeConnect.size()), entry.edition);
        }
        if (!attempt.ok && stop && stop->load()) {
            // Cut short because the program or the run is ending: no failure, it just waits.
            outbox.MarkResult(entry.id, false, entry.reason, QString(), QDateTime::currentDateTime());
            break;
        }
        outbox.MarkResult(entry.id, attempt.ok, attempt.reason, attempt.deliveredPath,
                          QDateTime::currentDateTime(), attempt.permanent);
        DeliveryReport report;
        report.target = entry.target;
        report.edition = entry.edition;
        report.ok = attempt.ok;
        report.reason = attempt.reason;
        report.waiting = !attempt.ok && !attempt.permanent;
        if (attempt.ok) {
            outbox.NoteSuccess(entry.target);
            report.line = attempt.line;
        } else {
            report.firstFailure = outbox.NoteFailure(entry.target);
            report.line = (attempt.line.isEmpty() ? QStringLiteral("Delivery failed") : attempt.line) +
                          QStringLiteral(": ") + attempt.reason;
        }
        if (attempt.ok && entry.target.startsWith(kFolder)) {
            // The folder keeps as many editions as the desktop does, of those Pellavo put there.
            PruneFolder(outbox.DeliveredPaths(entry.target), m_options.keep, {attempt.deliveredPath});
        }
        reports << report;
    }
    return reports;
}

bool Deliverer::MakeServer(MailServer* server, QString* reason) const {
    const Settings::Delivery& settings = m_options.settings;
    server->host = settings.smtpHost.trimmed();
    server->port = settings.smtpPort;
    server->security = SmtpSecurityFromName(settings.smtpSecurity);
    server->user = settings.smtpUser.trimmed();
    server->caFile = settings.smtpCaFile;
    server->timeoutSeconds = m_options.timeoutSeconds;
    if (const QString refusal = MailServerRefusal(*server); !refusal.isEmpty()) {
        *reason = refusal;
        return false;
    }
    if (server->user.isEmpty())
        return true;
    QString lookupError;
    const QString serverKey = SecretStore::ServerKey(server->host, server->port);
    server->password = m_options.password(serverKey, server->user, &lookupError);
    if (server->password.isNull()) {
        *reason =
            lookupError.isEmpty()
                ? QStringLiteral("No password for %1 at %2 in the secret store").arg(server->user, serverKey)
                : lookupError;
        return false;
    }
    return true;
}

Deliverer::Attempt Deliverer::Mail(const QString& address, const QString& edition,
                                   const EditionSummary& summary, const std::atomic_bool* stop) {
    Attempt attempt;
    attempt.line = MailAddresses(m_options.settings.mailTo).size() > 1
                       ? QStringLiteral("Mail to %1 failed").arg(address)
                       : QStringLiteral("Mail failed");
    MailServer server;
    if (!MakeServer(&server, &attempt.reason))
        return attempt;

    const QFileInfo info(edition);
    const qint64 limit = qint64(qMax(1, m_options.settings.mailLimitMB)) * 1000 * 1000;
    QString attachment = edition;
    QString copy;
    bool withoutPictures = false;
    if (MailSize(info.size()) > limit) {
        // Send-to-Kindle and most mail services refuse a mail over their limit outright;
        // the same news without its pictures usually fits.
        QString error;
        copy = QDir(m_options.tempFolder.isEmpty() ? QDir::tempPath() : m_options.tempFolder)
                   .filePath(QStringLiteral("mail-") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                             QStringLiteral(".epub"));
        const bool made = m_options.pictureFreeCopy && m_options.pictureFreeCopy(edition, copy, &error);
        const qint64 copySize = made ? QFileInfo(copy).size() : 0;
        if (!made || MailSize(copySize) > limit) {
            QFile::remove(copy);
            attempt.permanent = true;
            attempt.reason =
                made ? QStringLiteral(
                           "The e-book is too big to mail even without pictures (%1; the limit is %2 MB)")
                           .arg(Megabytes(MailSize(copySize)))
                           .arg(m_options.settings.mailLimitMB)
                     : QStringLiteral("The e-book is too big to mail (%1; the limit is %2 MB)%3")
                           .arg(Megabytes(MailSize(info.size())))
                           .arg(m_options.settings.mailLimitMB)
                           .arg(error.isEmpty() ? QString()
                                                : QStringLiteral(", and no copy without pictures: ") + error);
            return attempt;
        }
        attachment = copy;
        withoutPictures = true;
    }

    // The edition's own time, which its file name carries too; the file's where the history
    // has no record of it.
    edition::ArticleHistory::Edition record;
    const QDateTime when =
        edition::ArticleHistory::FindEdition(m_options.outboxPath, edition, &record) && record.made.isValid()
            ? record.made
            : info.lastModified();
    MailMessage message;
    message.from = m_options.settings.mailFrom.trimmed();
    message.to = {address};
    message.subject = Subject(when);
    const QString feeds =
        summary.feeds == 1 ? QStringLiteral("1 feed") : QStringLiteral("%1 feeds").arg(summary.feeds);
    const QString holds =
        summary.articles >= 0
            ? (summary.articles == 1 ? QStringLiteral("1 new article")
                                     : QStringLiteral("%1 new articles").arg(summary.articles)) +
                  QStringLiteral(" from ") + feeds
        : summary.feeds > 0 ? QStringLiteral("news from ") + feeds
                            : QStringLiteral("the latest news");
    message.body = QStringLiteral("Pellavo News of %1, %2: %3.\n\nThe e-book is attached (%4).%5\n")
                       .arg(QLocale().toString(when.date(), QLocale::LongFormat),
                            QLocale().toString(when.time(), QStringLiteral("HH:mm")), holds, info.fileName(),
                            withoutPictures
                                ? QStringLiteral(" It comes without pictures, which made it too big to mail.")
                                : QString());
    message.date = QDateTime::currentDateTime();
    message.attachmentPath = attachment;
    message.attachmentName = AsciiFileName(info.fileName());
    attempt.ok = SendMail(server, message, &attempt.reason, stop);
    if (!copy.isEmpty())
        QFile::remove(copy);
    if (attempt.ok)
        attempt.line = QStringLiteral("Mailed to %1%2")
                           .arg(address, withoutPictures ? QStringLiteral(" (without pictures)") : QString());
    return attempt;
}

Deliverer::Attempt Deliverer::CopyToFolder(const QString& edition) {
    Attempt attempt;
    const QString folder = QDir::cleanPath(m_options.settings.folder.trimmed());
    attempt.line = QStringLiteral("Copy to %1 failed").arg(QDir::toNativeSeparators(folder));
    attempt.deliveredPath = CopyIntoFolder(edition, folder, &attempt.reason);
    attempt.ok = !attempt.deliveredPath.isEmpty();
    if (attempt.ok)
        attempt.line = QStringLiteral("Copied to %1").arg(QDir::toNativeSeparators(folder));
    return attempt;
}

Deliverer::Attempt Deliverer::ShareWithDevice(const QString& device, const QString& edition) {
    Attempt attempt;
    QString name = device;
    for (const KdeConnect::Device& paired : KdeConnect::PairedDevices()) {
        if (paired.id == device)
            name = paired.name;
    }
    attempt.ok = KdeConnect::Share(device, edition, &attempt.reason);
    attempt.line = attempt.ok ? QStringLiteral("Sent to %1 with KDE Connect").arg(name)
                              : QStringLiteral("KDE Connect to %1 failed").arg(name);
    return attempt;
}

QString Deliverer::SendTestMail(const QDateTime& now) {
    MailServer server;
    QString reason;
    if (!MakeServer(&server, &reason))
        return reason;
    MailMessage message;
    message.from = m_options.settings.mailFrom.trimmed();
    message.to = MailAddresses(m_options.settings.mailTo);
    message.subject = QStringLiteral("Pellavo test mail");
    message.body = QStringLiteral(
        "This test mail from Pellavo arrived: the e-book editions will reach you the same way.\n");
    message.date = now;
    if (SendMail(server, message, &reason))
        return QString();
    return reason.isEmpty() ? QStringLiteral("Mail failed") : reason;
}
