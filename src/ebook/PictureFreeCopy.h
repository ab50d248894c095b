#pragma once

#include <QString>

namespace ebook {

// Writes at `copyPath` the EPUB book at `bookPath` without its pictures, for a mail that would
// be too big with them: the same entries in the same order but the pictures, every <img> of
// its documents replaced by its alternative text (as a book made without pictures shows it),
// and the package's manifest without the pictures. It is a copy of that very book, so it
// serves any edition, however old. False with `error` when the book cannot be read or the
// copy written; nothing is left at `copyPath` then.
bool WritePictureFreeCopy(const QString& bookPath, const QString& copyPath, QString* error = nullptr);

} // namespace ebook
