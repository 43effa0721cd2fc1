#include "analysis/ui/curve_view.h"

#include "analysis/ui/curve_painter.h"

#include <QFontMetricsF>
#include <QPainter>

namespace kx {

TestCurveView::TestCurveView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TestCurve"));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setMinimumSize(240, 160);
}

void TestCurveView::setCurve(const std::vector<CurvePoint>& points, const InsulationResult& test) {
    // The curve of the test in progress only grows: its new readings are taken on.
    const bool grown = hasTest_ && test.first == test_.first && !points_.empty() &&
                       points.size() >= points_.size() &&
                       points[points_.size() - 1].seconds == points_.back().seconds &&
                       points[points_.size() - 1].ohms == points_.back().ohms &&
                       points.front().seconds == points_.front().seconds;
    if (grown)
        points_.insert(points_.end(), points.begin() + static_cast<std::ptrdiff_t>(points_.size()),
                       points.end());
    else
        points_ = points;
    test_ = test;
    hasTest_ = true;
    relayout();
}

void TestCurveView::clear(const QString& placeholder) {
    points_.clear();
    hasTest_ = false;
    placeholder_ = placeholder;
    layout_ = TestCurveLayout{};
    update();
}

QRectF TestCurveView::plotArea() const {
    return curvePlotArea(QRectF(rect()), QFontMetricsF(font()).height());
}

void TestCurveView::relayout() {
    if (hasTest_)
        layout_ =
            layoutTestCurve(points_, test_, std::max(1, static_cast<int>(plotArea().width())));
    update();
}

void TestCurveView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void TestCurveView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!hasTest_) {
        p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, placeholder_);
        return;
    }
    paintTestCurve(p, QRectF(rect()), layout_, font());
}

} // namespace kx
