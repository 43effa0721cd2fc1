#include "display/ui/seven_segment_painter.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <array>
#include <cmath>

namespace kx {
namespace {

// Segments a..g as bits 0..6.
constexpr std::array<std::uint8_t, 10> kDigitSegments = {
    0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F,
};
constexpr std::uint8_t kSegL = 0x38; // d, e, f

constexpr qreal kSlant = 0.07; // forward lean, as on the meter's glass

qreal thicknessFor(qreal h) {
    return std::max<qreal>(1.5, h * 0.11);
}

// Leans a point of the cell forwards in proportion to its height above the bottom.
QPointF lean(const QRectF& cell, qreal x, qreal y) {
    return QPointF(cell.left() + x + (cell.height() - y) * kSlant, cell.top() + y);
}

void drawSegments(QPainter& p, const QRectF& cell, std::uint8_t mask) {
    const qreal h = cell.height();
    const qreal t = thicknessFor(h);
    const qreal w = cell.width() - h * kSlant - h * 0.06; // leaves a gap to the next cell
    const qreal g = t * 0.18;
    const qreal L = t / 2, R = w - t / 2, T = t / 2, M = h / 2, B = h - t / 2;
    auto horiz = [&](qreal y, qreal x0, qreal x1) {
        return QPolygonF{lean(cell, x0, y),
                         lean(cell, x0 + t / 2, y - t / 2),
                         lean(cell, x1 - t / 2, y - t / 2),
                         lean(cell, x1, y),
                         lean(cell, x1 - t / 2, y + t / 2),
                         lean(cell, x0 + t / 2, y + t / 2)};
    };
    auto vert = [&](qreal x, qreal y0, qreal y1) {
        return QPolygonF{lean(cell, x, y0),
                         lean(cell, x + t / 2, y0 + t / 2),
                         lean(cell, x + t / 2, y1 - t / 2),
                         lean(cell, x, y1),
                         lean(cell, x - t / 2, y1 - t / 2),
                         lean(cell, x - t / 2, y0 + t / 2)};
    };
    const std::array<QPolygonF, 7> seg = {
        horiz(T, L + g, R - g), vert(R, T + g, M - g), vert(R, M + g, B - g),
        horiz(B, L + g, R - g), vert(L, M + g, B - g), vert(L, T + g, M - g),
        horiz(M, L + g, R - g),
    };
    for (std::size_t i = 0; i < seg.size(); ++i)
        if (mask & (1u << i))
            p.drawPolygon(seg[i]);
}

// The sign has a cell of its own: one middle segment across it.
void drawMinus(QPainter& p, const QRectF& cell) {
    const qreal t = thicknessFor(cell.height());
    const qreal y = cell.top() + cell.height() / 2;
    const qreal x0 = cell.left() + t * 0.2;
    const qreal x1 = cell.right() - t * 0.2;
    p.drawPolygon(QPolygonF{QPointF(x0, y), QPointF(x0 + t / 2, y - t / 2),
                            QPointF(x1 - t / 2, y - t / 2), QPointF(x1, y),
                            QPointF(x1 - t / 2, y + t / 2), QPointF(x0 + t / 2, y + t / 2)});
}

void drawDot(QPainter& p, const QRectF& cell, qreal cy) {
    const qreal t = thicknessFor(cell.height()) * 1.15;
    const qreal cx = cell.left() + cell.width() / 2;
    p.drawRect(QRectF(cx - t / 2, cell.top() + cy - t / 2, t, t));
}

void strokePath(QPainter& p, const QRectF& cell, const QPainterPath& path) {
    QPen pen(p.brush().color(), thicknessFor(cell.height()), Qt::SolidLine, Qt::FlatCap,
             Qt::MiterJoin);
    p.save();
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.restore();
}

void drawLetter(QPainter& p, const QRectF& cell, QChar c) {
    const qreal h = cell.height();
    const qreal t = thicknessFor(h);
    const qreal w = cell.width();
    const qreal T = t / 2, B = h - t / 2;
    auto at = [&](qreal x, qreal y) { return lean(cell, x, y); };
    QPainterPath path;
    switch (c.unicode()) {
    case 'M':
        path.moveTo(at(0.12 * w, B + t / 2));
        path.lineTo(at(0.12 * w, T));
        path.lineTo(at(0.5 * w, 0.6 * h));
        path.lineTo(at(0.88 * w, T));
        path.lineTo(at(0.88 * w, B + t / 2));
        break;
    case 'T':
        path.moveTo(at(0.04 * w, T));
        path.lineTo(at(0.96 * w, T));
        path.moveTo(at(0.5 * w, T));
        path.lineTo(at(0.5 * w, B + t / 2));
        break;
    case 'V':
        path.moveTo(at(0.08 * w, 0));
        path.lineTo(at(0.5 * w, B));
        path.lineTo(at(0.92 * w, 0));
        break;
    case 'G': {
        const QRectF r(cell.left() + 0.1 * w + h * kSlant / 2, cell.top() + T, 0.8 * w - h * kSlant,
                       B - T);
        path.arcMoveTo(r, 40);
        path.arcTo(r, 40, 285);
        path.lineTo(r.right(), r.center().y());
        path.lineTo(r.center().x() + 0.05 * w, r.center().y());
        break;
    }
    case '*': { // ohm
        const qreal r = 0.36 * std::min(w, h);
        const QPointF c0(cell.left() + w / 2, cell.top() + h * 0.46);
        const QRectF circle(c0.x() - r, c0.y() - r, 2 * r, 2 * r);
        const qreal dx = r * std::cos(M_PI / 4);
        path.moveTo(cell.left() + 0.06 * w, cell.top() + B);
        path.lineTo(c0.x() - dx, cell.top() + B);
        path.lineTo(c0.x() - dx, c0.y() + dx);
        path.arcTo(circle, 225, -270);
        path.lineTo(c0.x() + dx, cell.top() + B);
        path.lineTo(cell.left() + 0.94 * w, cell.top() + B);
        break;
    }
    default:
        return;
    }
    strokePath(p, cell, path);
}

} // namespace

qreal SevenSegmentPainter::advance(QChar c, qreal height) {
    switch (c.unicode()) {
    case '.':
        return height * 0.22;
    case ':':
        return height * 0.26;
    case ' ':
        return height * 0.3;
    case '-':
        return height * 0.36; // a narrow cell: the sign stands alone in its own box
    case '*':
    case 'M':
        return height * 0.72;
    case 'V':
        return height * 0.62;
    default:
        return height * 0.56;
    }
}

qreal SevenSegmentPainter::textWidth(const QString& text, qreal height) {
    qreal w = 0;
    for (QChar c : text)
        w += advance(c, height);
    return w;
}

void SevenSegmentPainter::drawChar(QPainter& p, const QRectF& cell, QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        drawSegments(p, cell, kDigitSegments[u - '0']);
    else if (u == '@')
        drawSegments(p, cell, kSegL);
    else if (u == '-')
        drawMinus(p, cell);
    else if (u == '.')
        drawDot(p, cell, cell.height() - thicknessFor(cell.height()) * 0.6);
    else if (u == ':') {
        drawDot(p, cell, cell.height() * 0.3);
        drawDot(p, cell, cell.height() * 0.72);
    } else
        drawLetter(p, cell, c);
}

void SevenSegmentPainter::drawText(QPainter& p, const QRectF& box, const QString& text,
                                   Qt::Alignment align) {
    qreal h = box.height();
    qreal w = textWidth(text, h);
    if (w > box.width() && w > 0) {
        h *= box.width() / w;
        w = box.width();
    }
    qreal x = box.left();
    if (align & Qt::AlignRight)
        x = box.right() - w;
    else if (align & Qt::AlignHCenter)
        x = box.left() + (box.width() - w) / 2;
    qreal y = box.top() + (box.height() - h) / 2;
    if (align & Qt::AlignBottom)
        y = box.bottom() - h;
    else if (align & Qt::AlignTop)
        y = box.top();
    p.save();
    p.setPen(Qt::NoPen);
    for (QChar c : text) {
        const qreal a = advance(c, h);
        drawChar(p, QRectF(x, y, a, h), c);
        x += a;
    }
    p.restore();
}

} // namespace kx
