#pragma once

#include <QLabel>
#include <QString>

namespace kx {

// The line at the foot of the main window that says in words whether readings are being
// recorded. A text wider than the line is shortened in the middle (where a long path is); the
// whole text is the tool tip.
class StatusLine : public QLabel {
    Q_OBJECT
public:
    explicit StatusLine(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void elide();

    QString full_;
};

} // namespace kx
