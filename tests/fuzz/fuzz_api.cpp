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
#include <iterator>
#include <limits>
#include <vector>

#include "orbimg.h"

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_api: %s\n", what);
    std::abort();
}

/// Keeps a result the optimiser would otherwise drop.
template <class T>
void Use(T value)
{
    volatile T kept = value;
    (void)kept;
}

/// The input, read as the arguments of the calls; the object under test,
/// a second image (smaller or larger) as a source, and what the calls write.
struct Fuzz {
    Fuzz(const std::uint8_t* data, std::size_t size) : in(data, size) {}

    FuzzedDataProvider in;
    CKelImage image;
    CKelImage other;
    double out[6][3] = {};
    int palettes = 0;

    int Int(int lo, int hi) { return in.ConsumeIntegralInRange(lo, hi); }
    bool Bool() { return in.ConsumeBool(); }
    int Flag() { return Int(0, 1); }
    int Plane() { return Int(-1, 3); }
    template <class T>
    T* Maybe(T* p)
    {
        return Bool() ? p : nullptr;
    }
    template <class T>
    T* Either(T* a, T* b)
    {
        return Bool() ? a : b;
    }

    float Sample()
    {
        const float inf = std::numeric_limits<float>::infinity();
        const int k = Int(0, 9);
        return k == 0   ? std::numeric_limits<float>::quiet_NaN()
               : k < 3  ? (k == 1 ? inf : -inf)
               : k == 3 ? in.ConsumeFloatingPoint<float>()
                        : static_cast<float>(Int(-100, 70000));
    }

    double Number()
    {
        const int k = Int(0, 7);
        return k == 0   ? std::numeric_limits<double>::quiet_NaN()
               : k == 1 ? (Bool() ? HUGE_VAL : -HUGE_VAL)
               : k == 2 ? in.ConsumeFloatingPoint<double>()
                        : in.ConsumeFloatingPointInRange<double>(-2.0, 300.0);
    }

    int Coordinate()
    {
        const int k = Int(0, 5);
        const int end = k == 1 && Bool() ? std::numeric_limits<int>::max() : std::numeric_limits<int>::min();
        return k == 0 ? in.ConsumeIntegral<int>() : k == 1 ? end : Int(-4, 70);
    }

    CRect Rect()
    {
        const int l = Coordinate();
        const int t = Coordinate();
        const int r = Coordinate();
        const int b = Coordinate();
        return CRect(l, t, r, b);
    }

    /// An image of the sizes the input asks for, filled from it.
    CKelImage Image(int largest)
    {
        const int width = Int(1, largest);
        const int height = Int(1, largest);
        const int k = Int(0, 4);
        CKelImage image(width, height, k == 0 ? 3 : k == 1 ? 2 : 1, -32, 1.0, 0.0, 1);
        for (int p = 0; p < image.GetPlanes(); ++p) {
            for (int y = 0; y < height; ++y) {
                float* row = image.GetImageAdr(0, y, p, 0, nullptr);
                for (int x = 0; x < width; ++x) {
                    row[x] = in.remaining_bytes() ? Sample() : static_cast<float>(x * 7 + y * 3 + p);
                }
            }
        }
        return image;
    }
};

using Call = void (*)(Fuzz&);

const Call kCalls[] = {
    [](Fuzz& s) {
        Use(s.image.GetPixelGrayRaw(s.Coordinate(), s.Coordinate(), s.Plane()));
        Use(s.image.GetPixelGrayRaw(s.Number(), s.Number(), s.Plane()));
        Use(s.image.GetPixelGray256f(s.Coordinate(), s.Coordinate(), s.Plane()));
        Use(s.image.GetPixelGray256(s.Coordinate(), s.Coordinate(), s.Plane()));
        Use(s.image.GetPixelGray256(s.Number(), s.Number(), s.Plane()));
        Use(s.image.GetPixelBright256f(s.Coordinate(), s.Coordinate()));
        Use(s.image.ToRaw(s.Number(), s.Plane()));
        Use(s.image.GetAvrGrayRaw(s.Plane()));
    },
    [](Fuzz& s) { s.image.SetLevel(s.Int(-2, 3), s.Number(), s.Number()); },
    [](Fuzz& s) {
        const int bins = s.Bool() ? s.Int(-2, 70000) : s.Int(1, 300);
        const std::size_t n = static_cast<std::size_t>(std::max(bins, 1));
        std::vector<int> hist(n * 3);
        CRect rect = s.Rect();
        if (s.Bool()) {
            const int columns[] = {s.Coordinate(), s.Coordinate(), s.Coordinate()};
            const int rows[] = {s.Coordinate(), s.Coordinate()};
            s.image.SetHistogramCull(columns, s.Int(0, 3), rows, s.Int(0, 2));
        }
        const int cull = s.Flag();
        if (s.Bool()) {
            s.image.GetHistogram(hist.data(), bins, s.Number(), s.Number(), s.Plane(), s.Flag(), s.Flag(), cull,
                                 s.Maybe(&rect), 0, 0);
        } else {
            s.image.GetHistogramRGB(hist.data(), hist.data() + n, hist.data() + 2 * n, bins, s.Number(), s.Number(),
                                    nullptr, nullptr, s.Flag(), s.Flag(), cull, s.Maybe(&rect), 0, 0);
        }
    },
    [](Fuzz& s) {
        CImgAutoLevel level(s.image);
        CRect rect = s.Rect();
        CRect* r = s.Maybe(&rect);
        double low = s.Number();
        double high = s.Number();
        const int method = s.Int(-1, 4);
        if (s.Bool()) {
            level.Do(low, high, method, s.Flag(), r);
        } else {
            level.Get(low, high, method, r);
        }
    },
    [](Fuzz& s) {
        CImgAutoLevel level(s.image);
        float medians[8] = {};
        double gains[8] = {};
        const int sampling = s.Int(-2, 80);
        if (s.Bool()) {
            level.GetMedianBayer(medians, sampling);
        } else {
            level.GetMedianHoneyComb(gains, sampling);
        }
        CRect rect = s.Rect();
        level.GetMedian(medians, sampling, s.Flag(), s.Plane(), s.Maybe(&rect));
    },
    [](Fuzz& s) {
        CWnd wnd(s.in.PickValueInArray({1, 4, 8, 15, 16, 24, 32, 7}));
        CMemoryDIB dib;
        if (dib.Create(&wnd, s.Int(-1, 80), s.Int(-1, 80), 0)) {
            CRect rect = s.Rect();
            s.image.ToDIB(&dib, s.Maybe(&rect), 0);
        }
    },
    [](Fuzz& s) {
        // An 8-bit colour DIB builds an adaptive palette, a fixed cost of
        // 15 ms (256 entries x 32768 colour codes) that the sanitizers
        // and coverage make a second or more: once per input.
        const int bits = s.in.PickValueInArray({8, 24, 0, 16, 32, 1});
        if (bits == 8 && s.image.GetPlanes() == 3 && s.palettes++ > 0) {
            return;
        }
        if (HDIB dib = s.image.GetDib(bits)) {
            GlobalFree(dib);
        }
    },
    [](Fuzz& s) {
        CFilterMatrix matrix;
        const int r = s.Bool() ? s.Coordinate() : s.Int(0, 6);
        if (!matrix.MakeGaussian(r, s.Number()) || r > 20) {
            return;
        }
        const int plane = s.Plane();
        if (s.image.MakeFilterProc(s.Either(&s.image, &s.other), &matrix, plane, s.Flag())) {
            for (int k = 0; k < 4; ++k) {
                Use(s.image.CalcFilterProc(s.Coordinate(), s.Coordinate()));
                Use(s.image.CalcFilterProc(s.Coordinate(), s.Coordinate(), s.Plane()));
            }
        }
        s.image.ClearFilterProc();
        const int slot = s.Plane();
        if (s.image.MakeFilterProcEx(slot, &s.other, &matrix, s.Plane(), s.Flag())) {
            s.image.SetFilterProcPlnEx(slot, s.Plane());
            Use(s.image.CalcFilterProcEx(slot, s.Coordinate(), s.Coordinate()));
            Use(s.image.CalcFilterProcEx(slot, s.Coordinate(), s.Coordinate(), s.Plane()));
        }
    },
    [](Fuzz& s) {
        PSF psf(s.Either(&s.image, &s.other));
        for (int k = s.Int(0, 5); k > 0; --k) {
            psf.Add(CPoint(s.Coordinate(), s.Coordinate()));
        }
        double v[3] = {};
        psf.GetMeanPSF(v);
        psf.GetMedianPSF(v);
        psf.GetMeanFWHM(v);
        psf.GetMedianFWHM(v);
    },
    [](Fuzz& s) {
        CImgPixelInfo info;
        info = s.image;
        auto& o = s.out;
        info.Calc(s.Rect(), o[0], o[1], o[2], o[3], s.Maybe(o[4]));
        info.Calc(CPoint(s.Coordinate(), s.Coordinate()), s.Coordinate(), o[0], o[1], o[2], o[3], o[4]);
        info.CalcSky(s.Rect(), o[0], o[1], o[2], o[3], o[4]);
        info.CalcSky(s.Rect(), s.Number(), s.Number(), o[0], o[1], o[2], o[3], o[4]);
        info.CalcSky(s.Coordinate(), s.Coordinate(), s.Int(-2, 40), s.Number(), s.Number(), o[0], o[1], o[2], o[3],
                     o[4]);
        info.CalcStar(s.Coordinate(), s.Coordinate(), s.Int(-2, 40), s.Number(), s.Number(), o[0], o[1], o[2], o[3],
                      o[4], o[5], o[5]);
        info.CalcFWHM(s.Coordinate(), s.Coordinate(), o[0]);
    },
    [](Fuzz& s) {
        CImgEvaluateFocus focus;
        static_cast<CKelImage&>(focus) = s.image;
        CRect rect = s.Rect();
        if (s.Bool()) {
            CRegistry::Write(L"Eval", L"Min", s.Int(-2, 6));
            CRegistry::Write(L"Eval", L"Max", s.Int(-2, 12));
        }
        Use(focus.Do(s.Maybe(&rect), 0));
        CRegistry::Write(L"Eval", L"Min", 1);
        CRegistry::Write(L"Eval", L"Max", 10);
    },
    [](Fuzz& s) {
        CImgFlip flip;
        static_cast<CKelImage&>(flip) = s.image;
        flip.Do(s.Plane(), s.Bool() ? &s.other : &flip, 0);
    },
    [](Fuzz& s) {
        CImgResize resize;
        float fill[3] = {s.Sample(), s.Sample(), s.Sample()};
        resize.Do(s.Int(-1, 90), s.Int(-1, 90), s.Int(-2, 10), s.Maybe(fill),
                  s.Bool() ? static_cast<CImage*>(&s.image) : &s.other, s.Flag());
    },
    [](Fuzz& s) {
        CImgResolution resolution;
        CKelImage* src = s.Either(&s.image, &s.other);
        const int w = s.Int(-1, 90);
        const int h = s.Int(-1, 90);
        const int way = s.Int(0, 2);
        way == 0   ? resolution.Do(src, w, h, 0)
        : way == 1 ? resolution.Bilinear(src, w, h, 0)
                   : resolution.Bicubic(src, w, h, 0);
    },
    [](Fuzz& s) {
        CImgSoftBinning bin;
        bin.Do(s.Bool() ? s.Coordinate() : s.Int(-1, 9), s.Bool() ? s.Coordinate() : s.Int(-1, 9), s.Flag(), s.Flag(),
               s.Either(&s.image, &s.other), 0);
    },
    [](Fuzz& s) {
        CImgBright bright;
        static_cast<CKelImage&>(bright) = s.image;
        CRect rect = s.Rect();
        bright.Do(s.Number(), s.Number(), s.Number(), s.Bool() ? &s.other : &bright, s.Maybe(&rect), 0);
    },
    [](Fuzz& s) {
        CKelImage copy;
        copy.Copy(s.Either(&s.image, &s.other), s.Coordinate(), s.Coordinate());
        copy = s.image;
    },
    [](Fuzz& s) {
        int left = 0, top = 0, right = 0, bottom = 0;
        CRect rect = s.Rect();
        s.image.NormalizeRect(&rect, left, top, right, bottom);
    },
    [](Fuzz& s) {
        CImgDebayer colour;
        colour.Do(s.Either(&s.image, &s.other), s.Int(-1, 4), s.Coordinate(), s.Coordinate(), s.Plane());
    },
    [](Fuzz& s) {
        CDisplayStretch stretch(s.Int(-1, 4), s.Number());
        if (s.Bool()) {
            stretch.SetParam(s.Plane(), s.Number());
        }
        Use(stretch.Apply(s.Number(), 0) + stretch.Inverse(s.Number(), 1));
        Use(CDisplayStretch::ParamFor(s.Int(-1, 4), s.Number(), s.Number()));
        s.image.SetStretch(stretch);
        if (s.Bool()) {
            CImgAutoLevel level(s.image);
            CRect rect = s.Rect();
            level.DoAutoStretch(s.Int(-1, 4), s.Flag(), s.Number(), s.Number(), s.Maybe(&rect));
            s.image.SetStretch(level.GetStretch());
        }
        std::vector<int> hist(static_cast<std::size_t>(s.Int(1, 300)));
        CRect rect = s.Rect();
        s.image.GetHistogramDisplay(hist.data(), static_cast<int>(hist.size()), s.Plane(), s.Maybe(&rect));
        // The stretch stays for the rendering calls.
    },
    [](Fuzz& s) {
        StarParams params;
        params.plane = s.Int(-2, 3);
        params.threshold = s.Number();
        params.minArea = s.Int(-1, 20);
        params.deblendContrast = s.Number();
        params.saturation = s.Number();
        params.hfrAperture = s.Number();
        params.fit = s.Bool();
        params.clean = s.Bool();
        params.background.tile = s.Int(-1, 70);
        params.background.filter = s.Int(-1, 6);
        CStarField field(s.Either(&s.image, &s.other));
        field.Detect(params);
        Use(field.GetSummary().hfr);
    },
    [](Fuzz& s) {
        CFocusCurve curve;
        for (int k = s.Int(0, 12); k > 0; --k) {
            curve.Add(s.Number(), s.Number(), s.Bool() ? s.Number() : 0.0);
        }
        Use(curve.Fit().best);
    },
    // The object replaced by another image, changing size and planes.
    [](Fuzz& s) { s.image = s.Image(64); },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        Fuzz s(data, size);
        s.image = s.Image(64);
        for (int p = -1; p < s.image.GetPlanes(); ++p) {
            if (s.Bool()) {
                s.image.SetLevel(p, s.Number(), s.Number());
            }
        }
        s.other = s.Image(80);
        while (s.in.remaining_bytes() > 0) {
            kCalls[s.Int(0, static_cast<int>(std::size(kCalls)) - 1)](s);
            if (s.image.GetVmImage()->GetLockCount() != 0 || s.other.GetVmImage()->GetLockCount() != 0) {
                Fail("a lock was left held");
            }
        }
    }
    if (GdiLiveObjectCount() != 0) {
        Fail("a GDI object was left");
    }
    if (GlobalLiveBlockCount() != 0) {
        Fail("a global block was left");
    }
    return 0;
}
