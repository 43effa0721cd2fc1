#pragma once

#include <QDialog>

namespace kx {

class ClickableLabel;

// The About box: the maker's brand, the program's version and the contact lines, drawn
// slightly see-through. A click closes it, except on the web address and the small picture.
class TFrmAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 421;
    static constexpr int kClientHeight = 228;
    static constexpr int kAlpha = 230; // of 255

    explicit TFrmAbout(QWidget* parent = nullptr);

    // The program's version as the build names it ("1.0.0").
    static QString version();

    ClickableLabel* Label1 = nullptr;      // the brand word
    ClickableLabel* Image2 = nullptr;      // the picture
    ClickableLabel* Image1 = nullptr;      // the same picture, small
    ClickableLabel* Label2 = nullptr;      // the company line
    ClickableLabel* StaticText1 = nullptr; // version and models
    ClickableLabel* StaticText4 = nullptr; // "Web:"
    ClickableLabel* StaticText3 = nullptr; // the web address
    ClickableLabel* StaticText2 = nullptr; // the legal notice

public Q_SLOTS:
    void Label1Click() { close(); }
    void Label2Click() { close(); }
    void StaticText1Click() { close(); }
    void StaticText2Click() { close(); }
    void Image2Click() { close(); }
    void FormClick() { close(); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace kx
