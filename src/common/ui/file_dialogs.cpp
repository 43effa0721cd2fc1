#include "common/ui/file_dialogs.h"

#include <QFileDialog>

namespace kx {
namespace {

std::optional<FileDialogAnswer> run(QWidget* parent, const FileDialogRequest& r, bool save) {
    QFileDialog d(parent, r.title, r.directory);
    d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    d.setNameFilters(r.filters);
    if (r.filter >= 0 && r.filter < r.filters.size())
        d.selectNameFilter(r.filters[r.filter]);
    d.setDefaultSuffix(r.defaultSuffix);
    d.setOption(QFileDialog::DontConfirmOverwrite, !r.confirmOverwrite);
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
