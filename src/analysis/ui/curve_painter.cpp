#include "analysis/ui/curve_painter.h"

#include <QFontMetricsF>
#include <QPainter>

namespace kx {

void paintTestCurve(QPainter& p, const QRectF& box, const TestCurveLayout& l, const QFont& font) {
    paintCurveFrame(p, box, l, font);
    paintCurveLine(p, box, l, font);
}

void paintCurveFrame(QPainter& p, const QRectF& box, const TestCurveLayout& l, const QFont& font) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QFont f(font, p.device());
    const QFontMetricsF fm(f, p.device());
    const double h = fm.height();
    const QRectF plot = curvePlotArea(box, h);
    p.setFont(f);

    const QColor grid(208, 208, 208);
    const QColor frame(128, 128, 128);
    p.setPen(QPen(grid, std::max(1.0, h * 0.05)));
    for (const CurveTick& t : l.yTicks)
        p.drawLine(curvePlotPoint(plot, {0, t.at}), curvePlotPoint(plot, {1, t.at}));

    p.setPen(QPen(Qt::black));
    for (const CurveTick& t : l.yTicks) {
        const QPointF a = curvePlotPoint(plot, {0, t.at});
        const double w = fm.horizontalAdvance(t.label);
        p.drawText(QPointF(a.x() - 0.4 * h - w, a.y() + fm.ascent() / 2 - fm.descent() / 2),
                   t.label);
    }
    p.drawText(QPointF(plot.left() - 0.4 * h - fm.horizontalAdvance(l.unit), plot.top() - 0.5 * h),
               l.unit);
    for (const CurveTick& t : l.xTicks) {
        const QPointF a = curvePlotPoint(plot, {t.at, 0});
        p.setPen(QPen(frame, std::max(1.0, h * 0.06)));
        p.drawLine(a, a + QPointF(0, 0.3 * h));
        p.setPen(QPen(Qt::black));
        const double w = fm.horizontalAdvance(t.label);
        p.drawText(QPointF(std::clamp(a.x() - w / 2, box.left(), box.right() - w),
                           a.y() + 0.3 * h + fm.ascent()),
                   t.label);
    }
    p.setPen(QPen(frame, std::max(1.0, h * 0.06)));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);

    QPen markLine(kCurveMarkColor, std::max(1.0, h * 0.05), Qt::DashLine);
    std::vector<std::pair<double, double>> spans;
    for (const CurveMark& m : l.marks) {
        const QPointF top = curvePlotPoint(plot, {m.x, 1});
        p.setPen(markLine);
        p.drawLine(top, curvePlotPoint(plot, {m.x, 0}));
        const double w = fm.horizontalAdvance(m.label);
        const double x = std::clamp(top.x() - w / 2, box.left(), box.right() - w);
        spans.emplace_back(x, x + w);
    }
    const std::vector<int> rows = markLabelRows(l.marks, spans, 0.3 * h);
    p.setPen(QPen(kCurveMarkColor));
    for (std::size_t i = 0; i < l.marks.size(); ++i) {
        if (rows[i] >= 0)
            p.drawText(QPointF(spans[i].first, plot.top() - 0.3 * h - rows[i] * h),
                       l.marks[i].label);
    }

    p.restore();
}

void paintCurveLine(QPainter& p, const QRectF& box, const TestCurveLayout& l, const QFont& font) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const double h = QFontMetricsF(QFont(font, p.device()), p.device()).height();
    const QRectF plot = curvePlotArea(box, h);
    if (l.hasCurve()) {
        // Bevelled joins: round ones cost a trigonometric curve at every reading.
        std::vector<QPointF> line(l.line.size());
        for (std::size_t i = 0; i < l.line.size(); ++i)
            line[i] = curvePlotPoint(plot, l.line[i]);
        const double width = h * 0.12;
        QPen pen(kCurveColor, width, Qt::SolidLine, Qt::FlatCap, Qt::BevelJoin);
        if (width < 2.5) {
            // On a screen: a line of one pixel or two drawn by the painter's fast way for
            // thin lines (wide ones are outlined segment by segment, at a cost that grows
            // with the readings).
            pen.setWidthF(1.0);
            pen.setCosmetic(true);
        }
        p.setPen(pen);
        p.drawPolyline(line.data(), static_cast<int>(line.size()));
        if (line.size() == 1)
            p.drawPoint(line.front());
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kCurveMarkColor);
    const double r = std::max(2.5, h * 0.3);
    for (const CurveMark& m : l.marks) {
        if (m.y)
            p.drawEllipse(curvePlotPoint(plot, {m.x, *m.y}), r, r);
    }
    p.restore();
}

} // namespace kx
