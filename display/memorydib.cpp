// The memory bitmap: creation, release, deep copy, pixel writers and packed
// DIB export.
#include "display/memorydib.h"

#include <cstdint>
#include <cstring>

#include "display/rowmap.h"

IMPLEMENT_DYNAMIC(CBaseDIB, CObject)
IMPLEMENT_DYNAMIC(CMemoryDIB, CBaseDIB)

namespace {

constexpr std::uint64_t kMaxImageBytes = 0xFFFFFFFFull;  // biSizeImage is a DWORD

// Colour-table entries of a depth.
int ColorCount(int bitCount)
{
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

std::size_t HeaderBytes(int colors)
{
    return sizeof(BITMAPINFOHEADER) + sizeof(RGBQUAD) * static_cast<std::size_t>(colors);
}

unsigned short Pack555(int r, int g, int b)
{
    return static_cast<unsigned short>(((r & 0xF8) << 7) | ((g & 0xF8) << 2) | ((b & 0xFF) >> 3));
}

}  // namespace

CMemoryDIB::CMemoryDIB(const CMemoryDIB& other) : CBaseDIB() { *this = other; }

CMemoryDIB::~CMemoryDIB() { CMemoryDIB::Empty(); }

int CMemoryDIB::Create(CWnd* wnd, int width, int height, int)
{
    if (width < 1 || height < 1) {
        return 0;
    }
    Empty();
    return Make(wnd, width, height, nullptr, false);
}

int CMemoryDIB::Create(CWnd* wnd, int width, int height, tagPALETTEENTRY* const palette, int)
{
    if (width < 1 || height < 1) {
        return 0;
    }
    Empty();
    return Make(wnd, width, height, palette, true);
}

int CMemoryDIB::Make(CWnd* wnd, int width, int height, const tagPALETTEENTRY* palette, bool paletteOverload)
{
    m_nWidth = width;
    m_nHeight = height;
    CPaintDC windowDC(wnd);
    const HDC hdc = windowDC.GetSafeHdc();
    m_nBitCount = GetDeviceCaps(hdc, BITSPIXEL);
    const bool trueColor = m_nBitCount == 16 || m_nBitCount == 24 || m_nBitCount == 32;
    m_nUsage = (paletteOverload || trueColor) ? DIB_RGB_COLORS : DIB_PAL_COLORS;
    m_nColors = ColorCount(m_nBitCount);

    // Stride in 64 bits: a size whose image does not fit biSizeImage is
    // refused before anything is made.
    const std::uint64_t stride = orbimg::detail::DibStride(width, m_nBitCount > 0 ? m_nBitCount : 0);
    const std::uint64_t imageBytes = stride * static_cast<std::uint64_t>(height);
    if (stride == 0 || imageBytes > kMaxImageBytes) {
        Empty();
        return 0;
    }
    m_nStride = static_cast<int>(stride);

    const std::size_t headerBytes = HeaderBytes(m_nColors);
    m_pHeader.reset(new unsigned char[headerBytes]());
    Info()->bmiHeader = orbimg::detail::MakeInfoHeader(width, height, m_nBitCount, static_cast<DWORD>(imageBytes),
                                                       static_cast<DWORD>(m_nColors));
    if (palette) {
        auto* table = reinterpret_cast<RGBQUAD*>(m_pHeader.get() + sizeof(BITMAPINFOHEADER));
        for (int i = 0; i < m_nColors; ++i) {
            table[i].rgbBlue = palette[i].peBlue;
            table[i].rgbGreen = palette[i].peGreen;
            table[i].rgbRed = palette[i].peRed;
        }
    }

    void* bits = nullptr;
    m_hBitmap = CreateDIBSection(hdc, Info(), static_cast<UINT>(m_nUsage), &bits, nullptr, 0);
    if (!m_hBitmap || !m_dc.Attach(CreateCompatibleDC(hdc))) {
        Empty();
        return 0;
    }
    // A new memory DC has nothing selected, so SelectObject's result (the
    // previous selection) is null on success too; with a fresh DC and a
    // fresh bitmap it cannot fail.
    SelectObject(m_dc.GetSafeHdc(), m_hBitmap);
    m_pBits = static_cast<unsigned char*>(bits);
    return 1;
}

void CMemoryDIB::Empty()
{
    // The DC goes first, so that the bitmap is no longer selected when it is
    // deleted.
    m_dc.DeleteDC();
    m_pHeader.reset();
    if (m_hBitmap) {
        DeleteObject(m_hBitmap);
        m_hBitmap = nullptr;
    }
    m_pBits = nullptr;
    m_nBitCount = 0;
    m_nUsage = 0;
    m_nColors = 0;
    m_nStride = 0;
    m_nWidth = 0;
    m_nHeight = 0;
}

int CMemoryDIB::IsEmpty() { return (!m_dc.GetSafeHdc() || m_nWidth < 1 || m_nHeight < 1) ? 1 : 0; }

unsigned char* CMemoryDIB::PixelAdr(int x, int y, int bytesPerPixel) const
{
    if (!m_pBits || x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight ||
        static_cast<long long>(x + 1) * bytesPerPixel > m_nStride) {
        return nullptr;
    }
    return m_pBits + static_cast<std::size_t>(m_nHeight - y - 1) * static_cast<std::size_t>(m_nStride) +
           static_cast<std::size_t>(x) * static_cast<std::size_t>(bytesPerPixel);
}

// ---- pixel writers ------------------------------------------------------------

void CMemoryDIB::SetPixel8(int x, int y, unsigned long c)
{
    if (unsigned char* p = GetImageAdr8(x, y)) {
        SetPixel8(p, c);
    }
}

void CMemoryDIB::SetPixel16(unsigned short* p, unsigned long c)
{
    *p = Pack555(GetRValue(static_cast<COLORREF>(c)), GetGValue(static_cast<COLORREF>(c)),
                 GetBValue(static_cast<COLORREF>(c)));
}

void CMemoryDIB::SetPixel16(int x, int y, unsigned long c)
{
    if (unsigned short* p = GetImageAdr16(x, y)) {
        SetPixel16(p, c);
    }
}

void CMemoryDIB::SetPixel16(unsigned short* p, int r, int g, int b) { *p = Pack555(r, g, b); }

void CMemoryDIB::SetPixel16(unsigned short* p, int x, int y, int r, int g, int b)
{
    if (((x + y) & 1) == 0) {
        r = r + 4 < 255 ? r + 4 : 255;
        g = g + 4 < 255 ? g + 4 : 255;
        b = b + 4 < 255 ? b + 4 : 255;
    }
    *p = Pack555(r, g, b);
}

void CMemoryDIB::SetPixel24(unsigned char* p, unsigned long c)
{
    p[0] = GetBValue(static_cast<COLORREF>(c));
    p[1] = GetGValue(static_cast<COLORREF>(c));
    p[2] = GetRValue(static_cast<COLORREF>(c));
}

void CMemoryDIB::SetPixel24(int x, int y, unsigned long c)
{
    if (unsigned char* p = GetImageAdr24(x, y)) {
        SetPixel24(p, c);
    }
}

void CMemoryDIB::SetPixel32(int x, int y, unsigned long c)
{
    if (unsigned char* p = GetImageAdr32(x, y)) {
        SetPixel32(p, c);
    }
}

void CMemoryDIB::SetPixel(int x, int y, unsigned long c)
{
    switch (m_nBitCount) {
    case 8:
        SetPixel8(x, y, c);
        break;
    case 16:
        SetPixel16(x, y, c);
        break;
    case 24:
        SetPixel24(x, y, c);
        break;
    case 32:
        SetPixel32(x, y, c);
        break;
    default:
        break;
    }
}

void CMemoryDIB::SetPixel(void* p, unsigned long c)
{
    switch (m_nBitCount) {
    case 8:
        SetPixel8(static_cast<unsigned char*>(p), c);
        break;
    case 16:
        SetPixel16(static_cast<unsigned short*>(p), c);
        break;
    case 24:
        SetPixel24(static_cast<unsigned char*>(p), c);
        break;
    case 32:
        SetPixel32(static_cast<unsigned char*>(p), c);
        break;
    default:
        break;
    }
}

// ---- copy and export ----------------------------------------------------------

CMemoryDIB& CMemoryDIB::operator=(const CMemoryDIB& other)
{
    if (&other == this) {
        return *this;
    }
    Empty();
    if (!other.m_pHeader || !other.m_pBits || !other.m_dc.GetSafeHdc()) {
        return *this;
    }
    m_nBitCount = other.m_nBitCount;
    m_nUsage = other.m_nUsage;
    m_nColors = other.m_nColors;
    m_nStride = other.m_nStride;
    m_nWidth = other.m_nWidth;
    m_nHeight = other.m_nHeight;
    const std::size_t headerBytes = HeaderBytes(m_nColors);
    m_pHeader.reset(new unsigned char[headerBytes]);
    std::memcpy(m_pHeader.get(), other.m_pHeader.get(), headerBytes);

    void* bits = nullptr;
    if (!m_dc.Attach(CreateCompatibleDC(other.m_dc.GetSafeHdc())) ||
        !(m_hBitmap = CreateDIBSection(m_dc.GetSafeHdc(), Info(), static_cast<UINT>(m_nUsage), &bits, nullptr, 0))) {
        Empty();
        return *this;
    }
    SelectObject(m_dc.GetSafeHdc(), m_hBitmap);
    m_pBits = static_cast<unsigned char*>(bits);
    std::memcpy(m_pBits, other.m_pBits, static_cast<std::size_t>(m_nStride) * static_cast<std::size_t>(m_nHeight));
    return *this;
}

HDIB CMemoryDIB::CreateHDIB()
{
    if (!m_pHeader || !m_pBits) {
        return nullptr;
    }
    const std::size_t headerBytes = HeaderBytes(m_nColors);
    const std::size_t imageBytes = Info()->bmiHeader.biSizeImage;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, headerBytes + imageBytes);
    if (!block) {
        return nullptr;
    }
    auto* out = static_cast<unsigned char*>(GlobalLock(block));
    std::memcpy(out, m_pHeader.get(), headerBytes);
    std::memcpy(out + headerBytes, m_pBits, imageBytes);
    GlobalUnlock(block);
    return block;
}
