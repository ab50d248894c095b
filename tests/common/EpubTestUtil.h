#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

namespace pellavo::test {

// An e-book as a reading system opens it: its entries in the order of the archive.
struct Epub {
    QStringList names;
    QHash<QString, QByteArray> files;
    int firstMethod = -1;      // how the first entry is stored (ZIP_CM_...)
    int firstExtraFields = -1; // extra fields of the first entry
};

// The book at `path`; no names when it is no zip archive.
Epub readEpub(const QString& path);

// Whether EPUBCheck (java and /usr/share/java/epubcheck.jar) is installed.
bool hasEpubCheck();

// A small real picture: a "jpg" or "png" drawn with QImage in a colour that `seed` picks,
// or a "gif" or "webp" of a few pixels, always the same.
QByteArray tinyPicture(const QByteArray& format, int seed = 0);

// A photograph as far as any encoder can tell: noise, `width` x `height` pixels, as a JPEG
// of quality 80 (about 0.7 bytes a pixel, which re-encoding keeps).
QByteArray noisyPhoto(int width, int height);

// What EPUBCheck says is wrong with the book, or an empty string when it passes with no
// error and no warning.
QString epubCheckProblem(const QString& path);

// Whether mutool (mupdf-tools), a second reading engine, is installed.
bool hasMutool();

// What mutool says as it lays out and renders every page of the book, or an empty string
// when it renders them all without a word on standard error.
QString mutoolProblem(const QString& path);

} // namespace pellavo::test
