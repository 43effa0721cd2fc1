// The live path of the insulation test results, one reading at a time as the meter sends them:
// the reading appended to the live table, analysed by the session's results, signalled to the
// results window, which updates its list, its figures and its curve, and the curve drawn. The
// window is told of every reading here (the program coalesces to five times a second, and the
// meter sends two readings a second), so each figure is the whole cost of one reading.
// Measured after a table of earlier recordings, on the demo meter's cycle and on a long
// continuous test whose curve has many readings.
#include "analysis/live_results.h"
#include "analysis/ui/curve_view.h"
#include "analysis/ui/results_window.h"
#include "bench_support.h"
#include "common/ui/message_boxes.h"
#include "link/meter_simulator.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "reports/report_state.h"
#include "reports/ui/report_commands.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kOhm = "\xA6\xB8";

class QuietBoxes : public kx::MessageBoxes {
public:
    void information(QWidget*, const QString&) override {}
    void warning(QWidget*, const QString&) override {}
    void error(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    bool confirm(QWidget*, const QString&) override { return false; }
};

// Readings as recording appends them: number, time of day, the four texts.
class Recorder {
public:
    explicit Recorder(kx::ReadingsTable& t) : table_(t) {}

    void reading(double ohms, const char* function, const char* mode) {
        const auto [value, unit] = kx::formatResistance(ohms);
        add(value, unit == kx::MeterUnit::GOhm ? "G" + kOhm : "M" + kOhm, function, mode);
    }
    void add(const std::string& value, const std::string& unit, const std::string& function,
             const std::string& mode) {
        if (!table_.appendReading({no_++, static_cast<std::int32_t>(clockMs_ % 86'400'000), value,
                                   unit, function, mode}))
            std::abort();
        clockMs_ += 500;
    }
    void pause(std::int64_t ms) { clockMs_ += ms; }

private:
    kx::ReadingsTable& table_;
    std::int32_t no_ = 1;
    std::int64_t clockMs_ = 8 * 3'600'000;
};

struct Figures {
    std::vector<double> us;
    void add(Clock::time_point t) {
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
    }
    double pct(double p) const {
        std::vector<double> s = us;
        std::sort(s.begin(), s.end());
        return s[static_cast<std::size_t>(p * static_cast<double>(s.size() - 1))];
    }
    double mean() const {
        double sum = 0;
        for (double u : us)
            sum += u;
        return sum / static_cast<double>(us.size());
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::size_t earlier = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const std::size_t longTest = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 100'000;

    kx::ReadingsTable live;
    kx::ReadingsTable store;
    live.openScratch(kx::readingsFields());

    // Earlier recordings: PI tests and continuous readings, then the whole table analysed as
    // it is when a table is opened.
    Recorder rec(live);
    const std::string pi = "IR:2500 100G" + kOhm;
    const std::string cont = "IR:500V 20G" + kOhm;
    for (std::size_t i = 0; i < earlier; ++i) {
        const std::size_t phase = i % 1400;
        if (phase < 1206)
            rec.reading(kx::DemoScript::piTestOhms(static_cast<double>(phase) * 0.5), pi.c_str(),
                        "PI");
        else
            rec.reading(412e6, cont.c_str(), "Continuous");
        if (phase == 1205 || phase == 1399)
            rec.pause(6000);
    }
    kx::TestResults results(live, QString());
    QElapsedTimer whole;
    whole.start();
    results.flush();
    std::printf("earlier table: %zu readings, %d tests, analysed as a whole in %.0f ms\n",
                static_cast<std::size_t>(live.rowCount()), results.count(),
                static_cast<double>(whole.nsecsElapsed()) / 1e6);

    kx::ReportState state;
    QuietBoxes boxes;
    kx::ReportCommands reports(live, store, state, kx::ReportServices{&boxes});
    kx::TFrmresults window(results, live, reports, boxes);
    window.resize(880, 660);
    window.show();
    QImage picture(window.curve()->size(), QImage::Format_RGB32);

    // One reading: appended, analysed, signalled, the window updated and its curve drawn.
    auto oneReading = [&](Figures& f, auto append) {
        const auto t = Clock::now();
        append();
        results.flush();
        window.curve()->render(&picture);
        f.add(t);
    };

    rec.pause(10000);
    Figures demo;
    const kx::DemoScript script;
    for (std::int64_t tUs = 0; tUs < 2 * script.cycleUs(); tUs += 500000) {
        const std::int64_t s = tUs % script.cycleUs();
        const auto display = script.displayAt(s);
        if (!display || display->reading.empty())
            continue;
        // The PI test's and the 1-minute test's readings as the meter shows them; the other
        // stretches as steady readings of their kind.
        oneReading(demo, [&] {
            if (s < 16'000'000)
                rec.reading(480e6 * (1 - std::exp(-static_cast<double>(s) / 3e6)), cont.c_str(),
                            "Continuous");
            else if (s < 619'000'000)
                rec.reading(kx::DemoScript::piTestOhms((s - 16'000'000) / 1e6), pi.c_str(), "PI");
            else if (s < 682'000'000)
                rec.reading(kx::DemoScript::darTestOhms((s - 619'000'000) / 1e6), cont.c_str(),
                            "Timed");
            else
                rec.add("230.4", "V", "ACV  600V", "Continuous");
        });
    }
    std::printf(
        "demo cycles: %zu readings, per reading mean %.0f us, median %.0f us, 99%% %.0f us, "
        "worst %.0f us   target < 1000 us\n",
        demo.us.size(), demo.mean(), demo.pct(0.5), demo.pct(0.99), demo.pct(1.0));

    // A continuous test that goes on and on: its curve grows with every reading.
    rec.pause(10000);
    Figures along;
    for (std::size_t i = 0; i < longTest; ++i) {
        if (i + 2000 < longTest) {
            rec.reading(300e6 + static_cast<double>(i % 1000) * 1e5, cont.c_str(), "Continuous");
            continue; // the last 2000 are measured
        }
        if (i + 2000 == longTest) {
            // The readings so far as the window would have had them, five times a second.
            results.flush();
            window.curve()->render(&picture);
        }
        oneReading(along, [&] {
            rec.reading(300e6 + static_cast<double>(i % 1000) * 1e5, cont.c_str(), "Continuous");
        });
    }
    std::printf("a test of %zu readings: its last 2000 readings mean %.0f us, 99%% %.0f us, worst "
                "%.0f us   target < 1000 us\n",
                longTest, along.mean(), along.pct(0.99), along.pct(1.0));
    std::printf("resident %ld KiB\n", kxbench::residentKiB());
    return 0;
}
