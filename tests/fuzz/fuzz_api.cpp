// Fuzz target: the public API. An input picks an image (size, planes,
// samples with NaN and infinities, levels) and then a run of calls with any
// arguments: rectangles and points anywhere in the int range, bins, depths,
// filter radii, bin factors, sources smaller and larger than the object,
// mosaics, display stretches, star detection and focus curves.
// After each input no lock, GDI object or global block may be left.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "orbimg.h"

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_api: %s\n", what);
    std::abort();
}

float Sample(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0:
        return std::numeric_limits<float>::quiet_NaN();
    case 1:
        return std::numeric_limits<float>::infinity();
    case 2:
        return -std::numeric_limits<float>::infinity();
    case 3:
        return in.ConsumeFloatingPoint<float>();
    default:
        return static_cast<float>(in.ConsumeIntegralInRange(-100, 70000));
    }
}

double Number(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        return std::numeric_limits<double>::quiet_NaN();
    case 1:
        return in.ConsumeBool() ? HUGE_VAL : -HUGE_VAL;
    case 2:
        return in.ConsumeFloatingPoint<double>();
    default:
        return in.ConsumeFloatingPointInRange<double>(-2.0, 300.0);
    }
}

int Coordinate(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return in.ConsumeIntegral<int>();
    case 1:
        return in.ConsumeBool() ? std::numeric_limits<int>::max() : std::numeric_limits<int>::min();
    default:
        return in.ConsumeIntegralInRange(-4, 70);
    }
}

CRect Rect(FuzzedDataProvider& in)
{
    const int l = Coordinate(in);
    const int t = Coordinate(in);
    const int r = Coordinate(in);
    const int b = Coordinate(in);
    return CRect(l, t, r, b);
}

/// An image of the sizes the input asks for, filled from it.
void Fill(FuzzedDataProvider& in, CKelImage& image)
{
    for (int p = 0; p < image.GetPlanes(); ++p) {
        for (int y = 0; y < image.GetHeight(); ++y) {
            float* row = image.GetImageAdr(0, y, p, 0, nullptr);
            for (int x = 0; x < image.GetWidth(); ++x) {
                row[x] = in.remaining_bytes() ? Sample(in) : static_cast<float>(x * 7 + y * 3 + p);
            }
        }
    }
}

int Planes(FuzzedDataProvider& in)
{
    const int k = in.ConsumeIntegralInRange(0, 4);
    return k == 0 ? 3 : k == 1 ? 2 : 1;
}

void Run(FuzzedDataProvider& in)
{
    const int width = in.ConsumeIntegralInRange(1, 64);
    const int height = in.ConsumeIntegralInRange(1, 64);
    CKelImage image(width, height, Planes(in), -32, 1.0, 0.0, 1);
    Fill(in, image);
    for (int p = -1; p < image.GetPlanes(); ++p) {
        if (in.ConsumeBool()) {
            image.SetLevel(p, Number(in), Number(in));
        }
    }
    // A second image, smaller or larger, as a source.
    CKelImage other(in.ConsumeIntegralInRange(1, 80), in.ConsumeIntegralInRange(1, 80), Planes(in), -32, 1.0, 0.0, 1);
    Fill(in, other);

    double out[6][3] = {};
    int palettes = 0;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 26)) {
        case 0: {
            volatile float v = image.GetPixelGrayRaw(Coordinate(in), Coordinate(in), in.ConsumeIntegralInRange(-1, 3));
            v = image.GetPixelGrayRaw(Number(in), Number(in), in.ConsumeIntegralInRange(-1, 3));
            (void)v;
            break;
        }
        case 1: {
            volatile float v = image.GetPixelGray256f(Coordinate(in), Coordinate(in), in.ConsumeIntegralInRange(-1, 3));
            volatile unsigned char b =
                image.GetPixelGray256(Coordinate(in), Coordinate(in), in.ConsumeIntegralInRange(-1, 3));
            b = image.GetPixelGray256(Number(in), Number(in), in.ConsumeIntegralInRange(-1, 3));
            v = image.GetPixelBright256f(Coordinate(in), Coordinate(in));
            (void)v;
            (void)b;
            break;
        }
        case 2: {
            volatile double v = image.ToRaw(Number(in), in.ConsumeIntegralInRange(-1, 3));
            v = image.GetAvrGrayRaw(in.ConsumeIntegralInRange(-1, 3));
            (void)v;
            break;
        }
        case 3:
            image.SetLevel(in.ConsumeIntegralInRange(-2, 3), Number(in), Number(in));
            break;
        case 4: {
            const int bins =
                in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 70000) : in.ConsumeIntegralInRange(1, 300);
            std::vector<int> hist(static_cast<std::size_t>(std::max(bins, 1)) * 3);
            CRect rect = Rect(in);
            if (in.ConsumeBool()) {
                const int columns[] = {Coordinate(in), Coordinate(in), Coordinate(in)};
                const int rows[] = {Coordinate(in), Coordinate(in)};
                image.SetHistogramCull(columns, in.ConsumeIntegralInRange(0, 3), rows, in.ConsumeIntegralInRange(0, 2));
            }
            const int cull = in.ConsumeIntegralInRange(0, 1);
            if (in.ConsumeBool()) {
                image.GetHistogram(hist.data(), bins, Number(in), Number(in), in.ConsumeIntegralInRange(-1, 3),
                                   in.ConsumeIntegralInRange(0, 1), in.ConsumeIntegralInRange(0, 1), cull,
                                   in.ConsumeBool() ? &rect : nullptr, 0, 0);
            } else {
                const std::size_t n = static_cast<std::size_t>(std::max(bins, 1));
                image.GetHistogramRGB(hist.data(), hist.data() + n, hist.data() + 2 * n, bins, Number(in), Number(in),
                                      nullptr, nullptr, in.ConsumeIntegralInRange(0, 1),
                                      in.ConsumeIntegralInRange(0, 1), cull, in.ConsumeBool() ? &rect : nullptr, 0, 0);
            }
            break;
        }
        case 5: {
            CImgAutoLevel level(image);
            CRect rect = Rect(in);
            CRect* r = in.ConsumeBool() ? &rect : nullptr;
            double low = Number(in);
            double high = Number(in);
            const int method = in.ConsumeIntegralInRange(-1, 4);
            if (in.ConsumeBool()) {
                level.Do(low, high, method, in.ConsumeIntegralInRange(0, 1), r);
            } else {
                level.Get(low, high, method, r);
            }
            break;
        }
        case 6: {
            CImgAutoLevel level(image);
            float medians[8] = {};
            double gains[8] = {};
            const int sampling = in.ConsumeIntegralInRange(-2, 80);
            if (in.ConsumeBool()) {
                level.GetMedianBayer(medians, sampling);
            } else {
                level.GetMedianHoneyComb(gains, sampling);
            }
            CRect rect = Rect(in);
            level.GetMedian(medians, sampling, in.ConsumeIntegralInRange(0, 1), in.ConsumeIntegralInRange(-1, 3),
                            in.ConsumeBool() ? &rect : nullptr);
            break;
        }
        case 7: {
            CWnd wnd(in.PickValueInArray({1, 4, 8, 15, 16, 24, 32, 7}));
            CMemoryDIB dib;
            if (dib.Create(&wnd, in.ConsumeIntegralInRange(-1, 80), in.ConsumeIntegralInRange(-1, 80), 0)) {
                CRect rect = Rect(in);
                image.ToDIB(&dib, in.ConsumeBool() ? &rect : nullptr, 0);
            }
            break;
        }
        case 8: {
            // An 8-bit colour DIB builds an adaptive palette, a fixed cost of
            // 15 ms (256 entries x 32768 colour codes) that the sanitizers
            // and coverage make a second or more: once per input.
            const int bits = in.PickValueInArray({8, 24, 0, 16, 32, 1});
            if (bits == 8 && image.GetPlanes() == 3 && palettes++ > 0) {
                break;
            }
            HDIB dib = image.GetDib(bits);
            if (dib) {
                GlobalFree(dib);
            }
            break;
        }
        case 9: {
            CFilterMatrix matrix;
            const int r = in.ConsumeBool() ? Coordinate(in) : in.ConsumeIntegralInRange(0, 6);
            if (matrix.MakeGaussian(r, Number(in)) && r <= 20) {
                const int plane = in.ConsumeIntegralInRange(-1, 3);
                if (image.MakeFilterProc(in.ConsumeBool() ? &image : &other, &matrix, plane,
                                         in.ConsumeIntegralInRange(0, 1))) {
                    for (int k = 0; k < 4; ++k) {
                        volatile float v = image.CalcFilterProc(Coordinate(in), Coordinate(in));
                        v = image.CalcFilterProc(Coordinate(in), Coordinate(in), in.ConsumeIntegralInRange(-1, 3));
                        (void)v;
                    }
                }
                image.ClearFilterProc();
                const int slot = in.ConsumeIntegralInRange(-1, 3);
                if (image.MakeFilterProcEx(slot, &other, &matrix, in.ConsumeIntegralInRange(-1, 3),
                                           in.ConsumeIntegralInRange(0, 1))) {
                    image.SetFilterProcPlnEx(slot, in.ConsumeIntegralInRange(-1, 3));
                    volatile float v = image.CalcFilterProcEx(slot, Coordinate(in), Coordinate(in));
                    v = image.CalcFilterProcEx(slot, Coordinate(in), Coordinate(in), in.ConsumeIntegralInRange(-1, 3));
                    (void)v;
                }
            }
            break;
        }
        case 10: {
            PSF psf(in.ConsumeBool() ? &image : &other);
            for (int k = in.ConsumeIntegralInRange(0, 5); k > 0; --k) {
                psf.Add(CPoint(Coordinate(in), Coordinate(in)));
            }
            double v[3] = {};
            psf.GetMeanPSF(v);
            psf.GetMedianPSF(v);
            psf.GetMeanFWHM(v);
            psf.GetMedianFWHM(v);
            break;
        }
        case 11: {
            CImgPixelInfo info;
            info = image;
            info.Calc(Rect(in), out[0], out[1], out[2], out[3], in.ConsumeBool() ? out[4] : nullptr);
            info.Calc(CPoint(Coordinate(in), Coordinate(in)), Coordinate(in), out[0], out[1], out[2], out[3], out[4]);
            break;
        }
        case 12: {
            CImgPixelInfo info;
            info = image;
            info.CalcSky(Rect(in), out[0], out[1], out[2], out[3], out[4]);
            info.CalcSky(Rect(in), Number(in), Number(in), out[0], out[1], out[2], out[3], out[4]);
            info.CalcSky(Coordinate(in), Coordinate(in), in.ConsumeIntegralInRange(-2, 40), Number(in), Number(in),
                         out[0], out[1], out[2], out[3], out[4]);
            break;
        }
        case 13: {
            CImgPixelInfo info;
            info = image;
            info.CalcStar(Coordinate(in), Coordinate(in), in.ConsumeIntegralInRange(-2, 40), Number(in), Number(in),
                          out[0], out[1], out[2], out[3], out[4], out[5], out[5]);
            info.CalcFWHM(Coordinate(in), Coordinate(in), out[0]);
            break;
        }
        case 14: {
            CImgEvaluateFocus focus;
            static_cast<CKelImage&>(focus) = image;
            CRect rect = Rect(in);
            if (in.ConsumeBool()) {
                CRegistry::Write(L"Eval", L"Min", in.ConsumeIntegralInRange(-2, 6));
                CRegistry::Write(L"Eval", L"Max", in.ConsumeIntegralInRange(-2, 12));
            }
            volatile double v = focus.Do(in.ConsumeBool() ? &rect : nullptr, 0);
            (void)v;
            CRegistry::Write(L"Eval", L"Min", 1);
            CRegistry::Write(L"Eval", L"Max", 10);
            break;
        }
        case 15: {
            CImgFlip flip;
            static_cast<CKelImage&>(flip) = image;
            flip.Do(in.ConsumeIntegralInRange(-1, 3), in.ConsumeBool() ? &other : &flip, 0);
            break;
        }
        case 16: {
            CImgResize resize;
            float fill[3] = {Sample(in), Sample(in), Sample(in)};
            resize.Do(in.ConsumeIntegralInRange(-1, 90), in.ConsumeIntegralInRange(-1, 90),
                      in.ConsumeIntegralInRange(-2, 10), in.ConsumeBool() ? fill : nullptr,
                      in.ConsumeBool() ? static_cast<CImage*>(&image) : &other, in.ConsumeIntegralInRange(0, 1));
            break;
        }
        case 17: {
            CImgResolution resolution;
            CKelImage* src = in.ConsumeBool() ? &image : &other;
            const int w = in.ConsumeIntegralInRange(-1, 90);
            const int h = in.ConsumeIntegralInRange(-1, 90);
            switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0:
                resolution.Do(src, w, h, 0);
                break;
            case 1:
                resolution.Bilinear(src, w, h, 0);
                break;
            default:
                resolution.Bicubic(src, w, h, 0);
                break;
            }
            break;
        }
        case 18: {
            CImgSoftBinning bin;
            bin.Do(in.ConsumeBool() ? Coordinate(in) : in.ConsumeIntegralInRange(-1, 9),
                   in.ConsumeBool() ? Coordinate(in) : in.ConsumeIntegralInRange(-1, 9),
                   in.ConsumeIntegralInRange(0, 1), in.ConsumeIntegralInRange(0, 1), in.ConsumeBool() ? &image : &other,
                   0);
            break;
        }
        case 19: {
            CImgBright bright;
            static_cast<CKelImage&>(bright) = image;
            CRect rect = Rect(in);
            bright.Do(Number(in), Number(in), Number(in), in.ConsumeBool() ? &other : &bright,
                      in.ConsumeBool() ? &rect : nullptr, 0);
            break;
        }
        case 20: {
            CKelImage copy;
            copy.Copy(in.ConsumeBool() ? &image : &other, Coordinate(in), Coordinate(in));
            copy = image;
            break;
        }
        case 21: {
            int left = 0, top = 0, right = 0, bottom = 0;
            CRect rect = Rect(in);
            image.NormalizeRect(&rect, left, top, right, bottom);
            break;
        }
        case 22: {
            CImgDebayer colour;
            colour.Do(in.ConsumeBool() ? &image : &other, in.ConsumeIntegralInRange(-1, 4), Coordinate(in),
                      Coordinate(in), in.ConsumeIntegralInRange(-1, 3));
            break;
        }
        case 23: {
            CDisplayStretch stretch(in.ConsumeIntegralInRange(-1, 4), Number(in));
            if (in.ConsumeBool()) {
                stretch.SetParam(in.ConsumeIntegralInRange(-1, 3), Number(in));
            }
            volatile double v = stretch.Apply(Number(in), 0) + stretch.Inverse(Number(in), 1);
            v = CDisplayStretch::ParamFor(in.ConsumeIntegralInRange(-1, 4), Number(in), Number(in));
            (void)v;
            image.SetStretch(stretch);
            if (in.ConsumeBool()) {
                CImgAutoLevel level(image);
                CRect rect = Rect(in);
                level.DoAutoStretch(in.ConsumeIntegralInRange(-1, 4), in.ConsumeIntegralInRange(0, 1), Number(in),
                                    Number(in), in.ConsumeBool() ? &rect : nullptr);
                image.SetStretch(level.GetStretch());
            }
            std::vector<int> hist(static_cast<std::size_t>(in.ConsumeIntegralInRange(1, 300)));
            CRect rect = Rect(in);
            image.GetHistogramDisplay(hist.data(), static_cast<int>(hist.size()), in.ConsumeIntegralInRange(-1, 3),
                                      in.ConsumeBool() ? &rect : nullptr);
            break;  // the stretch stays for the rendering cases
        }
        case 24: {
            StarParams params;
            params.plane = in.ConsumeIntegralInRange(-2, 3);
            params.threshold = Number(in);
            params.minArea = in.ConsumeIntegralInRange(-1, 20);
            params.deblendContrast = Number(in);
            params.saturation = Number(in);
            params.hfrAperture = Number(in);
            params.fit = in.ConsumeBool();
            params.clean = in.ConsumeBool();
            params.background.tile = in.ConsumeIntegralInRange(-1, 70);
            params.background.filter = in.ConsumeIntegralInRange(-1, 6);
            CStarField field(in.ConsumeBool() ? &image : &other);
            field.Detect(params);
            volatile double v = field.GetSummary().hfr;
            (void)v;
            break;
        }
        case 25: {
            CFocusCurve curve;
            for (int k = in.ConsumeIntegralInRange(0, 12); k > 0; --k) {
                curve.Add(Number(in), Number(in), in.ConsumeBool() ? Number(in) : 0.0);
            }
            volatile double v = curve.Fit().best;
            (void)v;
            break;
        }
        default: {
            // The object replaced by another image, changing size and planes.
            const int w = in.ConsumeIntegralInRange(1, 64);
            const int h = in.ConsumeIntegralInRange(1, 64);
            image = CKelImage(w, h, Planes(in), -32, 1.0, 0.0, 1);
            Fill(in, image);
            break;
        }
        }
        if (image.GetVmImage()->GetLockCount() != 0 || other.GetVmImage()->GetLockCount() != 0) {
            Fail("a lock was left held");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        FuzzedDataProvider in(data, size);
        Run(in);
    }
    if (GdiLiveObjectCount() != 0) {
        Fail("a GDI object was left");
    }
    if (GlobalLiveBlockCount() != 0) {
        Fail("a global block was left");
    }
    return 0;
}
