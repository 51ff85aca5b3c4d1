// Debayering a 6000 x 4000 mosaic (the standard mono frame read as RGGB)
// into a three-plane frame. The destination is kept between iterations, as
// a host keeps its display frame.
#include <benchmark/benchmark.h>

#include "frame.h"

namespace orbimg::bench {

namespace {

void Debayer(benchmark::State& state, int method)
{
    CKelImage& mosaic = const_cast<CKelImage&>(StandardMonoFrame());
    CImgDebayer rgb;
    rgb.Do(&mosaic, CImgDebayer::kRGGB, 0, 0, method);  // the frame exists before the first timing
    for (auto _ : state) {
        if (!rgb.Do(&mosaic, CImgDebayer::kRGGB, 0, 0, method)) {
            state.SkipWithError("not debayered");
            return;
        }
        benchmark::DoNotOptimize(rgb.GetImageAdr(0, 0, 0, 1, nullptr));
        benchmark::ClobberMemory();
    }
}

void DebayerBilinear(benchmark::State& state) { Debayer(state, CImgDebayer::kBilinear); }
BENCHMARK(DebayerBilinear)->Unit(benchmark::kMillisecond)->UseRealTime();

void DebayerRCD(benchmark::State& state) { Debayer(state, CImgDebayer::kRCD); }
BENCHMARK(DebayerRCD)->Unit(benchmark::kMillisecond)->UseRealTime();

void DebayerSuperPixel(benchmark::State& state) { Debayer(state, CImgDebayer::kSuperPixel); }
BENCHMARK(DebayerSuperPixel)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

}  // namespace orbimg::bench
