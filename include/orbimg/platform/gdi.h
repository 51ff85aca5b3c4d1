// GDI and global-memory stand-ins, held in process memory.
//
// Conventions
//   - Handles are checked: a handle that was never made, or was already
//     deleted or freed, is refused (FALSE / null / 0) without touching memory.
//   - A DIB section's bits start zeroed. A global block below 4 MB allocated
//     without GMEM_ZEROINIT starts filled with 0xCD, so that code relying on
//     unwritten bytes shows up in tests; larger blocks start zeroed.
//   - Sizes above 4 GiB - 1 (a DIB image or a global block) are refused as
//     an allocation failure, as are allocations the system cannot satisfy.
//   - A bitmap selected into a DC cannot be deleted (DeleteObject returns
//     FALSE and keeps it): delete the DC first.
//   - GdiLiveObjectCount() and GlobalLiveBlockCount() let tests check that
//     nothing leaks. All functions may be called from any thread.
#pragma once

#include <cstddef>

#include "platform/export.h"
#include "platform/wintypes.h"

/// Device capability of a DC: BITSPIXEL gives the display depth, PLANES 1;
/// anything else (or an invalid DC) 0.
ORBIMG_API int GetDeviceCaps(HDC hdc, int index);
constexpr int PLANES = 14;

/// A bottom-up (positive height) or top-down (negative height) DIB section of
/// 1, 4, 8, 16, 24 or 32 bits, BI_RGB. Returns null (and *bits null) when the
/// header is invalid or the bits cannot be allocated; nothing leaks then.
ORBIMG_API HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                                    DWORD offset);
/// A memory DC of the same depth as `hdc` (32 bits for a null DC); null when
/// `hdc` is not a live DC.
ORBIMG_API HDC CreateCompatibleDC(HDC hdc);
/// Selects a bitmap into a DC; returns the previously selected object (null
/// when none was selected, or on failure).
ORBIMG_API HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
/// Deletes a bitmap that is not selected into any DC.
ORBIMG_API BOOL DeleteObject(HGDIOBJ object);
/// Deletes a DC; its selected bitmap stays alive.
ORBIMG_API BOOL DeleteDC(HDC hdc);

ORBIMG_API HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
/// Address of the block's bytes; counts one lock.
ORBIMG_API void* GlobalLock(HGLOBAL block);
/// Releases one lock; returns non-zero while the block is still locked.
ORBIMG_API BOOL GlobalUnlock(HGLOBAL block);
/// Frees the block; returns null on success, the handle on failure.
ORBIMG_API HGLOBAL GlobalFree(HGLOBAL block);
/// Bytes of the block, 0 for an invalid handle.
ORBIMG_API std::size_t GlobalSize(HGLOBAL block);

/// DCs and bitmaps made and not yet deleted.
ORBIMG_API int GdiLiveObjectCount();
/// Global blocks allocated and not yet freed.
ORBIMG_API int GlobalLiveBlockCount();
