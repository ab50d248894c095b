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

} // namespace pellavo::robust
