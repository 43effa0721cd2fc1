#include "app/ui/caption_panel.h"

#include <QMouseEvent>

namespace kx {

CaptionPanel::CaptionPanel(const QString& name, const QString& caption, QWidget* parent)
    : QLabel(caption, parent) {
    setObjectName(name);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
}

void CaptionPanel::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        pressed_ = true;
        setFrameShadow(QFrame::Sunken);
    }
}

void CaptionPanel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    setFrameShadow(QFrame::Raised);
    if (rect().contains(e->position().toPoint()))
        Q_EMIT clicked();
}

} // namespace kx
