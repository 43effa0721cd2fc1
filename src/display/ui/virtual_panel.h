#pragma once

#include "display/display_state.h"

#include <QFrame>

#include <array>

class QGroupBox;
class QLabel;

namespace kx {

class BarGraphStrip;
class PictureMark;
class SegmentMark;

// The picture of the meter's display: every segment group is a named child widget (named
// after its element), shown or hidden as DisplayState says. It holds no logic: it is told
// what changed and touches only those widgets, so only they are repainted.
class VirtualPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr QRect kGeometry{2, 30, 615, 289};

    explicit VirtualPanel(QWidget* parent = nullptr);

    // Brings every element in line with the state.
    void showState(const DisplayState& state);
    // Applies the difference between two states; unchanged elements are not touched.
    void applyChange(const DisplayState& before, const DisplayState& after);

    QWidget* element(Element e) const { return elements_[static_cast<std::size_t>(e)]; }
    SegmentMark* digit(Digit d) const { return digits_[static_cast<std::size_t>(d)]; }
    BarGraphStrip* strip() const { return strip_; }
    PictureMark* conOk() const { return conOk_; }
    PictureMark* conOkN() const { return conOkN_; }
    QLabel* rsUSB() const { return rsUSB_; }

private:
    void build();
    void applyLink(const LinkIndicators& link);
    void applyDigit(Digit d, const DigitState& ds);

    std::array<QWidget*, kElementCount> elements_{};
    std::array<SegmentMark*, kDigitCount> digits_{};
    BarGraphStrip* strip_ = nullptr;
    PictureMark* conOk_ = nullptr;
    PictureMark* conOkN_ = nullptr;
    QLabel* rsUSB_ = nullptr;
};

// Makes the panel's pictures available (they live in a static library).
void initDisplayResources();

} // namespace kx
