// CKelImage: the astronomical image every operation of the library works on.
//
// Conventions
//   - Samples are 32-bit floats (bits per pixel -32), one plane (mono) or
//     three (0 = red, 1 = green, 2 = blue).
//   - Scales: raw = the stored float; 256 scale = (raw - level min) / level
//     range x 255, in double; byte scale = the 256 value clamped to 0..255
//     and truncated (raw <= level min gives 0, raw >= level max gives 255).
//   - Brightness of a colour value: (0.587 G + 0.299 R) + 0.114 B, in double.
//   - Windows are CRect with right and bottom exclusive; null means the whole
//     image; each operation clips to the image.
//   - Nothing reads or writes outside the image, whatever the arguments:
//     single-sample reads outside the image give 0 (0.0 or byte 0), writes
//     outside are dropped.
//   - NaN samples: comparisons and conversions are defined for them. A NaN
//     maps to byte 0; To256 and the float conversions carry NaN through;
//     averages that include a NaN are NaN; GetMaxPixel never picks a NaN.
//   - Plane indices are those of the image; level arrays are read through
//     CImage's accessors (0.0 outside them).
#pragma once

#include "display/stretch.h"
#include "filter/filterproc.h"
#include "image/fpoint.h"
#include "imagecore/image.h"
#include "platform/afx.h"
#include "platform/export.h"

class CMemoryDIB;
class CFilterMatrix;

class ORBIMG_API CKelImage : public CImage {
public:
    /// An image without samples (0 x 0, one plane, -32); points unset.
    CKelImage();
    /// The nine arguments go unchanged to CImage (width, height, planes,
    /// bits per pixel, bscale, bzero, signed, window, text).
    CKelImage(int width, int height, int planes, int bitsPixel, double bscale, double bzero, int isSigned,
              HWND wnd = nullptr, const wchar_t* text = nullptr);
    /// Copies the image and its standard points; the copy's filter slots are
    /// empty and its current slot is its own slot 0.
    CKelImage(const CKelImage& other);
    CKelImage& operator=(const CKelImage& other);
    ~CKelImage() override;

    // ---- standard points and centre ----
    /// Both standard points and the centre return to the unset value: ints
    /// (-1, -1), doubles (-1.0, -1.0). Init, InitStdPt and InitStdPtCtr are
    /// the same operation.
    void Init();
    void InitStdPt() { Init(); }
    void InitStdPtCtr() { Init(); }
    CfPoint GetStdCtr() const { return m_stdCtr; }
    void SetStdCtr(CfPoint pt) { m_stdCtr = pt; }
    void SetStdCtr(double x, double y) { m_stdCtr.Set(x, y); }
    /// Centre ints = (width / 2, height / 2), doubles equal to them.
    void SetDefaultCenter() { m_stdCtr.Set(GetWidth() / 2, GetHeight() / 2); }
    /// Standard point 0 or 1 (another index reads point 0 and writes nothing).
    CfPoint GetStdPt(int index) const { return m_stdPt[(index == 1) ? 1 : 0]; }
    void SetStdPt(int index, CfPoint pt)
    {
        if (index == 0 || index == 1) {
            m_stdPt[index] = pt;
        }
    }

    // ---- progress hooks for the host (never called by the library) ----
    int ShowProgress(int) { return 1; }
    void ShowProgressInit(int, int, int) {}
    void ShowProgressEnd(const wchar_t*) {}

    /// Pastes `src` with its top-left sample at (x, y). Returns 0 (nothing
    /// changed) when the planes or bytes per sample differ, else 1. Columns
    /// from min(x, width - 1) up to min(src width + x, width), rows likewise
    /// (so an offset at or past the last column or row writes that column or
    /// row from the source's first). A negative offset skips the source's
    /// leading columns or rows that fall left of or above the image. An empty
    /// source or destination copies nothing (result 1).
    int Copy(const CKelImage* src, int x, int y, HWND = nullptr, const char* = nullptr);

    /// Address of sample (x, y) of the plane as a float; null outside.
    float* GetImageAdr(int x, int y, int plane, unsigned int mode, void** handle) const
    {
        return reinterpret_cast<float*>(CImage::GetImageAdr(x, y, plane, mode, handle));
    }

    // ---- raw scale ----
    float GetPixelGrayRaw(float* p) const { return *p; }
    /// The sample at (x, y); 0.0 outside the image.
    float GetPixelGrayRaw(int x, int y, int plane);
    /// Bilinear sample at (x, y), in double, rounded to float. x at or past
    /// the last column samples the last column (y likewise). Negative or NaN
    /// coordinates are clamped to 0; a one-column or one-row image
    /// interpolates along the other axis only; an empty image gives 0.0.
    float GetPixelGrayRaw(double x, double y, int plane);
    void SetPixelGrayRaw(float* p, float v) { *p = v; }

    // ---- 256 scale, never clamped ----
    /// v on the plane's display scale: (v - level min) / level range x 255,
    /// in double, rounded to float; values outside the levels go below 0 or
    /// above 255. A level range of 0 gives +inf or -inf (NaN for v equal to
    /// the level minimum); NaN stays NaN.
    float To256(float v, int plane) const;
    /// To256 of the sample at p.
    float GetPixelGray256f(float* p, int plane) { return To256(*p, plane); }
    /// 0.0 outside the image.
    float GetPixelGray256f(int x, int y, int plane);
    /// (value at p - lo) x factor, in float.
    float GetPixelGray256f(float* p, float lo, float factor) const;
    /// Stores ToRaw(v, plane) at p.
    void SetPixelGray256f(float* p, float v, int plane) { *p = ToRaw(v, plane); }
    /// The inverse of To256: v / 255 x level range + level min, in double
    /// (the float form rounds the result to float). A level range of 0 gives
    /// the level minimum for every finite v; NaN stays NaN.
    float ToRaw(float v, int plane) const;
    double ToRaw(double v, int plane) const;

    // ---- byte scale ----
    /// Clamped byte of the float at p, in double; NaN gives 0.
    unsigned char GetPixelGray256(float* p, int plane) const;
    /// 0 outside the image.
    unsigned char GetPixelGray256(int x, int y, int plane);
    /// In float: 0 when lo >= v, 255 when v >= hi, else (v - lo) x factor
    /// truncated; NaN gives 0, and a product outside 0..255 (a factor that
    /// does not match lo and hi) saturates.
    unsigned char GetPixelGray256(float* p, float lo, float hi, float factor) const;
    /// Clamped byte of the bilinear sample.
    unsigned char GetPixelGray256(double x, double y, int plane);

    // ---- brightness ----
    /// Weights of the brightness (luminance) of a colour value, everywhere
    /// the library and the tool compute one: (kBrightG g + kBrightR r) +
    /// kBrightB b, in double, in that order.
    static constexpr double kBrightR = 0.299;
    static constexpr double kBrightG = 0.587;
    static constexpr double kBrightB = 0.114;
    /// (0.587 g + 0.299 r) + 0.114 b, in double.
    double CalcBright(double r, double g, double b) const;
    /// Mono: display value of *r on plane 0 (g and b not read). Colour: each
    /// value to its plane's display value, rounded to float, then brightness.
    float GetPixelBright256f(float* r, float* g, float* b);
    /// 0.0 outside the image.
    float GetPixelBright256f(int x, int y);
    float GetPixelBrightRaw(float* r, float* g, float* b);

    // ---- levels, averages, regions ----
    /// Display window of a plane. Plane -1 on a colour image moves all three
    /// windows by the same fraction of their own ranges as plane 0's ends
    /// move; when plane 0's range is 0 (or not finite) that fraction does not
    /// exist and every plane is set to (min, max). Plane -1 on a mono image
    /// sets plane 0.
    void SetLevel(int plane, double min, double max);
    /// Mean of all samples of the plane (double sum, / width / height); 0.0
    /// for an image without samples; NaN when a sample is NaN.
    float GetAvrGrayRaw(int plane);
    /// GetAvrGrayRaw(plane) minus the plane's level minimum (rounded to
    /// float), in float: the mean above the display's black point, on the
    /// raw scale. NaN when a sample is NaN.
    float GetAvrGray(int plane);
    /// To256 of GetAvrGrayRaw(plane): the mean on the display scale (not
    /// clamped; a level range of 0 gives an infinity).
    float GetAvrGray256f(int plane);
    /// Clips rect to the image (each coordinate raised to 0, then lowered to
    /// the width or height; not reordered); null gives the whole image.
    void NormalizeRect(CRect* rect, int& left, int& top, int& right, int& bottom);

    // ---- histograms ----
    /// Counts a window of one plane (or, with plane -1 on a colour image, of
    /// the display luminance) into hist[0 .. bins - 1], cleared first. A
    /// sample v counts when lo <= v <= hi (hi lands in the top bin), in bin
    /// trunc((v - lo) x bins / (hi - lo)) clamped to 0 .. bins - 1; NaN
    /// samples never count. Luminance: each plane (s - min_p) x (255 /
    /// range_p) in float, then 0.587 G' + 0.299 R' + 0.114 B' in double, with
    /// lo and hi (rounded to float) taken to the same scale by plane 0's
    /// levels and rounded to float; the scale bins / (hi' - lo') is computed
    /// in double. Plane -1 on a mono image counts plane 0.
    /// cull != 0 with a cull grid that is not the whole image counts the grid
    /// points only (the rectangle plays no part) and scales every bin by
    /// width x height / N, truncated; grid indexes outside the image are
    /// skipped and N counts the points read (valid rows x valid columns).
    /// logScale != 0 turns every bin c into trunc(10000 log10(c)); an empty
    /// bin stays 0. Returns the highest bin (peakHeight != 0) or the nominal
    /// height trunc(2 x width x height / bins) of the whole image. bins below
    /// 1: nothing is counted or written, the result is 0. The two trailing
    /// ints are ignored. Rows are counted in bands on every core (private
    /// counters per band), serially when CVmManager::GetCurrentSwapSize() !=
    /// 0; both give the same counts.
    int GetHistogram(int* const hist, int bins, double lo, double hi, int plane, int logScale, int peakHeight, int cull,
                     CRect* rect, int, int);
    /// The three planes of a colour image into histR, histG, histB, each as
    /// a single plane of GetHistogram (same lo, hi, bins, grid, log mode).
    /// Returns -1 (arrays untouched) on a mono image; otherwise the highest
    /// bin of the three arrays or the nominal height. Without the grid the
    /// window is counted in ten row chunks in parallel (private partial
    /// histograms), serially when CVmManager::GetCurrentSwapSize() != 0; both
    /// give the same counts. bins below 1: nothing written, result 0. The two
    /// double pointers and the two trailing ints are neither read nor written.
    int GetHistogramRGB(int* const histR, int* const histG, int* const histB, int bins, double lo, double hi,
                        double* const, double* const, int logScale, int peakHeight, int cull, CRect* rect, int, int);

    // ---- display ----
    /// The display transfer function applied after the levels by ToDIB,
    /// GetDib and GetHistogramDisplay (display/stretch.h has the functions,
    /// their parameters and ranges). Linear by default, which renders
    /// exactly as the levels alone; copied with the image.
    void SetStretch(const CDisplayStretch& stretch) { m_stretch = stretch; }
    const CDisplayStretch& GetStretch() const { return m_stretch; }
    /// Counts the display values (on the 0..255 scale, after the levels and
    /// the stretch, computed as ToDIB computes them before truncating to a
    /// byte) of a window of one plane into hist[0 .. bins - 1], cleared
    /// first: a value u lands in bin trunc(u x (bins / 255)) in float, 255 in
    /// the top bin (with 255 bins, bin = the byte ToDIB draws, 255 joining
    /// 254). Samples at or below the level minimum count as 0, at or above
    /// the maximum as 255; NaN samples never count. Plane -1 on a colour
    /// image counts the display luminance 0.587 G' + 0.299 R' + 0.114 B' of
    /// the display values (a pixel with a NaN plane does not count); on a
    /// mono image plane 0. rect as NormalizeRect clips it (null: the whole
    /// image). Returns the highest bin; 0 (nothing written) for bins below 1
    /// or a plane the image does not have.
    int GetHistogramDisplay(int* hist, int bins, int plane, CRect* rect);
    /// Draws the image through its levels, in single precision, into a
    /// created bitmap of 8 (grey, or 3-3-2 colour index), 16 (5-5-5 with +4
    /// where x + y is even, in image coordinates), 24 or 32 bits (the fourth
    /// byte untouched); other depths, an empty or null bitmap: nothing.
    /// rect is clipped to the bitmap (null: the whole bitmap) and not
    /// modified. Image pixel (x, y) goes to bitmap pixel (x, y): of a bitmap
    /// larger than the image only the part the image covers is drawn, and
    /// pixels outside the window keep their content. NaN samples draw as 0.
    /// A non-linear stretch (GetStretch) is applied after the levels, at
    /// every depth. Rows are drawn in bands on every core at every depth,
    /// serially while part of the sample store is swapped out, with the same
    /// bytes either way. The last argument is ignored.
    void ToDIB(CMemoryDIB* dib, CRect* rect, int);
    /// The whole image through its levels, in double precision, as a packed
    /// DIB in a movable global block owned by the caller (a non-linear
    /// stretch is applied after the levels, in single precision as ToDIB
    /// does): 8 bits (a grey
    /// ramp for one plane, an adaptive 256-colour palette otherwise) or 24
    /// bits; rows bottom-up, padded to 4 bytes with zeros. NaN samples map to
    /// 0. Null for another bit count, an image without pixels, a packed size
    /// beyond 32 bits, or a failed allocation. Rows are written (and the
    /// palette's colours counted) in bands on every core, serially when
    /// CVmManager::GetCurrentSwapSize() != 0, with the same bytes.
    HDIB GetDib(int bitCount) const;

    // ---- filter slots (filter/filterslots.cpp) ----
    // Three slots (one CFilterProc per plane 0..2, with a current slot) and
    // six extended slots 0..5 (CFilterProcEx). A build on a slot that is
    // already built changes nothing; ClearFilterProc empties them all. Slot,
    // index and plane arguments outside their ranges build nothing (result
    // 0) and calculate 0.0.
    /// Builds slot `plane` from `image` unless built; 0 for a plane outside 0..2.
    int MakeFilterProc(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise);
    /// Current slot = slot `plane`; outside 0..2 selects slot 0.
    void SetFilterProcPln(int plane);
    /// Empties every slot; the selections stay.
    void ClearFilterProc();
    /// Make(image, matrix, plane, normalise) on extended slot `index`.
    int MakeFilterProcEx(int index, CKelImage* image, CFilterMatrix* matrix, int plane, int normalise);
    /// SetPln(plane) on extended slot `index`.
    void SetFilterProcPlnEx(int index, int plane);
    /// The filtered value at (x, y) of the current slot, on the raw scale of
    /// its plane (CFilterProc::Calc: rows mirror, 0.0 for x outside the image
    /// or an empty slot).
    float CalcFilterProc(int x, int y);
    /// The same from slot `plane`; 0.0 for a plane outside 0..2.
    float CalcFilterProc(int x, int y, int plane);
    /// CalcFilterProc of extended slot `index`; 0.0 for an index outside 0..5.
    float CalcFilterProcEx(int index, int x, int y);
    float CalcFilterProcEx(int index, int x, int y, int plane);

protected:
    /// Becomes what assignment from `other` makes of it (record, standard
    /// points, empty filter slots) but with zeroed samples of width x height
    /// instead of a copy of `other`'s: the start of an operation that
    /// overwrites every sample (`overwrite`: a store of the same shape is
    /// kept, as CImage::TakeRecord says). Returns 0 and changes nothing when
    /// width or height is below 1, `other` is this image, or the samples
    /// cannot be allocated.
    int TakeRecord(const CKelImage& other, int width, int height, bool overwrite = false);
    /// Largest sample of the plane in the clipped window and its position;
    /// (x, y) stays (-1, -1) when no sample exceeds the window's first sample.
    /// A window wholly outside the image gives 0.0 and (-1, -1), reading
    /// nothing. NaN samples are never picked; a NaN first sample does not
    /// count as a maximum (the first sample that is not NaN is then taken).
    float GetMaxPixel(int plane, CRect* rect, int& x, int& y);
    /// Largest of hist[0 .. bins - 1]; 0 for bins below 1.
    int GetHeightOfHistogram(int* hist, int bins);
    /// CalcRows(x, y, count, rows, out) of extended slot `index` (its current
    /// processor): the values CalcFilterProcEx gives, whole rows at a time;
    /// 0 (values 0.0) for an index outside 0..5.
    int CalcFilterProcExRows(int index, int x, int y, int count, int rows, float* out);

private:
    HDIB GetDib8Mono(BITMAPINFOHEADER* header) const;
    HDIB GetDib8Color(BITMAPINFOHEADER* header) const;
    HDIB GetDib24Mono(BITMAPINFOHEADER* header) const;
    HDIB GetDib24Color(BITMAPINFOHEADER* header) const;

    CfPoint m_stdPt[2];
    CfPoint m_stdCtr;
    CFilterProc m_filterProc[3];
    CFilterProc* m_curFilterProc;
    CFilterProcEx m_filterProcEx[6];
    CDisplayStretch m_stretch;
};
