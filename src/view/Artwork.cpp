#include "view/Artwork.h"

#include <QWidget>

QPixmap LoadArtwork(const QString& resource, const QWidget* widget) {
    const QPixmap natural(resource);
    if (natural.isNull())
        return natural;
    // QIcon finds the @2x file beside the named one by itself.
    return QIcon(resource).pixmap(natural.size(), widget->devicePixelRatioF());
}
