#include "ebook/PictureFreeCopy.h"

#include "ebook/HtmlSanitizer.h"
#include "ebook/ZipArchive.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <zip.h>

#include <deque>
#include <functional>
#include <vector>

namespace ebook {

namespace {

// No document of a book of ours comes near this; an entry that claims more is no book of ours.
constexpr zip_uint64_t kMaxEntryBytes = zip_uint64_t(256) * 1024 * 1024;

const char kMimetypeEntry[] = "mimetype";

QString ZipError(zip_t* archive) {
    return QString::fromLocal8Bit(zip_strerror(archive));
}

bool ReadEntry(zip_t* archive, zip_uint64_t index, QByteArray* bytes) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE) ||
        stat.size > kMaxEntryBytes)
        return false;
    zip_file_t* file = zip_fopen_index(archive, index, 0);
    if (!file)
        return false;
    bytes->resize(qsizetype(stat.size));
    const zip_int64_t read = zip_fread(file, bytes->data(), stat.size);
    zip_fclose(file);
    return read == zip_int64_t(stat.size);
}

// The package document's path in the archive, as the container names it.
QString PackagePath(const QByteArray& container) {
    QXmlStreamReader xml(container);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("rootfile"))
            return xml.attributes().value(QLatin1String("full-path")).toString();
    }
    return QString();
}

// What the manifest lists as pictures, and its documents, by their paths in the archive.
struct Manifest {
    QSet<QString> pictureIds;
    QSet<QString> pictures;
    QSet<QString> documents;
};

Manifest ReadManifest(const QByteArray& package, const QString& packagePath) {
    const QString folder = packagePath.left(packagePath.lastIndexOf(QLatin1Char('/')) + 1);
    Manifest manifest;
    QXmlStreamReader xml(package);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("item"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        const QString type = attributes.value(QLatin1String("media-type")).toString();
        const QString path = QDir::cleanPath(
            folder + QUrl::fromPercentEncoding(attributes.value(QLatin1String("href")).toUtf8()));
        if (type.startsWith(QLatin1String("image/"))) {
            manifest.pictureIds.insert(attributes.value(QLatin1String("id")).toString());
            manifest.pictures.insert(path);
        } else if (type == QLatin1String("application/xhtml+xml")) {
            manifest.documents.insert(path);
        }
    }
    return manifest;
}

// Copies the XML document token by token, with qualified names as they stand so that its
// prefixes and namespace declarations stay as they were; `replace` may write something else
// in place of an element (and everything in it) and say so.
using ElementHook = std::function<bool(const QXmlStreamReader& xml, QXmlStreamWriter& out)>;

bool RewriteXml(const QByteArray& document, const ElementHook& replace, QByteArray* rewritten) {
    QXmlStreamReader xml(document);
    xml.setNamespaceProcessing(false);
    QXmlStreamWriter out(rewritten);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (replace(xml, out)) {
                xml.skipCurrentElement();
                continue;
            }
            out.writeStartElement(xml.qualifiedName().toString());
            for (const QXmlStreamAttribute& attribute : xml.attributes())
                out.writeAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
        } else if (xml.isEndElement()) {
            out.writeEndElement();
        } else if (!xml.hasError()) {
            out.writeCurrentToken(xml);
        }
    }
    return !xml.hasError();
}

// Each picture becomes what a book made without pictures shows in its place.
bool WithoutPictures(const QByteArray& xhtml, QByteArray* rewritten) {
    return RewriteXml(
        xhtml,
        [](const QXmlStreamReader& xml, QXmlStreamWriter& out) {
            if (xml.qualifiedName() != QLatin1String("img"))
                return false;
            out.writeCharacters(QString::fromUtf8(
                CollapseSpaces(xml.attributes().value(QLatin1String("alt")).toString().toUtf8())));
            return true;
        },
        rewritten);
}

// The manifest without the pictures, and without the cover named by a picture's id.
bool PackageWithoutPictures(const QByteArray& package, const QSet<QString>& pictureIds,
                            QByteArray* rewritten) {
    return RewriteXml(
        package,
        [&pictureIds](const QXmlStreamReader& xml, QXmlStreamWriter&) {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.qualifiedName() == QLatin1String("item"))
                return pictureIds.contains(attributes.value(QLatin1String("id")).toString());
            return xml.qualifiedName() == QLatin1String("meta") &&
                   attributes.value(QLatin1String("name")) == QLatin1String("cover") &&
                   pictureIds.contains(attributes.value(QLatin1String("content")).toString());
        },
        rewritten);
}

} // namespace

bool WritePictureFreeCopy(const QString& bookPath, const QString& copyPath, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    QFile::remove(copyPath);
    QString why;
    zip_t* book = OpenZipArchive(bookPath, ZIP_RDONLY, &why);
    if (!book)
        return fail(why);
    const auto notABook = [&](const QString& why) {
        zip_discard(book);
        return fail(QStringLiteral("%1 is no EPUB book we can read: %2").arg(bookPath, why));
    };

    const zip_int64_t count = zip_get_num_entries(book, 0);
    QStringList names;
    for (zip_int64_t i = 0; i < count; ++i)
        names << QString::fromUtf8(zip_get_name(book, zip_uint64_t(i), ZIP_FL_ENC_GUESS));
    const auto read = [&](const QString& name, QByteArray* bytes) {
        const qsizetype index = names.indexOf(name);
        return index >= 0 && ReadEntry(book, zip_uint64_t(index), bytes);
    };
    QByteArray container, package;
    if (!read(QStringLiteral("META-INF/container.xml"), &container))
        return notABook(QStringLiteral("no container"));
    const QString packagePath = PackagePath(container);
    if (packagePath.isEmpty() || !read(packagePath, &package))
        return notABook(QStringLiteral("no package document"));
    const Manifest manifest = ReadManifest(package, packagePath);

    // The new entries' bytes live until the archive is closed.
    std::deque<QByteArray> contents;
    QHash<QString, const QByteArray*> rewritten;
    if (!PackageWithoutPictures(package, manifest.pictureIds, &contents.emplace_back()))
        return notABook(QStringLiteral("its package document is not well-formed"));
    rewritten.insert(packagePath, &contents.back());
    for (const QString& document : manifest.documents) {
        QByteArray xhtml;
        if (!read(document, &xhtml))
            return notABook(QStringLiteral("%1 cannot be read").arg(document));
        if (!xhtml.contains("<img"))
            continue;
        if (!WithoutPictures(xhtml, &contents.emplace_back()))
            return notABook(QStringLiteral("%1 is not well-formed").arg(document));
        rewritten.insert(document, &contents.back());
    }

    zip_t* copy = OpenZipArchive(copyPath, ZIP_CREATE | ZIP_EXCL, &why);
    if (!copy) {
        zip_discard(book);
        return fail(why);
    }
    // Reading systems find the kind of the file in its first entry, stored as it is.
    std::vector<QString> order{QString::fromLatin1(kMimetypeEntry)};
    for (const QString& name : std::as_const(names)) {
        if (name != QLatin1String(kMimetypeEntry) && !manifest.pictures.contains(name))
            order.push_back(name);
    }
    bool ok = true;
    for (const QString& name : order) {
        const QByteArray* bytes = rewritten.value(name);
        if (!bytes) {
            if (!read(name, &contents.emplace_back())) {
                why = QStringLiteral("%1 cannot be read").arg(name);
                ok = false;
                break;
            }
            bytes = &contents.back();
        }
        zip_source_t* source = zip_source_buffer(copy, bytes->constData(), zip_uint64_t(bytes->size()), 0);
        const zip_int64_t index =
            source ? zip_file_add(copy, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (source && index < 0)
            zip_source_free(source);
        const bool stored = name == QLatin1String(kMimetypeEntry);
        ok = index >= 0 && zip_set_file_compression(copy, zip_uint64_t(index),
                                                    stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0) == 0;
        if (!ok) {
            why = ZipError(copy);
            break;
        }
    }
    zip_discard(book);
    if (ok && zip_close(copy) == 0)
        return true;
    if (why.isEmpty())
        why = ZipError(copy);
    zip_discard(copy);
    QFile::remove(copyPath);
    return fail(QStringLiteral("%1: %2").arg(copyPath, why));
}

} // namespace ebook
