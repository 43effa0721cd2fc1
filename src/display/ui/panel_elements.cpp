#include "display/ui/panel_elements.h"

#include "display/ui/seven_segment_painter.h"

#include <QPainter>
#include <QSvgRenderer>

namespace kx {

SegmentMark::SegmentMark(const QString& name, const QString& text, QWidget* parent)
    : QWidget(parent), text_(text) {
    setObjectName(name);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SegmentMark::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    update();
}

void SegmentMark::setInset(int left, int top, int right, int bottom) {
    inset_ = QMargins(left, top, right, bottom);
    update();
}

void SegmentMark::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::black);
    SevenSegmentPainter::drawText(p, QRectF(rect().marginsRemoved(inset_)), text_, align_);
}

PictureMark::PictureMark(const QString& name, const QString& resource, QWidget* parent)
    : QWidget(parent), resource_(resource) {
    setObjectName(name);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PictureMark::resizeEvent(QResizeEvent*) {
    cache_ = QPixmap();
}

void PictureMark::paintEvent(QPaintEvent*) {
    const qreal dpr = devicePixelRatioF();
    if (cache_.isNull()) {
        cache_ = QPixmap(size() * dpr);
        cache_.setDevicePixelRatio(dpr);
        cache_.fill(Qt::transparent);
        QSvgRenderer svg(resource_);
        svg.setAspectRatioMode(Qt::IgnoreAspectRatio);
        QPainter cp(&cache_);
        svg.render(&cp, QRectF(QPointF(0, 0), QSizeF(size())));
    }
    QPainter p(this);
    p.drawPixmap(0, 0, cache_);
}

ShapeMark::ShapeMark(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ShapeMark::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
}

QLabel* makeTextMark(const QString& name, const QString& caption, int pixelSize, QWidget* parent) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixelSize);
    f.setBold(true);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(pal);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    l->adjustSize();
    return l;
}

} // namespace kx
