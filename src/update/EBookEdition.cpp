#include "update/EBookEdition.h"

#include "ebook/EBookWriter.h"
#include "update/NewsFeedFile.h"

#include <QFile>
#include <QFileInfo>

QString EBookPathFor(const QString& newsFeedFile) {
    const QFileInfo info(newsFeedFile);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a hidden name, not a suffix.
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString folder = newsFeedFile.left(newsFeedFile.size() - name.size());
    // The book never takes the place of the news feed file itself.
    const QString book = stem + QStringLiteral(".epub");
    return folder + (book == name ? name + QStringLiteral(".epub") : book);
}

QString EBookOfSameRun(const QString& newsFeedFile) {
    const QString bookPath = EBookPathFor(newsFeedFile);
    const QFileInfo book(bookPath);
    const QFileInfo file(newsFeedFile);
    // A run writes its book after its last record: an older book is that of an earlier run.
    if (!book.isFile() || !file.isFile() || book.lastModified() < file.lastModified())
        return QString();
    return bookPath;
}

bool WriteEBookEdition(const QString& newsFeedFile, const QString& bookPath, const QDateTime& runTime,
                       QString* error, const std::atomic_bool* stop, const PictureFetcher& fetchPictures,
                       const EBookOptions& options) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    QFile file(newsFeedFile);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(newsFeedFile, file.errorString()));
    NewsFeedReader reader(file);
    const auto malformed = [&] {
        return fail(
            QStringLiteral("%1: malformed news feed file: %2").arg(newsFeedFile, reader.ErrorString()));
    };
    if (!reader.ReadHeader())
        return malformed();

    ebook::EBookWriter book(bookPath, runTime);
    book.SetStopFlag(stop);
    book.SetEdition(options.edition);
    if (fetchPictures)
        book.EnablePictures(options.greyPictures);
    if (reader.SyncFlag())
        book.SetChannelFile(reader.ChannelFile());
    NewsFeedReader::Record record;
    while (reader.ReadNext(record)) {
        if (!book.AddRecord(record.url, record.content))
            return fail(book.ErrorString());
    }
    if (reader.HasError())
        return malformed();
    if (fetchPictures) {
        const QStringList pictures = book.Pictures();
        if (!pictures.isEmpty())
            fetchPictures(pictures, [&](const QString& address, const QByteArray& bytes) {
                book.AddPicture(address, bytes);
                return book.PictureBytes() < ebook::kMaxBookPictureBytes;
            });
    }
    return book.Finish() || fail(book.ErrorString());
}
