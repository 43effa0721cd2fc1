#pragma once

#include <QLabel>

namespace kx {

// A raised panel with a centred caption that acts as a button (CONNECT, EXIT).
class CaptionPanel : public QLabel {
    Q_OBJECT
public:
    CaptionPanel(const QString& name, const QString& caption, QWidget* parent);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    bool pressed_ = false;
};

} // namespace kx
