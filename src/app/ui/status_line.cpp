#include "app/ui/status_line.h"

#include <QFileInfo>
#include <QResizeEvent>

namespace kx {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("StatusLine"));
    // The line's width comes from the window, not from the text.
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

void StatusLine::setFullText(const QString& text, const QString& path) {
    full_ = text;
    path_ = path;
    setToolTip(text);
    elide();
}

void StatusLine::resizeEvent(QResizeEvent* e) {
    QLabel::resizeEvent(e);
    elide();
}

void StatusLine::elide() {
    const int room = contentsRect().width();
    const QFontMetrics fm = fontMetrics();
    if (room <= 0 || fm.horizontalAdvance(full_) <= room) {
        setText(full_);
        return;
    }
    QString full = full_;
    const qsizetype at = path_.isEmpty() ? -1 : full_.indexOf(path_);
    if (at >= 0) {
        QString rest = full_;
        rest.remove(at, path_.size());
        // The path gives way first, down to its last part ("…/Pw60bdb.DB").
        const int forPath = room - fm.horizontalAdvance(rest);
        const QString last = QStringLiteral("\u2026/") + QFileInfo(path_).fileName();
        if (forPath > fm.horizontalAdvance(last)) {
            setText(rest.insert(at, fm.elidedText(path_, Qt::ElideMiddle, forPath)));
            return;
        }
        full = rest.insert(at, last);
    }
    setText(fm.elidedText(full, Qt::ElideMiddle, room));
}

} // namespace kx
