// Debayering: the public operation, the bilinear and super-pixel kernels and
// the band driver shared with RCD (colour/rcd.cpp).
#include "colour/debayer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "colour/mosaicrows.h"
#include "platform/ppl.h"
#include "platform/rowbands.h"

namespace orbimg::detail {

BayerPhase PhaseOf(int pattern, int xOffset, int yOffset)
{
    // Letter of the red site within the cell, row by row.
    static constexpr int kRedLetter[4] = {0, 3, 1, 2};  // RGGB, BGGR, GRBG, GBRG
    const int letter = kRedLetter[pattern];
    return {((letter & 1) + (xOffset & 1)) & 1, ((letter >> 1) + (yOffset & 1)) & 1};
}

MosaicRows RowsAround(const CKelImage& mosaic, int y)
{
    return {mosaic.GetImageAdr(0, y - 1, 0, 1, nullptr), mosaic.GetImageAdr(0, y, 0, 1, nullptr),
            mosaic.GetImageAdr(0, y + 1, 0, 1, nullptr), mosaic.GetWidth()};
}

float BilinearAt(const MosaicRows& rows, BayerPhase ph, int x, int y, int plane)
{
    if (SiteColour(ph, x, y) == plane) {
        return rows.row[x];
    }
    const float* window[3] = {rows.up, rows.row, rows.down};
    float sum = 0.0f;
    int count = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        const float* r = window[dy + 1];
        if (!r) {
            continue;
        }
        for (int dx = -1; dx <= 1; ++dx) {
            const int xx = x + dx;
            if ((dx == 0 && dy == 0) || xx < 0 || xx >= rows.width || SiteColour(ph, xx, y + dy) != plane) {
                continue;
            }
            const float v = r[xx];
            if (v != v) {
                continue;
            }
            // The first term is taken as it is (0.0f + v would turn -0 into +0).
            sum = count == 0 ? v : sum + v;
            ++count;
        }
    }
    return count == 0 ? std::numeric_limits<float>::quiet_NaN() : sum / static_cast<float>(count);
}

void BilinearRows(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, int y0, int y1)
{
    const int width = mosaic.GetWidth();
    const int height = mosaic.GetHeight();
    for (int y = y0; y < y1; ++y) {
        const MosaicRows rows = RowsAround(mosaic, y);
        float* out[3] = {dst.GetImageAdr(0, y, 0, 0, nullptr), dst.GetImageAdr(0, y, 1, 0, nullptr),
                         dst.GetImageAdr(0, y, 2, 0, nullptr)};
        const bool interior = y > 0 && y < height - 1 && width >= 3;
        if (interior) {
            const bool redRow = ((y ^ ph.ry) & 1) == 0;
            float* outA = redRow ? out[0] : out[2];
            float* outC = redRow ? out[2] : out[0];
            BilinearInteriorRow(rows.up, rows.row, rows.down, width, redRow ? ph.rx : (ph.rx ^ 1), outA, out[1], outC);
            for (const int x : {0, width - 1}) {
                for (int p = 0; p < 3; ++p) {
                    out[p][x] = BilinearAt(rows, ph, x, y, p);
                }
            }
            // A NaN among the neighbours made a mean NaN: take the finite ones.
            if (CountNaN(out[0], out[1], out[2], width) == 0) {
                continue;
            }
        }
        for (int x = 0; x < width; ++x) {
            for (int p = 0; p < 3; ++p) {
                if (!interior || out[p][x] != out[p][x]) {
                    out[p][x] = BilinearAt(rows, ph, x, y, p);
                }
            }
        }
    }
}

void SuperPixelRows(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, int y0, int y1)
{
    const int n = dst.GetWidth();
    for (int y = y0; y < y1; ++y) {
        SuperPixelRow(mosaic.GetImageAdr(0, 2 * y, 0, 1, nullptr), mosaic.GetImageAdr(0, 2 * y + 1, 0, 1, nullptr), n,
                      ph, dst.GetImageAdr(0, y, 0, 0, nullptr), dst.GetImageAdr(0, y, 1, 0, nullptr),
                      dst.GetImageAdr(0, y, 2, 0, nullptr));
    }
}

namespace {

float FromKey(std::int32_t key)
{
    const std::int32_t bits = key ^ ((key >> 31) & 0x7fffffff);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

RcdScale MeasureRcdScale(const CKelImage& mosaic)
{
    const int width = mosaic.GetWidth();
    const int height = mosaic.GetHeight();
    constexpr int kBand = 64;
    const int bands = (height + kBand - 1) / kBand;
    std::vector<std::int32_t> lows(static_cast<std::size_t>(bands), std::numeric_limits<std::int32_t>::max());
    std::vector<std::int32_t> highs(static_cast<std::size_t>(bands), std::numeric_limits<std::int32_t>::min());
    auto band = [&](int k) {
        for (int y = k * kBand; y < std::min(height, (k + 1) * kBand); ++y) {
            KeyExtremes(mosaic.GetImageAdr(0, y, 0, 1, nullptr), width, &lows[static_cast<std::size_t>(k)],
                        &highs[static_cast<std::size_t>(k)]);
        }
    };
    if (CVmManager::GetCurrentSwapSize() != 0) {
        for (int k = 0; k < bands; ++k) {
            band(k);
        }
    } else {
        Concurrency::parallel_for(0, bands, band);
    }
    const std::int32_t low = *std::min_element(lows.begin(), lows.end());
    const std::int32_t high = *std::max_element(highs.begin(), highs.end());
    if (low > high) {  // no finite sample
        return {0.0f, 1.0f, 1.0f, -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity()};
    }
    const float lo = std::min(FromKey(low), 0.0f);
    float range = FromKey(high) - lo;
    if (!(range > 0.0f)) {
        range = 1.0f;
    } else if (!(range < std::numeric_limits<float>::infinity())) {
        range = std::numeric_limits<float>::max();
    }
    return {lo, range, 1.0f / range, FromKey(low), FromKey(high)};
}

}  // namespace orbimg::detail

namespace {

using orbimg::detail::BayerPhase;

constexpr int kBandRows = 64;     // bilinear and super-pixel
constexpr int kRcdBandRows = 96;  // RCD: rows of one tile
constexpr int kRcdTileColumns = 256;

// Calls fn(y0, y1) for bands of `bandRows` rows covering 0 .. rows - 1, on
// the task scheduler unless part of the sample store is swapped out.
template <typename Fn>
void ForBands(int rows, int bandRows, const Fn& fn)
{
    const int bands = (rows + bandRows - 1) / bandRows;
    auto band = [&](int k) { fn(k * bandRows, std::min(rows, (k + 1) * bandRows)); };
    if (CVmManager::GetCurrentSwapSize() != 0 || bands < 2) {
        for (int k = 0; k < bands; ++k) {
            band(k);
        }
        return;
    }
    Concurrency::parallel_for(0, bands, band);
}

}  // namespace

CImgDebayer::~CImgDebayer() = default;

int CImgDebayer::Do(CKelImage* src, int pattern, int xOffset, int yOffset, int method)
{
    if (!src || pattern < kRGGB || pattern > kGBRG || method < kBilinear || method > kSuperPixel ||
        src->GetBytesPixel() != static_cast<int>(sizeof(float)) || src->GetWidth() < 1 || src->GetHeight() < 1) {
        return 0;
    }
    const int width = src->GetWidth();
    const int height = src->GetHeight();
    if (method == kSuperPixel && (width < 2 || height < 2)) {
        return 0;
    }
    if (src == this) {
        // Re-dimensioning discards the samples: work from a copy.
        CKelImage copy(*this);
        return Do(&copy, pattern, xOffset, yOffset, method);
    }
    Init();
    const int outWidth = method == kSuperPixel ? width / 2 : width;
    const int outHeight = method == kSuperPixel ? height / 2 : height;
    if (GetPlanes() != 3 || GetBytesPixel() != static_cast<int>(sizeof(float))) {
        // Shrink first, so that the change of planes and format moves little.
        if (GetWidth() > 0 && GetHeight() > 0 && !ChangeSize(1, 1, nullptr, nullptr)) {
            return 0;
        }
        SetBitsPixel(-32);
        SetPlanes(3);
    }
    SetBitsPixel(-32);
    if ((GetWidth() != outWidth || GetHeight() != outHeight) && !ChangeSize(outWidth, outHeight, nullptr, nullptr)) {
        return 0;
    }
    for (int p = 0; p < 3; ++p) {
        CImage::SetLevel(p, src->GetLevelMin(0), src->GetLevelMax(0));
    }

    const BayerPhase ph = orbimg::detail::PhaseOf(pattern, xOffset, yOffset);
    const CKelImage& mosaic = *src;
    switch (method) {
    case kBilinear:
        ForBands(height, kBandRows, [&](int y0, int y1) { orbimg::detail::BilinearRows(mosaic, *this, ph, y0, y1); });
        break;
    case kSuperPixel:
        ForBands(outHeight, kBandRows,
                 [&](int y0, int y1) { orbimg::detail::SuperPixelRows(mosaic, *this, ph, y0, y1); });
        break;
    default: {
        const orbimg::detail::RcdScale scale = orbimg::detail::MeasureRcdScale(mosaic);
        // One workspace per thread, made on the thread's first tile.
        orbimg::platform::PerThread<orbimg::detail::RcdWorkspace> spaces;
        ForBands(height, kRcdBandRows, [&](int y0, int y1) {
            auto& space = spaces.Get([] { return orbimg::detail::RcdWorkspace(); });
            orbimg::detail::RcdRows(mosaic, *this, ph, scale, y0, y1, kRcdTileColumns, space);
        });
        break;
    }
    }
    return 1;
}

int CImgDebayer::PatternFromName(const char* name)
{
    if (!name) {
        return -1;
    }
    std::string text(name);
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (int p = kRGGB; p <= kGBRG; ++p) {
        if (text == PatternName(p)) {
            return p;
        }
    }
    return -1;
}

const char* CImgDebayer::PatternName(int pattern)
{
    static const char* const kNames[] = {"RGGB", "BGGR", "GRBG", "GBRG"};
    return pattern >= kRGGB && pattern <= kGBRG ? kNames[pattern] : "";
}
