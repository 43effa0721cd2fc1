#include "common/ui/picture_preview.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

namespace kx {

PicturePreview::PicturePreview(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("PicturePreview"));
    setFixedSize(kSide, kSide);
    setAlignment(Qt::AlignCenter);
    setFrameShape(QFrame::StyledPanel);
    setWordWrap(true);
    showFile({});
}

void PicturePreview::showFile(const QString& path) {
    file_ = path;
    showsPicture_ = false;
    clear();
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize full = reader.size();
        const QSize box = contentsRect().size();
        // Large pictures are decoded straight to the preview's size where the format allows.
        if (full.isValid() && (full.width() > box.width() || full.height() > box.height()))
            reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio));
        QImage image = reader.read();
        if (!image.isNull()) {
            if (image.width() > box.width() || image.height() > box.height())
                image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            setPixmap(QPixmap::fromImage(image));
            showsPicture_ = true;
            return;
        }
    }
    setText(tr("(No preview)"));
}

} // namespace kx
