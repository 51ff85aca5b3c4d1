// Histograms of the standard frame: the three colour planes (parallel path),
// the display luminance and one plane, 5000 bins over the frame's extremes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "frame.h"

namespace orbimg::bench {

namespace {

constexpr int kBins = 5000;

// The frame (only read), the extremes over its three planes and three
// histograms of kBins.
struct Setup {
    CKelImage& frame = const_cast<CKelImage&>(StandardFrame());
    double lo = 0.0;
    double hi = 0.0;
    std::vector<int> hist[3] = {std::vector<int>(kBins), std::vector<int>(kBins), std::vector<int>(kBins)};

    Setup()
    {
        frame.GetMinMax(0, &lo, &hi);
        for (int p = 1; p < frame.GetPlanes(); ++p) {
            double a;
            double b;
            frame.GetMinMax(p, &a, &b);
            lo = std::min(lo, a);
            hi = std::max(hi, b);
        }
    }
};

void HistogramRGB(benchmark::State& state)
{
    Setup s;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.frame.GetHistogramRGB(s.hist[0].data(), s.hist[1].data(), s.hist[2].data(), kBins,
                                                         s.lo, s.hi, nullptr, nullptr, 0, 1, 0, nullptr, 0, 0));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(HistogramRGB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same on the serial path (a store reported partly swapped out).
void HistogramRGBSerial(benchmark::State& state)
{
    Setup s;
    CVmManager::SetCurrentSwapSize(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.frame.GetHistogramRGB(s.hist[0].data(), s.hist[1].data(), s.hist[2].data(), kBins,
                                                         s.lo, s.hi, nullptr, nullptr, 0, 1, 0, nullptr, 0, 0));
        benchmark::ClobberMemory();
    }
    CVmManager::SetCurrentSwapSize(0);
}
BENCHMARK(HistogramRGBSerial)->Unit(benchmark::kMillisecond)->UseRealTime();

// One plane and the display luminance; "serial" 1 runs the serial loop.
void HistogramPlane(benchmark::State& state, int plane)
{
    Setup s;
    const SerialWhile serial(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            s.frame.GetHistogram(s.hist[0].data(), kBins, s.lo, s.hi, plane, 0, 1, 0, nullptr, 0, 0));
        benchmark::ClobberMemory();
    }
}

void HistogramLuminance(benchmark::State& state) { HistogramPlane(state, -1); }
BENCHMARK(HistogramLuminance)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

void HistogramMono(benchmark::State& state) { HistogramPlane(state, 1); }
BENCHMARK(HistogramMono)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

}  // namespace orbimg::bench
