// GDI objects and global memory blocks kept in process memory, with live
// counts for leak checks.
#include "platform/gdi.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/nodestructor.h"
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

// The live objects, each owned by its table. Keyed by the handle as given,
// so that a stray handle is looked up without being converted to an object
// it is not.
template <typename Handle, typename Object>
using Table = std::unordered_map<Handle, std::unique_ptr<Object>>;

struct GdiState {
    std::mutex mutex;
    Table<HDC__*, DcObject> dcs;
    Table<HGDIOBJ__*, BitmapObject> bitmaps;
    Table<HGLOBAL__*, GlobalBlock> blocks;
};

GdiState& State()
{
    // Usable during exit: a host's static bitmap may be deleted after every
    // static of the library has gone.
    static orbimg::platform::NoDestructor<GdiState> state;
    return *state;
}

template <typename Handle, typename Object>
Object* Find(const Table<Handle, Object>& table, Handle handle)
{
    const auto it = table.find(handle);
    return it == table.end() ? nullptr : it->second.get();
}

// Takes an object out of its table; it is destroyed by the caller, outside
// the lock. Null when the handle is not in the table.
template <typename Handle, typename Object>
std::unique_ptr<Object> Take(Table<Handle, Object>& table, Handle handle)
{
    const auto it = table.find(handle);
    if (it == table.end()) {
        return nullptr;
    }
    std::unique_ptr<Object> owned = std::move(it->second);
    table.erase(it);
    return owned;
}

// A new object, or null when memory is short.
template <typename Object>
std::unique_ptr<Object> Make()
{
    try {
        return std::make_unique<Object>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HGDIOBJ__* Key(BitmapObject* bm) { return static_cast<HGDIOBJ>(static_cast<HBITMAP>(bm)); }

HDC NewDc(int bitsPerPixel)
{
    auto dc = Make<DcObject>();
    if (!dc) {
        return nullptr;
    }
    dc->bitsPerPixel = bitsPerPixel;
    HDC handle = dc.get();
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.dcs.emplace(handle, std::move(dc));
    return handle;
}

}  // namespace

namespace orbimg::platform {
HDC OpenWindowDC(int bitsPerPixel) { return NewDc(bitsPerPixel); }
}  // namespace orbimg::platform

int GetDeviceCaps(HDC hdc, int index)
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    DcObject* dc = Find(s.dcs, static_cast<HDC__*>(hdc));
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
    auto bm = Make<BitmapObject>();
    if (!bm) {
        return nullptr;
    }
    bm->bits = orbimg::platform::AllocateZeroed(static_cast<std::size_t>(bytes));
    if (!bm->bits) {
        return nullptr;
    }
    BitmapObject* const object = bm.get();
    {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.bitmaps.emplace(Key(object), std::move(bm));
    }
    if (bits) {
        *bits = object->bits.get();
    }
    return object;
}

HDC CreateCompatibleDC(HDC hdc)
{
    int depth = 32;
    if (hdc) {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        DcObject* dc = Find(s.dcs, static_cast<HDC__*>(hdc));
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
    DcObject* dc = Find(s.dcs, static_cast<HDC__*>(hdc));
    if (!dc || !Find(s.bitmaps, static_cast<HGDIOBJ__*>(object))) {
        return nullptr;
    }
    HGDIOBJ previous = dc->selected;
    dc->selected = object;
    return previous;
}

BOOL DeleteObject(HGDIOBJ object)
{
    std::unique_ptr<BitmapObject> bm;
    {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!Find(s.bitmaps, static_cast<HGDIOBJ__*>(object))) {
            return FALSE;
        }
        for (const auto& [handle, dc] : s.dcs) {
            if (dc->selected == object) {
                return FALSE;
            }
        }
        bm = Take(s.bitmaps, static_cast<HGDIOBJ__*>(object));
    }
    return TRUE;  // bm freed here, outside the lock
}

BOOL DeleteDC(HDC hdc)
{
    std::unique_ptr<DcObject> dc;
    {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        dc = Take(s.dcs, static_cast<HDC__*>(hdc));
    }
    return dc ? TRUE : FALSE;
}

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes)
{
    if (bytes > kMaxBytes) {
        return nullptr;
    }
    auto b = Make<GlobalBlock>();
    if (!b) {
        return nullptr;
    }
    b->data = orbimg::platform::AllocateZeroed(bytes ? bytes : 1);
    if (!b->data) {
        return nullptr;
    }
    b->size = bytes;
    if (!(flags & GMEM_ZEROINIT) && bytes < kFillLimit) {
        std::memset(b->data.get(), 0xCD, bytes);
    }
    HGLOBAL handle = b.get();
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.blocks.emplace(handle, std::move(b));
    return handle;
}

void* GlobalLock(HGLOBAL block)
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    GlobalBlock* b = Find(s.blocks, static_cast<HGLOBAL__*>(block));
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
    GlobalBlock* b = Find(s.blocks, static_cast<HGLOBAL__*>(block));
    if (!b || b->locks == 0) {
        return FALSE;
    }
    --b->locks;
    return b->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL block)
{
    std::unique_ptr<GlobalBlock> b;
    {
        GdiState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        b = Take(s.blocks, static_cast<HGLOBAL__*>(block));
    }
    return b ? nullptr : block;  // b freed here, outside the lock
}

std::size_t GlobalSize(HGLOBAL block)
{
    GdiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    GlobalBlock* b = Find(s.blocks, static_cast<HGLOBAL__*>(block));
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
