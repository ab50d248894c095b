#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

// The pictures every menu shares: one per tool bar button, found by the button's command
// id, each with the faded and the shadow copy that the flat look draws.
class BCMenuImages {
public:
    static constexpr int kWidth = 16;
    static constexpr int kHeight = 15;

    enum class Variant { Normal, Faded, Shadow };

    // Cuts a strip of 16 x 15 pictures into the list, the n-th picture for the n-th id.
    // The double-size strip, when it has exactly twice the size, serves high-density
    // screens. False, and the list as it was, when the strip holds no whole picture.
    bool AddStrip(const QImage& strip, const QImage& strip2x, const QList<int>& commandIds);
    // The same from a picture file; "name@2x.png" beside it is the double-size strip.
    bool LoadStrip(const QString& path, const QList<int>& commandIds);

    bool IsEmpty() const { return m_entries.isEmpty(); }
    // -1 when no picture belongs to the command.
    int IndexOf(int commandId) const;
    // The picture for a screen of the given pixel ratio, 16 x 15 in logical pixels.
    QImage Picture(int index, Variant variant, qreal devicePixelRatio) const;
    // The picture's ink, every opaque pixel darker than both the face and the highlight colour,
    // in one colour; the rest transparent. Disabled items draw their pictures with it.
    QImage Ink(int index, qreal devicePixelRatio, const QColor& face, const QColor& highlight,
               const QColor& inkColour) const;

private:
    struct Entry {
        int commandId = 0;
        QImage normal[2];
        QImage faded[2];
        QImage shadow[2];
    };
    static Entry MakeEntry(int commandId, const QImage& picture, const QImage& picture2x);
    static const QImage& Pick(const Entry& entry, Variant variant, qreal devicePixelRatio);

    QList<Entry> m_entries;
};
