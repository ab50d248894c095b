#pragma once

#include <QByteArray>
#include <QString>

namespace pellavo::bench {

// expat alone: the file in the reader's 256-byte chunks, with handlers that do nothing.
bool BareExpatParse(const QString& path);

// One write of the bytes, beside the target and renamed into place, as a save does.
bool WriteOnce(const QString& path, const QByteArray& bytes);

} // namespace pellavo::bench
