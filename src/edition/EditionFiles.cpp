#include "edition/EditionFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace edition {

namespace {

// The news feed file's name without its suffix (a leading dot starts a hidden name).
QString Stem(const QString& newsFeedFile) {
    const QString name = QFileInfo(newsFeedFile).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QDir Folder(const QString& newsFeedFile) {
    return QFileInfo(newsFeedFile).absoluteDir();
}

QRegularExpression EditionPattern(const QString& newsFeedFile) {
    return QRegularExpression(QStringLiteral("^%1-(\\d{4}-\\d{2}-\\d{2}-\\d{4})(?:-([1-9]\\d{0,5}))?\\.epub$")
                                  .arg(QRegularExpression::escape(Stem(newsFeedFile))));
}

const QString kUnfinishedSuffix = QStringLiteral(".part");

} // namespace

QString NewEditionPath(const QString& newsFeedFile, const QDateTime& runTime) {
    const QDir folder = Folder(newsFeedFile);
    const QString stem =
        Stem(newsFeedFile) + runTime.toLocalTime().toString(QStringLiteral("-yyyy-MM-dd-HHmm"));
    QString path = folder.filePath(stem + QStringLiteral(".epub"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.filePath(stem + QStringLiteral("-%1.epub").arg(n));
    return path;
}

QStringList EditionFiles(const QString& newsFeedFile) {
    const QDir folder = Folder(newsFeedFile);
    const QRegularExpression pattern = EditionPattern(newsFeedFile);
    struct Edition {
        QString stamp;
        int number;
        QString path;
    };
    std::vector<Edition> editions;
    for (const QFileInfo& file :
         folder.entryInfoList({Stem(newsFeedFile) + QStringLiteral("-*.epub")}, QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch match = pattern.match(file.fileName());
        if (match.hasMatch())
            editions.push_back(
                {match.captured(1), match.hasCaptured(2) ? match.captured(2).toInt() : 1, file.filePath()});
    }
    // By time, then by the number a second edition of the same minute gets.
    std::sort(editions.begin(), editions.end(), [](const Edition& a, const Edition& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
    });
    QStringList paths;
    for (const Edition& edition : editions)
        paths << edition.path;
    return paths;
}

QStringList RemoveOldEditions(const QString& newsFeedFile, int keep, const QStringList& spare) {
    QStringList removed;
    if (keep <= 0)
        return removed;
    const QStringList editions = EditionFiles(newsFeedFile);
    for (qsizetype i = 0; i + keep < editions.size(); ++i) {
        if (!spare.contains(editions[i]) && QFile::remove(editions[i]))
            removed << editions[i];
    }
    return removed;
}

QString EditionOfSameRun(const QString& newsFeedFile) {
    const QStringList editions = EditionFiles(newsFeedFile);
    const QFileInfo file(newsFeedFile);
    if (editions.isEmpty() || !file.isFile())
        return QString();
    // A run puts its edition in place after it has closed the file: an older one is an earlier run's.
    const QFileInfo newest(editions.last());
    return newest.lastModified() < file.lastModified() ? QString() : newest.filePath();
}

QString UnfinishedEditionPath(const QString& editionPath) {
    const QFileInfo info(editionPath);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() + kUnfinishedSuffix);
}

void RemoveUnfinishedEditions(const QString& newsFeedFile) {
    const QDir folder = Folder(newsFeedFile);
    const QRegularExpression pattern = EditionPattern(newsFeedFile);
    // The book writer's own temporary files carry a suffix after the name it was given.
    for (const QFileInfo& file :
         folder.entryInfoList({QLatin1Char('.') + Stem(newsFeedFile) + QStringLiteral("-*.epub") +
                               kUnfinishedSuffix + QLatin1Char('*')},
                              QDir::Files | QDir::Hidden)) {
        const QString name = file.fileName().mid(1);
        const qsizetype end = name.lastIndexOf(kUnfinishedSuffix);
        if (pattern.match(name.left(end)).hasMatch())
            QFile::remove(file.filePath());
    }
}

} // namespace edition
