#pragma once

#include <QString>

class QWidget;

namespace kx {

// The program's message boxes behind one interface, so tests can answer them without a
// person and without blocking.
class MessageBoxes {
public:
    // What the user chose when asked whether to save readings before they are dropped.
    enum class SaveAnswer { Save, Discard, Cancel };

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

    // Asked before records are deleted: `text`, then the file whose records go on a line of
    // its own, with OK and Cancel. True only for OK: Escape, the close box and the default
    // button cancel.
    virtual bool confirmDeletion(QWidget* parent, const QString& text, const QString& file) {
        return confirm(parent, text + QLatin1Char('\n') + file);
    }
    // Asked before unsaved readings are dropped: Save, Discard or Cancel. Escape, the close
    // box and the default button cancel.
    virtual SaveAnswer askToSave(QWidget* parent, const QString& text) {
        (void)parent;
        (void)text;
        return SaveAnswer::Cancel;
    }
};

// Real, modal message boxes.
class DialogMessageBoxes : public MessageBoxes {
public:
    void information(QWidget* parent, const QString& text) override;
    void warning(QWidget* parent, const QString& text) override;
    void error(QWidget* parent, const QString& text) override;
    bool confirm(QWidget* parent, const QString& text) override;
    void plain(QWidget* parent, const QString& text) override;
    bool confirmDeletion(QWidget* parent, const QString& text, const QString& file) override;
    SaveAnswer askToSave(QWidget* parent, const QString& text) override;
};

} // namespace kx
