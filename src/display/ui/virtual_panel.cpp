#include "display/ui/virtual_panel.h"

#include "display/ui/bar_graph_strip.h"
#include "display/ui/panel_elements.h"

#include <QGroupBox>
#include <QLabel>

// Resource registration has to happen outside any namespace.
static void registerPanelResources() {
    Q_INIT_RESOURCE(panel);
}

namespace kx {

void initDisplayResources() {
    static const bool once = [] {
        registerPanelResources();
        return true;
    }();
    (void)once;
}

namespace {

using E = Element;

QString nameOf(E e) {
    return QString::fromLatin1(elementName(e));
}
QString nameOf(Digit d) {
    return QString::fromLatin1(digitName(d));
}

QGroupBox* makeGroup(const char* name, const QRect& r, QWidget* parent) {
    auto* g = new QGroupBox(parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(r);
    g->setFlat(false);
    return g;
}

} // namespace

VirtualPanel::VirtualPanel(QWidget* parent) : QFrame(parent) {
    initDisplayResources();
    setObjectName(QStringLiteral("VirtualPanel"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setGeometry(kGeometry);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    build();
}

void VirtualPanel::build() {
    auto place = [this](E e, QWidget* w, const QRect& r) {
        w->setGeometry(r);
        elements_[static_cast<std::size_t>(e)] = w;
    };
    auto text = [this](E e, const QString& caption, QPoint at, int px, QWidget* parent) {
        QLabel* l = makeTextMark(nameOf(e), caption, px, parent ? parent : this);
        l->move(at);
        elements_[static_cast<std::size_t>(e)] = l;
        return l;
    };
    auto segment = [&](E e, const QString& caption, const QRect& r, QWidget* parent,
                       Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
        auto* m = new SegmentMark(nameOf(e), caption, parent ? parent : this);
        m->setAlignment(align);
        place(e, m, r);
        return m;
    };
    auto picture = [&](E e, const char* res, const QRect& r) {
        place(e, new PictureMark(nameOf(e), QString::fromLatin1(res), this), r);
    };
    auto shape = [&](E e, const QRect& r) { place(e, new ShapeMark(nameOf(e), this), r); };
    auto digit = [this](Digit d, const QRect& r, QWidget* parent) {
        auto* m = new SegmentMark(nameOf(d), QStringLiteral("8"), parent);
        m->setGeometry(r);
        digits_[static_cast<std::size_t>(d)] = m;
        return m;
    };

    // 1. Status row.
    picture(E::IGPower, ":/panel/battery.svg", QRect(4, 4, 51, 25));
    shape(E::powerV1, QRect(8, 8, 9, 17));
    shape(E::powerv2, QRect(22, 8, 9, 17));
    shape(E::powerv3, QRect(36, 8, 9, 17));
    picture(E::IMoff, ":/panel/ring.svg", QRect(62, 6, 33, 29));
    rsUSB_ = makeTextMark(QStringLiteral("rsUSB"), QStringLiteral("USB"), 16, this);
    rsUSB_->move(452, 11);
    picture(E::IMmike, ":/panel/sound.svg", QRect(504, 10, 41, 25));
    conOk_ =
        new PictureMark(QStringLiteral("CONok"), QStringLiteral(":/panel/computer_on.svg"), this);
    conOk_->setGeometry(549, 5, 32, 32);
    conOk_->hide();
    conOkN_ =
        new PictureMark(QStringLiteral("CONokN"), QStringLiteral(":/panel/computer_off.svg"), this);
    conOkN_->setGeometry(549, 5, 32, 32);

    // 2. Bar-graph strip.
    strip_ = new BarGraphStrip(this);
    strip_->setGeometry(10, 40, 575, 63);
    for (int n = 0; n < BarGraphStrip::kMarks; ++n)
        elements_[static_cast<std::size_t>(barElement(n))] = strip_->mark(n);

    // 3. Memory number.
    QGroupBox* mem = makeGroup("MemoryBox", QRect(6, 116, 103, 47), this);
    segment(E::stor1, QStringLiteral("1"), QRect(6, 8, 16, 34), mem,
            Qt::AlignRight | Qt::AlignVCenter);
    digit(Digit::stor2, QRect(22, 8, 24, 34), mem);
    text(E::LabFUL, QStringLiteral("FUL"), QPoint(54, 6), 14, mem);
    text(E::Labclr, QStringLiteral("CLR"), QPoint(54, 24), 14, mem);

    // 4. Result and warning marks.
    text(E::Labng, QStringLiteral("NG"), QPoint(112, 109), 20, nullptr);
    picture(E::danger, ":/panel/lightning.svg", QRect(198, 108, 27, 37));
    text(E::Labgood, QStringLiteral("GOOD"), QPoint(452, 110), 20, nullptr);

    // 5. Test voltage.
    QGroupBox* volts = makeGroup("VoltageBox", QRect(230, 104, 189, 49), this);
    digit(Digit::Label3, QRect(10, 6, 30, 38), volts);
    digit(Digit::Label7, QRect(42, 6, 30, 38), volts);
    digit(Digit::Label10, QRect(74, 6, 30, 38), volts);
    digit(Digit::Label9, QRect(106, 6, 30, 38), volts);
    segment(E::Label4, QStringLiteral("V"), QRect(144, 12, 26, 28), volts);

    // 6. Voltage function marks.
    shape(E::Shape1, QRect(124, 148, 37, 5));
    shape(E::Shape2, QRect(124, 156, 9, 5));
    shape(E::Shape3, QRect(138, 156, 9, 5));
    shape(E::Shape4, QRect(150, 156, 9, 5));
    text(E::labdc, QStringLiteral("DC"), QPoint(126, 158), 13, nullptr)
        ->setContentsMargins(0, 4, 0, 0);
    text(E::labt, QStringLiteral("~"), QPoint(172, 130), 24, nullptr);
    text(E::labac, QStringLiteral("AC"), QPoint(164, 158), 13, nullptr)
        ->setContentsMargins(0, 4, 0, 0);
    elements_[static_cast<std::size_t>(E::labdc)]->adjustSize();
    elements_[static_cast<std::size_t>(E::labac)]->adjustSize();

    // 7. Main display: minus, four digits with the points between them.
    QGroupBox* main = makeGroup("MainBox", QRect(202, 156, 311, 101), this);
    constexpr int top = 9, h = 84, dw = 60, pw = 12;
    segment(E::LabelF, QStringLiteral("-"), QRect(4, top, 28, h), main, Qt::AlignCenter);
    const std::array<Digit, 4> mainDigits = {Digit::LabelA, Digit::LabelB, Digit::LabelC,
                                             Digit::LabelD};
    const std::array<E, 3> points = {E::Point1, E::Point2, E::Point3};
    int x = 34;
    for (std::size_t i = 0; i < mainDigits.size(); ++i) {
        digit(mainDigits[i], QRect(x, top, dw, h), main);
        x += dw;
        if (i < points.size()) {
            segment(points[i], QStringLiteral("."), QRect(x - 6, top, pw, h), main,
                    Qt::AlignHCenter | Qt::AlignBottom);
            x += pw - 6;
        }
    }

    // 8. Main units, a column at the right edge.
    segment(E::Labv, QStringLiteral("V"), QRect(530, 154, 20, 22), nullptr);
    segment(E::Labo, QStringLiteral("*"), QRect(552, 154, 24, 22), nullptr);
    segment(E::Labmo1, QStringLiteral("M*"), QRect(530, 180, 46, 22), nullptr);
    segment(E::Labgo1, QStringLiteral(" G*"), QRect(522, 205, 54, 22), nullptr);
    segment(E::Labto, QStringLiteral("T*"), QRect(530, 230, 46, 22), nullptr);

    // 9. Timer.
    QGroupBox* timer = makeGroup("TimerBox", QRect(4, 182, 187, 71), this);
    digit(Digit::H_Time1, QRect(8, 8, 27, 40), timer);
    digit(Digit::H_Time2, QRect(35, 8, 27, 40), timer);
    segment(E::T_dPoint1, QStringLiteral(":"), QRect(62, 8, 10, 40), timer, Qt::AlignCenter);
    digit(Digit::M_Time1, QRect(72, 8, 27, 40), timer);
    digit(Digit::M_Time2, QRect(99, 8, 27, 40), timer);
    text(E::Labtime, QStringLiteral(" min : sec"), QPoint(10, 50), 12, timer);
    segment(E::labmo, QStringLiteral("M*"), QRect(132, 10, 46, 22), timer);
    segment(E::Labgo, QStringLiteral("G*"), QRect(132, 38, 46, 22), timer);

    // 10. Bottom row.
    picture(E::power, ":/panel/stopwatch.svg", QRect(6, 254, 27, 29));
    text(E::labs1, QStringLiteral("S1 "), QPoint(44, 260), 16, nullptr);
    text(E::labs2, QStringLiteral("S2"), QPoint(84, 260), 16, nullptr);
    text(E::labs3, QStringLiteral("S3"), QPoint(124, 260), 16, nullptr);
    text(E::labCOMP, QStringLiteral("COMP"), QPoint(170, 260), 16, nullptr);
    text(E::labTIME1, QStringLiteral("Time1"), QPoint(240, 260), 16, nullptr);
    text(E::labtime2, QStringLiteral("Time2"), QPoint(308, 260), 16, nullptr);
    text(E::labsave, QStringLiteral("SAVE"), QPoint(376, 260), 16, nullptr);
    text(E::labLoad, QStringLiteral("LOAD"), QPoint(440, 260), 16, nullptr);
    text(E::labp1, QStringLiteral("PI"), QPoint(508, 260), 16, nullptr);

    // Level bars sit on top of the battery outline.
    for (E e : {E::powerV1, E::powerv2, E::powerv3})
        element(e)->raise();
}

void VirtualPanel::applyDigit(Digit d, const DigitState& ds) {
    SegmentMark* m = digit(d);
    m->setText(QString(QChar::fromLatin1(ds.glyph)));
    m->setVisible(ds.lit);
}

void VirtualPanel::applyLink(const LinkIndicators& link) {
    conOk_->setVisible(link.conOk);
    conOkN_->setVisible(link.conOkN);
    rsUSB_->setVisible(link.rsUsb);
    const QString caption = QString::fromLatin1(link.rsUsbCaption.data(),
                                                static_cast<qsizetype>(link.rsUsbCaption.size()));
    if (rsUSB_->text() != caption) {
        rsUSB_->setText(caption);
        rsUSB_->adjustSize();
    }
}

void VirtualPanel::showState(const DisplayState& state) {
    for (std::size_t i = 0; i < kElementCount; ++i)
        elements_[i]->setVisible(state.isLit(static_cast<E>(i)));
    for (std::size_t i = 0; i < kDigitCount; ++i)
        applyDigit(static_cast<Digit>(i), state.digit(static_cast<Digit>(i)));
    strip_->setVisible(state.stripShown());
    applyLink(state.link());
}

void VirtualPanel::applyChange(const DisplayState& before, const DisplayState& after) {
    const auto changed = before.litSet() ^ after.litSet();
    if (changed.any()) {
        for (std::size_t i = 0; i < kElementCount; ++i)
            if (changed.test(i))
                elements_[i]->setVisible(after.litSet().test(i));
    }
    for (std::size_t i = 0; i < kDigitCount; ++i) {
        const auto d = static_cast<Digit>(i);
        if (before.digit(d) != after.digit(d))
            applyDigit(d, after.digit(d));
    }
    if (before.stripShown() != after.stripShown())
        strip_->setVisible(after.stripShown());
    if (before.link() != after.link())
        applyLink(after.link());
}

} // namespace kx
