// Row helpers shared by the transform operations (not exported).
//
// Conventions
//   - The transforms read and write 32-bit float samples only; an image with
//     another sample size is never addressed as floats.
//   - "Covers" and "SameGeometry" are the checks an operation makes before it
//     reads a source at the destination's coordinates.
//   - LockedRow (one plane) and LockedRows (every plane) fetch a destination
//     row read-write and locked (mode 2) and release the locks with their
//     handles when they go out of scope, so no path (early return, exception)
//     leaves a lock behind.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "image/kelimage.h"

namespace orbimg::detail {

/// The image stores 4-byte samples, read and written here as floats.
inline bool HoldsFloats(const CImage& image) { return image.GetBytesPixel() == static_cast<int>(sizeof(float)); }

/// `src` can be read at every sample and plane of `dst` (both hold floats).
inline bool Covers(const CImage& src, const CImage& dst)
{
    return HoldsFloats(src) && HoldsFloats(dst) && src.GetWidth() >= dst.GetWidth() &&
           src.GetHeight() >= dst.GetHeight() && src.GetPlanes() >= dst.GetPlanes();
}

/// Same width, height and planes, at least one sample, both holding floats.
inline bool SameGeometry(const CImage& a, const CImage& b)
{
    return HoldsFloats(a) && HoldsFloats(b) && a.GetWidth() == b.GetWidth() && a.GetHeight() == b.GetHeight() &&
           a.GetPlanes() == b.GetPlanes() && a.GetWidth() > 0 && a.GetHeight() > 0;
}

/// `src` holds floats and has at least one sample.
inline bool UsableSource(const CImage& src) { return HoldsFloats(src) && src.GetWidth() > 0 && src.GetHeight() > 0; }

/// An operation that works at the object's size takes `src`'s size instead:
/// `src` is usable and the object is empty, or holds floats and is smaller
/// than `src` along some axis (width, height, planes) and larger along none.
inline bool TakesSourceSize(const CImage& src, const CImage& dst)
{
    if (!UsableSource(src) || &src == &dst) {
        return false;
    }
    if (dst.GetWidth() < 1 || dst.GetHeight() < 1) {
        return true;
    }
    return HoldsFloats(dst) && dst.GetWidth() <= src.GetWidth() && dst.GetHeight() <= src.GetHeight() &&
           dst.GetPlanes() <= src.GetPlanes() && !SameGeometry(src, dst);
}

// Branch-free selection for row kernels. Written as bit operations because
// a float comparison or a conditional float sum may raise a floating-point
// flag, which keeps the compiler from evaluating both sides and blending
// them; these keep loops with per-sample choices vectorisable without
// changing any value.

/// All ones when v is not 0.0 (of either sign; NaN counts as not 0), else 0.
inline std::uint32_t NonZeroMask(float v)
{
    return 0u - static_cast<std::uint32_t>((std::bit_cast<std::uint32_t>(v) & 0x7fffffffu) != 0);
}

/// `a` where `mask` is all ones, `b` where it is 0.
inline float Pick(std::uint32_t mask, float a, float b)
{
    return std::bit_cast<float>((std::bit_cast<std::uint32_t>(a) & mask) | (std::bit_cast<std::uint32_t>(b) & ~mask));
}

/// Row y of a plane, fetched read-write and locked; unlocked on destruction.
class LockedRow {
public:
    LockedRow(CKelImage& image, int y, int plane) : m_image(image)
    {
        m_row = image.GetImageAdr(0, y, plane, 2, &m_handle);
    }
    LockedRow(const LockedRow&) = delete;
    LockedRow& operator=(const LockedRow&) = delete;
    ~LockedRow()
    {
        if (m_row) {
            m_image.Unlock(m_handle);
        }
    }
    /// The row's first sample; null when the row does not exist.
    float* get() const { return m_row; }

private:
    CKelImage& m_image;
    void* m_handle = nullptr;
    float* m_row = nullptr;
};

/// Row y of every plane, fetched read-write and locked, one handle per plane;
/// all unlocked on destruction.
class LockedRows {
public:
    LockedRows(CKelImage& image, int y) : m_image(image), m_rows(image.GetPlanes()), m_handles(image.GetPlanes())
    {
        for (int p = 0; p < image.GetPlanes(); ++p) {
            m_rows[p] = image.GetImageAdr(0, y, p, 2, &m_handles[p]);
        }
    }
    LockedRows(const LockedRows&) = delete;
    LockedRows& operator=(const LockedRows&) = delete;
    ~LockedRows()
    {
        for (std::size_t p = 0; p < m_rows.size(); ++p) {
            if (m_rows[p]) {
                m_image.Unlock(m_handles[p]);
            }
        }
    }
    /// The row of plane p; null when the row does not exist.
    float* get(int plane) const { return m_rows[plane]; }

private:
    CKelImage& m_image;
    std::vector<float*> m_rows;
    std::vector<void*> m_handles;
};

}  // namespace orbimg::detail
