#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;

// A picture of the program's artwork at its natural size, sharp on high-density
// screens; a null pixmap when the resource is missing.
QPixmap LoadArtwork(const QString& resource, const QWidget* widget);
