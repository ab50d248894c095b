#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace ebook {

// What a book takes of the pictures its articles show: no download larger than this...
constexpr qint64 kMaxPictureBytes = qint64(2) * 1024 * 1024;
// ...and, in the order the articles show them, no more than this in all as the book stores them.
constexpr qint64 kMaxBookPictureBytes = qint64(64) * 1024 * 1024;
// Pictures are made no larger than this on their long side for reading devices...
constexpr int kMaxPictureSide = 1600;
// ...and pictures that say they are larger than this are not decoded at all.
constexpr qint64 kMaxPicturePixels = qint64(100) * 1000 * 1000;

// What pictures are asked for: the kinds a book may carry.
constexpr char kPictureAccept[] = "image/jpeg, image/png, image/gif, image/webp";

// The kinds of picture a book carries, which every reading system shows. SVG is none of
// them: it can carry scripts.
enum class PictureFormat { None, Jpeg, Png, Gif, WebP };

// The format of a picture, told by its bytes alone: a signature and a header that a
// decoder can read (dimensions, and for JPEG the frame and the start of the scan, for GIF
// the first image). None for anything else, whatever its address or its server says.
PictureFormat RecognisePicture(QByteArrayView bytes);

// A picture as a book stores it.
struct PreparedPicture {
    PictureFormat format = PictureFormat::None; // None: it cannot go into a book
    QByteArray bytes;
};

// A picture made for reading devices: decoded (an animation's first frame) and encoded
// again, scaled down to kMaxPictureSide keeping its proportions, transparency flattened onto
// white, in shades of grey when `grey`. Pictures of few colours (drawings, charts, comics)
// become PNG, photographs JPEG; a single-frame GIF stays as it is where that is smaller.
// Whatever does not decode, or says it has more than kMaxPicturePixels, gives None.
PreparedPicture PreparePicture(QByteArrayView bytes, bool grey);

// "image/jpeg", ...; empty for None.
const char* PictureMediaType(PictureFormat format);
// "jpg", ...; empty for None.
const char* PictureSuffix(PictureFormat format);

} // namespace ebook
