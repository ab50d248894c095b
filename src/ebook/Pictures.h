#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace ebook {

// What a book takes of the pictures its articles show: none larger than this...
constexpr qint64 kMaxPictureBytes = qint64(2) * 1024 * 1024;
// ...and, in the order the articles show them, no more than this in all.
constexpr qint64 kMaxBookPictureBytes = qint64(64) * 1024 * 1024;

// What pictures are asked for: the kinds a book may carry.
constexpr char kPictureAccept[] = "image/jpeg, image/png, image/gif, image/webp";

// The kinds of picture a book carries, which every reading system shows. SVG is none of
// them: it can carry scripts.
enum class PictureFormat { None, Jpeg, Png, Gif, WebP };

// The format of a picture, told by its bytes alone: a signature and a header that a
// decoder can read (dimensions, and for JPEG the frame and the start of the scan, for GIF
// the first image). None for anything else, whatever its address or its server says.
PictureFormat RecognisePicture(QByteArrayView bytes);

// "image/jpeg", ...; empty for None.
const char* PictureMediaType(PictureFormat format);
// "jpg", ...; empty for None.
const char* PictureSuffix(PictureFormat format);

} // namespace ebook
