#pragma once

#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace kx {

// A text drawn with the seven-segment painter: the digits, the minus sign, the points, the
// colon and the unit marks. A digit's text is its glyph ("@" for the L pattern).
class SegmentMark : public QWidget {
    Q_OBJECT
public:
    SegmentMark(const QString& name, const QString& text, QWidget* parent);

    QString text() const { return text_; }
    void setText(const QString& text);
    void setAlignment(Qt::Alignment a) { align_ = a; }
    // Margins inside the box, so that glyphs of neighbouring boxes keep their gaps.
    void setInset(int left, int top, int right, int bottom);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString text_;
    Qt::Alignment align_ = Qt::AlignCenter;
    QMargins inset_;
};

// A picture from the panel's resources, stretched to the element's box.
class PictureMark : public QWidget {
    Q_OBJECT
public:
    PictureMark(const QString& name, const QString& resource, QWidget* parent);
    QString resource() const { return resource_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    QString resource_;
    QPixmap cache_; // rendered once per size: the panel repaints often
};

// A filled black rectangle.
class ShapeMark : public QWidget {
    Q_OBJECT
public:
    ShapeMark(const QString& name, QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;
};

// A fixed caption in Arial bold of the given pixel height (pixel sizes: the panel does not
// follow the screen's font scaling).
QLabel* makeTextMark(const QString& name, const QString& caption, int pixelSize, QWidget* parent);

} // namespace kx
