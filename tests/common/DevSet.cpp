#include "DevSet.h"

#include "extract/ArticleFinder.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <zlib.h>

namespace pellavo::devset {

namespace {

QByteArray Gunzip(const QByteArray& packed) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return QByteArray();
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    stream.avail_in = uInt(packed.size());
    int result = Z_OK;
    while (result == Z_OK) {
        char buffer[1 << 16];
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

} // namespace

QString Folder() {
    const QString folder = QStringLiteral(PELLAVO_SOURCE_DIR "/../shared/extraction-dev");
    return QFile::exists(folder + QStringLiteral("/expect.json")) ? QDir(folder).absolutePath() : QString();
}

std::vector<Page> LoadPages(const QString& folder) {
    QFile expectFile(folder + QStringLiteral("/expect.json"));
    if (!expectFile.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject expect = QJsonDocument::fromJson(expectFile.readAll()).object();
    std::vector<Page> pages;
    for (auto it = expect.begin(); it != expect.end(); ++it) {
        QFile file(folder + QStringLiteral("/pages/") + it.key());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = Gunzip(file.readAll());
        if (bytes.isEmpty())
            return {};
        QString name = it.key();
        name.chop(3);
        pages.push_back({name, QUrl(it.value().toObject().value(QLatin1String("url")).toString()), bytes});
    }
    return pages;
}

void ExtractAll(const std::vector<Page>& pages, const QString& out) {
    QDir().mkpath(out);
    for (const Page& page : pages) {
        const std::optional<extract::Article> article =
            extract::FindArticle({page.bytes, page.address, {}, {}});
        QFile file(out + QLatin1Char('/') + page.name);
        if (article && file.open(QIODevice::WriteOnly))
            file.write(article->xhtml);
    }
}

QString Score(const QString& folder, const QString& out, int show) {
    QProcess scorer;
    QStringList arguments{folder + QStringLiteral("/score.py"), out};
    if (show > 0)
        arguments << QStringLiteral("--show") << QString::number(show);
    scorer.start(QStringLiteral("python3"), arguments);
    if (!scorer.waitForFinished(300000) || scorer.exitCode() != 0)
        return QString();
    return QString::fromUtf8(scorer.readAllStandardOutput()).trimmed();
}

} // namespace pellavo::devset
