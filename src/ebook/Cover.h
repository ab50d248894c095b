#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QStringList>

namespace ebook {

// What a book's cover says.
struct CoverText {
    QDateTime time; // of the run, shown in the local time zone
    QLocale locale;
    int edition = 0;   // 0: none
    QStringList names; // the first groups and feeds of the book
};

constexpr int kCoverWidth = 1600;
constexpr int kCoverHeight = 2560;

// The cover picture of a book: a JPEG of kCoverWidth x kCoverHeight pixels with the paper's
// name, the date and time, the edition and the first few names, for libraries and e-readers
// that show a book by its cover. Text needs fonts, which only a QGuiApplication (the
// offscreen platform will do) provides: without one, or when it cannot be encoded, empty.
QByteArray DrawCover(const CoverText& text);

// The date and time of a run as the cover and the cover page write it.
QString CoverDate(const QDateTime& time, const QLocale& locale);

} // namespace ebook
