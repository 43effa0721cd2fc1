// Reports at size: a 100,000-record data report written as PDF (time, and resident memory as
// the pages go by, which must stay flat), then the preview of a 10,000,000-record table:
// opening it and turning pages.
#include "bench_support.h"
#include "common/ui/message_boxes.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "reports/report_document.h"
#include "reports/ui/report_commands.h"
#include "reports/ui/report_painter.h"
#include "reports/ui/report_preview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

using kxbench::residentKiB;

// n readings of the live kind, as loaded from a file (the quick way in).
void fill(kx::ReadingsTable& t, qint64 n) {
    t.openScratch(kx::readingsFields());
    std::vector<std::string> values;
    for (int i = 0; i < 4000; ++i)
        values.push_back(std::to_string(i / 1000) + "." + std::to_string(100 + i % 900));
    kx::px::Record r(6);
    for (qint64 i = 0; i < n; ++i) {
        r[0] = kx::px::Value(static_cast<std::int32_t>(i + 1));
        r[1] = kx::px::Value::timeOfDay(static_cast<int>((i * 500) % 86'400'000));
        r[2] = kx::px::Value::text(
            QByteArray::fromStdString(values[static_cast<std::size_t>(i % 4000)]));
        r[3] = kx::px::Value::text(i % 2 ? QByteArray("M\xA6\xB8") : QByteArray("V"));
        r[4] = kx::px::Value::text("IR:500V 20G\xA6\xB8");
        r[5] = kx::px::Value::text("Continuous");
        t.appendLoaded(r);
    }
}

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 pdfRecords = argc > 1 ? std::atoll(argv[1]) : 100'000;
    const qint64 previewRecords = argc > 2 ? std::atoll(argv[2]) : 10'000'000;
    QTemporaryDir dir;

    // 1. The data report as PDF.
    {
        kx::ReadingsTable live;
        fill(live, pdfRecords);
        kx::ReportState state;
        const kx::ReportDocument doc = kx::prepareDataReport(state, live, QDate::currentDate());
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        std::vector<std::pair<int, long>> rss;
        const int pages = doc.pageCount();
        QElapsedTimer t;
        t.start();
        const std::clock_t cpu0 = std::clock();
        const auto saved =
            kx::ReportPainter(doc).save(pdf, kx::ReportFileKind::Pdf, [&](int done, int total) {
                if (done == 1 || done % (total / 8 + 1) == 0 || done == total)
                    rss.emplace_back(done, residentKiB());
                return true;
            });
        const double elapsed = ms(t);
        const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
        if (!saved) {
            std::fprintf(stderr, "%s\n", saved.error().toLocal8Bit().constData());
            return 1;
        }
        // Processor time too: on a shared machine the wall clock counts the others' work.
        std::printf("pdf report         %lld records, %d pages, %.0f ms (target < 10000 ms), "
                    "%.0f ms of processor time, %.2f ms a page, %lld KiB file\n",
                    static_cast<long long>(pdfRecords), pages, elapsed, cpuMs, elapsed / pages,
                    static_cast<long long>(QFileInfo(pdf).size() / 1024));
        std::printf("pdf resident KiB   ");
        for (const auto& [page, kib] : rss)
            std::printf(" p%d:%ld", page, kib);
        std::printf("\n");
        const long growth = rss.back().second - rss.front().second;
        std::printf("pdf memory growth  %ld KiB from page 1 to page %d (%.2f KiB a page)\n", growth,
                    pages, static_cast<double>(growth) / pages);

        t.restart();
        const auto text = kx::saveReportText(doc, kx::ReportFileKind::Text,
                                             dir.filePath(QStringLiteral("report.txt")));
        std::printf("text report        %.0f ms\n", text ? ms(t) : -1.0);
        t.restart();
        const auto html = kx::saveReportText(doc, kx::ReportFileKind::Html,
                                             dir.filePath(QStringLiteral("report.html")));
        std::printf("html report        %.0f ms\n", html ? ms(t) : -1.0);
    }

    // 2. The preview of a huge table.
    kx::ReadingsTable live;
    kx::ReadingsTable store;
    QElapsedTimer t;
    t.start();
    fill(live, previewRecords);
    std::printf("table filled       %lld records in %.0f ms\n",
                static_cast<long long>(previewRecords), ms(t));
    kx::ReportState state;
    kx::ReportCommands commands(live, store, state, kx::ReportServices{});
    double openMs = 0;
    std::vector<double> turns;
    QObject::connect(&commands, &kx::ReportCommands::previewOpened, &commands,
                     [&](kx::ReportPreview* p) {
                         openMs = ms(t);
                         for (int i = 0; i < 50; ++i) {
                             QElapsedTimer turn;
                             turn.start();
                             if (i % 10 == 9)
                                 p->lastPage();
                             else if (i % 10 == 0)
                                 p->goToPage(p->pageCount() / 2 + i);
                             else
                                 p->nextPage();
                             p->view()->viewport()->repaint();
                             turns.push_back(ms(turn));
                         }
                         p->close();
                     });
    t.restart();
    commands.previewData(nullptr);
    std::sort(turns.begin(), turns.end());
    std::printf("preview open       %.1f ms for %d pages (target < 300 ms)\n", openMs,
                state.DataReportPages);
    std::printf(
        "page turn          median %.2f ms, worst %.2f ms over %zu turns (target < 50 ms)\n",
        turns[turns.size() / 2], turns.back(), turns.size());
    return 0;
}
