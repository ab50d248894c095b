// Every seed of the fuzz targets and every input a fuzzer ever found a problem with,
// run through the fuzz targets' own checks.
#include "FuzzChecks.h"
#include "ModelTestUtil.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>

#include <functional>

using namespace pellavo::fuzz;

namespace {

using Check = std::function<QString(const QByteArray&)>;

Check CheckFor(const QString& target) {
    if (target == QLatin1String("opml"))
        return [](const QByteArray& input) {
            // The reader traces what it reads to standard output.
            pellavo::test::StdoutRedirect quiet;
            return CheckOpml(input);
        };
    if (target == QLatin1String("nffreader"))
        return CheckNewsFeedReader;
    if (target == QLatin1String("chapter"))
        return CheckFeedChapter;
    if (target == QLatin1String("article"))
        return CheckArticleFinder;
    if (target == QLatin1String("picture"))
        return CheckPicture;
    return CheckFeedCleaning;
}

} // namespace

class TestFuzzCorpus : public QObject {
    Q_OBJECT

private slots:
    void inputs_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("path");
        int count = 0;
        for (const QString& kind : {QStringLiteral("corpus"), QStringLiteral("regressions")}) {
            for (const QString& target :
                 {QStringLiteral("opml"), QStringLiteral("nffreader"), QStringLiteral("clean"),
                  QStringLiteral("chapter"), QStringLiteral("article"), QStringLiteral("picture")}) {
                const QDir dir(QStringLiteral(PELLAVO_FUZZ_DIR "/%1/%2").arg(kind, target));
                for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
                    QTest::addRow("%s/%s/%s", qPrintable(kind), qPrintable(target), qPrintable(name))
                        << target << dir.filePath(name);
                    ++count;
                }
            }
        }
        QVERIFY(count >= 20);
    }

    void inputs() {
        QFETCH(QString, target);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        const QString problem = CheckFor(target)(file.readAll());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // The OPML check relies on the device really handing out short reads through
    // QIODevice::read, and seeking back for the reader's second attempt.
    void shortReads() {
        const QByteArray bytes = QByteArray("<opml>").repeated(200);
        ShortReadDevice device(bytes, false, 3);
        QByteArray read;
        int pieces = 0;
        for (char buffer[256]; const qint64 n = device.read(buffer, sizeof buffer);) {
            QVERIFY(n > 0 && n <= qint64(sizeof buffer));
            read.append(buffer, n);
            pieces += n < qint64(sizeof buffer) ? 1 : 0;
        }
        QCOMPARE(read, bytes);
        QVERIFY(pieces > 3);
        QVERIFY(device.seek(0));
        QVERIFY(!device.readAll().isEmpty());
        QVERIFY(!ShortReadDevice(bytes, true, 3).seek(0));
    }
};

PELLAVO_TEST_MAIN(TestFuzzCorpus)
#include "tst_FuzzCorpus.moc"
