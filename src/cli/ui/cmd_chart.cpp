// Draws the chart of a table file as the window shows it, offscreen, into a picture file.
// It paints, so it lives with the widgets.
#include "app/app_session.h"
#include "cli/cli_commands.h"
#include "common/ui/message_boxes.h"
#include "link/hid_platform_sim.h"
#include "recording/chart_model.h"
#include "recording/ui/chart_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QJsonObject>
#include <QLineEdit>

#include <optional>

namespace kx::cli {
namespace {

constexpr const char* kUsage =
    "chart FILE.db [--per-page P] [--page N] [--line] --out PICTURE.bmp|.png";

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

struct ChartOptions {
    QString table;
    std::optional<int> perPage;
    std::optional<qint64> page;
    bool line = false;
    QString out;
    QByteArray format; // "BMP" or "PNG"
};

// Fills `o`; a message for the user when the arguments do not make sense.
std::optional<QString> parseOptions(QStringList args, ChartOptions& o) {
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        auto value = [&]() -> std::optional<QString> {
            if (args.isEmpty())
                return std::nullopt;
            return args.takeFirst();
        };
        if (a == QLatin1String("--line")) {
            o.line = true;
        } else if (a == QLatin1String("--per-page")) {
            const std::optional<QString> v = value();
            if (!v)
                return QStringLiteral("--per-page needs a number");
            const Result<int> n = pointsPerPageFromText(*v);
            if (!n)
                return n.error();
            if (n.value() < 0)
                return QStringLiteral("MaxPointsPerPage must be >= 0");
            o.perPage = n.value();
        } else if (a == QLatin1String("--page")) {
            const std::optional<QString> v = value();
            bool ok = false;
            const qint64 n = v ? v->toLongLong(&ok) : 0;
            if (!ok || n < 1)
                return QStringLiteral("--page needs a page number from 1");
            o.page = n;
        } else if (a == QLatin1String("--out")) {
            const std::optional<QString> v = value();
            if (!v)
                return QStringLiteral("--out needs a file name");
            o.out = *v;
        } else if (a.startsWith(QLatin1String("--")) || !o.table.isEmpty()) {
            return QStringLiteral("unexpected argument '%1'").arg(a);
        } else {
            o.table = a;
        }
    }
    if (o.table.isEmpty() || o.out.isEmpty())
        return QStringLiteral("a table file and --out are needed");
    const QString suffix = QFileInfo(o.out).suffix().toLower();
    if (suffix != QLatin1String("bmp") && suffix != QLatin1String("png"))
        return QStringLiteral("the picture's name must end in .bmp or .png");
    o.format = suffix.toUpper().toLatin1();
    return std::nullopt;
}

} // namespace

int runChart(const QStringList& args) {
    ChartOptions o;
    if (const std::optional<QString> wrong = parseOptions(args, o)) {
        printError(*wrong);
        return usageError(QLatin1String(kUsage));
    }
    // A picture that cannot go where it is asked to (a pipe, a device behind a link, a
    // read-only file) is refused before anything is drawn.
    const QString path = QFileInfo(o.out).absoluteFilePath();
    if (const Status s = checkPictureTarget(path); !s) {
        printError(s.error());
        return 1;
    }
    SessionSetup setup;
    setup.platform = std::make_shared<SimHidBus>(); // no devices are needed to draw
    setup.liveTable = QFileInfo(o.table).absoluteFilePath();
    AppSession session(setup);
    if (const Status s = session.liveTable().open(); !s) {
        printError(s.error());
        return 1;
    }
    ChartModel& chart = session.chart();
    StderrBoxes boxes;
    ChartView view(chart, boxes);
    if (o.line)
        view.BtFill->setChecked(false);
    if (o.perPage)
        view.Maxrecord->setText(QString::number(*o.perPage));
    if (o.page)
        chart.setPage(*o.page);
    view.show();
    QApplication::processEvents();
    view.refresh();

    Result<QByteArray> bytes = encodePicture(view.picture(), o.format);
    const Status written = bytes ? writePictureFile(path, bytes.value()) : bytes.status();
    if (!written) {
        printError(written.error());
        return 1;
    }
    QJsonObject out;
    out.insert("points", chart.readingCount());
    out.insert("pages", chart.pageCount());
    out.insert("page", chart.page());
    out.insert("path", path);
    printJson(out);
    return 0;
}

} // namespace kx::cli
