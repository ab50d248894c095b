#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace ebook {

// A feed document as UTF-8, whatever it came in: a byte-order mark (UTF-8, UTF-16, UTF-32),
// UTF-16 without one, or the encoding its XML declaration names, converted through iconv
// (multi-byte encodings such as Shift_JIS and GB18030 included). The declaration itself is
// left as it stands: the parser is told that the bytes are UTF-8.
//
// Publishers get their encodings wrong in two ways often enough to mend both: a document
// that says ISO-8859-1 (or US-ASCII) but holds windows-1252 quotes and dashes, and one that
// says UTF-8 (or nothing) but holds single bytes of windows-1252. Bytes that are not UTF-8
// are read as windows-1252; an encoding iconv does not know is read as UTF-8.
QByteArray DocumentToUtf8(const QByteArray& document);

// Bytes known to be in `encoding` (a lower-case name) as UTF-8, mended as DocumentToUtf8
// mends them. An empty name, UTF-16 and UTF-32 (which single bytes cannot be) and a name
// iconv does not know read as UTF-8.
QByteArray DecodeAs(QByteArrayView bytes, const QByteArray& encoding);

// Text with the characters U+0080 to U+009F read as the windows-1252 characters they stand
// for, as HTML reads references to them: control characters that no one writes, but that
// a windows-1252 quote or dash becomes when it is taken for ISO-8859-1 on its way into a
// feed. `utf8` itself when it holds none; else the mended text, in `buffer`.
QByteArrayView MendC1Controls(QByteArrayView utf8, QByteArray& buffer);

// Mends the ampersands that keep a document from being well-formed: a bare '&' becomes
// "&amp;", and an HTML named entity such as "&eacute;" (whose declaration went with the
// document type declaration the news feed file's cleaning removes) becomes its numeric
// references. CDATA sections, comments and processing instructions are left alone.
// Returns whether anything changed.
bool MendReferences(QByteArray& utf8);

} // namespace ebook
