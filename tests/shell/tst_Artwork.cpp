#include "testsupport.h"

#include <QFile>
#include <QImage>

// The pictures are compiled into pellavo_res; code asks for them by name, so every name
// must be there, at its size, with a sharp twice-as-large companion.
class TestArtwork : public QObject {
    Q_OBJECT
private slots:
    void pictureAtBothScales_data();
    void pictureAtBothScales();
};

void TestArtwork::pictureAtBothScales_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    for (const char* tree : {"tree_group_closed", "tree_group_open", "tree_feed"})
        QTest::newRow(tree) << QString::fromLatin1(tree) << QSize(16, 16);
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256})
        QTest::addRow("app_%d", side) << QStringLiteral("app_%1").arg(side) << QSize(side, side);
    QTest::newRow("toolbar") << QStringLiteral("toolbar") << QSize(128, 15);
    QTest::newRow("splash") << QStringLiteral("splash") << QSize(225, 277);
    QTest::newRow("about") << QStringLiteral("about") << QSize(74, 156);
    QTest::newRow("dlg_feed") << QStringLiteral("dlg_feed") << QSize(86, 193);
    QTest::newRow("dlg_group") << QStringLiteral("dlg_group") << QSize(250, 44);
    for (const char* dlg : {"dlg_delete", "dlg_import", "dlg_progress"})
        QTest::newRow(dlg) << QString::fromLatin1(dlg) << QSize(93, 109);
    QTest::newRow("dlg_options") << QStringLiteral("dlg_options") << QSize(86, 170);
    QTest::newRow("taskbar_158") << QStringLiteral("taskbar_158") << QSize(153, 227);
    for (int id : {145, 146, 147, 148, 149, 150, 152, 157})
        QTest::addRow("taskbar_%d", id) << QStringLiteral("taskbar_%1").arg(id) << QSize(384, 15);
}

void TestArtwork::pictureAtBothScales() {
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QString path = QStringLiteral(":/images/%1.png").arg(name);
    const QImage normal(path);
    QVERIFY2(!normal.isNull(), qPrintable(path));
    QCOMPARE(normal.size(), size);
    const QImage large(QStringLiteral(":/images/%1@2x.png").arg(name));
    QCOMPARE(large.size(), size * 2);
    // A picture that drew nothing would be all transparent.
    int opaque = 0;
    for (int y = 0; y < normal.height(); ++y)
        for (int x = 0; x < normal.width(); ++x)
            opaque += normal.pixelColor(x, y).alpha() == 255;
    QVERIFY(opaque > normal.width() * normal.height() / 4);
}

PELLAVO_TEST_MAIN(TestArtwork)
#include "tst_Artwork.moc"
