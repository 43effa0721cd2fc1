// The cable streaming at its real rate through the device layer: how long a report waits
// between leaving the device and entering its handler on the main thread, and how much CPU the
// reading thread uses.
#include "link/hid_device_controller.h"
#include "link/sim_usb_serial_cable.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t threadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A meter stream: a 22-byte frame in eight reports, then idle reports. The cable asks it on
// the reading thread, which lets it sample that thread's CPU clock.
class ProbeSource : public kx::InputReportSource {
public:
    Report nextReport(std::int64_t) override {
        const std::int64_t cpu = threadCpuNs();
        const Clock::time_point now = Clock::now();
        if (calls_++ == 0) {
            firstCpu_ = cpu;
            firstWall_ = now;
        }
        lastCpu_ = cpu;
        lastWall_ = now;
        const int slot = static_cast<int>(calls_ % 40);
        if (slot < 8)
            return Report{0xF3, 0x11, 0x22, 0x33, 0, 0, 0, 0};
        return Report{0xF0, 0, 0, 0, 0, 0, 0, 0};
    }
    // CPU share of one core used by the reading thread between the first and the last report.
    double cpuShare() const {
        const double wall =
            std::chrono::duration<double, std::nano>(lastWall_ - firstWall_).count();
        return wall > 0 ? double(lastCpu_ - firstCpu_) / wall : 0.0;
    }

private:
    std::int64_t calls_ = 0;
    std::int64_t firstCpu_ = 0, lastCpu_ = 0;
    Clock::time_point firstWall_{}, lastWall_{};
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * double(v.size())));
    return v[i];
}

void BM_CableHandOff(benchmark::State& state) {
    std::vector<double> latenciesUs;
    double cpuShare = 0;
    for (auto _ : state) {
        auto source = std::make_unique<ProbeSource>();
        ProbeSource* probe = source.get();
        auto bus = std::make_shared<kx::SimHidBus>();
        auto cable =
            std::make_shared<kx::SimUsbSerialCable>(std::move(source), kx::CableClock::Real);
        bus->plug(cable);
        kx::THidDeviceController ctl(bus);
        ctl.DeviceChange();
        std::unique_ptr<kx::THidDevice> dev;
        if (!ctl.ClaimDeviceAt(0, dev)) {
            state.SkipWithError("cable not found");
            return;
        }
        const std::uint8_t setup[10] = {0x00, 0x60, 0x09, 0x00, 0x00, 0x03, 0, 0, 0, 0};
        dev->SendFeatureReport(setup, sizeof setup);
        dev->SetDataHandler([&](kx::THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {
            const auto waited = Clock::now() - cable->lastDelivery();
            latenciesUs.push_back(std::chrono::duration<double, std::micro>(waited).count());
        });
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(state.range(0)), &loop, &QEventLoop::quit);
        loop.exec();
        dev->SetDataHandler(nullptr);
        cpuShare = probe->cpuShare();
    }
    const double p50 = percentile(latenciesUs, 0.50);
    const double p99 = percentile(latenciesUs, 0.99);
    const double max = percentile(latenciesUs, 1.0);
    state.counters["reports"] = double(latenciesUs.size());
    state.counters["p50_us"] = p50;
    state.counters["p99_us"] = p99;
    state.counters["max_us"] = max;
    state.counters["thread_cpu_pct"] = cpuShare * 100;
    std::printf("hand-off latency over %zu reports: p50 %.1f us, p99 %.1f us, max %.1f us "
                "(target p99 < 1000 us); reading thread CPU %.3f%% of a core (target < 1%%)\n",
                latenciesUs.size(), p50, p99, max, cpuShare * 100);
}

BENCHMARK(BM_CableHandOff)->Arg(4000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
