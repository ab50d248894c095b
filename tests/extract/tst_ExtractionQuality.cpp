// The article finder graded on the development set of real pages, so that no later change
// loses quality quietly.
#include "DevSet.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>

class TestExtractionQuality : public QObject {
    Q_OBJECT

private slots:
    void developmentSet() {
        const QString folder = pellavo::devset::Folder();
        if (folder.isEmpty())
            QSKIP("the development set is not beside the source tree");
        const std::vector<pellavo::devset::Page> pages = pellavo::devset::LoadPages(folder);
        QVERIFY(pages.size() >= 400);
        QTemporaryDir out;
        QVERIFY(out.isValid());
        pellavo::devset::ExtractAll(pages, out.path());
        const QString score = pellavo::devset::Score(folder, out.path());
        qInfo("%s", qPrintable(score));
        const QRegularExpressionMatch f1 = QRegularExpression(QStringLiteral(" f1 ([0-9.]+)$")).match(score);
        QVERIFY2(f1.hasMatch(), qPrintable(score));
        QVERIFY2(f1.captured(1).toDouble() >= 0.92, qPrintable(score));
    }
};

PELLAVO_TEST_MAIN(TestExtractionQuality)
#include "tst_ExtractionQuality.moc"
