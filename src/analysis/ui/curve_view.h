#pragma once

#include "analysis/insulation_curve.h"

#include <QPixmap>
#include <QWidget>

#include <vector>

namespace kx {

// A test's R(t) curve in the results window, drawn by the same painter as the report's.
class TestCurveView : public QWidget {
    Q_OBJECT
public:
    explicit TestCurveView(QWidget* parent = nullptr);

    // The curve of `test`; an empty one shows `placeholder` instead.
    void setCurve(const std::vector<CurvePoint>& points, const InsulationResult& test);
    void clear(const QString& placeholder = {});
    const TestCurveLayout& layout() const { return layout_; }
    // Where the plot lies in the widget, as last drawn.
    QRectF plotArea() const;

    QSize sizeHint() const override { return {420, 260}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();

    std::vector<CurvePoint> points_;
    InsulationResult test_;
    bool hasTest_ = false;
    QString placeholder_;
    TestCurveLayout layout_;
    // The frame drawn last and what it showed: it is drawn again only when the axes change,
    // not with every reading.
    QPixmap frame_;
    QString frameKey_;
};

} // namespace kx
