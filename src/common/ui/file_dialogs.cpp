#include "common/ui/file_dialogs.h"

#include "common/ui/picture_preview.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>

namespace kx {
namespace {

// A preview in a column of its own beside the dialog's file list, following the file in view
// as the user moves through the list or types a name.
void addPicturePreview(QFileDialog& d) {
    auto* grid = qobject_cast<QGridLayout*>(d.layout());
    if (!grid)
        return;
    auto* preview = new PicturePreview(&d);
    grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1, Qt::AlignTop);
    // Wider by the preview's column, so the file list keeps its room.
    d.resize(d.size() + QSize(PicturePreview::kSide + grid->horizontalSpacing(), 0));
    QObject::connect(&d, &QFileDialog::currentChanged, preview,
                     [preview](const QString& path) { preview->showFile(path); });
    if (auto* name = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        QObject::connect(name, &QLineEdit::textChanged, preview, [&d, preview](const QString& t) {
            preview->showFile(t.isEmpty() ? QString() : d.directory().absoluteFilePath(t));
        });
    }
}

std::optional<FileDialogAnswer> run(QWidget* parent, const FileDialogRequest& r, bool save) {
    QFileDialog d(parent, r.title, r.directory);
    d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setFileMode(QFileDialog::AnyFile);
    if (!save)
        d.setOption(QFileDialog::DontUseNativeDialog);
    d.setNameFilters(r.filters);
    if (r.filter >= 0 && r.filter < r.filters.size())
        d.selectNameFilter(r.filters[r.filter]);
    // The suffix follows the filter, so that a name typed under a filter gets its extension.
    auto suffixFor = [&r](int filter) {
        const QString s =
            filter >= 0 && filter < r.filterSuffixes.size() ? r.filterSuffixes[filter] : QString();
        return s.isEmpty() ? r.defaultSuffix : s;
    };
    d.setDefaultSuffix(suffixFor(r.filter));
    QObject::connect(&d, &QFileDialog::filterSelected, &d, [&d, &r, suffixFor](const QString& f) {
        d.setDefaultSuffix(suffixFor(static_cast<int>(r.filters.indexOf(f))));
    });
    d.setOption(QFileDialog::DontConfirmOverwrite, !r.confirmOverwrite);
    if (r.picturePreview) {
        d.setOption(QFileDialog::DontUseNativeDialog);
        addPicturePreview(d);
    }
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
        return std::nullopt;
    return FileDialogAnswer{d.selectedFiles().constFirst(),
                            static_cast<int>(r.filters.indexOf(d.selectedNameFilter()))};
}

} // namespace

std::optional<FileDialogAnswer> QtFileDialogs::openFile(QWidget* parent,
                                                        const FileDialogRequest& request) {
    return run(parent, request, false);
}

std::optional<FileDialogAnswer> QtFileDialogs::saveFile(QWidget* parent,
                                                        const FileDialogRequest& request) {
    return run(parent, request, true);
}

} // namespace kx
