// Auto levels of the standard frame (on a copy: the setters change levels)
// (the argument "serial" 1 runs the serial loop, 0 the row bands) and the
// Bayer medians of a one-plane 6000 x 4000 mosaic.
#include <benchmark/benchmark.h>

#include "frame.h"

namespace orbimg::bench {

namespace {

// A copy of the colour frame; every run starts from the frame's levels.
CImgAutoLevel& ColorCopy()
{
    static CImgAutoLevel copy(StandardFrame());
    for (int p = 0; p < 3; ++p) {
        copy.SetLevel(p, StandardFrame().GetLevelMin(p), StandardFrame().GetLevelMax(p));
    }
    return copy;
}

template <class Setter>
void RunSetter(benchmark::State& state, Setter setter)
{
    CImgAutoLevel& image = ColorCopy();
    const SerialWhile serial(state.range(0));
    for (auto _ : state) {
        setter(image);
        benchmark::DoNotOptimize(image.GetLevelMax(0));
    }
}

void AutoLevelNormal(benchmark::State& state)
{
    RunSetter(state, [](CImgAutoLevel& image) { image.DoByNormal(0.001, 0.999, 0, nullptr); });
}
BENCHMARK(AutoLevelNormal)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

void AutoLevelMean(benchmark::State& state)
{
    RunSetter(state, [](CImgAutoLevel& image) { image.DoByMean(2.0, 5.0, 0, nullptr); });
}
BENCHMARK(AutoLevelMean)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

void AutoLevelMedian(benchmark::State& state)
{
    RunSetter(state, [](CImgAutoLevel& image) { image.DoByMedian(2.0, 5.0, 0, nullptr); });
}
BENCHMARK(AutoLevelMedian)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

void AutoStretch(benchmark::State& state)
{
    RunSetter(state, [](CImgAutoLevel& image) { image.DoAutoStretch(CDisplayStretch::kMTF, 1); });
}
BENCHMARK(AutoStretch)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

void MedianBayer(benchmark::State& state)
{
    static CImgAutoLevel mosaic(StandardMonoFrame());
    float medians[4];
    for (auto _ : state) {
        mosaic.GetMedianBayer(medians, 1);
        benchmark::DoNotOptimize(medians[0]);
    }
}
BENCHMARK(MedianBayer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

}  // namespace orbimg::bench
