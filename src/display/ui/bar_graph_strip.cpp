#include "display/ui/bar_graph_strip.h"

#include "display/display_state.h"
#include "display/ui/panel_elements.h"

#include <QLabel>
#include <QPainter>

namespace kx {
namespace {

constexpr QRect kBaseline(18, 26, 533, 5);
constexpr int kTickWidth = 6;
constexpr int kTickHeight = 11;

struct ScaleLabel {
    const char* name;
    const char* caption;
    int overMark;
};

// Four marks a decade between 100K and 1T.
constexpr std::array<ScaleLabel, 10> kLabels = {{
    {"Label1", "0", 0},
    {"Label2", "100K", 1},
    {"Label8", "1M", 5},
    {"Label11", "10M", 9},
    {"Label12", "100M", 13},
    {"Label13", "1G", 17},
    {"Label14", "10G", 21},
    {"Label15", "100G", 25},
    {"Label16", "1T", 29},
    {"Label17", "\u221E", 30},
}};

} // namespace

int BarGraphStrip::markX(int n) {
    if (n <= 0)
        return 6;
    if (n >= 30)
        return 514;
    if (n == 29)
        return 492;
    return 42 + 16 * (n - 1);
}

QRect BarGraphStrip::markRect(int n) {
    const bool end = n == 0 || n == 30;
    const int top = end ? 14 : 26;
    return QRect(markX(n), top, kMarkWidth, 50 - top);
}

BarGraphStrip::BarGraphStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("KD"));
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (int n = 0; n < kMarks; ++n) {
        auto* m = new ShapeMark(QString::fromLatin1(elementName(barElement(n))), this);
        m->setGeometry(markRect(n));
        marks_[static_cast<std::size_t>(n)] = m;
    }
    for (const ScaleLabel& sl : kLabels) {
        QLabel* l =
            makeTextMark(QString::fromLatin1(sl.name), QString::fromUtf8(sl.caption), 15, this);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        const int centre = markX(sl.overMark) + kMarkWidth / 2;
        const int w = l->sizeHint().width();
        const int h = 16;
        l->setGeometry(std::max(0, centre - w / 2), 0, w, h);
    }
}

void BarGraphStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.fillRect(kBaseline, Qt::black);
    for (const ScaleLabel& sl : kLabels) {
        const int centre = markX(sl.overMark) + kMarkWidth / 2;
        p.fillRect(
            QRect(centre - kTickWidth / 2, kBaseline.top() - kTickHeight, kTickWidth, kTickHeight),
            Qt::black);
    }
}

} // namespace kx
