#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace extract {

// The charset parameter of an HTTP Content-Type header, lower case, or empty.
QByteArray ContentTypeCharset(QByteArrayView contentType);

// The charset a page names in its head (<meta charset> or <meta http-equiv="Content-Type">),
// lower case, or empty.
QByteArray MetaCharset(QByteArrayView page);

// A web page as UTF-8, as a browser reads it: a byte-order mark first, then the charset of
// the HTTP header, then the one the page names, then UTF-8 (with stray windows-1252 bytes
// mended).
QByteArray PageToUtf8(QByteArrayView page, QByteArrayView contentType);

} // namespace extract
