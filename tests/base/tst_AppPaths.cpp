#include "base/AppPaths.h"
#include "testsupport.h"

#include <QFileInfo>

class TestAppPaths : public QObject {
    Q_OBJECT

private slots:
    // The guide is looked for where an installation puts it, which the build tree mirrors
    // for the program in its bin folder; never in the sources, which a release may not have.
    void helpFile() {
        const QString source =
            QFileInfo(QStringLiteral(PELLAVO_SOURCE_DIR "/res/PellavoHelp.html")).canonicalFilePath();
        QVERIFY(!source.isEmpty());
        QVERIFY(QFileInfo(AppPaths::HelpFile()).canonicalFilePath() != source);
        QVERIFY(AppPaths::HelpFile().endsWith(QLatin1String("/share/pellavo/PellavoHelp.html")));
        const QString built = QStringLiteral(PELLAVO_BINARY_DIR "/bin/../share/pellavo/PellavoHelp.html");
        QCOMPARE(pellavo::test::readFile(built), pellavo::test::readFile(source));
    }
};

PELLAVO_TEST_MAIN(TestAppPaths)
#include "tst_AppPaths.moc"
