// Draws the chart of a table file as the window shows it, offscreen, into a picture file.
// The settings go to the session's chart, as the window's controls set them; only the drawing
// needs the widgets.
#include "app/app_session.h"
#include "chart/chart_model.h"
#include "chart/ui/chart_view.h"
#include "cli/command_line.h"
#include "cli/table_reading.h"
#include "common/ui/message_boxes.h"
#include "link/hid_platform_sim.h"

#include <QApplication>
#include <QFileInfo>

#include <limits>

namespace kx::cli {
namespace {

// The chart shows no box here; anything it would say goes to stderr.
class StderrBoxes : public MessageBoxes {
public:
    void information(QWidget*, const QString& text) override { printError(text); }
    void warning(QWidget*, const QString& text) override { printError(text); }
    void error(QWidget*, const QString& text) override { printError(text); }
    bool confirm(QWidget*, const QString& text) override {
        printError(text);
        return false;
    }
};

} // namespace

int runChart(const QStringList& args) {
    CommandLine line("chart");
    line.option(QStringLiteral("per-page"), QStringLiteral("P"),
                QStringLiteral("Points a page (100 unless given; 0 puts them all on one page)."));
    line.option(QStringLiteral("page"), QStringLiteral("N"),
                QStringLiteral("The page drawn, from 1 (limited to the pages there are)."));
    line.flag(QStringLiteral("line"),
              QStringLiteral("The line series, as with Fill unticked; the area series "
                             "otherwise."));
    line.option(QStringLiteral("out"), QStringLiteral("PICTURE"),
                QStringLiteral("The picture to write: a name ending in .bmp or .png."));
    line.positional(QStringLiteral("FILE.db"), QStringLiteral("The readings table file."));
    if (const std::optional<int> done = line.parse(args))
        return *done;

    std::optional<int> perPage;
    if (line.isSet(QStringLiteral("per-page"))) {
        // The points-per-page box's own rules and messages.
        const Result<int> n = pointsPerPageFromText(line.value(QStringLiteral("per-page")));
        if (!n)
            return line.usageError(n.error());
        if (n.value() < 0)
            return line.usageError(QStringLiteral("MaxPointsPerPage must be >= 0"));
        perPage = n.value();
    }
    std::optional<int> bad;
    const std::optional<qint64> page =
        line.number(QStringLiteral("page"), 1, std::numeric_limits<qint64>::max(), bad);
    if (bad)
        return *bad;
    const QString out = line.value(QStringLiteral("out"));
    if (out.isEmpty())
        return line.usageError(QStringLiteral("--out is needed"));
    const QString suffix = QFileInfo(out).suffix().toLower();
    if (suffix != QLatin1String("bmp") && suffix != QLatin1String("png"))
        return line.usageError(QStringLiteral("the picture's name must end in .bmp or .png"));

    // A picture that cannot go where it is asked to (a pipe, a device behind a link, a
    // read-only file) is refused before anything is drawn.
    const QString path = QFileInfo(out).absoluteFilePath();
    if (const Status s = checkPictureTarget(path); !s) {
        printError(s.error());
        return 1;
    }
    SessionSetup setup;
    setup.platform = std::make_shared<SimHidBus>(); // no devices are needed to draw
    setup.liveTable = QFileInfo(line.positional().front()).absoluteFilePath();
    AppSession session(setup);
    if (!openTableForReading(session.liveTable(), setup.liveTable))
        return 1;
    ChartModel& chart = session.chart();
    chart.BtFillClick(!line.isSet(QStringLiteral("line")));
    if (perPage) {
        if (const Status s = chart.setPointsPerPage(*perPage); !s)
            return line.usageError(s.error());
    }
    if (page)
        chart.setPage(*page);

    StderrBoxes boxes;
    ChartView view(chart, boxes);
    view.show();
    QApplication::processEvents();
    view.refresh();
    if (const Status s = view.savePicture(path, suffix.toUpper().toLatin1()); !s) {
        printError(s.error());
        return 1;
    }
    printJson({{"points", chart.readingCount()},
               {"pages", chart.pageCount()},
               {"page", chart.page()},
               {"path", path}});
    return 0;
}

} // namespace kx::cli
