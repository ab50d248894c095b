#pragma once

#include <QString>

class COutlineItem;

namespace pellavo::robust {

// The save that follows every change to the subscriptions: the channel file as it was
// becomes backup number `backupNumber` in the private temporary folder (empty when there
// is no channel file yet), then the tree is written to the channel file.
bool SaveChannel(const COutlineItem& root, unsigned backupNumber, QString* error = nullptr);

// The backup's full path.
QString BackupPath(unsigned backupNumber);

// A QTemporaryDir template in memory (/dev/shm) where the system has one, else the
// default. Every save is flushed to disk, which a process killed at any moment does not
// need and which would make a thousand saves take many seconds.
QString InMemoryTemplate();

// Points TMPDIR (backups, downloads) and HOME (the channel file, in test mode) into
// `folder`; false when the paths do not follow.
bool KeepFilesIn(const QString& folder);

} // namespace pellavo::robust
