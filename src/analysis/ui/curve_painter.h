#pragma once

#include "analysis/insulation_curve.h"

#include <QColor>
#include <QFont>
#include <QRectF>

class QPainter;

namespace kx {

// The colours of a curve's picture, the same in the window and on paper.
inline const QColor kCurveColor(0, 0, 192);
inline const QColor kCurveMarkColor(224, 96, 0);

// Draws a test's curve as layoutTestCurve() laid it out into `box`: the plot's frame, a
// grid line and a label each decade, the unit, the times below, the 15 s / 30 s / 1 min /
// 10 min marks with a dot where R at that time is known, and the readings joined in order.
// Labels are set in `font`, resolved against the painter's device; everything else is sized
// from the labels' height, so the picture looks the same on screen and on paper.
void paintTestCurve(QPainter& p, const QRectF& box, const TestCurveLayout& layout,
                    const QFont& font);
// The two halves of it: the frame (axes, grid, labels, the marks' lines), which changes only
// when the axes do, and the readings with the marks' dots over it.
void paintCurveFrame(QPainter& p, const QRectF& box, const TestCurveLayout& layout,
                     const QFont& font);
void paintCurveLine(QPainter& p, const QRectF& box, const TestCurveLayout& layout,
                    const QFont& font);

} // namespace kx
