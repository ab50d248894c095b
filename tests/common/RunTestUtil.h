#pragma once

#include "update/UpdateEngine.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QVariant>

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

// Runs an update job to its end into the news feed file at `output`; `progress` gets what
// `stage`, one of the engine's signals of the book's stages, told on the way.
UpdateEngine::Outcome runJob(const UpdateJob& job, const QString& output,
                             void (UpdateEngine::*stage)(int, int), QList<QList<QVariant>>* progress);

} // namespace pellavo::test
