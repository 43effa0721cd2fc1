#include "app/ui/status_line.h"

#include <QResizeEvent>

namespace kx {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("StatusLine"));
    // The line's width comes from the window, not from the text.
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

void StatusLine::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    elide();
}

void StatusLine::resizeEvent(QResizeEvent* e) {
    QLabel::resizeEvent(e);
    elide();
}

void StatusLine::elide() {
    const int room = contentsRect().width();
    setText(room > 0 ? fontMetrics().elidedText(full_, Qt::ElideMiddle, room) : full_);
}

} // namespace kx
