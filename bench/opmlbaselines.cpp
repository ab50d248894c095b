#include "opmlbaselines.h"

#include <QFile>
#include <QSaveFile>

#include <expat.h>

namespace pellavo::bench {

bool BareExpatParse(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(
        parser, [](void*, const XML_Char*, const XML_Char**) {}, [](void*, const XML_Char*) {});
    XML_SetCharacterDataHandler(parser, [](void*, const XML_Char*, int) {});
    bool ok = true;
    for (bool last = false; ok && !last;) {
        void* buffer = XML_GetBuffer(parser, 256);
        const qint64 read = buffer ? file.read(static_cast<char*>(buffer), 256) : -1;
        last = read <= 0 || file.atEnd();
        ok = read >= 0 && XML_ParseBuffer(parser, int(read), last) == XML_STATUS_OK;
    }
    XML_ParserFree(parser);
    return ok;
}

bool WriteOnce(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace pellavo::bench
