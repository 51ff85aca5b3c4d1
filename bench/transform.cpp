// Transforms on the standard frame: flip, soft binning, brightness, canvas
// resize (against CopyFloor) and resolution change (against OpenCV's resize
// on the same three float planes, when OpenCV is available). The argument
// "serial" 1 runs the serial loop (the swap size set), 0 the row bands on
// every core. "CopyFirst" cases time the copy into the object as well;
// FreshAgainstCopied runs two transforms on an empty object (the source's
// record is taken, no copy) against the same on a copy.
#include <benchmark/benchmark.h>

#include <chrono>

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

// How the object is prepared before each call: a copy of the frame made
// untimed (Copy), a copy made in the
// timed region (CopyFirst, as a host calls the operation on a new object),
// or nothing (Reuse: the object holds the previous call's result, as when a
// host resamples each new frame into the same object).
enum class Prepare { Copy, CopyFirst, Reuse };

template <typename Op>
void PrepareObject(benchmark::State& state, Op& op, const CKelImage& src, Prepare prepare)
{
    if (prepare == Prepare::Reuse) {
        return;
    }
    if (prepare == Prepare::CopyFirst) {
        op = src;
        return;
    }
    state.PauseTiming();
    op = src;
    state.ResumeTiming();
}

void Flip(benchmark::State& state)
{
    CKelImage src = StandardFrame();
    CImgFlip dst = CopyOfFrame<CImgFlip>();
    const int mode = static_cast<int>(state.range(0));
    const SerialWhile serial(state.range(1));
    for (auto _ : state) {
        dst.Do(mode, &src, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Flip)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"mode", "serial"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void SoftBinning(benchmark::State& state, Prepare prepare)
{
    CKelImage src = StandardFrame();
    CImgSoftBinning dst;
    const SerialWhile serial(state.range(0));
    for (auto _ : state) {
        PrepareObject(state, dst, src, prepare);
        dst.Do(2, 2, 0, 0, &src, 0);
        benchmark::ClobberMemory();
    }
}

void SoftBinning2x2(benchmark::State& state) { SoftBinning(state, Prepare::Copy); }
void SoftBinning2x2CopyFirst(benchmark::State& state) { SoftBinning(state, Prepare::CopyFirst); }
BENCHMARK(SoftBinning2x2)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SoftBinning2x2CopyFirst)->Arg(0)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

void Bright(benchmark::State& state)
{
    CKelImage src = StandardFrame();
    CImgBright dst = CopyOfFrame<CImgBright>();
    const SerialWhile serial(state.range(0));
    for (auto _ : state) {
        dst.Do(10.0, 40.0, 128.0, &src, nullptr, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Bright)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

// Canvas 100 pixels larger each way, the frame centred.
void CanvasResize(benchmark::State& state)
{
    CKelImage src = StandardFrame();
    CImgResize dst;
    float fill[3] = {0.0f, 0.0f, 0.0f};
    const SerialWhile serial(state.range(0));
    for (auto _ : state) {
        PrepareObject(state, dst, src, Prepare::Copy);
        dst.Do(src.GetWidth() + 100, src.GetHeight() + 100, 4, fill, &src, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(CanvasResize)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

// Resampling to a fraction (per mille) of the frame's size.
void Resolution(benchmark::State& state, bool bicubic, Prepare prepare)
{
    CKelImage src = StandardFrame();
    CImgResolution dst;
    const int width = static_cast<int>(src.GetWidth() * state.range(0) / 1000);
    const int height = static_cast<int>(src.GetHeight() * state.range(0) / 1000);
    const SerialWhile serial(state.range(1));
    for (auto _ : state) {
        PrepareObject(state, dst, src, prepare);
        if (bicubic) {
            dst.Bicubic(&src, width, height, 0);
        } else {
            dst.Bilinear(&src, width, height, 0);
        }
        benchmark::ClobberMemory();
    }
}

void ResolutionBilinear(benchmark::State& state) { Resolution(state, false, Prepare::Copy); }
void ResolutionBicubic(benchmark::State& state) { Resolution(state, true, Prepare::Copy); }
void ResolutionBilinearCopyFirst(benchmark::State& state) { Resolution(state, false, Prepare::CopyFirst); }
void ResolutionBilinearReuse(benchmark::State& state) { Resolution(state, false, Prepare::Reuse); }
void ResolutionBicubicReuse(benchmark::State& state) { Resolution(state, true, Prepare::Reuse); }
BENCHMARK(ResolutionBilinear)
    ->ArgsProduct({{500, 1500}, {0, 1}})
    ->ArgNames({"permille", "serial"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ResolutionBicubic)
    ->ArgsProduct({{500, 1500}, {0, 1}})
    ->ArgNames({"permille", "serial"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ResolutionBilinearCopyFirst)
    ->Args({500, 0})
    ->ArgNames({"permille", "serial"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Against OpenCV reusing its outputs (OpenCvLinear/OpenCvCubic .../0).
BENCHMARK(ResolutionBilinearReuse)
    ->ArgsProduct({{500, 1500}, {0}})
    ->ArgNames({"permille", "serial"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ResolutionBicubicReuse)
    ->ArgsProduct({{500, 1500}, {0}})
    ->ArgNames({"permille", "serial"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A transform on a fresh object against the same transform on an object that
// holds a copy of the frame (made untimed), timed in turn in every iteration,
// so that the state of the machine's memory, which drifts from one benchmark
// to the next, weighs on both alike. Counters: the time of each (ms) and
// fresh / copied. Argument 0: bin 2 x 2; 1: bilinear to half size.
template <typename Op, typename Transform>
void FreshAgainstCopied(benchmark::State& state, const Transform& transform)
{
    using Clock = std::chrono::steady_clock;
    CKelImage src = StandardFrame();
    Op op;
    double copied = 0.0;
    double fresh = 0.0;
    for (auto _ : state) {
        op = src;
        const Clock::time_point t0 = Clock::now();
        transform(op, src);
        benchmark::ClobberMemory();
        const Clock::time_point t1 = Clock::now();
        op = Op();
        const Clock::time_point t2 = Clock::now();
        transform(op, src);
        benchmark::ClobberMemory();
        const Clock::time_point t3 = Clock::now();
        const double a = std::chrono::duration<double>(t1 - t0).count();
        const double b = std::chrono::duration<double>(t3 - t2).count();
        copied += a;
        fresh += b;
        state.SetIterationTime(a + b);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["copied_ms"] = copied * 1e3 / n;
    state.counters["fresh_ms"] = fresh * 1e3 / n;
    state.counters["fresh/copied"] = copied > 0.0 ? fresh / copied : 0.0;
}

void FreshAgainstCopied(benchmark::State& state)
{
    if (state.range(0) == 0) {
        FreshAgainstCopied<CImgSoftBinning>(state,
                                            [](CImgSoftBinning& op, CKelImage& src) { op.Do(2, 2, 0, 0, &src, 0); });
    } else {
        FreshAgainstCopied<CImgResolution>(state, [](CImgResolution& op, CKelImage& src) {
            op.Bilinear(&src, src.GetWidth() / 2, src.GetHeight() / 2, 0);
        });
    }
}
BENCHMARK(FreshAgainstCopied)->Arg(0)->Arg(1)->ArgName("bilinear")->Unit(benchmark::kMillisecond)->UseManualTime();

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
BENCHMARK(OpenCvLinear)->ArgsProduct({{500, 1500}, {1, 0}, {1, 0}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OpenCvCubic)->ArgsProduct({{500, 1500}, {1, 0}, {1, 0}})->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

}  // namespace orbimg::bench
