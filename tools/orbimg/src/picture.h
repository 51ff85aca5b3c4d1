// Display levels and pictures: the auto-level methods as the tool offers
// them, and an image written as a BMP or PNG through CKelImage::GetDib.
//
// Conventions
//   - Levels are per plane (up to three), in raw sample units, as
//     CKelImage::SetLevel stores them.
//   - The auto-level methods are CImgAutoLevel::Do's: 0 range (fractions of
//     the extreme range, or percentiles for parameters inside 0..1), 1 mean
//     (standard deviations), 2 median (root-mean-square deviations from the
//     median). Without per-plane levelling a colour image is levelled by its
//     display luminance, the three planes linked.
//   - Usable levels: both ends finite and max > min. A flat or empty window
//     can leave other levels; MendLevels makes them usable (the picture is
//     then black where the samples are at the minimum).
//   - Pictures: GetDib(8 or 24) of the whole image through its levels, row 0
//     at the top as the picture is seen; the global block is always unlocked
//     and freed, whatever happens while it is written.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "dibfile.h"
#include "orbimg.h"

namespace orbimg::tool {

enum class AutoLevelMethod { Range = 0, Mean = 1, Median = 2 };

/// "range", "mean" or "median".
const char* MethodName(AutoLevelMethod method);

/// The display levels of every plane of an image.
struct Levels {
    int planes = 1;
    std::array<double, 3> min{};
    std::array<double, 3> max{};
};
Levels GetLevels(const CKelImage& image);
/// Installs the levels plane by plane.
void PutLevels(CKelImage& image, const Levels& levels);

/// CImgAutoLevel::Do with this method and its parameters over `window`
/// (library coordinates; null for the whole image).
void ApplyAutoLevel(CImgAutoLevel& image, AutoLevelMethod method, double low, double high, bool perPlane,
                    const CRect* window);

/// Makes every plane's levels usable (see Conventions): a non-finite end is
/// replaced by the plane's finite extreme, and max <= min becomes a window
/// above min of width 1 (or a millionth of |min| when that is larger).
/// Returns true when a level changed.
bool MendLevels(CKelImage& image);

/// A packed DIB in a movable global block, owned: unlocked and freed by the
/// destructor.
class GlobalDib {
public:
    explicit GlobalDib(HDIB block) : m_block(block) {}
    ~GlobalDib();
    GlobalDib(const GlobalDib&) = delete;
    GlobalDib(GlobalDib&& other) noexcept : m_block(other.m_block), m_bytes(other.m_bytes)
    {
        other.m_block = nullptr;
        other.m_bytes = nullptr;
    }
    GlobalDib& operator=(const GlobalDib&) = delete;

    bool Valid() const { return m_block != nullptr; }
    /// The bytes of the block (locked once, on the first call) and their count.
    const void* Bytes();
    std::size_t Size() const;

private:
    HDIB m_block;
    void* m_bytes = nullptr;
};

/// Writes the whole image through its levels as a BMP (the packed DIB behind
/// a file header) or a PNG of the same pixels, compressed at `pngLevel`
/// (dibfile.h). bitCount 8 (grey ramp for a mono image, adaptive 256-colour
/// palette for a colour one) or 24. Throws ToolError when the bitmap cannot
/// be made or the file cannot be written; no file is left behind then.
void WritePicture(const std::string& path, const CKelImage& image, int bitCount, bool bmp,
                  int pngLevel = kDefaultPngLevel);
/// As above, and frees the image once its bitmap is made (before the file is
/// written), so that the frame and the encoder's buffers are not held at once.
void WritePicture(const std::string& path, std::unique_ptr<CKelImage>& image, int bitCount, bool bmp,
                  int pngLevel = kDefaultPngLevel);

}  // namespace orbimg::tool
