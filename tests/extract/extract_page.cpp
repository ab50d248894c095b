#include "extract/ArticleFinder.h"
#include <QFile>
#include <cstdio>
int main(int, char** argv) {
    QFile f(QString::fromLocal8Bit(argv[1])); f.open(QIODevice::ReadOnly);
    const QByteArray b = f.readAll();
    auto a = extract::FindArticle({b, QUrl(QString::fromLocal8Bit(argv[2])), {}, {}});
    if (a) fwrite(a->xhtml.constData(), 1, size_t(a->xhtml.size()), stdout);
    return a ? 0 : 1;
}
