// An edition's articles are in the history if and only if its book is in place, whenever
// the program dies. A child process writes an edition and stops dead at each of its
// file-system steps in turn (edition_maker), the history's included; the next edition then
// brings every article that no book in place carries, and none twice.
#include "EpubTestUtil.h"
#include "StoppingChild.h"
#include "testsupport.h"
#include "update/NewsFeedFile.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace pellavo::test;

namespace {

QByteArray feed(int number) {
    QByteArray items;
    for (int i = 1; i <= 3; ++i) {
        const QByteArray title = "Feed " + QByteArray::number(number) + " article " + QByteArray::number(i);
        items += "<item><title>" + title + "</title><guid isPermaLink=\"false\">" + title +
                 "</guid><description>Words</description></item>";
    }
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed " + QByteArray::number(number) +
           "</title>" + items + "</channel></rss>";
}

// The articles of every edition in the folder, by the titles in their contents.
QStringList articlesInEditions(const QString& folder) {
    QStringList titles;
    static const QRegularExpression article(QStringLiteral("#a\\d+\">([^<]*)</a>"));
    for (const QString& name : QDir(folder).entryList({QStringLiteral("news-*.epub")}, QDir::Files)) {
        const QString nav = QString::fromUtf8(
            readEpub(folder + QLatin1Char('/') + name).files.value(QStringLiteral("EPUB/nav.xhtml")));
        for (const QRegularExpressionMatch& match : article.globalMatch(nav))
            titles << match.captured(1);
    }
    titles.sort();
    return titles;
}

} // namespace

class TestEditionCrash : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_folder;
    QStringList m_steps;
    QStringList m_all;

    std::pair<int, QString> Make(int step, bool halfway) {
        return stopatstep::RunChild(
            QStringLiteral("edition_maker"),
            {m_folder + QStringLiteral("/news.nff"), m_folder + QStringLiteral("/history.sqlite")}, step,
            halfway);
    }

    // A folder with the news feed file and no history.
    void Reset() {
        QDir(m_folder).removeRecursively();
        QVERIFY(QDir().mkpath(m_folder));
        QFile file(m_folder + QStringLiteral("/news.nff"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        NewsFeedWriter writer(file);
        QVERIFY(writer.WriteHeader(false, QByteArray()));
        for (int number = 1; number <= 2; ++number)
            QVERIFY(writer.AppendRecord(QStringLiteral("http://127.0.0.1/%1").arg(number), feed(number)));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.filePath(QStringLiteral("run"));
        Reset();
        const auto [exitCode, steps] = Make(0, false);
        QCOMPARE(exitCode, 0);
        m_steps = steps.split(QLatin1Char(' '));
        qInfo("An edition takes %lld steps: %s", qlonglong(m_steps.size()), qPrintable(steps));
        QVERIFY(m_steps.contains(QStringLiteral("sync")) && m_steps.contains(QStringLiteral("rename")));
        m_all = articlesInEditions(m_folder);
        QCOMPARE(m_all.size(), 6);
    }

    void killedAtEveryStep_data() { stopatstep::AddStepRows(m_steps); }

    void killedAtEveryStep() {
        QFETCH(int, step);
        QFETCH(bool, halfway);
        Reset();
        QCOMPARE(Make(step, halfway).first, stopatstep::kStoppedExit);
        // The next edition, whole: between them the two carry every article once.
        QCOMPARE(Make(0, false).first, 0);
        QCOMPARE(articlesInEditions(m_folder), m_all);
        // Nothing unfinished is left, and a history cut short is no damaged one.
        const QStringList left = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(left.filter(QStringLiteral(".part")).isEmpty() &&
                     left.filter(QStringLiteral("damaged")).isEmpty(),
                 qPrintable(left.join(QLatin1Char(' '))));
    }
};

PELLAVO_TEST_MAIN(TestEditionCrash)
#include "tst_EditionCrash.moc"
