#pragma once

#include <QString>

// Where Pellavo keeps its files. Every path the program writes comes from here, so
// tests that put QStandardPaths into test mode never touch the user's real data.
namespace AppPaths {

// "Pellavo.Cha" in the per-user data folder (the folder is created on demand by the caller's save).
QString ChannelFile();

// The private per-user temporary folder "pellavo-<uid>" under the system's temporary
// folder, created with mode 0700. Returns an empty string, and says why in `error`,
// when it cannot be created or when what is there is a link or not ours.
QString PrivateTempFolder(QString* error = nullptr);

// The backup made by save number n: "nchnlbak001.cbf", ..., "nchnlbak1000.cbf".
QString BackupFileName(unsigned n);

// That backup's full path in the private temporary folder, or an empty string and the
// reason when the folder cannot be used.
QString BackupFile(unsigned n, QString* error = nullptr);

// The default news feed file: "news.nff" in the user's documents folder.
QString DefaultFeedFile();

// The user guide, looked for beside the installed program's data and in the source tree.
QString HelpFile();

} // namespace AppPaths
