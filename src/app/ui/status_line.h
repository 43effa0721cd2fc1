#pragma once

#include <QLabel>
#include <QString>

namespace kx {

// The line at the foot of the main window that says in words whether readings are being
// recorded. A text wider than the line has its path shortened in the middle, so the reason
// around it stays whole (the whole text shortened only when that is not enough); the whole
// text is the tool tip.
class StatusLine : public QLabel {
    Q_OBJECT
public:
    explicit StatusLine(QWidget* parent = nullptr);

    // `path`: the part of the text to shorten first.
    void setFullText(const QString& text, const QString& path = {});
    const QString& fullText() const { return full_; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void elide();

    QString full_;
    QString path_;
};

} // namespace kx
