#pragma once

#include <QRectF>
#include <QString>
#include <Qt>

class QPainter;

namespace kx {

// Draws the meter's display characters with our own segment shapes, no font needed:
// "0".."9", "@" (the L pattern), "-", ".", ":", "*" (the ohm sign), and the unit letters
// "M", "G", "T", "V". Blanks leave a gap; other characters draw nothing. The painter's brush
// colour is used for the segments.
class SevenSegmentPainter {
public:
    // Width of a character cell for a given character height.
    static qreal advance(QChar c, qreal height);
    static qreal textWidth(const QString& text, qreal height);

    // One character filling the cell (its height decides the stroke weight).
    static void drawChar(QPainter& p, const QRectF& cell, QChar c);

    // A text at the box's height, shrunk to fit the box's width, aligned left, right or
    // centred horizontally.
    static void drawText(QPainter& p, const QRectF& box, const QString& text,
                         Qt::Alignment align = Qt::AlignCenter);
};

} // namespace kx
