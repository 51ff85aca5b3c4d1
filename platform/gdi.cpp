// GDI objects and global memory blocks kept in process memory, with live
// counts for leak checks.
#include "platform/gdi.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/pages.h"
#include "platform/windowdc.h"

namespace {

constexpr std::uint64_t kMaxBytes = 0xFFFFFFFFull;

struct DcObject : HDC__ {
    int bitsPerPixel = 32;
    HGDIOBJ selected = nullptr;
};

// Blocks allocated without GMEM_ZEROINIT and smaller than this are filled
// with 0xCD, so that tests see bytes nobody wrote; larger ones come zeroed
// from the page allocator (filling them would cost a pass over the memory).
constexpr std::size_t kFillLimit = std::size_t{4} << 20;

struct BitmapObject : HBITMAP__ {
    orbimg::platform::ZeroedBuffer bits;
};

struct GlobalBlock : HGLOBAL__ {
    orbimg::platform::ZeroedBuffer data;
    std::size_t size = 0;
    int locks = 0;
};

struct GdiState {
    std::mutex mutex;
    // Keyed by the handle as given, so that a stray handle is looked up
    // without being converted to an object it is not.
    std::unordered_set<HDC__*> dcs;
    std::unordered_set<HGDIOBJ__*> bitmaps;
    std::unordered_set<HGLOBAL__*> blocks;
};

GdiState& State()
{
    static GdiState* state = new GdiState;  // never destroyed: usable during exit
    return *state;
}

DcObject* FindDc(GdiState& s, HDC hdc)
{
    return s.dcs.count(hdc) ? static_cast<DcObject*>(hdc) : nullptr;
}

BitmapObject* FindBitmap(GdiState& s, HGDIOBJ object)
{
    return s.bitmaps.count(object) ? static_cast<BitmapObject*>(static_cast<HBITMAP>(object)) : nullptr;
}

GlobalBlock* FindBlock(GdiState& s, HGLOBAL block)
{
    return s.blocks.count(block) ? static_cast<GlobalBlock*>(block) : nullptr;
}

HDC NewDc(int bitsPerPixel)
{
    auto* dc = new (std::nothrow) DcObject;
    if (!dc) {
        return nullptr;
    }
    dc->bitsPerPixel = bitsPerPixel;
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.dcs.insert(dc);
    return dc;
}

}  // namespace

namespace orbimg::platform {
HDC OpenWindowDC(int bitsPerPixel) { return NewDc(bitsPerPixel); }
}  // namespace orbimg::platform

int GetDeviceCaps(HDC hdc, int index)
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    DcObject* dc = FindDc(s, hdc);
    if (!dc) {
        return 0;
    }
    if (index == BITSPIXEL) {
        return dc->bitsPerPixel;
    }
    if (index == PLANES) {
        return 1;
    }
    return 0;
}

HBITMAP CreateDIBSection(HDC /*hdc*/, const BITMAPINFO* info, UINT usage, void** bits, HANDLE /*section*/,
                         DWORD /*offset*/)
{
    if (bits) {
        *bits = nullptr;
    }
    if (!info || usage > DIB_PAL_COLORS) {
        return nullptr;
    }
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const int bc = h.biBitCount;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth < 1 || h.biHeight == 0 || h.biPlanes != 1 ||
        h.biCompression != BI_RGB || !(bc == 1 || bc == 4 || bc == 8 || bc == 16 || bc == 24 || bc == 32)) {
        return nullptr;
    }
    const std::uint64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
    const std::uint64_t stride = ((static_cast<std::uint64_t>(h.biWidth) * bc + 31) / 32) * 4;
    const std::uint64_t bytes = stride * height;
    if (bytes > kMaxBytes) {
        return nullptr;
    }
    auto* bm = new (std::nothrow) BitmapObject;
    if (!bm) {
        return nullptr;
    }
    bm->bits = orbimg::platform::AllocateZeroed(static_cast<std::size_t>(bytes));
    if (!bm->bits) {
        delete bm;
        return nullptr;
    }
    {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.bitmaps.insert(static_cast<HGDIOBJ>(static_cast<HBITMAP>(bm)));
    }
    if (bits) {
        *bits = bm->bits.get();
    }
    return bm;
}

HDC CreateCompatibleDC(HDC hdc)
{
    int depth = 32;
    if (hdc) {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        DcObject* dc = FindDc(s, hdc);
        if (!dc) {
            return nullptr;
        }
        depth = dc->bitsPerPixel;
    }
    return NewDc(depth);
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object)
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    DcObject* dc = FindDc(s, hdc);
    if (!dc || !FindBitmap(s, object)) {
        return nullptr;
    }
    HGDIOBJ previous = dc->selected;
    dc->selected = object;
    return previous;
}

BOOL DeleteObject(HGDIOBJ object)
{
    BitmapObject* bm = nullptr;
    {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        bm = FindBitmap(s, object);
        if (!bm) {
            return FALSE;
        }
        for (HDC__* dc : s.dcs) {
            if (static_cast<DcObject*>(dc)->selected == object) {
                return FALSE;
            }
        }
        s.bitmaps.erase(object);
    }
    delete bm;
    return TRUE;
}

BOOL DeleteDC(HDC hdc)
{
    DcObject* dc = nullptr;
    {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        dc = FindDc(s, hdc);
        if (!dc) {
            return FALSE;
        }
        s.dcs.erase(hdc);
    }
    delete dc;
    return TRUE;
}

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes)
{
    if (bytes > kMaxBytes) {
        return nullptr;
    }
    auto* b = new (std::nothrow) GlobalBlock;
    if (!b) {
        return nullptr;
    }
    b->data = orbimg::platform::AllocateZeroed(bytes ? bytes : 1);
    if (!b->data) {
        delete b;
        return nullptr;
    }
    b->size = bytes;
    if (!(flags & GMEM_ZEROINIT) && bytes < kFillLimit) {
        std::memset(b->data.get(), 0xCD, bytes);
    }
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.blocks.insert(b);
    return b;
}

void* GlobalLock(HGLOBAL block)
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    GlobalBlock* b = FindBlock(s, block);
    if (!b) {
        return nullptr;
    }
    ++b->locks;
    return b->data.get();
}

BOOL GlobalUnlock(HGLOBAL block)
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    GlobalBlock* b = FindBlock(s, block);
    if (!b || b->locks == 0) {
        return FALSE;
    }
    --b->locks;
    return b->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL block)
{
    GlobalBlock* b = nullptr;
    {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        b = FindBlock(s, block);
        if (!b) {
            return block;
        }
        s.blocks.erase(block);
    }
    delete b;
    return nullptr;
}

std::size_t GlobalSize(HGLOBAL block)
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    GlobalBlock* b = FindBlock(s, block);
    return b ? b->size : 0;
}

int GdiLiveObjectCount()
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return static_cast<int>(s.dcs.size() + s.bitmaps.size());
}

int GlobalLiveBlockCount()
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return static_cast<int>(s.blocks.size());
}
