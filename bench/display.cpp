// Display rendering and packed DIB export on the standard frame.
#include <benchmark/benchmark.h>

#include "frame.h"

namespace orbimg::bench {

namespace {

// Renders `frame` into a bitmap of the frame's size on a display of `bits`.
void Render(benchmark::State& state, const CKelImage& frame, int bits)
{
    CKelImage& image = const_cast<CKelImage&>(frame);
    CWnd wnd(bits);
    CMemoryDIB dib;
    if (!dib.Create(&wnd, image.GetWidth(), image.GetHeight(), 0)) {
        state.SkipWithError("bitmap not created");
        return;
    }
    for (auto _ : state) {
        image.ToDIB(&dib, nullptr, 0);
        benchmark::DoNotOptimize(dib.GetImageAdr8(0, 0));
        benchmark::ClobberMemory();
    }
}

void ToDIBColor32(benchmark::State& state) { Render(state, StandardFrame(), 32); }
BENCHMARK(ToDIBColor32)->Unit(benchmark::kMillisecond)->UseRealTime();

// The colour frame through its levels and a display stretch.
const CKelImage& StretchedFrame(int kind, double param)
{
    static CKelImage frame = StandardFrame();
    frame.SetStretch(CDisplayStretch(kind, param));
    return frame;
}

void ToDIBColor32Mtf(benchmark::State& state) { Render(state, StretchedFrame(CDisplayStretch::kMTF, 0.05), 32); }
BENCHMARK(ToDIBColor32Mtf)->Unit(benchmark::kMillisecond)->UseRealTime();

void ToDIBColor32Asinh(benchmark::State& state) { Render(state, StretchedFrame(CDisplayStretch::kAsinh, 500.0), 32); }
BENCHMARK(ToDIBColor32Asinh)->Unit(benchmark::kMillisecond)->UseRealTime();

void ToDIBColor32Log(benchmark::State& state) { Render(state, StretchedFrame(CDisplayStretch::kLog, 1000.0), 32); }
BENCHMARK(ToDIBColor32Log)->Unit(benchmark::kMillisecond)->UseRealTime();

void ToDIBMono8(benchmark::State& state) { Render(state, StandardMonoFrame(), 8); }
BENCHMARK(ToDIBMono8)->Unit(benchmark::kMillisecond)->UseRealTime();

void ToDIBMono24(benchmark::State& state) { Render(state, StandardMonoFrame(), 24); }
BENCHMARK(ToDIBMono24)->Unit(benchmark::kMillisecond)->UseRealTime();

void Export(benchmark::State& state, int bits)
{
    const CKelImage& frame = StandardFrame();
    const SerialWhile serial(state.range(0));
    for (auto _ : state) {
        HDIB dib = frame.GetDib(bits);
        benchmark::DoNotOptimize(dib);
        GlobalFree(dib);
    }
}

void GetDib24Color(benchmark::State& state) { Export(state, 24); }
BENCHMARK(GetDib24Color)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

void GetDib8Color(benchmark::State& state) { Export(state, 8); }
BENCHMARK(GetDib8Color)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

}  // namespace orbimg::bench
