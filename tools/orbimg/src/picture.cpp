// Auto levels through CImgAutoLevel and pictures through GetDib.
#include "picture.h"

#include <algorithm>
#include <cmath>

#include "dibfile.h"
#include "planestats.h"
#include "tool.h"

namespace orbimg::tool {

const char* MethodName(AutoLevelMethod method)
{
    switch (method) {
    case AutoLevelMethod::Range:
        return "range";
    case AutoLevelMethod::Mean:
        return "mean";
    case AutoLevelMethod::Median:
        break;
    }
    return "median";
}

Levels GetLevels(const CKelImage& image)
{
    Levels levels;
    levels.planes = std::clamp(image.GetPlanes(), 1, 3);
    for (int p = 0; p < levels.planes; ++p) {
        levels.min[p] = image.GetLevelMin(p);
        levels.max[p] = image.GetLevelMax(p);
    }
    return levels;
}

void PutLevels(CKelImage& image, const Levels& levels)
{
    for (int p = 0; p < std::min(levels.planes, image.GetPlanes()); ++p) {
        image.SetLevel(p, levels.min[p], levels.max[p]);
    }
}

void ApplyAutoLevel(CImgAutoLevel& image, AutoLevelMethod method, double low, double high, bool perPlane,
                    const CRect* window)
{
    CRect rect;
    if (window) {
        rect = *window;
    }
    image.Do(low, high, static_cast<int>(method), perPlane ? 1 : 0, window ? &rect : nullptr);
}

bool MendLevels(CKelImage& image)
{
    bool changed = false;
    for (int p = 0; p < std::min(image.GetPlanes(), 3); ++p) {
        double lo = image.GetLevelMin(p);
        double hi = image.GetLevelMax(p);
        if (std::isfinite(lo) && std::isfinite(hi) && hi > lo) {
            continue;
        }
        const auto extremes = FiniteExtremes(image, p);
        if (!std::isfinite(lo)) {
            lo = extremes ? extremes->first : 0.0;
        }
        if (!std::isfinite(hi)) {
            hi = extremes ? extremes->second : LevelAbove(lo);
        }
        if (!(hi > lo)) {
            hi = lo + std::max(1.0, std::abs(lo) * 1e-6);
        }
        image.SetLevel(p, lo, hi);
        changed = true;
    }
    return changed;
}

GlobalDib::~GlobalDib()
{
    if (m_bytes) {
        GlobalUnlock(m_block);
    }
    if (m_block) {
        GlobalFree(m_block);
    }
}

const void* GlobalDib::Bytes()
{
    if (!m_bytes && m_block) {
        m_bytes = GlobalLock(m_block);
    }
    return m_bytes;
}

std::size_t GlobalDib::Size() const { return m_block ? GlobalSize(m_block) : 0; }

namespace {

GlobalDib MakeDib(const std::string& path, const CKelImage& image, int bitCount)
{
    GlobalDib dib(image.GetDib(bitCount));
    if (!dib.Bytes()) {
        throw ToolError("cannot write '" + path + "': the bitmap could not be made (" +
                        std::to_string(image.GetWidth()) + " x " + std::to_string(image.GetHeight()) + ", " +
                        std::to_string(bitCount) + " bits)");
    }
    return dib;
}

void WriteDib(const std::string& path, GlobalDib& dib, bool bmp, int pngLevel)
{
    if (bmp) {
        WriteBmpFile(path, dib.Bytes(), dib.Size());
    } else {
        WritePngFile(path, dib.Bytes(), dib.Size(), pngLevel);
    }
}

}  // namespace

void WritePicture(const std::string& path, const CKelImage& image, int bitCount, bool bmp, int pngLevel)
{
    GlobalDib dib = MakeDib(path, image, bitCount);
    WriteDib(path, dib, bmp, pngLevel);
}

void WritePicture(const std::string& path, std::unique_ptr<CKelImage>& image, int bitCount, bool bmp, int pngLevel)
{
    GlobalDib dib = MakeDib(path, *image, bitCount);
    image.reset();
    WriteDib(path, dib, bmp, pngLevel);
}

}  // namespace orbimg::tool
