#include "model/TextConv.h"

QString Utf8ToAnsi(const char* utf8) {
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

QByteArray AnsiToUtf8(const QString& text) {
    return text.toUtf8();
}
