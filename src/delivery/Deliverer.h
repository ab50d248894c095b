#pragma once

#include "base/Settings.h"
#include "delivery/SmtpMail.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// What one delivery of an edition to one target came to.
struct DeliveryReport {
    QString target; // as the outbox names it
    QString edition;
    bool ok = false;
    QString reason;
    // A failure that stays in the outbox, to be tried again (not one that trying cannot mend).
    bool waiting = false;
    // The first failure of this target since it last succeeded: the one the user hears of.
    bool firstFailure = false;
    // Said in a run's end text: "Mailed to kindle@example.com", "Mail failed: 535 ...".
    QString line;
};

// What an edition holds, for the mail's text, and its number in the article history, which
// tells it from an earlier edition that had the same file name.
struct EditionSummary {
    int feeds = 0;
    int articles = -1; // -1: not known
    int number = 0;    // 0: not known
};

// Delivers editions to the targets the user chose: mail, a folder, a KDE Connect device,
// each through the outbox, so that a delivery that fails (or is cut short by a crash) is
// tried again until it succeeds or three days have passed. Blocks; runs on a worker thread.
// Passes never overlap within the program: a second waits for the first.
class Deliverer {
public:
    // Makes a copy of the edition without pictures at `copyPath`, for a mail over the size
    // limit; false with `error` when it cannot. Default: ebook::WritePictureFreeCopy.
    using PictureFreeCopy =
        std::function<bool(const QString& edition, const QString& copyPath, QString* error)>;
    // The mail password of `user` at "HOST:PORT"; a null string when there is none, with
    // `reason` set when the secret store could not be asked.
    using PasswordLookup =
        std::function<QString(const QString& server, const QString& user, QString* reason)>;

    struct Options {
        Settings::Delivery settings;
        int keep = 7; // editions a folder keeps (0: all)
        QString outboxPath;
        QString tempFolder; // for the copy without pictures
        PictureFreeCopy pictureFreeCopy;
        PasswordLookup password; // default: the desktop's secret store
        int timeoutSeconds = 60;
    };

    explicit Deliverer(Options options);

    // The targets the settings name, as the outbox names them.
    static QStringList Targets(const Settings::Delivery& settings);
    static QStringList MailAddresses(const QString& mailTo);

    // Queues `edition` (unless empty) for every target that has not had it, then tries
    // everything due in the outbox. The reports are in the order tried.
    QList<DeliveryReport> Run(const QString& edition, const EditionSummary& summary, const QDateTime& now,
                              const std::atomic_bool* stop = nullptr);

    // The editions that still wait for a delivery (the keep count must leave them).
    QStringList FilesStillWaiting(const QDateTime& now) const;

    // A short mail without attachment to every address, through the settings' server; empty
    // when the server took it, else why not.
    QString SendTestMail(const QDateTime& now);

    // The mail's subject for an edition of `when`: "Pellavo News – <date, time>".
    static QString Subject(const QDateTime& when);

private:
    struct Attempt {
        bool ok = false;
        bool permanent = false;
        QString reason;
        QString deliveredPath;
        QString line;
    };
    Attempt Mail(const QString& address, const QString& edition, const EditionSummary& summary,
                 const std::atomic_bool* stop);
    Attempt CopyToFolder(const QString& edition);
    Attempt ShareWithDevice(const QString& device, const QString& edition);
    bool MakeServer(MailServer* server, QString* reason) const;

    Options m_options;
};
