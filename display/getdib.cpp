// Packed DIB export: the whole image through its display levels as an 8-bit
// grey, 8-bit adaptive-palette or 24-bit bitmap in movable global memory.
// Rows are written over row bands on every core (platform/rowbands.h); the
// palette's colour counts are counted per band and added.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "display/palette.h"
#include "display/rowmap.h"
#include "display/stretchrows.h"
#include "image/kelimage.h"
#include "platform/gdi.h"
#include "platform/rowbands.h"

namespace {

using orbimg::detail::DoubleLevels;
using orbimg::detail::ForEachChunk;
using orbimg::platform::ForRowBands;

constexpr std::uint64_t kMaxBlockBytes = 0xFFFFFFFFull;  // sizes are DWORDs
constexpr std::size_t kColorTableBytes = 256 * sizeof(RGBQUAD);
constexpr int kCountLimit = 32000;

// The global block of one export: header, optional 256-entry colour table,
// bottom-up rows. Locked while the object lives; Release() unlocks it and
// hands it over, otherwise the destructor frees it (an exception on the
// way out leaks nothing).
class PackedDib {
public:
    PackedDib(BITMAPINFOHEADER* header, bool colorTable)
    {
        const int width = header->biWidth;
        m_height = header->biHeight;
        m_stride = static_cast<std::size_t>(orbimg::detail::DibStride(width, header->biBitCount));
        m_pixelBytes = static_cast<std::size_t>(width) * (header->biBitCount / 8);
        header->biSizeImage = static_cast<DWORD>(m_stride * static_cast<std::size_t>(m_height));
        const std::size_t tableBytes = colorTable ? kColorTableBytes : 0;
        m_block = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + tableBytes + header->biSizeImage);
        if (!m_block) {
            return;
        }
        m_data = static_cast<unsigned char*>(GlobalLock(m_block));
        std::memcpy(m_data, header, sizeof(BITMAPINFOHEADER));
        m_rows = m_data + sizeof(BITMAPINFOHEADER) + tableBytes;
    }
    PackedDib(const PackedDib&) = delete;
    PackedDib& operator=(const PackedDib&) = delete;
    ~PackedDib()
    {
        if (m_block) {
            GlobalUnlock(m_block);
            GlobalFree(m_block);
        }
    }

    bool Ok() const { return m_data != nullptr; }
    RGBQUAD* Colors() const { return reinterpret_cast<RGBQUAD*>(m_data + sizeof(BITMAPINFOHEADER)); }
    /// Storage of image row y (stored as row height - 1 - y), its pad bytes
    /// already zero.
    unsigned char* Row(int y) const
    {
        unsigned char* row = m_rows + static_cast<std::size_t>(m_height - 1 - y) * m_stride;
        std::memset(row + m_pixelBytes, 0, m_stride - m_pixelBytes);
        return row;
    }
    HDIB Release()
    {
        GlobalUnlock(m_block);
        HDIB block = m_block;
        m_block = nullptr;
        return block;
    }

private:
    HGLOBAL m_block = nullptr;
    unsigned char* m_data = nullptr;
    unsigned char* m_rows = nullptr;
    std::size_t m_stride = 0;
    std::size_t m_pixelBytes = 0;
    int m_height = 0;
};

DoubleLevels LevelsOf(const CKelImage& image, int plane)
{
    return {image.GetLevelMin(plane), image.GetLevelMax(plane), image.GetLevelRange(plane)};
}

// Colour reduction of an image of three planes: counts the 15-bit colours,
// builds the palette into the block's colour table and writes each pixel's
// palette index.
template <typename Levels>
void ReduceColors(const CKelImage& image, const PackedDib& dib, const Levels* lv)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    // Counts saturate at kCountLimit, so the sum of the bands' saturated
    // counts, saturated again, is the count of one pass over every row.
    std::vector<int> table(orbimg::detail::kColorCodes, 0);
    std::mutex lock;
    ForRowBands(0, height, [&](int begin, int end) {
        std::vector<int> part(orbimg::detail::kColorCodes, 0);
        std::uint16_t codes[orbimg::detail::kRowChunk];
        for (int y = begin; y < end; ++y) {
            ForEachChunk(image, y, 0, width, 3, lv,
                         [&](int, int n, const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b) {
                             orbimg::detail::PackCode15(r, g, b, n, codes);
                             for (int i = 0; i < n; ++i) {
                                 int& count = part[codes[i]];
                                 count += count < kCountLimit ? 1 : 0;
                             }
                         });
        }
        const std::lock_guard<std::mutex> hold(lock);
        for (std::size_t c = 0; c < part.size(); ++c) {
            table[c] = std::min(table[c] + part[c], kCountLimit);
        }
    });

    orbimg::detail::MakePalette(table.data(), dib.Colors());

    ForRowBands(0, height, [&](int begin, int end) {
        std::uint16_t codes[orbimg::detail::kRowChunk];
        for (int y = begin; y < end; ++y) {
            unsigned char* row = dib.Row(y);
            const bool read =
                ForEachChunk(image, y, 0, width, 3, lv,
                             [&](int x, int n, const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b) {
                                 orbimg::detail::PackCode15(r, g, b, n, codes);
                                 unsigned char* out = row + x;
                                 for (int i = 0; i < n; ++i) {
                                     out[i] = static_cast<unsigned char>(table[codes[i]] & 0xFF);
                                 }
                             });
            if (!read) {
                std::memset(row, 0, static_cast<std::size_t>(width));
            }
        }
    });
}

// Rows of grey (one plane) or colour (three planes) as 24-bit pixels.
template <typename Levels>
void WriteRows24(const CKelImage& image, int planes, const PackedDib& dib, const Levels* lv)
{
    const int width = image.GetWidth();
    ForRowBands(0, image.GetHeight(), [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            unsigned char* row = dib.Row(y);
            const bool read =
                ForEachChunk(image, y, 0, width, planes, lv,
                             [&](int x, int n, const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b) {
                                 orbimg::detail::PackBGR24(r, g, b, n, row + static_cast<std::size_t>(x) * 3);
                             });
            if (!read) {
                std::memset(row, 0, static_cast<std::size_t>(width) * 3);
            }
        }
    });
}

// Calls fn(levels) with the image's levels of `planes` planes: DoubleLevels,
// or StretchLevels when a non-linear stretch is set.
template <typename Fn>
void WithLevels(const CKelImage& image, int planes, const Fn& fn)
{
    if (!image.GetStretch().IsLinear()) {
        orbimg::detail::StretchSet stretch;
        orbimg::detail::PrepareStretch(image, planes, stretch);
        fn(static_cast<const orbimg::detail::StretchLevels*>(stretch.lv));
        return;
    }
    const DoubleLevels lv[3] = {LevelsOf(image, 0), LevelsOf(image, planes > 1 ? 1 : 0),
                                LevelsOf(image, planes > 1 ? 2 : 0)};
    fn(static_cast<const DoubleLevels*>(lv));
}

}  // namespace

HDIB CKelImage::GetDib(int bitCount) const
{
    if (bitCount != 8 && bitCount != 24) {
        return nullptr;
    }
    const int width = GetWidth();
    const int height = GetHeight();
    if (width < 1 || height < 1) {
        return nullptr;
    }
    const std::uint64_t imageBytes = orbimg::detail::DibStride(width, bitCount) * static_cast<std::uint64_t>(height);
    if (sizeof(BITMAPINFOHEADER) + kColorTableBytes + imageBytes > kMaxBlockBytes) {
        return nullptr;
    }
    BITMAPINFOHEADER header = orbimg::detail::MakeInfoHeader(width, height, bitCount, 0, 0);
    const bool mono = GetPlanes() == 1;
    if (bitCount == 8) {
        return mono ? GetDib8Mono(&header) : GetDib8Color(&header);
    }
    return mono ? GetDib24Mono(&header) : GetDib24Color(&header);
}

HDIB CKelImage::GetDib8Mono(BITMAPINFOHEADER* header) const
{
    PackedDib dib(header, true);
    if (!dib.Ok()) {
        return nullptr;
    }
    RGBQUAD* colors = dib.Colors();
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(i);
        colors[i] = RGBQUAD{v, v, v, 0};
    }
    const int width = GetWidth();
    WithLevels(*this, 1, [&](const auto* lv) {
        ForRowBands(0, GetHeight(), [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
                unsigned char* row = dib.Row(y);
                const float* src = GetImageAdr(0, y, 0, 1, nullptr);
                if (src) {
                    orbimg::detail::MapRow(src, width, lv[0], row);
                } else {
                    std::memset(row, 0, static_cast<std::size_t>(width));
                }
            }
        });
    });
    return dib.Release();
}

HDIB CKelImage::GetDib8Color(BITMAPINFOHEADER* header) const
{
    PackedDib dib(header, true);
    if (!dib.Ok()) {
        return nullptr;
    }
    WithLevels(*this, 3, [&](const auto* lv) { ReduceColors(*this, dib, lv); });
    return dib.Release();
}

HDIB CKelImage::GetDib24Mono(BITMAPINFOHEADER* header) const
{
    PackedDib dib(header, false);
    if (!dib.Ok()) {
        return nullptr;
    }
    WithLevels(*this, 1, [&](const auto* lv) { WriteRows24(*this, 1, dib, lv); });
    return dib.Release();
}

HDIB CKelImage::GetDib24Color(BITMAPINFOHEADER* header) const
{
    PackedDib dib(header, false);
    if (!dib.Ok()) {
        return nullptr;
    }
    WithLevels(*this, 3, [&](const auto* lv) { WriteRows24(*this, 3, dib, lv); });
    return dib.Release();
}
