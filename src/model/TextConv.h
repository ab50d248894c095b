#pragma once

#include <QByteArray>
#include <QString>

// The model keeps UTF-8 bytes; the user interface shows QStrings. Both directions are lossless.
QString Utf8ToAnsi(const char* utf8);
QByteArray AnsiToUtf8(const QString& text);
