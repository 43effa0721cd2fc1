#pragma once

#include <QString>

class QWidget;

namespace kx {

// The program's message boxes behind one interface, so tests can answer them without a
// person and without blocking.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // Information box titled "Information" with one OK button.
    virtual void information(QWidget* parent, const QString& text) = 0;
    // Warning box titled "Warning" with one OK button.
    virtual void warning(QWidget* parent, const QString& text) = 0;
    // The standard error box: the error's text and one OK button.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // OK or Cancel; true for OK.
    virtual bool confirm(QWidget* parent, const QString& text) = 0;
    // A plain box: the text and one OK button, no icon. Implementations that do not tell it
    // apart show an information box.
    virtual void plain(QWidget* parent, const QString& text) { information(parent, text); }
};

// Real, modal message boxes.
class DialogMessageBoxes : public MessageBoxes {
public:
    void information(QWidget* parent, const QString& text) override;
    void warning(QWidget* parent, const QString& text) override;
    void error(QWidget* parent, const QString& text) override;
    bool confirm(QWidget* parent, const QString& text) override;
    void plain(QWidget* parent, const QString& text) override;
};

} // namespace kx
