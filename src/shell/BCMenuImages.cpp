#include "shell/BCMenuImages.h"

#include "shell/MenuColors.h"

#include <QFileInfo>

namespace {

// How far an unselected item's picture fades towards white.
constexpr double kFade = 0.3;
// The shadow under a raised picture: black at this opacity, so that it darkens whatever
// colour the selection has.
constexpr int kShadowAlpha = 96;

QImage Faded(const QImage& picture) {
    QImage faded = picture;
    for (int y = 0; y < faded.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(faded.scanLine(y));
        for (int x = 0; x < faded.width(); ++x)
            line[x] = Lighten(QColor::fromRgba(line[x]), kFade).rgba();
    }
    return faded;
}

QImage Silhouette(const QImage& picture, const QColor& colour) {
    QImage silhouette(picture.size(), QImage::Format_ARGB32);
    silhouette.setDevicePixelRatio(picture.devicePixelRatio());
    for (int y = 0; y < picture.height(); ++y) {
        const auto* source = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        auto* target = reinterpret_cast<QRgb*>(silhouette.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const int alpha = qAlpha(source[x]) * colour.alpha() / 255;
            target[x] = qRgba(colour.red(), colour.green(), colour.blue(), alpha);
        }
    }
    return silhouette;
}

QString DoubleSizePath(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.completeSuffix().isEmpty()
                             ? info.fileName() + QStringLiteral("@2x")
                             : info.baseName() + QStringLiteral("@2x.") + info.completeSuffix();
    return info.path() + QLatin1Char('/') + name;
}

} // namespace

BCMenuImages::Entry BCMenuImages::MakeEntry(int commandId, const QImage& picture, const QImage& picture2x) {
    Entry entry;
    entry.commandId = commandId;
    const QImage* sources[2] = {&picture, &picture2x};
    for (int i = 0; i < 2; ++i) {
        if (sources[i]->isNull())
            continue;
        entry.normal[i] = *sources[i];
        entry.faded[i] = Faded(entry.normal[i]);
        entry.shadow[i] = Silhouette(entry.normal[i], QColor(0, 0, 0, kShadowAlpha));
    }
    return entry;
}

bool BCMenuImages::AddStrip(const QImage& strip, const QImage& strip2x, const QList<int>& commandIds) {
    if (strip.width() < kWidth || strip.height() < kHeight)
        return false;
    const QImage base = strip.convertToFormat(QImage::Format_ARGB32);
    const bool hasDouble = strip2x.width() == 2 * strip.width() && strip2x.height() == 2 * strip.height();
    const QImage twice = hasDouble ? strip2x.convertToFormat(QImage::Format_ARGB32) : QImage();
    const int count = std::min<qsizetype>(strip.width() / kWidth, commandIds.size());
    for (int i = 0; i < count; ++i) {
        const QImage picture = base.copy(i * kWidth, 0, kWidth, kHeight);
        QImage picture2x;
        if (hasDouble) {
            picture2x = twice.copy(2 * i * kWidth, 0, 2 * kWidth, 2 * kHeight);
            picture2x.setDevicePixelRatio(2.0);
        }
        const Entry entry = MakeEntry(commandIds.at(i), picture, picture2x);
        const int existing = IndexOf(entry.commandId);
        if (existing >= 0)
            m_entries[existing] = entry;
        else
            m_entries.append(entry);
    }
    return count > 0;
}

bool BCMenuImages::LoadStrip(const QString& path, const QList<int>& commandIds) {
    return AddStrip(QImage(path), QImage(DoubleSizePath(path)), commandIds);
}

int BCMenuImages::IndexOf(int commandId) const {
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).commandId == commandId)
            return i;
    }
    return -1;
}

const QImage& BCMenuImages::Pick(const Entry& entry, Variant variant, qreal devicePixelRatio) {
    const int size = devicePixelRatio > 1.0 && !entry.normal[1].isNull() ? 1 : 0;
    switch (variant) {
    case Variant::Faded:
        return entry.faded[size];
    case Variant::Shadow:
        return entry.shadow[size];
    case Variant::Normal:
        break;
    }
    return entry.normal[size];
}

QImage BCMenuImages::Picture(int index, Variant variant, qreal devicePixelRatio) const {
    if (index < 0 || index >= m_entries.size())
        return {};
    return Pick(m_entries.at(index), variant, devicePixelRatio);
}

QImage BCMenuImages::Ink(int index, qreal devicePixelRatio, const QColor& face, const QColor& highlight,
                         const QColor& inkColour) const {
    QImage picture = Picture(index, Variant::Normal, devicePixelRatio);
    if (picture.isNull())
        return {};
    // Our pictures are drawn with smooth shading rather than in sixteen colours, so
    // whatever is as light as the face or the highlight counts as their colour.
    const int lightest = std::min(qGray(face.rgb()), qGray(highlight.rgb()));
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const bool ink = qAlpha(line[x]) >= 128 && qGray(line[x]) < lightest;
            line[x] = ink ? inkColour.rgba() : 0;
        }
    }
    return picture;
}
