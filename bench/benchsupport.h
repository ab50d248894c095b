#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace pellavo::bench {

struct Figure {
    double median = 0;
    double min = 0;
    double max = 0;
    int runs = 0;
};

// Runs `body` `runs` times and returns the spread of the measured milliseconds.
Figure timeMs(int runs, const std::function<void()>& body);

// Summarises values measured by the caller.
Figure summarise(std::vector<double> values);

// "figure: <name> <median> <unit> (min <min>, max <max>, runs <n>)"
void printFigure(const QString& name, const Figure& figure, const QString& unit);

// "ratio: <name> <value> (<what> / <baseline>)"
void printRatio(const QString& name, double value, const QString& what, const QString& baseline);

// The high-water mark of this process image's resident memory, in MiB; -1 when unknown. Not
// getrusage's: Linux carries that over from the parent that forked the process, through exec.
double peakRssMiB();

// An RSS document titled `title`, padded with spaces to exactly `bytes` bytes.
QByteArray rssDocument(const QByteArray& title, int bytes);

} // namespace pellavo::bench
