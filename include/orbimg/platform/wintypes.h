// Fixed-width Windows types, handles and bitmap structures as the library's
// interface uses them. Layouts match the Windows definitions byte for byte
// (checked below), so packed bitmaps written here are the files Windows reads.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using COLORREF = DWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Handles: distinct opaque pointer types. A bitmap handle converts to a GDI
// object handle (as on Windows, where SelectObject and DeleteObject take one).
struct HANDLE__ {};
struct HWND__ {};
struct HDC__ {};
struct HGDIOBJ__ {};
struct HBITMAP__ : HGDIOBJ__ {};
struct HGLOBAL__ {};
struct HINSTANCE__ {};

using HANDLE = HANDLE__*;
using HWND = HWND__*;
using HDC = HDC__*;
using HGDIOBJ = HGDIOBJ__*;
using HBITMAP = HBITMAP__*;
using HGLOBAL = HGLOBAL__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HDIB = HGLOBAL;

/// COLORREF from three 0..255 components: red in the low byte, green in
/// bits 8..15, blue in bits 16..23.
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b)
{
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

struct tagPALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};
using PALETTEENTRY = tagPALETTEENTRY;

static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER must be 14 bytes");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER must be 40 bytes");
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD must be 4 bytes");
static_assert(sizeof(BITMAPINFO) == 44, "BITMAPINFO must be 44 bytes");
static_assert(sizeof(tagPALETTEENTRY) == 4, "PALETTEENTRY must be 4 bytes");
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20, "BITMAPINFOHEADER layout");

constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;
constexpr int BITSPIXEL = 12;
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT MB_OK = 0;
