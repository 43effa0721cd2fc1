#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace kx {

// What a file dialog is asked for. Filters are in Qt's syntax ("DB File(*.db)"); `filter` is
// the index of the one selected at first.
struct FileDialogRequest {
    QString title;
    QString directory;
    QStringList filters;
    int filter = 0;
    QString defaultSuffix;        // added when the user types a name without one
    QStringList filterSuffixes;   // the same for each filter in force; empty: defaultSuffix
    bool confirmOverwrite = true; // save dialogs ask before replacing a file
    bool picturePreview = false;  // a preview of the picture file in view
};

// The user's answer: the chosen path and the filter in force when it was chosen.
struct FileDialogAnswer {
    QString path;
    int filter = 0;
};

// The program's file dialogs behind one interface, so tests choose files without a person.
// Nothing (no answer) means the user cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual std::optional<FileDialogAnswer> openFile(QWidget* parent,
                                                     const FileDialogRequest& request) = 0;
    virtual std::optional<FileDialogAnswer> saveFile(QWidget* parent,
                                                     const FileDialogRequest& request) = 0;
};

// Real, modal dialogs. Open dialogs take any name typed, existing or not: opening a file
// that is not there is the command's to report, with its own message. They are the toolkit's
// own dialogs, the same on every desktop, so that they can carry the picture preview.
class QtFileDialogs : public FileDialogs {
public:
    std::optional<FileDialogAnswer> openFile(QWidget* parent,
                                             const FileDialogRequest& request) override;
    std::optional<FileDialogAnswer> saveFile(QWidget* parent,
                                             const FileDialogRequest& request) override;
};

} // namespace kx
