// CBaseDIB and CMemoryDIB: an off-screen bitmap of the display's depth (a DIB
// section selected into a memory DC) whose pixel bits the library writes
// directly and the host draws through GetDC().
//
// Conventions
//   - Depth: always the depth of the window's display at Create (1, 4, 8,
//     16, 24 or 32 bits; other depths fail in CreateDIBSection).
//   - Storage is bottom-up: row y = 0 is the top of the picture and is
//     stored last; row y starts at bits + (height - y - 1) x stride, and the
//     stride is width x bit count rounded up to a multiple of 32 bits.
//   - Colours arrive as COLORREF: red in the low byte, green in bits 8..15,
//     blue in bits 16..23. 16-bit pixels are 5-5-5 with bit 15 zero; 24- and
//     32-bit pixels are blue, green, red (the fourth byte of a 32-bit pixel
//     is never written).
//   - Addressing is checked: GetImageAdrN(x, y) is null for an empty bitmap
//     and for x or y outside it, and the (x, y) pixel writers then write
//     nothing. The pointer writers write where they are told.
//   - An empty bitmap (after construction, Empty, or a failed Create or
//     assignment) holds no header, bitmap or DC and has width and height 0.
//   - GDI objects are used from one thread; disjoint rows of the bits may be
//     written from several threads at once.
#pragma once

#include <memory>

#include "platform/afx.h"
#include "platform/export.h"
#include "platform/gdi.h"
#include "platform/wintypes.h"

/// The description of a device-independent bitmap: abstract base of the
/// memory bitmap.
class ORBIMG_API CBaseDIB : public CObject {
    DECLARE_DYNAMIC(CBaseDIB)

public:
    CBaseDIB() = default;
    ~CBaseDIB() override = default;

    /// Makes a bitmap, filling the colour table from `palette`.
    virtual int Create(CWnd* wnd, int width, int height, tagPALETTEENTRY* const palette, int) = 0;
    /// Makes a bitmap without palette.
    virtual int Create(CWnd* wnd, int width, int height, int) = 0;
    /// Releases everything.
    virtual void Empty() = 0;

    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    int GetBitCount() const { return m_nBitCount; }

    /// Not copyable as such: the memory bitmap copies deeply.
    CBaseDIB(const CBaseDIB&) = delete;
    CBaseDIB& operator=(const CBaseDIB&) = delete;

protected:
    /// BITMAPINFOHEADER followed by m_nColors RGBQUAD entries (null when empty).
    std::unique_ptr<unsigned char[]> m_pHeader;
    int m_nBitCount = 0;  ///< bits per pixel
    int m_nUsage = 0;     ///< DIB_RGB_COLORS or DIB_PAL_COLORS, as given to CreateDIBSection
    int m_nColors = 0;    ///< colour-table entries: 2, 16, 256 or 0
    int m_nStride = 0;    ///< bytes per row of pixel bits
    int m_nWidth = 0;
    int m_nHeight = 0;
};

/// An off-screen bitmap for a window's display: a DIB section selected into
/// a memory DC compatible with the window's DC.
class ORBIMG_API CMemoryDIB : public CBaseDIB {
    DECLARE_DYNAMIC(CMemoryDIB)

public:
    /// An empty bitmap.
    CMemoryDIB() = default;
    /// A deep copy (as operator=).
    CMemoryDIB(const CMemoryDIB& other);
    /// Releases everything (as Empty).
    ~CMemoryDIB() override;

    /// Makes a width x height bitmap of the display depth of `wnd` (a null
    /// window counts as a 32-bit display). On displays of 16, 24 and 32 bits
    /// the colour usage is DIB_RGB_COLORS and there is no colour table; on
    /// the others it is DIB_PAL_COLORS with 2, 16 or 256 zeroed entries (none
    /// for odd depths). A width or height below 1 returns 0 and changes
    /// nothing. Otherwise the bitmap is first emptied; a DIB that cannot be
    /// made (image size above 4 GiB - 1, an unsupported depth, no memory)
    /// leaves it empty and returns 0, with nothing leaked. Returns 1 on
    /// success; the new bits are zero. The last argument is ignored.
    int Create(CWnd* wnd, int width, int height, int) override;
    /// The same with colour usage DIB_RGB_COLORS and the colour table (2, 16
    /// or 256 entries, by depth) filled from palette[i] (peRed, peGreen,
    /// peBlue; reserved 0). A null palette leaves the table zeroed. The last
    /// argument is ignored.
    int Create(CWnd* wnd, int width, int height, tagPALETTEENTRY* const palette, int) override;
    /// Deletes the DC, then the bitmap, frees the header and returns to the
    /// empty state. Harmless on an empty bitmap.
    void Empty() override;

    /// Non-zero when there is no DC or the size is below 1 x 1.
    int IsEmpty();
    /// The memory DC holding the bitmap (its handle is null when empty).
    CDC* GetDC() { return &m_dc; }

    /// Address of pixel (x, y) at 8, 16, 24 or 32 bits: row start + x pixels.
    /// Null for an empty bitmap and for x or y outside the bitmap.
    unsigned char* GetImageAdr8(int x, int y) { return PixelAdr(x, y, 1); }
    unsigned short* GetImageAdr16(int x, int y) { return reinterpret_cast<unsigned short*>(PixelAdr(x, y, 2)); }
    unsigned char* GetImageAdr24(int x, int y) { return PixelAdr(x, y, 3); }
    unsigned char* GetImageAdr32(int x, int y) { return PixelAdr(x, y, 4); }

    // ---- pixel writers (see the conventions for the formats) ----
    /// *p = low byte of c (a palette index).
    void SetPixel8(unsigned char* p, unsigned long c) { *p = static_cast<unsigned char>(c & 0xFF); }
    void SetPixel8(int x, int y, unsigned long c);
    /// 5-5-5 from the top five bits of each component of c.
    void SetPixel16(unsigned short* p, unsigned long c);
    void SetPixel16(int x, int y, unsigned long c);
    /// 5-5-5 from three 0..255 values: ((r & 0xF8) << 7) | ((g & 0xF8) << 2) | (b >> 3).
    void SetPixel16(unsigned short* p, int r, int g, int b);
    /// Dithered: when x + y is even each of r, g, b is first raised by 4 and
    /// capped at 255; then packed as above.
    void SetPixel16(unsigned short* p, int x, int y, int r, int g, int b);
    /// p[0] = blue, p[1] = green, p[2] = red.
    void SetPixel24(unsigned char* p, unsigned long c);
    void SetPixel24(int x, int y, unsigned long c);
    /// p[0] = blue, p[1] = green, p[2] = red; p[3] untouched.
    void SetPixel32(unsigned char* p, unsigned long c) { SetPixel24(p, c); }
    void SetPixel32(int x, int y, unsigned long c);
    /// Dispatches on the bit count to the 8, 16, 24 or 32-bit writer; other
    /// depths write nothing.
    void SetPixel(int x, int y, unsigned long c);
    void SetPixel(void* p, unsigned long c);

    /// Deep copy: header, colour table, a new DC compatible with the source's
    /// and a new DIB section holding a copy of the bits. Assigning an empty
    /// bitmap empties this one; assigning a bitmap to itself changes nothing.
    /// A copy that cannot be made leaves this bitmap empty.
    CMemoryDIB& operator=(const CMemoryDIB& other);

    /// A packed DIB (header, colour table, bottom-up rows) in a new zeroed
    /// global block (GMEM_MOVEABLE | GMEM_ZEROINIT), unlocked; the caller
    /// frees it with GlobalFree. Null for an empty bitmap or when the block
    /// cannot be allocated.
    HDIB CreateHDIB();

private:
    unsigned char* PixelAdr(int x, int y, int bytesPerPixel) const;
    /// Steps 3.. of Create, after the bitmap was emptied; `palette` may be null.
    int Make(CWnd* wnd, int width, int height, const tagPALETTEENTRY* palette, bool paletteOverload);
    BITMAPINFO* Info() const { return reinterpret_cast<BITMAPINFO*>(m_pHeader.get()); }

    HBITMAP m_hBitmap = nullptr;
    CDC m_dc;
    unsigned char* m_pBits = nullptr;
};
