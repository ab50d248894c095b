#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Editions are files of their own beside the news feed file, named after it and the time of
// their run: "news.nff" at 06:30 on 8 December 2026 gives "news-2026-12-08-0630.epub", and a
// second edition in the same minute "news-2026-12-08-0630-2.epub".
namespace edition {

// The path of a new edition of `newsFeedFile` made at `runTime` (local time): the first of
// the names for that minute that no file has.
QString NewEditionPath(const QString& newsFeedFile, const QDateTime& runTime);

// The editions of `newsFeedFile` beside it, oldest first: the files whose names are exactly
// of the edition pattern for that news feed file's name, and no other.
QStringList EditionFiles(const QString& newsFeedFile);

// Removes all but the newest `keep` editions (0 keeps all), but never those in `spare`; gives
// the paths it removed.
QStringList RemoveOldEditions(const QString& newsFeedFile, int keep, const QStringList& spare = {});

// The newest edition, if the run that last wrote the news feed file made it (it is not
// older than the file); else empty.
QString EditionOfSameRun(const QString& newsFeedFile);

// The hidden name beside `editionPath` under which its book is written before it is put in
// place ("news-2026-12-08-0630.epub" is written as ".news-2026-12-08-0630.epub.part").
QString UnfinishedEditionPath(const QString& editionPath);
// Removes what runs cut short left of their editions beside `newsFeedFile`.
void RemoveUnfinishedEditions(const QString& newsFeedFile);

} // namespace edition
