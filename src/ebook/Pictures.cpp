#include "ebook/Pictures.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

namespace ebook {

namespace {

struct FormatNames {
    const char* mediaType;
    const char* suffix;
};
// In the order of PictureFormat.
constexpr FormatNames kFormatNames[] = {
    {"", ""}, {"image/jpeg", "jpg"}, {"image/png", "png"}, {"image/gif", "gif"}, {"image/webp", "webp"}};

uint Byte(QByteArrayView bytes, qsizetype at) {
    return uchar(bytes[at]);
}
uint BigEndian16(QByteArrayView bytes, qsizetype at) {
    return Byte(bytes, at) << 8 | Byte(bytes, at + 1);
}
quint32 BigEndian32(QByteArrayView bytes, qsizetype at) {
    return quint32(BigEndian16(bytes, at)) << 16 | BigEndian16(bytes, at + 2);
}
uint LittleEndian16(QByteArrayView bytes, qsizetype at) {
    return Byte(bytes, at) | Byte(bytes, at + 1) << 8;
}
quint32 LittleEndian32(QByteArrayView bytes, qsizetype at) {
    return LittleEndian16(bytes, at) | quint32(LittleEndian16(bytes, at + 2)) << 16;
}

// The signature and a header as a decoder reads it: 13 bytes of IHDR with a colour type
// and a depth that go together.
bool IsPng(QByteArrayView bytes) {
    if (bytes.size() < 33 || !bytes.startsWith("\x89PNG\r\n\x1a\n") || BigEndian32(bytes, 8) != 13 ||
        bytes.sliced(12, 4) != "IHDR")
        return false;
    const quint32 width = BigEndian32(bytes, 16), height = BigEndian32(bytes, 20);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        return false;
    const uint depth = Byte(bytes, 24), colour = Byte(bytes, 25);
    const auto depthIn = [depth](std::initializer_list<uint> allowed) {
        for (const uint d : allowed)
            if (d == depth)
                return true;
        return false;
    };
    bool valid = false;
    switch (colour) {
    case 0:
        valid = depthIn({1, 2, 4, 8, 16});
        break;
    case 3:
        valid = depthIn({1, 2, 4, 8});
        break;
    case 2:
    case 4:
    case 6:
        valid = depthIn({8, 16});
        break;
    default:
        break;
    }
    return valid && Byte(bytes, 26) == 0 && Byte(bytes, 27) == 0 && Byte(bytes, 28) <= 1;
}

// Segments from the start of the image through a frame header to the start of the scan,
// which is as far as a decoder reads before it knows what it has.
bool IsJpeg(QByteArrayView bytes) {
    if (bytes.size() < 4 || !bytes.startsWith("\xFF\xD8\xFF"))
        return false;
    bool frame = false;
    for (qsizetype at = 2; at < bytes.size();) {
        if (Byte(bytes, at) != 0xFF)
            return false;
        while (at < bytes.size() && Byte(bytes, at) == 0xFF)
            ++at;
        if (at >= bytes.size())
            return false;
        const uint marker = Byte(bytes, at++);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;
        if (marker == 0xD9 || at + 2 > bytes.size())
            return false;
        const qsizetype length = BigEndian16(bytes, at);
        if (length < 2 || at + length > bytes.size())
            return false;
        const bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (length < 8 || BigEndian16(bytes, at + 5) == 0 || Byte(bytes, at + 7) == 0)
                return false;
            frame = true;
        }
        if (marker == 0xDA)
            return frame;
        at += length;
    }
    return false;
}

// The header, the colour table and any extensions up to a whole first image descriptor.
bool IsGif(QByteArrayView bytes) {
    if (bytes.size() < 13 || !(bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a")) ||
        LittleEndian16(bytes, 6) == 0 || LittleEndian16(bytes, 8) == 0)
        return false;
    const uint flags = Byte(bytes, 10);
    qsizetype at = 13 + ((flags & 0x80) ? 3 * (qsizetype(2) << (flags & 7)) : 0);
    while (at < bytes.size()) {
        const uint block = Byte(bytes, at);
        if (block == 0x2C)
            return at + 10 <= bytes.size();
        if (block != 0x21)
            return false;
        for (at += 2; at < bytes.size();) {
            const uint length = Byte(bytes, at);
            at += 1 + length;
            if (length == 0)
                break;
        }
    }
    return false;
}

// A RIFF container as long as it says, of one of the three kinds of WebP bitstream.
bool IsWebP(QByteArrayView bytes) {
    if (bytes.size() < 30 || !bytes.startsWith("RIFF") || bytes.sliced(8, 4) != "WEBP")
        return false;
    const qint64 riff = LittleEndian32(bytes, 4);
    if (riff + 8 > bytes.size())
        return false;
    const QByteArrayView chunk = bytes.sliced(12, 4);
    if (chunk == "VP8 ")
        return bytes.sliced(23, 3) == "\x9D\x01\x2A" && (LittleEndian16(bytes, 26) & 0x3FFF) != 0 &&
               (LittleEndian16(bytes, 28) & 0x3FFF) != 0;
    if (chunk == "VP8L")
        return Byte(bytes, 20) == 0x2F;
    return chunk == "VP8X" && LittleEndian32(bytes, 16) >= 10;
}

// A picture of up to this many colours, one of which covers a fifth of it or more (the
// background of a chart, a comic, a screenshot), is a drawing and goes in as a PNG; a
// photograph has more colours, or (in black and white) none that stands out so.
constexpr int kDrawingColours = 256;
constexpr int kBackgroundShare = 5;
constexpr int kSampleSide = 256;
constexpr int kJpegQuality = 80;

// Whether a picture (RGB32) is a drawing, told from a grid of samples.
bool IsDrawing(const QImage& image) {
    QHash<QRgb, int> colours;
    int samples = 0, background = 0;
    const int stepX = qMax(1, image.width() / kSampleSide), stepY = qMax(1, image.height() / kSampleSide);
    for (int y = 0; y < image.height(); y += stepY) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); x += stepX, ++samples) {
            background = qMax(background, ++colours[line[x]]);
            if (colours.size() > kDrawingColours)
                return false;
        }
    }
    return background * kBackgroundShare >= samples;
}

QByteArray Encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    return writer.write(image) ? bytes : QByteArray();
}

} // namespace

PreparedPicture PreparePicture(QByteArrayView bytes, bool grey) {
    const PictureFormat format = RecognisePicture(bytes);
    if (format == PictureFormat::None)
        return {};
    QByteArray data = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, PictureSuffix(format));
    // What a picture says of its size is all that is read before deciding to decode it.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || qint64(size.width()) * size.height() > kMaxPicturePixels)
        return {};
    reader.setAllocationLimit(int(kMaxPicturePixels * 4 / (1024 * 1024)) + 1);
    const QSize fitted =
        qMax(size.width(), size.height()) > kMaxPictureSide
            ? size.scaled(kMaxPictureSide, kMaxPictureSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1))
            : size;
    // A JPEG decodes straight to about the size it is wanted at, which is much faster.
    if (format == PictureFormat::Jpeg && fitted != size)
        reader.setScaledSize(fitted);
    const bool animated = reader.imageCount() > 1;
    QImage image = reader.read();
    if (image.isNull())
        return {};
    const bool scaled = image.size() != fitted;
    if (scaled)
        image = image.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const bool transparent = image.hasAlphaChannel();
    if (transparent) {
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, image);
        image = std::move(flat);
    } else if (image.format() != QImage::Format_RGB32) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    const bool drawing = IsDrawing(image);
    if (grey)
        image = image.convertToFormat(QImage::Format_Grayscale8);
    PreparedPicture prepared;
    if (drawing) {
        prepared.format = PictureFormat::Png;
        prepared.bytes = Encoded(
            grey ? image : image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither), "png");
        if (format == PictureFormat::Gif && !animated && !scaled && !transparent && !grey &&
            bytes.size() < prepared.bytes.size())
            prepared = {PictureFormat::Gif, bytes.toByteArray()};
    } else {
        prepared = {PictureFormat::Jpeg, Encoded(image, "jpeg", kJpegQuality)};
    }
    if (prepared.bytes.isEmpty())
        return {};
    return prepared;
}

PictureFormat RecognisePicture(QByteArrayView bytes) {
    if (IsJpeg(bytes))
        return PictureFormat::Jpeg;
    if (IsPng(bytes))
        return PictureFormat::Png;
    if (IsGif(bytes))
        return PictureFormat::Gif;
    if (IsWebP(bytes))
        return PictureFormat::WebP;
    return PictureFormat::None;
}

const char* PictureMediaType(PictureFormat format) {
    return kFormatNames[int(format)].mediaType;
}

const char* PictureSuffix(PictureFormat format) {
    return kFormatNames[int(format)].suffix;
}

} // namespace ebook
