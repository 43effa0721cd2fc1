#pragma once

#include <QLabel>

namespace kx {

// A label that takes its own mouse clicks: it reports a click with clicked() and never lets
// one fall through to the window beneath it, connected or not.
class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickableLabel(QWidget* parent = nullptr) : QLabel(parent) {}

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace kx
