// Throughput of the frame path: cable reports through the receiver into the decoder.
#include "display/frame_decoder.h"
#include "link/frame_receiver.h"

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

namespace {

using Report = std::array<std::uint8_t, 8>;

// A realistic stream: each 22-byte frame in reports of up to 7 payload bytes, as the cable
// delivers them, followed by an idle report; the readings vary from frame to frame.
std::vector<Report> makeStream(int frames) {
    const std::string base = "FFF700007D7AE07D5B100EE3A7368857D7DFD0EF0D0A";
    static const char* mainCodes[] = {"7D", "60", "3E", "7A", "63", "5B", "5F", "70", "7F", "7B"};
    std::vector<Report> out;
    for (int f = 0; f < frames; ++f) {
        std::string hex = base;
        const char* c = mainCodes[f % 10];
        hex[25] = c[0]; // third main digit: positions 26, 25
        hex[24] = c[1];
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < 44; i += 2)
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        for (std::size_t i = 0; i < bytes.size(); i += 7) {
            Report r{};
            const std::size_t n = std::min<std::size_t>(7, bytes.size() - i);
            r[0] = static_cast<std::uint8_t>(0xF0 | n);
            for (std::size_t k = 0; k < n; ++k)
                r[1 + k] = bytes[i + k];
            out.push_back(r);
        }
        out.push_back(Report{0xF0});
    }
    return out;
}

void BM_ReceiverAndDecoder(benchmark::State& state) {
    const auto stream = makeStream(1000);
    kx::FrameReceiver rx;
    kx::FrameDecoder dec;
    std::int64_t decoded = 0;
    std::int64_t offered = 0;
    rx.setFrameHandler([&](std::string_view hex) {
        const kx::DecodeResult r = dec.ShowDataKx30(hex);
        decoded += r.accepted;
        offered += r.record;
    });
    for (auto _ : state) {
        for (const Report& r : stream)
            rx.ReadPw60(0, r.data(), static_cast<std::uint16_t>(r.size()));
    }
    benchmark::DoNotOptimize(offered);
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(decoded), benchmark::Counter::kIsRate);
    state.counters["reports/s"] = benchmark::Counter(static_cast<double>(state.iterations()) *
                                                         static_cast<double>(stream.size()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiverAndDecoder)->Unit(benchmark::kMillisecond);

void BM_DecodeOnly(benchmark::State& state) {
    const std::string frame = "FFF700007D7AE07D5B100EE3A7368857D7DFD0EF0D0A";
    kx::FrameDecoder dec;
    for (auto _ : state) {
        auto r = dec.ShowDataKx30(frame);
        benchmark::DoNotOptimize(r);
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeOnly);

} // namespace

BENCHMARK_MAIN();
