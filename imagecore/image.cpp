// The image core: sample store, manager and image record (thread indices: threadindex.cpp).
#include "imagecore/image.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "platform/pages.h"

namespace {

std::atomic<long long> g_swapSize{0};

int ClampPlanes(int planes) { return std::clamp(planes, 0, CImage::kMaxPlanes); }

int BytesOf(int bitsPixel) { return (bitsPixel < 0 ? -bitsPixel : bitsPixel) / 8; }

// Stores above this are refused outright (no system holds them, and asking
// the allocator for them may abort under a sanitizer).
constexpr std::size_t kMaxStoreBytes = std::size_t{1} << 40;

// Total bytes of a store, or false when the product overflows the limit.
bool StoreBytes(int width, int height, int planes, int bytes, std::size_t* total)
{
    std::size_t t = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(height), &t) ||
        __builtin_mul_overflow(t, static_cast<std::size_t>(planes), &t) ||
        __builtin_mul_overflow(t, static_cast<std::size_t>(bytes), &t) || t > kMaxStoreBytes) {
        return false;
    }
    *total = t;
    return true;
}

}  // namespace

// ---- CVmManager ---------------------------------------------------------------

long long CVmManager::GetCurrentSwapSize() { return g_swapSize.load(std::memory_order_relaxed); }

void CVmManager::SetCurrentSwapSize(long long bytes) { g_swapSize.store(bytes, std::memory_order_relaxed); }

CVmManager* CVmManager::GetDefault()
{
    static CVmManager manager;
    return &manager;
}

// ---- CVmImage -------------------------------------------------------------------

struct CVmImage::Samples {
    orbimg::platform::ZeroedBuffer data;
};

CVmImage::CVmImage() = default;

CVmImage::~CVmImage() = default;

CVmImage::CVmImage(int width, int height, int planes, int bytesPerSample)
{
    if (!Reshape(width, height, planes, bytesPerSample)) {
        AfxThrowMemoryException();
    }
}

CVmImage::CVmImage(const CVmImage& other, HWND, const wchar_t*) { *this = other; }

CVmImage& CVmImage::operator=(const CVmImage& other)
{
    if (this == &other) {
        return *this;
    }
    if (!Reshape(other.m_width, other.m_height, other.m_planes, other.m_bytes)) {
        AfxThrowMemoryException();
    }
    std::size_t total = 0;
    StoreBytes(m_width, m_height, m_planes, m_bytes, &total);
    if (total) {
        std::memcpy(m_samples->data.get(), other.m_samples->data.get(), total);
    }
    return *this;
}

bool CVmImage::Reshape(int width, int height, int planes, int bytesPerSample)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    planes = std::max(planes, 0);
    bytesPerSample = std::max(bytesPerSample, 0);
    std::size_t total = 0;
    if (!StoreBytes(width, height, planes, bytesPerSample, &total)) {
        return false;
    }
    orbimg::platform::ZeroedBuffer data = orbimg::platform::AllocateZeroed(total);
    if (total && !data) {
        return false;
    }
    if (!m_samples) {
        m_samples.reset(new (std::nothrow) Samples);
        if (!m_samples) {
            return false;
        }
    }
    m_samples->data = std::move(data);
    m_width = width;
    m_height = height;
    m_planes = planes;
    m_bytes = bytesPerSample;
    m_locks.store(0, std::memory_order_relaxed);
    return true;
}

unsigned char* CVmImage::GetImageAdr(int x, int y, int plane, int /*readOnly*/, int lock, void** handle) const
{
    if (!m_samples || !m_samples->data || x < 0 || y < 0 || plane < 0 || x >= m_width || y >= m_height ||
        plane >= m_planes) {
        return nullptr;
    }
    const std::size_t index =
        (static_cast<std::size_t>(plane) * static_cast<std::size_t>(m_height) + static_cast<std::size_t>(y)) *
            static_cast<std::size_t>(m_width) +
        static_cast<std::size_t>(x);
    unsigned char* address = m_samples->data.get() + index * static_cast<std::size_t>(m_bytes);
    if (lock) {
        m_locks.fetch_add(1, std::memory_order_relaxed);
        if (handle) {
            *handle = address;
        }
    }
    return address;
}

int CVmImage::Unlock(void* handle)
{
    if (!handle) {
        return 0;
    }
    int held = m_locks.load(std::memory_order_relaxed);
    while (held > 0) {
        if (m_locks.compare_exchange_weak(held, held - 1, std::memory_order_relaxed)) {
            return 1;
        }
    }
    return 0;
}

void CVmImage::UnlockAll() { m_locks.store(0, std::memory_order_relaxed); }

// ---- CImage ---------------------------------------------------------------------

CImage::CImage() : m_store(std::make_unique<CVmImage>()), m_header(std::make_unique<CHeader>())
{
    for (int p = 0; p < kMaxPlanes; ++p) {
        SetLevel(p, 0.0, 255.0);
    }
}

CImage::CImage(int width, int height, int planes, int bitsPixel, double bscale, double bzero, int isSigned, HWND,
               const wchar_t*)
    : CImage()
{
    m_bscale = bscale;
    m_bzero = bzero;
    m_signed = isSigned;
    ReshapeStore(std::max(width, 0), std::max(height, 0), ClampPlanes(planes), bitsPixel);
}

CImage::CImage(const CImage& other, HWND, const wchar_t*) : CObject(other), m_header(std::make_unique<CHeader>())
{
    m_store = std::make_unique<CVmImage>();
    *this = other;
}

CImage& CImage::operator=(const CImage& other)
{
    if (this == &other) {
        return *this;
    }
    // Copy the samples first: if that fails the image is unchanged.
    AssignRecord(other, std::make_unique<CVmImage>(*other.m_store));
    return *this;
}

int CImage::TakeRecord(const CImage& other, int width, int height, bool overwrite)
{
    if (this == &other || width < 1 || height < 1) {
        return 0;
    }
    if (overwrite && m_store && m_width == width && m_height == height && m_planes == other.m_planes &&
        GetBytesPixel() == other.GetBytesPixel()) {
        // The store already has the shape (an operation run again into the
        // same object): no allocation, no first touch of fresh pages.
        AssignRecord(other, std::move(m_store));
        m_width = width;
        m_height = height;
        return 1;
    }
    auto store = std::make_unique<CVmImage>();
    if (!store->Reshape(width, height, other.m_planes, other.GetBytesPixel())) {
        return 0;
    }
    AssignRecord(other, std::move(store));
    m_width = width;
    m_height = height;
    return 1;
}

void CImage::AssignRecord(const CImage& other, std::unique_ptr<CVmImage> store)
{
    m_store = std::move(store);
    m_bitsPixel = other.m_bitsPixel;
    m_signed = other.m_signed;
    m_dimension = other.m_dimension;
    m_width = other.m_width;
    m_height = other.m_height;
    m_planes = other.m_planes;
    m_bscale = other.m_bscale;
    m_bzero = other.m_bzero;
    m_levelMin = other.m_levelMin;
    m_levelMax = other.m_levelMax;
    m_levelRange = other.m_levelRange;
    m_ownLevel = other.m_ownLevel;
    m_saveableFormat = other.m_saveableFormat;
    m_saveableFile = other.m_saveableFile;
    m_orgFileName = other.m_orgFileName;
    m_orgFileFormat = other.m_orgFileFormat;
    m_orgBitsPixel = other.m_orgBitsPixel;
    m_orgPlanes = other.m_orgPlanes;
    m_orgBayer = other.m_orgBayer;
    m_orgHoneyComb = other.m_orgHoneyComb;
    m_orgDevelopment = other.m_orgDevelopment;
    m_orgWidth = other.m_orgWidth;
    m_orgHeight = other.m_orgHeight;
    m_bayer = other.m_bayer;
    m_honeyComb = other.m_honeyComb;
    m_rawImageBits = other.m_rawImageBits;
    m_development = other.m_development;
    *m_header = *other.m_header;
    m_cullX = other.m_cullX;
    m_cullY = other.m_cullY;
}

CImage::~CImage() = default;

void CImage::ReshapeStore(int width, int height, int planes, int bitsPixel)
{
    if (!m_store->Reshape(width, height, planes, BytesOf(bitsPixel))) {
        AfxThrowMemoryException();
    }
    m_width = width;
    m_height = height;
    m_planes = planes;
    m_dimension = planes > 1 ? 3 : 2;
    m_bitsPixel = bitsPixel;
}

void CImage::SetBitsPixel(int bits)
{
    if (BytesOf(bits) != GetBytesPixel()) {
        ReshapeStore(m_width, m_height, m_planes, bits);
    }
    m_bitsPixel = bits;
}

void CImage::SetWidth(int width)
{
    width = std::max(width, 0);
    if (width != m_width) {
        ReshapeStore(width, m_height, m_planes, m_bitsPixel);
    }
}

void CImage::SetHeight(int height)
{
    height = std::max(height, 0);
    if (height != m_height) {
        ReshapeStore(m_width, height, m_planes, m_bitsPixel);
    }
}

void CImage::SetPlanes(int planes)
{
    planes = ClampPlanes(planes);
    if (planes != m_planes) {
        ReshapeStore(m_width, m_height, planes, m_bitsPixel);
    }
    m_dimension = planes > 1 ? 3 : 2;
}

void CImage::SetLevel(int plane, double min, double max)
{
    if (!ValidLevelPlane(plane)) {
        return;
    }
    m_levelMin[static_cast<std::size_t>(plane)] = min;
    m_levelMax[static_cast<std::size_t>(plane)] = max;
    m_levelRange[static_cast<std::size_t>(plane)] = max - min;
}

void CImage::SetHistogramCull(const int* columns, int columnCount, const int* rows, int rowCount)
{
    if (!columns || !rows || columnCount < 1 || rowCount < 1) {
        m_cullX.clear();
        m_cullY.clear();
        return;
    }
    m_cullX.assign(columns, columns + columnCount);
    m_cullY.assign(rows, rows + rowCount);
}

int CImage::GetHistogramCull(int* columns, int* rows) const
{
    if (!IsHistogramCullParam()) {
        return 0;
    }
    if (columns) {
        *columns = static_cast<int>(m_cullX.size());
    }
    if (rows) {
        *rows = static_cast<int>(m_cullY.size());
    }
    return 1;
}

double CImage::DecodeStored(const unsigned char* p) const
{
    switch (m_bitsPixel) {
    case -64: {
        double v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case -32: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case 8:
        return *p;
    case 16: {
        std::uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return m_signed ? static_cast<double>(static_cast<std::int16_t>(v)) : static_cast<double>(v);
    }
    case 32: {
        std::uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return m_signed ? static_cast<double>(static_cast<std::int32_t>(v)) : static_cast<double>(v);
    }
    default:
        return std::numeric_limits<double>::quiet_NaN();
    }
}

double CImage::GetPixel(unsigned char* p) const
{
    if (!p) {
        return 0.0;
    }
    switch (m_bitsPixel) {
    case -64:
    case -32:
    case 8:
    case 16:
    case 32:
        return DecodeStored(p) * m_bscale + m_bzero;
    default:
        return 0.0;
    }
}

double CImage::GetPixel(int x, int y, int plane) const { return GetPixel(GetImageAdr(x, y, plane, 1, nullptr)); }

int CImage::GetMinMax(int plane, double* min, double* max) const
{
    // NaN fails both comparisons, so it never moves an extreme; a plane with
    // no other sample leaves lo above hi.
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    for (int y = 0; y < m_height; ++y) {
        const unsigned char* row = GetImageAdr(0, y, plane, 1, nullptr);
        if (!row) {
            break;
        }
        if (m_bitsPixel == -32) {
            const float* s = reinterpret_cast<const float*>(row);
            float rowLo = std::numeric_limits<float>::infinity();
            float rowHi = -std::numeric_limits<float>::infinity();
            for (int x = 0; x < m_width; ++x) {
                rowLo = s[x] < rowLo ? s[x] : rowLo;
                rowHi = s[x] > rowHi ? s[x] : rowHi;
            }
            lo = std::min(lo, static_cast<double>(rowLo));
            hi = std::max(hi, static_cast<double>(rowHi));
        } else {
            const std::size_t bytes = static_cast<std::size_t>(GetBytesPixel());
            for (int x = 0; x < m_width; ++x) {
                const double v = DecodeStored(row + static_cast<std::size_t>(x) * bytes);
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
        }
    }
    const bool any = lo <= hi;
    if (min) {
        *min = any ? lo : 0.0;
    }
    if (max) {
        *max = any ? hi : 0.0;
    }
    return any ? 1 : 0;
}

int CImage::ChangeSize(int width, int height, HWND, const wchar_t*)
{
    if (width < 1 || height < 1) {
        return 0;
    }
    if (!m_store->Reshape(width, height, m_planes, GetBytesPixel())) {
        return 0;
    }
    m_width = width;
    m_height = height;
    return 1;
}
