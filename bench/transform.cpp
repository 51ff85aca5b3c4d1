// Transforms on the standard frame: flip, soft binning, brightness (against
// CopyFloor) and resolution change (against OpenCV's resize on the same three
// float planes, when OpenCV is available).
#include <benchmark/benchmark.h>

#include "frame.h"

#ifdef ORBIMG_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace orbimg::bench {

namespace {

template <typename Op>
Op CopyOfFrame()
{
    Op op;
    op = StandardFrame();
    return op;
}

void Flip(benchmark::State& state)
{
    CKelImage src = StandardFrame();
    CImgFlip dst = CopyOfFrame<CImgFlip>();
    const int mode = static_cast<int>(state.range(0));
    for (auto _ : state) {
        dst.Do(mode, &src, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Flip)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void SoftBinning2x2(benchmark::State& state)
{
    CKelImage src = StandardFrame();
    CImgSoftBinning dst;
    for (auto _ : state) {
        state.PauseTiming();
        dst = src;
        state.ResumeTiming();
        dst.Do(2, 2, 0, 0, &src, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(SoftBinning2x2)->Unit(benchmark::kMillisecond)->UseRealTime();

void Bright(benchmark::State& state)
{
    CKelImage src = StandardFrame();
    CImgBright dst = CopyOfFrame<CImgBright>();
    for (auto _ : state) {
        dst.Do(10.0, 40.0, 128.0, &src, nullptr, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Bright)->Unit(benchmark::kMillisecond)->UseRealTime();

// Resampling to a fraction (per mille) of the frame's size; the object is
// made a copy of the frame again (untimed) before every call.
void Resolution(benchmark::State& state, bool bicubic)
{
    CKelImage src = StandardFrame();
    CImgResolution dst;
    const int width = static_cast<int>(src.GetWidth() * state.range(0) / 1000);
    const int height = static_cast<int>(src.GetHeight() * state.range(0) / 1000);
    for (auto _ : state) {
        state.PauseTiming();
        dst = src;
        state.ResumeTiming();
        if (bicubic) {
            dst.Bicubic(&src, width, height, 0);
        } else {
            dst.Bilinear(&src, width, height, 0);
        }
        benchmark::ClobberMemory();
    }
}

void ResolutionBilinear(benchmark::State& state) { Resolution(state, false); }
void ResolutionBicubic(benchmark::State& state) { Resolution(state, true); }
BENCHMARK(ResolutionBilinear)->Arg(500)->Arg(1500)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ResolutionBicubic)->Arg(500)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef ORBIMG_HAVE_OPENCV
// cv::resize of the frame's three planes (wrapped, not copied) to the same
// size. Arguments: per mille of the size; OpenCV threads (1, or 0 for one
// per processor); 1 to give every call fresh output planes, as
// CImgResolution gets a fresh store from ChangeSize on every call (first
// touch of new pages included), 0 to reuse the outputs of the previous call.
void OpenCvResize(benchmark::State& state, int interpolation)
{
    const CKelImage& src = StandardFrame();
    const int width = static_cast<int>(src.GetWidth() * state.range(0) / 1000);
    const int height = static_cast<int>(src.GetHeight() * state.range(0) / 1000);
    const bool fresh = state.range(2) != 0;
    const int previous = cv::getNumThreads();
    cv::setNumThreads(state.range(1) == 1 ? 1 : cv::getNumberOfCPUs());
    cv::Mat planes[3];
    cv::Mat out[3];
    for (int p = 0; p < 3; ++p) {
        planes[p] = cv::Mat(src.GetHeight(), src.GetWidth(), CV_32F, src.GetImageAdr(0, 0, p, 1, nullptr));
    }
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            for (cv::Mat& m : out) {
                m.release();
            }
            state.ResumeTiming();
        }
        for (int p = 0; p < 3; ++p) {
            cv::resize(planes[p], out[p], cv::Size(width, height), 0.0, 0.0, interpolation);
        }
        benchmark::ClobberMemory();
    }
    cv::setNumThreads(previous);
}

void OpenCvLinear(benchmark::State& state) { OpenCvResize(state, cv::INTER_LINEAR); }
void OpenCvCubic(benchmark::State& state) { OpenCvResize(state, cv::INTER_CUBIC); }
BENCHMARK(OpenCvLinear)
    ->ArgsProduct({{500, 1500}, {1, 0}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(OpenCvCubic)->ArgsProduct({{500}, {1, 0}, {1, 0}})->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

}  // namespace orbimg::bench
