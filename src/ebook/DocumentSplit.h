#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace ebook {

// Cuts well-formed XHTML flow content, as the book's writer makes it, into pieces of at most
// `limit` bytes (give or take one tag), each well-formed: where a cut falls inside elements,
// the piece before closes them and the piece after opens them again, without their ids.
// Cuts go between the outermost blocks that let the pieces be at least half full, inside
// text (at a space where there is one) only where no element ends in reach.
std::vector<QByteArray> SplitFragment(QByteArrayView xhtml, qsizetype limit);

} // namespace ebook
