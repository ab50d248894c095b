#include "benchsupport.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>

namespace pellavo::bench {

Figure summarise(std::vector<double> values) {
    Figure f;
    if (values.empty())
        return f;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    f.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    f.min = values.front();
    f.max = values.back();
    f.runs = int(n);
    return f;
}

double peakRssMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

Figure timeMs(int runs, const std::function<void()>& body) {
    std::vector<double> values;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        body();
        values.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return summarise(std::move(values));
}

void printFigure(const QString& name, const Figure& figure, const QString& unit) {
    std::printf("figure: %s %.3f %s (min %.3f, max %.3f, runs %d)\n", qPrintable(name), figure.median,
                qPrintable(unit), figure.min, figure.max, figure.runs);
    std::fflush(stdout);
}

void printRatio(const QString& name, double value, const QString& what, const QString& baseline) {
    std::printf("ratio: %s %.3f (%s / %s)\n", qPrintable(name), value, qPrintable(what),
                qPrintable(baseline));
    std::fflush(stdout);
}

QByteArray rssDocument(const QByteArray& title, int bytes) {
    QByteArray body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>" +
                      title + "</title>\n";
    for (int i = 0; body.size() < bytes - 40; ++i)
        body += "<item><title>Item " + QByteArray::number(i) +
                "</title><description>Lorem ipsum dolor sit amet, consectetur adipiscing "
                "elit.</description></item>\n";
    body += "</channel></rss>\n";
    return body.leftJustified(bytes, ' ');
}

} // namespace pellavo::bench
