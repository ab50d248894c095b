#include "ebook/FeedDates.h"

#include <QList>
#include <QTimeZone>

namespace ebook {

namespace {

int MonthFromName(QByteArrayView token) {
    static const char kMonths[] = "janfebmaraprmayjunjulaugsepoctnovdec";
    if (token.size() < 3)
        return 0;
    const QByteArray prefix = token.first(3).toByteArray().toLower();
    for (int month = 0; month < 12; ++month)
        if (prefix == QByteArrayView(kMonths + 3 * month, 3))
            return month + 1;
    return 0;
}

// Offsets in minutes of the zone names RFC 822 allows, and of the single letters of
// military time (which RFC 1123 says to read as zero, since they were mostly wrong).
bool ZoneFromName(QByteArrayView token, int& minutes) {
    static const struct {
        const char* name;
        int hours;
    } kZones[] = {{"gmt", 0},  {"ut", 0},   {"utc", 0},  {"z", 0},    {"est", -5}, {"edt", -4},
                  {"cst", -6}, {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}};
    const QByteArray lower = token.toByteArray().toLower();
    for (const auto& zone : kZones) {
        if (lower == zone.name) {
            minutes = zone.hours * 60;
            return true;
        }
    }
    if (lower.size() == 1 && lower[0] >= 'a' && lower[0] <= 'z') {
        minutes = 0;
        return true;
    }
    return false;
}

bool IsDigits(QByteArrayView token) {
    if (token.isEmpty())
        return false;
    for (const char c : token)
        if (c < '0' || c > '9')
            return false;
    return true;
}

QDateTime ParseRfc822(QByteArrayView text) {
    int day = 0, month = 0, year = -1, zone = 0;
    QTime time(0, 0);
    const QList<QByteArray> tokens = text.toByteArray().replace(',', ' ').split(' ');
    for (const QByteArray& raw : tokens) {
        const QByteArray token = raw.trimmed();
        if (token.isEmpty())
            continue;
        if (token.contains(':')) {
            const QList<QByteArray> parts = token.split(':');
            bool okHour = false, okMinute = false, okSecond = true;
            const int hour = parts[0].toInt(&okHour);
            const int minute = parts.size() > 1 ? parts[1].toInt(&okMinute) : 0;
            const int second = parts.size() > 2 ? parts[2].left(2).toInt(&okSecond) : 0;
            if (!okHour || !okMinute || !okSecond || !time.setHMS(hour, minute, second))
                return QDateTime();
        } else if ((token[0] == '+' || token[0] == '-') && token.size() == 5 && IsDigits(token.mid(1))) {
            const int value = token.mid(1).toInt();
            zone = (value / 100 * 60 + value % 100) * (token[0] == '-' ? -1 : 1);
        } else if (IsDigits(token)) {
            const int value = token.toInt();
            if (token.size() == 4 || value > 31 || (day > 0 && year < 0))
                year = token.size() <= 2 ? (value < 50 ? 2000 + value : 1900 + value) : value;
            else if (day == 0)
                day = value;
        } else if (const int named = MonthFromName(token); named && month == 0) {
            month = named;
        } else {
            ZoneFromName(token, zone);
        }
    }
    const QDate date(year, month, day);
    if (!date.isValid())
        return QDateTime();
    return QDateTime(date, time, QTimeZone(zone * 60)).toUTC();
}

QDateTime ParseIso8601(QByteArrayView text) {
    QString value = QString::fromLatin1(text.toByteArray().trimmed());
    if (value.size() > 10 && value[10] == QLatin1Char(' '))
        value[10] = QLatin1Char('T');
    QDateTime parsed = QDateTime::fromString(value, Qt::ISODateWithMs);
    if (!parsed.isValid())
        return QDateTime();
    if (parsed.timeSpec() == Qt::LocalTime)
        parsed = QDateTime(parsed.date(), parsed.time(), QTimeZone::utc());
    return parsed.toUTC();
}

} // namespace

QDateTime ParseFeedDate(QByteArrayView text) {
    const QByteArray trimmed = text.toByteArray().trimmed();
    if (trimmed.size() >= 10 && IsDigits(trimmed.first(4)) && trimmed[4] == '-')
        return ParseIso8601(trimmed);
    return ParseRfc822(trimmed);
}

} // namespace ebook
