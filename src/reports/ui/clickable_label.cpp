#include "reports/ui/clickable_label.h"

#include <QMouseEvent>

namespace kx {

void ClickableLabel::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

} // namespace kx
