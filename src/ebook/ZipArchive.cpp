#include "ebook/ZipArchive.h"

#include <QFile>

namespace ebook {

zip_t* OpenZipArchive(const QString& path, int flags, QString* error) {
    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), flags, &code);
    if (!archive) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, code);
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(zip_error_strerror(&zipError)));
        zip_error_fini(&zipError);
    }
    return archive;
}

} // namespace ebook
