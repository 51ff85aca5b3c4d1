// CFilterProc: kernel set-up, per-thread row rings, horizontal filtering of
// rows into the rings and the vertical combination.
#include "filter/filterproc.h"

#include <algorithm>

#include "filter/filtermatrix.h"
#include "filter/rowkernels.h"
#include "image/kelimage.h"
#include "imagecore/image.h"
#include "platform/afx.h"

// One thread's ring: m_slots slots of m_width floats holding the
// horizontally filtered rows top .. top + held - 1, row top in slot head and
// the next ones after it (wrapping).
struct CFilterProc::Ring {
    std::unique_ptr<float[]> rows;           ///< m_ringFloats floats
    std::unique_ptr<float[]> pad;            ///< a source row with r clamped columns on each side
    std::unique_ptr<const float*[]> window;  ///< scratch: one pointer per slot
    int padFloats = 0;
    int held = 0;  ///< 0: nothing held (not positioned)
    int head = 0;
    long long top = 0;
    int lastRow = 0;  ///< the row ProcHorizontal positioned on
};

namespace {

static_assert(CFilterProc::kRowsAtOnce == 4, "CalcRows combines rows with CombineFourRows");

// Row index j of an image of height H (>= 1) mirrored into 0..H-1.
int MirrorRow(long long j, int height)
{
    const long long period = 2LL * height;
    long long m = j % period;
    m = m < 0 ? -m : m;
    if (m >= height) {
        m = period - 1 - m;
    }
    return static_cast<int>(m);
}

}  // namespace

// ---- life cycle ---------------------------------------------------------------

CFilterProc::CFilterProc() = default;

CFilterProc::CFilterProc(CKelImage* image, CFilterMatrix* matrix, int plane) { MakeBuf(image, matrix, plane, 1); }

CFilterProc::CFilterProc(const CFilterProc& /*other*/) : CFilterProc() {}

CFilterProc& CFilterProc::operator=(const CFilterProc& other)
{
    if (this != &other) {
        Empty();
    }
    return *this;
}

CFilterProc::~CFilterProc() { Empty(); }

void CFilterProc::Init()
{
    m_rings.reset();
    m_kernel.reset();
    m_radius = 0;
    m_size = 0;
    m_slots = 0;
    m_image = nullptr;
    m_matrix = nullptr;
    m_ringFloats = 0;
    m_plane = 0;
    m_width = 50;
    m_threadCount = 0;
}

void CFilterProc::Empty() { Init(); }

int CFilterProc::IsEmpty() { return m_rings ? 0 : 1; }

// ---- building -----------------------------------------------------------------

int CFilterProc::MakeBuf(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise)
{
    if (!image || !matrix || !matrix->GetCoef() || matrix->GetSize() < 1 || image->GetWidth() < 1 ||
        image->GetHeight() < 1 || plane < 0 || plane >= image->GetPlanes()) {
        Empty();
        return 0;
    }
    const int radius = matrix->GetRadius();
    const int size = matrix->GetSize();
    const int slots = size + kRowsAtOnce - 1;
    const int width = image->GetWidth();
    const long long ringFloats = static_cast<long long>(slots) * width;
    if (ringFloats > 0x7fffffffLL) {
        Empty();
        return 0;
    }
    const int threadCount = CParallel::GetMaxThreads();

    // The kernel: row r of the matrix, and its sum in tap order.
    auto kernel = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(size));
    const float* middle = matrix->GetCoef() + static_cast<std::size_t>(size) * static_cast<std::size_t>(radius);
    float sum = 0.0f;
    for (int k = 0; k < size; ++k) {
        kernel[k] = middle[k];
        sum += middle[k];
    }
    if (normalise && sum != 0.0f) {
        for (int k = 0; k < size; ++k) {
            kernel[k] /= sum;
        }
    }

    // Rings: kept when their geometry is unchanged (emptied: they are
    // refilled before any read), else dropped; each thread makes its own on
    // first use.
    if (!m_rings || ringFloats != m_ringFloats || slots != m_slots || threadCount != m_threadCount) {
        m_rings = std::make_unique<std::unique_ptr<Ring>[]>(static_cast<std::size_t>(threadCount));
    } else {
        for (int t = 0; t < threadCount; ++t) {
            if (m_rings[t]) {
                m_rings[t]->held = 0;
            }
        }
    }
    m_kernel = std::move(kernel);
    m_radius = radius;
    m_size = size;
    m_slots = slots;
    m_image = image;
    m_matrix = matrix;
    m_ringFloats = static_cast<int>(ringFloats);
    m_plane = plane;
    m_width = width;
    m_threadCount = threadCount;
    return 1;
}

// ---- rings --------------------------------------------------------------------

CFilterProc::Ring* CFilterProc::ThreadRing()
{
    if (!m_rings) {
        return nullptr;
    }
    const int t = CParallel::GetThreadNum();
    if (t < 0 || t >= m_threadCount) {
        return nullptr;
    }
    std::unique_ptr<Ring>& ring = m_rings[t];
    if (!ring) {
        auto fresh = std::make_unique<Ring>();
        fresh->rows = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(m_ringFloats));
        fresh->window = std::make_unique<const float*[]>(static_cast<std::size_t>(m_slots));
        ring = std::move(fresh);
    }
    const int padFloats = m_width + 2 * m_radius;
    if (ring->padFloats != padFloats) {
        ring->pad = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(padFloats));
        ring->padFloats = padFloats;
    }
    return ring.get();
}

void CFilterProc::LoadRow(Ring& ring, int slot, long long row)
{
    const long long first = static_cast<long long>(slot) * m_width;
    if (slot < 0 || first + m_width > m_ringFloats) {
        AfxMessageBox(L"Over!", MB_OK);  // guard: a store outside the ring is dropped
        return;
    }
    float* out = ring.rows.get() + first;
    const int imageWidth = m_image->GetWidth();
    const int imageHeight = m_image->GetHeight();
    void* handle = nullptr;
    const float* src = (imageWidth > 0 && imageHeight > 0)
                           ? m_image->GetImageAdr(0, MirrorRow(row, imageHeight), m_plane, 3u, &handle)
                           : nullptr;
    if (!src) {
        std::fill_n(out, m_width, 0.0f);
        return;
    }

    // Columns 0 .. a - 1 and b .. width - 1 reach past the image's edges and
    // read a copy of their source columns with the edge samples repeated
    // (pad); the columns between read the row itself.
    const int r = m_radius;
    const int a = std::min(r, m_width);
    const int b = std::clamp(imageWidth - r, a, m_width);
    float* pad = ring.pad.get();
    const float** shifted = ring.window.get();  // m_slots >= m_size entries
    // Output columns c0 .. c1 - 1, where tap j of column c reads base[c - c0 + j].
    auto filterSpan = [&](int c0, int c1, const float* base) {
        for (int j = 0; j < m_size; ++j) {
            shifted[j] = base + j;
        }
        orbimg::detail::CombineRows(out + c0, c1 - c0, m_kernel.get(), m_size, shifted);
    };
    auto fillPad = [&](int firstColumn, int count) {
        for (int i = 0; i < count; ++i) {
            pad[i] = src[std::clamp(firstColumn + i, 0, imageWidth - 1)];
        }
    };
    if (a > 0) {
        fillPad(-r, a + 2 * r);
        filterSpan(0, a, pad);
    }
    if (b > a) {
        filterSpan(a, b, src + (a - r));
    }
    if (m_width > b) {
        fillPad(b - r, m_width - b + 2 * r);
        filterSpan(b, m_width, pad);
    }
    m_image->Unlock(handle);
}

void CFilterProc::Position(Ring& ring, long long first, long long last)
{
    const long long bottom = ring.top + ring.held - 1;
    if (ring.held > 0 && first >= ring.top && last <= bottom) {
        return;
    }
    if (ring.held > 0 && first >= ring.top && bottom + 1 >= first) {
        // Slide down: append the rows below, dropping the oldest when full.
        for (long long row = bottom + 1; row <= last; ++row) {
            if (ring.held == m_slots) {
                ring.head = (ring.head + 1 == m_slots) ? 0 : ring.head + 1;
                ++ring.top;
                --ring.held;
            }
            LoadRow(ring, (ring.head + ring.held) % m_slots, row);
            ++ring.held;
        }
        return;
    }
    // Any other move refills the window from slot 0.
    ring.held = 0;
    ring.head = 0;
    ring.top = first;
    for (long long row = first; row <= last; ++row) {
        LoadRow(ring, ring.held, row);
        ++ring.held;
    }
}

void CFilterProc::WindowRows(Ring& ring, long long first, int count, int x)
{
    int slot = static_cast<int>((ring.head + (first - ring.top)) % m_slots);
    const std::size_t width = static_cast<std::size_t>(m_width);
    for (int i = 0; i < count; ++i) {
        ring.window[i] = ring.rows.get() + static_cast<std::size_t>(slot) * width + x;
        slot = (slot + 1 == m_slots) ? 0 : slot + 1;
    }
}

// ---- values -------------------------------------------------------------------

int CFilterProc::ProcHorizontal(int /*x*/, int y)
{
    Ring* ring = ThreadRing();
    if (!ring) {
        return 0;
    }
    Position(*ring, static_cast<long long>(y) - m_radius, static_cast<long long>(y) + m_radius);
    ring->lastRow = y;
    return 1;
}

float CFilterProc::ProcVertical(int x)
{
    Ring* ring = ThreadRing();
    if (!ring || ring->held == 0 || x < 0 || x >= m_width) {
        return 0.0f;
    }
    const long long first = static_cast<long long>(ring->lastRow) - m_radius;
    if (first < ring->top || first + m_size > ring->top + ring->held) {
        return 0.0f;  // not positioned on lastRow (cannot happen after ProcHorizontal)
    }
    const float* rows = ring->rows.get();
    const float* kernel = m_kernel.get();
    float sum = 0.0f;
    int slot = static_cast<int>((ring->head + (first - ring->top)) % m_slots);
    for (int k = 0; k < m_size; ++k) {
        sum += kernel[k] * rows[static_cast<std::size_t>(slot) * static_cast<std::size_t>(m_width) + x];
        slot = (slot + 1 == m_slots) ? 0 : slot + 1;
    }
    return sum;
}

float CFilterProc::Calc(int x, int y)
{
    if (!m_rings || x < 0 || x >= m_width) {
        return 0.0f;
    }
    if (!ProcHorizontal(x, y)) {
        return 0.0f;
    }
    return ProcVertical(x);
}

int CFilterProc::CalcRows(int x, int y, int count, int rows, float* out)
{
    if (count < 1 || rows < 1 || !out) {
        return m_rings ? 1 : 0;
    }
    const std::size_t stride = static_cast<std::size_t>(count);
    // Columns x .. x + count - 1 that lie in 0 .. width - 1: [lo, hi).
    const long long end = static_cast<long long>(x) + count;
    const int lo = static_cast<int>(std::clamp<long long>(x, 0, m_width));
    const int hi = static_cast<int>(std::clamp<long long>(end, lo, m_width));
    Ring* ring = (m_rings && hi > lo) ? ThreadRing() : nullptr;
    if (!ring) {
        std::fill_n(out, stride * static_cast<std::size_t>(rows), 0.0f);
        return m_rings ? 1 : 0;
    }
    const int before = static_cast<int>(lo - static_cast<long long>(x));
    const int after = static_cast<int>(end - hi);
    const float* kernel = m_kernel.get();
    for (int j = 0; j < rows;) {
        const long long row = static_cast<long long>(y) + j;
        const int n = std::min(kRowsAtOnce, rows - j);
        Position(*ring, row - m_radius, row + m_radius + n - 1);
        WindowRows(*ring, row - m_radius, m_size + n - 1, lo);
        float* lines[kRowsAtOnce];
        for (int o = 0; o < n; ++o) {
            float* line = out + static_cast<std::size_t>(j + o) * stride;
            std::fill_n(line, before, 0.0f);
            std::fill_n(line + (hi - x), after, 0.0f);
            lines[o] = line + before;
        }
        if (n == kRowsAtOnce && m_size >= 3) {
            orbimg::detail::CombineFourRows(lines, ring->window.get(), kernel, m_size, hi - lo);
        } else {
            for (int o = 0; o < n; ++o) {
                orbimg::detail::CombineRows(lines[o], hi - lo, kernel, m_size, ring->window.get() + o);
            }
        }
        ring->lastRow = static_cast<int>(row + n - 1);
        j += n;
    }
    return 1;
}
