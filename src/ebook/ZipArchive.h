#pragma once

#include <QString>

#include <zip.h>

namespace ebook {

// Opens the zip archive at `path` with libzip's `flags`; nullptr with `error` naming the
// file and libzip's reason when it cannot be opened.
zip_t* OpenZipArchive(const QString& path, int flags, QString* error);

} // namespace ebook
