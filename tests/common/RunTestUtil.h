#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

class QIODevice;

namespace pellavo::test {

// What a news feed file holds, read with the program's own reader.
struct NffContent {
    bool valid = false; // read to its end without an error
    bool sync = false;
    QByteArray channel;
    QStringList urls;
    QList<QByteArray> contents;
};
NffContent readNff(const QString& path);
NffContent readNff(QIODevice& device);

// Whether any top-level window is shown (a run in the background shows none).
bool anyWindowShown();

} // namespace pellavo::test
