#include "display/frame_decoder.h"
#include "display/ui/bar_graph_strip.h"
#include "display/ui/panel_elements.h"
#include "display/ui/seven_segment_painter.h"
#include "display/ui/virtual_panel.h"

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPainter>

#include "support/example_frame.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace kx;

namespace {

const std::string& kExample = test::kExampleFrame;
using test::with;

struct Panel : ::testing::Test {
    FrameDecoder dec;
    VirtualPanel panel;

    Panel() {
        panel.showState(dec.state());
        QObject::connect(&dec, &FrameDecoder::displayChanged, &panel, &VirtualPanel::applyChange);
    }

    QWidget* w(const char* name) {
        auto* x = panel.findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(x, nullptr) << name;
        return x;
    }
    bool shown(const char* name) { return !w(name)->isHidden(); }
    QString caption(Digit d) { return panel.digit(d)->text(); }

    // Every named child's visibility and caption, to compare whole pictures.
    std::map<QString, QString> snapshot() {
        std::map<QString, QString> out;
        for (QWidget* c : panel.findChildren<QWidget*>()) {
            if (c->objectName().isEmpty())
                continue;
            QString caption;
            if (auto* s = qobject_cast<SegmentMark*>(c))
                caption = s->text();
            else if (auto* l = qobject_cast<QLabel*>(c))
                caption = l->text();
            out[c->objectName()] =
                (c->isHidden() ? QStringLiteral("hidden ") : QStringLiteral("shown ")) + caption;
        }
        return out;
    }
};

} // namespace

TEST_F(Panel, StartsWithTheAllSegmentsPicture) {
    EXPECT_EQ(panel.geometry(), QRect(2, 30, 615, 289));
    for (std::size_t i = 0; i < kElementCount; ++i) {
        QWidget* e = panel.element(static_cast<Element>(i));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->objectName().toStdString(), kElementNames[i]);
        EXPECT_FALSE(e->isHidden()) << kElementNames[i];
    }
    for (std::size_t i = 0; i < kDigitCount; ++i) {
        EXPECT_EQ(panel.digit(static_cast<Digit>(i))->objectName().toStdString(), kDigitNames[i]);
        EXPECT_FALSE(panel.digit(static_cast<Digit>(i))->isHidden());
    }
    EXPECT_EQ(caption(Digit::LabelA), "8");
    EXPECT_EQ(caption(Digit::Label3), "0");
    EXPECT_EQ(caption(Digit::Label9), "0");
    EXPECT_EQ(caption(Digit::M_Time2), "8");
    EXPECT_EQ(caption(Digit::stor2), "8");
    EXPECT_EQ(qobject_cast<SegmentMark*>(w("stor1"))->text(), "1");
    EXPECT_TRUE(shown("KD"));
    EXPECT_TRUE(shown("CONokN"));
    EXPECT_FALSE(shown("CONok"));
    EXPECT_TRUE(shown("rsUSB"));
    EXPECT_EQ(qobject_cast<QLabel*>(w("rsUSB"))->text(), "USB");
}

TEST_F(Panel, ElementsSitWhereTheMeterHasThem) {
    EXPECT_EQ(w("KD")->geometry(), QRect(10, 40, 575, 63));
    EXPECT_EQ(w("IGPower")->geometry(), QRect(4, 4, 51, 25));
    EXPECT_EQ(w("danger")->geometry(), QRect(198, 108, 27, 37));
    EXPECT_EQ(w("Shape1")->geometry(), QRect(124, 148, 37, 5));
    EXPECT_EQ(w("CONok")->geometry(), w("CONokN")->geometry());
    EXPECT_EQ(w("LabelF")->parentWidget(), w("MainBox"));
    EXPECT_EQ(w("MainBox")->geometry(), QRect(202, 156, 311, 101));
    EXPECT_EQ(w("TimerBox")->geometry(), QRect(4, 182, 187, 71));
    // Main display left to right: minus, digit, point, digit, point, digit, point, digit.
    int x = -1;
    for (const char* n :
         {"LabelF", "LabelA", "Point1", "LabelB", "Point2", "LabelC", "Point3", "LabelD"}) {
        EXPECT_GT(w(n)->geometry().center().x(), x) << n;
        x = w(n)->geometry().center().x();
        EXPECT_LE(w(n)->geometry().right(), 311) << n;
    }
    // The strip: short marks 16 pixels apart from x 42, taller end marks.
    EXPECT_EQ(w("BAR1")->geometry().topLeft(), QPoint(42, 26));
    EXPECT_EQ(w("bar28")->geometry().x(), 42 + 16 * 27);
    EXPECT_EQ(w("bar29")->geometry().x(), 492);
    EXPECT_EQ(w("Bar0")->geometry().topLeft(), QPoint(6, 14));
    EXPECT_EQ(w("bar30")->geometry().topLeft(), QPoint(514, 14));
    EXPECT_GT(w("Bar0")->height(), w("BAR1")->height());
    const std::pair<const char*, const char*> labels[] = {
        {"Label1", "Bar0"},   {"Label2", "BAR1"},   {"Label8", "bar5"},   {"Label11", "bar9"},
        {"Label12", "bar13"}, {"Label13", "bar17"}, {"Label14", "bar21"}, {"Label15", "bar25"},
        {"Label16", "bar29"}, {"Label17", "bar30"}};
    const char* captions[] = {"0", "100K", "1M", "10M", "100M", "1G", "10G", "100G", "1T"};
    for (std::size_t i = 0; i < std::size(labels); ++i) {
        auto* l = qobject_cast<QLabel*>(w(labels[i].first));
        ASSERT_NE(l, nullptr);
        if (i < std::size(captions)) {
            EXPECT_EQ(l->text(), captions[i]);
        }
        EXPECT_LE(
            std::abs(l->geometry().center().x() - w(labels[i].second)->geometry().center().x()), 3)
            << labels[i].first;
        EXPECT_TRUE(l->font().bold());
        EXPECT_EQ(l->font().family(), "Arial");
    }
    EXPECT_EQ(qobject_cast<QLabel*>(w("Label17"))->text(), QString(QChar(0x221E)));
}

TEST_F(Panel, WorkedExampleFrame) {
    dec.ShowDataKx30(kExample);
    const std::pair<Digit, const char*> captions[] = {
        {Digit::LabelA, "1"},  {Digit::LabelB, "2"},  {Digit::LabelC, "3"},  {Digit::LabelD, "4"},
        {Digit::Label3, "1"},  {Digit::Label7, "0"},  {Digit::Label10, "0"}, {Digit::Label9, "0"},
        {Digit::H_Time1, "0"}, {Digit::H_Time2, "1"}, {Digit::M_Time1, "3"}, {Digit::M_Time2, "0"},
        {Digit::stor2, "5"}};
    for (const auto& [d, text] : captions)
        EXPECT_EQ(caption(d), text) << digitName(d);
    // The lit elements, and the group boxes, which always stay.
    for (const char* n : {"Point1", "Labgo1", "danger", "Label4", "T_dPoint1", "Labtime", "power",
                          "IGPower", "powerV1", "powerv2", "powerv3", "KD", "CONok", "rsUSB",
                          "MemoryBox", "VoltageBox", "MainBox", "TimerBox"})
        EXPECT_TRUE(shown(n)) << n;
    for (const char* n : {"Point2", "Point3", "LabelF", "Labmo1", "stor1", "CONokN"})
        EXPECT_FALSE(shown(n)) << n;
    for (int n = 0; n <= 30; ++n)
        EXPECT_EQ(!panel.strip()->mark(n)->isHidden(), n <= 17) << n;
}

TEST_F(Panel, RejectedFrameOnlyTouchesTheLinkIndicators) {
    dec.ShowDataKx30(kExample);
    LinkIndicators idle = dec.state().link();
    idle.conOk = false;
    idle.conOkN = true;
    dec.updateLink(idle);
    EXPECT_FALSE(shown("CONok"));
    auto before = snapshot();
    dec.ShowDataKx30(with(kExample, 41, "0D0B"));
    auto after = snapshot();
    EXPECT_EQ(after["CONok"], "shown ");
    EXPECT_EQ(after["CONokN"], "hidden ");
    before.erase("CONok");
    before.erase("CONokN");
    after.erase("CONok");
    after.erase("CONokN");
    EXPECT_EQ(before, after);
}

TEST_F(Panel, DcAndAcFramesHideTheWholeStrip) {
    dec.ShowDataKx30(with(kExample, 8, "1"));
    EXPECT_FALSE(shown("KD"));
    EXPECT_TRUE(shown("labdc"));
    EXPECT_TRUE(shown("Shape4"));
    EXPECT_FALSE(shown("labac"));
    // The scale goes with the strip; bar marks keep their own flags underneath.
    EXPECT_FALSE(panel.findChild<QLabel*>("Label13")->isVisibleTo(&panel));
    EXPECT_FALSE(panel.strip()->mark(3)->isHidden());
    dec.ShowDataKx30(with(kExample, 8, "2"));
    EXPECT_FALSE(shown("KD"));
    EXPECT_TRUE(shown("labac"));
    EXPECT_TRUE(shown("labt"));
    EXPECT_FALSE(shown("labdc"));
    dec.ShowDataKx30(with(with(kExample, 1, "0000"), 39, "2"));
    EXPECT_TRUE(shown("KD"));
    EXPECT_FALSE(shown("labac"));
    EXPECT_TRUE(shown("Bar0"));
    EXPECT_FALSE(shown("BAR1"));
    EXPECT_FALSE(shown("bar3"));
}

TEST_F(Panel, UnlistedMainCodesKeepTheOldGlyphs) {
    dec.ShowDataKx30(kExample);
    // Main codes at 21..28 all unlisted ("11"); annunciators rebuilt (battery off).
    dec.ShowDataKx30(with(with(kExample, 21, "11111111"), 40, "0"));
    EXPECT_EQ(caption(Digit::LabelA), "1");
    EXPECT_EQ(caption(Digit::LabelD), "4");
    EXPECT_TRUE(shown("LabelA"));
    EXPECT_TRUE(shown("LabelD"));
    EXPECT_FALSE(shown("IGPower"));
    EXPECT_FALSE(shown("Point1")); // flag elements were blanked and stay unlit
}

TEST_F(Panel, BlankDigitsAndTheLPattern) {
    // Minus, first two main digits blank, then "1", "0".
    std::string f = with(kExample, 8, "4");
    f = with(f, 21, "000006D7");
    dec.ShowDataKx30(f);
    EXPECT_EQ(dec.readingTexts().ReadingValue, "-10");
    EXPECT_TRUE(shown("LabelF"));
    EXPECT_FALSE(shown("LabelA"));
    EXPECT_FALSE(shown("LabelB"));
    EXPECT_EQ(caption(Digit::LabelA), "8"); // kept while dark
    EXPECT_EQ(caption(Digit::LabelD), "0");
    dec.ShowDataKx30(with(kExample, 21, "D0"));
    EXPECT_EQ(caption(Digit::LabelA), "@");
}

TEST_F(Panel, RepaintsOnlyWhatChanged) {
    dec.ShowDataKx30(kExample);
    panel.show();
    QApplication::processEvents();
    struct Counter : QObject {
        std::map<QObject*, int> paints;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::Paint)
                ++paints[o];
            return false;
        }
    } counter;
    for (QWidget* c : panel.findChildren<QWidget*>())
        c->installEventFilter(&counter);

    std::string f = kExample;
    f[25] = '6'; // third main digit: code "60", the glyph 1
    f[24] = '0';
    dec.ShowDataKx30(f);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(caption(Digit::LabelC), "1");
    EXPECT_GE(counter.paints[panel.digit(Digit::LabelC)], 1);
    for (Digit d : {Digit::LabelA, Digit::Label3, Digit::H_Time1, Digit::stor2})
        EXPECT_EQ(counter.paints[panel.digit(d)], 0) << digitName(d);
    EXPECT_EQ(counter.paints[panel.strip()], 0);

    // The same frame again changes nothing and paints nothing.
    counter.paints.clear();
    dec.ShowDataKx30(f);
    QApplication::processEvents();
    QApplication::processEvents();
    int total = 0;
    for (const auto& [o, n] : counter.paints)
        total += n;
    EXPECT_EQ(total, 0);
}

TEST_F(Panel, DrawsWithoutExternalFonts) {
    // Every glyph the painter knows leaves ink; unknown characters draw nothing.
    for (QChar c : QStringLiteral("0123456789@-.:*MGTV")) {
        QImage img(40, 60, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::white);
        {
            QPainter p(&img);
            p.setBrush(Qt::black);
            SevenSegmentPainter::drawText(p, QRectF(0, 0, 40, 60), QString(c));
        }
        int ink = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                ink += qGray(img.pixel(x, y)) < 128;
        EXPECT_GT(ink, 4) << QString(c).toStdString();
    }
}
