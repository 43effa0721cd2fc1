// The chart over large recordings: a redraw with a million readings on one page, page changes
// in a table of ten million, the cost of an append while the chart is on screen, and the
// memory the chart holds beside the table. Prints its figures against the targets.
#include "bench_support.h"
#include "chart/chart_model.h"
#include "chart/ui/chart_view.h"
#include "common/ui/message_boxes.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using kxbench::residentKiB;

// Readings that wander over a few thousand texts, with an overload now and then.
struct Feeder {
    kx::ReadingsTable& table;
    std::vector<std::string> values;
    std::int32_t next = 1;

    explicit Feeder(kx::ReadingsTable& t) : table(t) {
        for (int i = 0; i < 4000; ++i)
            values.push_back(i % 997 == 0
                                 ? std::string("0L")
                                 : std::to_string(100 + i % 900) + "." + std::to_string(i % 10));
    }
    void add(int n) {
        for (int i = 0; i < n; ++i, ++next) {
            if (!table.appendReading({next, std::nullopt,
                                      values[static_cast<std::size_t>(next) % values.size()],
                                      "M\xA6\xB8", "", ""}))
                std::abort();
        }
    }
};

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures as they come
    const int large = argc > 1 ? std::atoi(argv[1]) : 10'000'000;

    kx::ReadingsTable table;
    table.openScratch(kx::readingsFields());
    kx::ChartModel model(table);
    Feeder feed(table);
    feed.add(1'000'000);

    kx::DialogMessageBoxes boxes;
    {
        // Fonts, styles and the chart library load with the first chart of the process; that
        // is not memory of this chart.
        kx::ReadingsTable none;
        kx::ChartModel noneModel(none);
        kx::ChartView first(noneModel, boxes);
        first.show();
        QApplication::processEvents();
        first.picture();
    }
    const long rssBeforeView = residentKiB();
    kx::ChartView view(model, boxes);
    view.show();
    QApplication::processEvents();

    // A million readings on one page; the first redraw builds the row summaries.
    QElapsedTimer t;
    t.start();
    view.Maxrecord->setText(QStringLiteral("0"));
    QImage shot = view.picture();
    const double cold = ms(t);
    std::vector<double> redraw, paint;
    for (int i = 0; i < 20; ++i) {
        t.restart();
        view.refresh();
        shot = view.picture();
        redraw.push_back(ms(t));
        t.restart();
        shot = view.picture(); // painting what is already laid out
        paint.push_back(ms(t));
    }
    std::printf("1,000,000 points on one page: %lld drawn points\n",
                static_cast<long long>(view.drawnPoints(0).size()));
    std::printf("  first redraw (summaries built) %.1f ms\n", cold);
    std::printf("  redraw median                  %.1f ms   target < 50 ms\n", median(redraw));
    std::printf("  paint only median              %.1f ms\n", median(paint));
    const long viewKiB = residentKiB() - rssBeforeView;

    // Ten million records, a hundred a page.
    t.restart();
    feed.add(large - 1'000'000);
    std::printf("table grown to %d records in %.1f s\n", large, ms(t) / 1000);
    // Every summary built: one page over everything.
    const long rssBeforeAll = residentKiB();
    t.restart();
    view.refresh();
    shot = view.picture();
    std::printf("all %d on one page: first redraw %.0f ms", large, ms(t));
    t.restart();
    view.refresh();
    shot = view.picture();
    std::printf(", then %.1f ms\n", ms(t));
    std::printf("chart memory at %d records: summaries %.2f MB (resident growth %.2f MB), "
                "view %.2f MB   target < 10 MB beside the table (%.0f MB)\n",
                large, static_cast<double>(model.memoryUsage()) / 1e6,
                static_cast<double>(residentKiB() - rssBeforeAll) / 1024,
                static_cast<double>(viewKiB) / 1024,
                static_cast<double>(table.memoryUsage()) / 1e6);
    view.Maxrecord->setText(QStringLiteral("100"));
    QApplication::processEvents();
    std::vector<double> pageMs;
    auto timePage = [&](auto press) {
        t.restart();
        press();
        shot = view.picture();
        pageMs.push_back(ms(t));
    };
    for (int i = 0; i < 10; ++i) {
        timePage([&] { view.BTlastClick(); });
        timePage([&] { view.BTPreviousClick(); });
        timePage([&] { view.BtFirstClick(); });
        timePage([&] { view.BtNextClick(); });
        timePage([&] {
            model.setPage(model.pageCount() / 2 + i);
            view.refresh();
        });
    }
    std::printf("page change at %d records: median %.2f ms, worst %.2f ms   target < 20 ms\n",
                large, median(pageMs), *std::max_element(pageMs.begin(), pageMs.end()));

    // Appending while the chart shows a page the records land on; redraws run from the event
    // loop as they would in the window. A burst: events handled every 100 records.
    auto burst = [&](const char* what) {
        const int redrawsBefore = view.redrawCount();
        constexpr int kAppends = 100'000;
        t.restart();
        for (int i = 0; i < kAppends; i += 100) {
            feed.add(100);
            QApplication::processEvents();
        }
        const double total = ms(t);
        std::printf(
            "append burst on screen (%s): %.2f us a record, %d redraws   target < 1000 us\n", what,
            total * 1000 / kAppends, view.redrawCount() - redrawsBefore);
    };
    // Readings one at a time, as the meter sends them: each is followed by its redraw.
    auto oneByOne = [&](const char* what) {
        constexpr int kAppends = 50;
        std::vector<double> each;
        for (int i = 0; i < kAppends; ++i) {
            t.restart();
            feed.add(1);
            const double append = ms(t);
            while (view.redrawPending())
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            t.restart();
            view.refresh(false); // the redraw the timer ran, timed without the timer's wait
            shot = view.picture();
            each.push_back(append + ms(t));
        }
        std::printf("append one by one (%s): %.2f ms a record with its redraw\n", what,
                    median(each));
    };
    view.Maxrecord->setText(QStringLiteral("200000"));
    feed.add(1); // the last page has room
    view.BTlastClick();
    burst("a page of 200,000 filling");
    oneByOne("a page of 200,000 filling");
    view.Maxrecord->setText(QStringLiteral("100"));
    feed.add(100 - static_cast<int>(table.rowCount() % 100) + 1);
    view.BTlastClick();
    oneByOne("a page of 100 filling");
    view.Maxrecord->setText(QStringLiteral("0"));
    burst("all on one page");
    oneByOne("all on one page");

    // An insulation tester's table: tests climbing from MΩ into GΩ with a voltage check
    // between them, on one page. The voltages are gaps on the resistance axis.
    {
        kx::ReadingsTable mixed;
        mixed.openScratch(kx::readingsFields());
        kx::ChartModel mixedModel(mixed);
        for (std::int32_t i = 1; i <= 1'000'000; ++i) {
            const int step = i % 600;
            kx::Reading r{i, std::nullopt, "", "", "", ""};
            if (step >= 590) {
                r.value = std::to_string(480 + step % 7);
                r.unit = "V";
            } else if (step < 300) {
                r.value = std::to_string(3 * step + 10);
                r.unit = "M\xA6\xB8";
            } else {
                r.value = "1." + std::to_string(100 + step % 300);
                r.unit = "G\xA6\xB8";
            }
            if (!mixed.appendReading(r))
                std::abort();
        }
        kx::ChartView mixedView(mixedModel, boxes);
        mixedView.show();
        QApplication::processEvents();
        t.restart();
        mixedView.Maxrecord->setText(QStringLiteral("0"));
        shot = mixedView.picture();
        const double first = ms(t);
        std::vector<double> again;
        for (int i = 0; i < 20; ++i) {
            t.restart();
            mixedView.refresh();
            shot = mixedView.picture();
            again.push_back(ms(t));
        }
        std::printf("1,000,000 mixed resistance and voltage readings on one page: first redraw "
                    "%.1f ms, redraw median %.1f ms   target < 50 ms\n",
                    first, median(again));
    }
    return 0;
}
