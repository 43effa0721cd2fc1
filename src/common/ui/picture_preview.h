#pragma once

#include <QLabel>
#include <QString>

namespace kx {

// The preview beside a picture chooser: the picture of the file in view, scaled to fit and
// never enlarged, or a word saying there is none to show (no file, a folder, a file the
// picture reader cannot read). Only as much of the file is decoded as the preview needs.
class PicturePreview : public QLabel {
    Q_OBJECT
public:
    static constexpr int kSide = 160;

    explicit PicturePreview(QWidget* parent = nullptr);

    void showFile(const QString& path);
    const QString& shownFile() const { return file_; }
    // Whether a picture is shown (rather than the "no preview" word).
    bool showsPicture() const { return showsPicture_; }

private:
    QString file_;
    bool showsPicture_ = false;
};

} // namespace kx
