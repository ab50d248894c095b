#pragma once

#include <QString>

// Where Pellavo keeps its files. Every folder the program writes into comes from here (the
// news feed file's is the user's choice), so tests that put QStandardPaths into test mode
// and point TMPDIR at a folder of their own never touch the user's real data.
namespace AppPaths {

// "Pellavo.Cha" in the per-user data folder, which the first save creates.
QString ChannelFile();

// "history.sqlite", the e-book's article history, beside the channel file.
QString HistoryFile();

// The private per-user temporary folder "pellavo-<uid>" under the system's temporary
// folder, created with mode 0700. Returns an empty string, and says why in `error`
// ("<folder>: <reason>"), when it cannot be created, when what is there is a link, not a
// folder or not ours, or when it cannot be written.
QString PrivateTempFolder(QString* error = nullptr);

// "feeds" in the user's cache folder, where the last good copies of the feeds live;
// empty when the system names no cache folder.
QString FeedCacheFolder();

// "pictures" in the user's cache folder, where the last good copies of the e-book's
// pictures live; empty when the system names no cache folder.
QString PictureCacheFolder();

// The backup made by save number n: "nchnlbak001.cbf", ..., "nchnlbak1000.cbf".
QString BackupFileName(unsigned n);

// That backup's full path in the private temporary folder, or an empty string and the
// reason when the folder cannot be used.
QString BackupFile(unsigned n, QString* error = nullptr);

// The default news feed file: "news.nff" in the user's documents folder.
QString DefaultFeedFile();

// The user guide in the program's data folder, share/pellavo beside its bin folder.
QString HelpFile();

} // namespace AppPaths
