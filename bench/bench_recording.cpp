// Recording at the "Limitless" ceiling: ten million readings appended through the recording
// rules into the live table without the link, then the grid scrolled to its end and painted.
#include "bench_support.h"
#include "common/ui/message_boxes.h"
#include "display/reading_texts.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "readings/ui/readings_grid.h"
#include "recording/recording_control.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

namespace {

using kxbench::residentKiB;

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : kx::RecordingControl::kLimitless;

    kx::ReadingTexts texts;
    texts.UnitText = "M\xA6\xB8";
    texts.ModeText = "Continuous";
    kx::ReadingsTable table;
    table.openScratch(kx::readingsFields());
    kx::RecordingControl rc(texts, table);
    rc.setRecordLimit(kx::RecordingControl::kLimitless);
    std::int32_t clock = 0;
    rc.setTimeOfDay([&clock] { return clock; });

    // Realistic values: a reading wandering over a few thousand distinct texts.
    std::vector<std::string> values;
    for (int i = 0; i < 4000; ++i)
        values.push_back(std::to_string(i / 1000) + "." + std::to_string(100 + i % 900));

    const long rssBefore = residentKiB();
    constexpr int kBatch = 1000;
    std::vector<double> perAppendNs;
    perAppendNs.reserve(static_cast<std::size_t>(total / kBatch + 1));
    QElapsedTimer all;
    all.start();
    int appended = 0;
    for (int b = 0; appended < total; ++b) {
        const auto t0 = std::chrono::steady_clock::now();
        const int n = std::min(kBatch, total - appended);
        for (int i = 0; i < n; ++i) {
            texts.ReadingValue = values[static_cast<std::size_t>((appended + i) % 4000)];
            clock = (clock + 500) % 86400000;
            rc.INDataToTable(1);
        }
        const auto t1 = std::chrono::steady_clock::now();
        perAppendNs.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / n);
        appended += n;
    }
    const double totalS = static_cast<double>(all.nsecsElapsed()) / 1e9;
    std::sort(perAppendNs.begin(), perAppendNs.end());
    const double median = perAppendNs[perAppendNs.size() / 2];
    const double p99 = perAppendNs[perAppendNs.size() * 99 / 100];
    const long rssAfter = residentKiB();
    const qint64 count = table.recordCount().value();

    std::printf("records            %lld (next number %d)\n", static_cast<long long>(count),
                rc.NextRecordNo);
    std::printf("append total       %.2f s\n", totalS);
    std::printf(
        "append median      %.0f ns (p99 of 1000-append batches %.0f ns)   target < 1000 ns\n",
        median, p99);
    std::printf("table memory       %.1f bytes/record (store's own count)   target <= 64\n",
                static_cast<double>(table.memoryUsage()) / static_cast<double>(count));
    std::printf("resident growth    %.1f bytes/record\n",
                static_cast<double>(rssAfter - rssBefore) * 1024.0 / static_cast<double>(count));

    // Random access: the display text of random records, as a grid or a report reads them.
    std::mt19937 rng(42);
    std::uniform_int_distribution<qint64> pick(0, count - 1);
    QElapsedTimer ra;
    ra.start();
    std::size_t sink = 0;
    constexpr int kLookups = 1000000;
    for (int i = 0; i < kLookups; ++i)
        sink += table.fieldText(pick(rng), static_cast<int>(i % 6)).size();
    std::printf("random field read  %.0f ns per field (checksum %zu)\n",
                static_cast<double>(ra.nsecsElapsed()) / kLookups, sink);

    // The grid over all of it, scrolled to the end and painted.
    kx::DialogMessageBoxes boxes;
    QElapsedTimer gt;
    gt.start();
    kx::ReadingsGrid grid(table, kx::liveGridLayout(), boxes);
    grid.resize(617, 177);
    grid.show();
    QApplication::processEvents();
    const double buildMs = static_cast<double>(gt.nsecsElapsed()) / 1e6;
    QElapsedTimer st;
    st.start();
    grid.scrollToBottom();
    QPixmap shot = grid.grab();
    const double scrollMs = static_cast<double>(st.nsecsElapsed()) / 1e6;
    st.restart();
    grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->maximum() / 2);
    shot = grid.grab();
    const double midMs = static_cast<double>(st.nsecsElapsed()) / 1e6;
    std::printf("grid set-up        %.1f ms over %lld rows\n", buildMs,
                static_cast<long long>(count));
    std::printf("scroll to end      %.1f ms including repaint   target < 100 ms\n", scrollMs);
    std::printf("jump to middle     %.1f ms including repaint\n", midMs);

    // Live recording with the grid on screen: each record becomes the grid's current row.
    rc.setRecordLimit(kx::RecordingControl::kLimitless + 1000);
    QElapsedTimer lt;
    lt.start();
    constexpr int kLive = 50;
    for (int i = 0; i < kLive; ++i) {
        texts.ReadingValue = values[static_cast<std::size_t>(i)];
        rc.INDataToTable(1);
        QApplication::processEvents();
    }
    std::printf("append, grid shown %.2f ms per record (readings arrive at most twice a second)\n",
                static_cast<double>(lt.nsecsElapsed()) / 1e6 / kLive);
    return shot.isNull() ? 1 : 0;
}
