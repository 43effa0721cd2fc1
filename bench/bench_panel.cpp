// Decode plus panel repaint per frame, offscreen: the cost of showing one meter frame.
#include "display/frame_decoder.h"
#include "display/ui/virtual_panel.h"
#include "link/meter_simulator.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// Frames of the demo script, one per half second over a whole cycle: real variety of digits,
// bar graph and marks.
std::vector<std::string> demoFrames() {
    const kx::DemoScript script;
    std::vector<std::string> out;
    for (std::int64_t t = 0; t < script.cycleUs(); t += 500000)
        if (const auto f = script.frameAt(t))
            out.push_back(kx::frameHex(*f));
    return out;
}

struct Fixture {
    kx::FrameDecoder dec;
    kx::VirtualPanel panel;
    std::vector<std::string> frames = demoFrames();

    Fixture() {
        panel.showState(dec.state());
        QObject::connect(&dec, &kx::FrameDecoder::displayChanged, &panel,
                         &kx::VirtualPanel::applyChange);
    }
};

// Worst case: the whole panel painted afresh after every frame.
void BM_DecodeAndFullRepaint(benchmark::State& state) {
    Fixture fx;
    QImage image(fx.panel.size(), QImage::Format_ARGB32_Premultiplied);
    std::size_t i = 0;
    for (auto _ : state) {
        fx.dec.ShowDataKx30(fx.frames[i++ % fx.frames.size()]);
        fx.panel.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeAndFullRepaint)->Unit(benchmark::kMicrosecond);

// What the window does: the panel on screen, only the changed elements repainted.
void BM_DecodeAndChangedRepaint(benchmark::State& state) {
    Fixture fx;
    fx.panel.show();
    QApplication::processEvents();
    std::size_t i = 0;
    for (auto _ : state) {
        fx.dec.ShowDataKx30(fx.frames[i++ % fx.frames.size()]);
        QApplication::processEvents();
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeAndChangedRepaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
