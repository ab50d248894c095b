#pragma once

#include <QString>
#include <QStringList>

// Copies an edition into a folder that a sync client carries to the phone (Syncthing,
// Nextcloud, Dropbox): written beside under a hidden name, synced, then renamed into place, so
// the sync client never picks up half a book. Returns the path it wrote, or empty with `reason`.
QString CopyIntoFolder(const QString& file, const QString& folder, QString* reason);

// Removes from the folder the oldest of the files Pellavo delivered there (`delivered`, oldest
// first) beyond the newest `keep` (0: keep all), except those in `spare`. Only those exact
// paths are ever touched. Returns the paths removed.
QStringList PruneFolder(const QStringList& delivered, int keep, const QStringList& spare = {});
