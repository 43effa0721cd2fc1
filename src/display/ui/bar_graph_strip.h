#pragma once

#include <QWidget>

#include <array>

namespace kx {

// The bar-graph strip KD: the meter's logarithmic resistance scale (baseline, ticks and the
// labels "0", "100K" .. "1T", infinity) and its 31 bar marks. The scale is painted here; the
// marks are child widgets named Bar0, BAR1, bar2 .. bar30, shown and hidden by the panel.
class BarGraphStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMarks = 31;
    static constexpr int kMarkWidth = 7;

    explicit BarGraphStrip(QWidget* parent = nullptr);

    QWidget* mark(int n) const { return marks_[static_cast<std::size_t>(n)]; }

    // Left edge of bar mark n within the strip.
    static int markX(int n);
    static QRect markRect(int n);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::array<QWidget*, kMarks> marks_{};
};

} // namespace kx
