#include "base/Settings.h"

#include "base/AppPaths.h"

namespace {
const char* const kOrganization = "Local AppWizard-Generated Applications";
const char* const kApplication = "Pellavo";

const QString kFeedFile = QStringLiteral("Path/FeedFile");
const QString kEBook = QStringLiteral("Path/EBook");
const QString kGrey = QStringLiteral("Edition/Grey");
const QString kInterval = QStringLiteral("Update/Interval");
const QString kHour = QStringLiteral("Update/Hour");
const QString kMinute = QStringLiteral("Update/Minute");
const QString kOnlyNew = QStringLiteral("Edition/OnlyNew");
const QString kMaxArticles = QStringLiteral("Edition/MaxArticles");
const QString kMaxAgeDays = QStringLiteral("Edition/MaxAgeDays");
const QString kKeep = QStringLiteral("Edition/Keep");
const QString kWholeArticles = QStringLiteral("Edition/WholeArticles");
const QString kX = QStringLiteral("WinPos/x");
const QString kY = QStringLiteral("WinPos/y");
const QString kCx = QStringLiteral("WinPos/cx");
const QString kCy = QStringLiteral("WinPos/cy");
const QString kMailTo = QStringLiteral("Delivery/MailTo");
const QString kMailFrom = QStringLiteral("Delivery/MailFrom");
const QString kSmtpHost = QStringLiteral("Delivery/SmtpHost");
const QString kSmtpPort = QStringLiteral("Delivery/SmtpPort");
const QString kSmtpSecurity = QStringLiteral("Delivery/SmtpSecurity");
const QString kSmtpUser = QStringLiteral("Delivery/SmtpUser");
const QString kSmtpCaFile = QStringLiteral("Delivery/SmtpCaFile");
const QString kMailLimitMB = QStringLiteral("Delivery/MailLimitMB");
const QString kDeliveryFolder = QStringLiteral("Delivery/Folder");
const QString kKdeConnectDevice = QStringLiteral("Delivery/KdeConnectDevice");
const QString kDeliverAfter = QStringLiteral("Delivery/After");

int readInt(const QSettings& s, const QString& key, int fallback) {
    bool ok = false;
    const int value = s.value(key).toInt(&ok);
    return ok ? value : fallback;
}
} // namespace

Settings::Settings()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kOrganization,
                                             kApplication)) {}

Settings::Settings(const QString& iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

QString Settings::FeedFile() const {
    const QVariant v = m_settings->value(kFeedFile);
    return v.isValid() ? v.toString() : AppPaths::DefaultFeedFile();
}

bool Settings::EBook() const {
    return readInt(*m_settings, kEBook, 0) != 0;
}

bool Settings::GreyPictures() const {
    return readInt(*m_settings, kGrey, 0) != 0;
}

int Settings::Interval() const {
    return readInt(*m_settings, kInterval, 1);
}
int Settings::Hour() const {
    return readInt(*m_settings, kHour, 6);
}
int Settings::Minute() const {
    return readInt(*m_settings, kMinute, 0);
}

void Settings::SetFeedFile(const QString& path) {
    m_settings->setValue(kFeedFile, path);
}

void Settings::SetEBook(bool on) {
    m_settings->setValue(kEBook, on ? 1 : 0);
}

void Settings::SetGreyPictures(bool on) {
    m_settings->setValue(kGrey, on ? 1 : 0);
}

void Settings::SetSchedule(int interval, int hour, int minute) {
    m_settings->setValue(kInterval, interval);
    m_settings->setValue(kHour, hour);
    m_settings->setValue(kMinute, minute);
}

Settings::Edition Settings::EditionOptions() const {
    const Edition defaults;
    // A count below zero means nothing sensible: it is taken as the default.
    const auto count = [&](const QString& key, int fallback) {
        const int value = readInt(*m_settings, key, fallback);
        return value < 0 ? fallback : value;
    };
    return {readInt(*m_settings, kOnlyNew, defaults.onlyNew ? 1 : 0) != 0,
            count(kMaxArticles, defaults.maxArticles), count(kMaxAgeDays, defaults.maxAgeDays),
            count(kKeep, defaults.keep)};
}

void Settings::SetEditionOptions(const Edition& edition) {
    m_settings->setValue(kOnlyNew, edition.onlyNew ? 1 : 0);
    m_settings->setValue(kMaxArticles, edition.maxArticles);
    m_settings->setValue(kMaxAgeDays, edition.maxAgeDays);
    m_settings->setValue(kKeep, edition.keep);
}

QStringList Settings::WholeArticleFeeds() const {
    return m_settings->value(kWholeArticles).toStringList();
}

void Settings::SetWholeArticleFeeds(const QStringList& urls) {
    // An empty list is no key at all, rather than one that reads back as a list of one empty address.
    if (urls.isEmpty())
        m_settings->remove(kWholeArticles);
    else
        m_settings->setValue(kWholeArticles, urls);
}

Settings::WinPos Settings::WindowPosition() const {
    const WinPos defaults;
    return {readInt(*m_settings, kX, defaults.x), readInt(*m_settings, kY, defaults.y),
            readInt(*m_settings, kCx, defaults.cx), readInt(*m_settings, kCy, defaults.cy)};
}

void Settings::SetWindowPosition(const WinPos& pos) {
    m_settings->setValue(kX, pos.x);
    m_settings->setValue(kY, pos.y);
    m_settings->setValue(kCx, pos.cx);
    m_settings->setValue(kCy, pos.cy);
}

Settings::Delivery Settings::DeliverySettings() const {
    const Delivery defaults;
    const QSettings& s = *m_settings;
    Delivery d;
    d.mailTo = s.value(kMailTo).toString();
    d.mailFrom = s.value(kMailFrom).toString();
    d.smtpHost = s.value(kSmtpHost).toString();
    d.smtpPort = readInt(s, kSmtpPort, defaults.smtpPort);
    d.smtpSecurity = s.value(kSmtpSecurity, defaults.smtpSecurity).toString();
    d.smtpUser = s.value(kSmtpUser).toString();
    d.smtpCaFile = s.value(kSmtpCaFile).toString();
    d.mailLimitMB = readInt(s, kMailLimitMB, defaults.mailLimitMB);
    d.folder = s.value(kDeliveryFolder).toString();
    d.kdeConnectDevice = s.value(kKdeConnectDevice).toString();
    d.after = readInt(s, kDeliverAfter, defaults.after);
    return d;
}

void Settings::SetDeliverySettings(const Delivery& d) {
    m_settings->setValue(kMailTo, d.mailTo);
    m_settings->setValue(kMailFrom, d.mailFrom);
    m_settings->setValue(kSmtpHost, d.smtpHost);
    m_settings->setValue(kSmtpPort, d.smtpPort);
    m_settings->setValue(kSmtpSecurity, d.smtpSecurity);
    m_settings->setValue(kSmtpUser, d.smtpUser);
    m_settings->setValue(kSmtpCaFile, d.smtpCaFile);
    m_settings->setValue(kMailLimitMB, d.mailLimitMB);
    m_settings->setValue(kDeliveryFolder, d.folder);
    m_settings->setValue(kKdeConnectDevice, d.kdeConnectDevice);
    m_settings->setValue(kDeliverAfter, d.after);
}

void Settings::Sync() {
    m_settings->sync();
}
