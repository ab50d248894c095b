#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

// The program's settings, in the profile "Local AppWizard-Generated Applications/Pellavo",
// with one place that knows every key and its default.
class Settings {
public:
    // The user's settings.
    Settings();
    // Settings kept in a given file (tests).
    explicit Settings(const QString& iniFile);

    QString FeedFile() const;
    // Whether every run also makes the e-book edition beside the news feed file.
    bool EBook() const;
    // Whether the e-book's pictures are in shades of grey (smaller books for e-ink readers).
    bool GreyPictures() const;
    int Interval() const;
    int Hour() const;
    int Minute() const;
    void SetFeedFile(const QString& path);
    void SetEBook(bool on);
    void SetGreyPictures(bool on);
    void SetSchedule(int interval, int hour, int minute);

    // What each edition of the e-book brings, and how many are kept.
    struct Edition {
        bool onlyNew = true;
        int maxArticles = 25; // per feed; 0: no limit
        int maxAgeDays = 7;   // 0: no limit
        int keep = 7;         // 0: all
    };
    Edition EditionOptions() const;
    void SetEditionOptions(const Edition& edition);
    // The addresses of the feeds whose articles the e-book carries whole, fetched from the web.
    QStringList WholeArticleFeeds() const;
    void SetWholeArticleFeeds(const QStringList& urls);

    struct WinPos {
        int x = 10;
        int y = 10;
        int cx = 500;
        int cy = 350;
    };
    WinPos WindowPosition() const;
    void SetWindowPosition(const WinPos& pos);

    // Where each new e-book edition is delivered, and when. The mail password is never
    // here: it lives in the desktop's secret store.
    struct Delivery {
        QString mailTo; // addresses separated by commas
        QString mailFrom;
        QString smtpHost;
        int smtpPort = 587;
        QString smtpSecurity = QStringLiteral("starttls"); // "starttls", "tls" or "none"
        QString smtpUser;
        QString smtpCaFile;
        int mailLimitMB = 50;
        QString folder;
        QString kdeConnectDevice;
        int after = 1; // 1 after scheduled runs, 2 after every run, 0 only when asked
    };
    Delivery DeliverySettings() const;
    void SetDeliverySettings(const Delivery& delivery);

    void Sync();

private:
    std::unique_ptr<QSettings> m_settings;
};
