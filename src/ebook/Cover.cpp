#include "ebook/Cover.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

namespace ebook {

namespace {

constexpr int kMargin = 120;
constexpr int kNames = 6;
const QColor kPaper(0xf4, 0xf1, 0xea);
const QColor kInk(0x1d, 0x1d, 0x1b);
const QColor kAccent(0x8a, 0x1c, 0x1c);

// The largest size up to `pixels` at which `text` fits into `width`.
QFont Fitted(QFont font, int pixels, const QString& text, int width) {
    font.setPixelSize(pixels);
    const int advance = QFontMetrics(font).horizontalAdvance(text);
    if (advance > width)
        font.setPixelSize(qMax(12, pixels * width / advance));
    return font;
}

} // namespace

QString CoverDate(const QDateTime& time, const QLocale& locale) {
    const QDateTime local = time.toLocalTime();
    return locale.toString(local.date(), QLocale::LongFormat) + QStringLiteral(" \u00B7 ") +
           locale.toString(local.time(), QLocale::ShortFormat);
}

QByteArray DrawCover(const CoverText& text) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QByteArray();
    QImage image(kCoverWidth, kCoverHeight, QImage::Format_RGB32);
    image.fill(kPaper);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const int width = kCoverWidth - 2 * kMargin;
        QFont serif(QStringLiteral("serif"));
        serif.setStyleHint(QFont::Serif);
        QFont sans(QStringLiteral("sans-serif"));
        sans.setStyleHint(QFont::SansSerif);

        painter.fillRect(0, 0, kCoverWidth, 40, kAccent);
        int y = 260;
        const QString masthead = QStringLiteral("Pellavo News");
        serif.setBold(true);
        painter.setFont(Fitted(serif, 220, masthead, width));
        painter.setPen(kInk);
        painter.drawText(QRect(kMargin, y, width, 300), Qt::AlignHCenter | Qt::AlignTop, masthead);
        y += 320;
        painter.fillRect(kMargin, y, width, 10, kInk);
        painter.fillRect(kMargin, y + 22, width, 3, kInk);
        y += 70;

        const QString date = CoverDate(text.time, text.locale);
        painter.setFont(Fitted(sans, 72, date, width));
        painter.drawText(QRect(kMargin, y, width, 120), Qt::AlignHCenter | Qt::AlignTop, date);
        y += 130;
        if (text.edition > 0) {
            const QString edition = QStringLiteral("Edition %1").arg(text.locale.toString(text.edition));
            painter.setPen(kAccent);
            painter.setFont(Fitted(sans, 64, edition, width));
            painter.drawText(QRect(kMargin, y, width, 110), Qt::AlignHCenter | Qt::AlignTop, edition);
            painter.setPen(kInk);
            y += 120;
        }
        y += 120;

        serif.setBold(false);
        const QStringList names = text.names.mid(0, kNames);
        for (const QString& name : names) {
            QFont font = Fitted(serif, 84, name, width);
            painter.setFont(font);
            const QString shown = QFontMetrics(font).elidedText(name, Qt::ElideRight, width);
            painter.drawText(QRect(kMargin, y, width, 140), Qt::AlignHCenter | Qt::AlignTop, shown);
            y += 160;
        }
        if (text.names.size() > kNames) {
            const QString more = QStringLiteral("and %1 more").arg(text.names.size() - kNames);
            painter.setFont(Fitted(sans, 60, more, width));
            painter.drawText(QRect(kMargin, y, width, 100), Qt::AlignHCenter | Qt::AlignTop, more);
        }
        painter.fillRect(0, kCoverHeight - 40, kCoverWidth, 40, kAccent);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(85);
    return writer.write(image) ? bytes : QByteArray();
}

} // namespace ebook
