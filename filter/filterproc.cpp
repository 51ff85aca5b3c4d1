// CFilterProc: kernel set-up, per-thread row rings, horizontal filtering of
// rows into the rings and the vertical combination.
#include "filter/filterproc.h"

#include <algorithm>
#include <cstring>

#include "filter/filtermatrix.h"
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

// Columns per block of the row kernels: one block of sums stays in L1.
constexpr int kBlock = 1024;

// The row kernels below keep, for every output value, the sum of its taps in
// tap order, in float, from 0.0: results are bit for bit those of the plain
// loop over taps. They vectorise across columns (and across output rows),
// never across taps. Their bodies are compiled for several instruction sets
// (RowKernels, below) and picked once at run time; separate mul and add
// instructions in every one (no fused multiply-add).
#define ORBIMG_INLINE inline __attribute__((always_inline))

// sum[i] = (((sum[i] + k[0] src[0][i]) + k[1] src[1][i]) + ...), taps 0..n-1
// (n <= 4): up to four taps in one pass over the sums, the same order with
// fewer loads and stores of them.
ORBIMG_INLINE void AddTapsBody(float* __restrict sum, const float* const* src, const float* k, int taps, int count)
{
    switch (taps) {
    case 4: {
        const float k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3];
        const float* __restrict a = src[0];
        const float* __restrict b = src[1];
        const float* __restrict c = src[2];
        const float* __restrict d = src[3];
        for (int i = 0; i < count; ++i) {
            sum[i] = (((sum[i] + k0 * a[i]) + k1 * b[i]) + k2 * c[i]) + k3 * d[i];
        }
        break;
    }
    case 3: {
        const float k0 = k[0], k1 = k[1], k2 = k[2];
        const float* __restrict a = src[0];
        const float* __restrict b = src[1];
        const float* __restrict c = src[2];
        for (int i = 0; i < count; ++i) {
            sum[i] = ((sum[i] + k0 * a[i]) + k1 * b[i]) + k2 * c[i];
        }
        break;
    }
    case 2: {
        const float k0 = k[0], k1 = k[1];
        const float* __restrict a = src[0];
        const float* __restrict b = src[1];
        for (int i = 0; i < count; ++i) {
            sum[i] = (sum[i] + k0 * a[i]) + k1 * b[i];
        }
        break;
    }
    case 1: {
        const float k0 = k[0];
        const float* __restrict a = src[0];
        for (int i = 0; i < count; ++i) {
            sum[i] = sum[i] + k0 * a[i];
        }
        break;
    }
    default:
        break;
    }
}

// Four output rows at once: out[o][i] = sum over t = 0..size-1 of k[t] x
// src[o + t][i] for o = 0..3 (src holds size + 3 rows), size >= 3. Each
// source row is read once for all four outputs; the sums of a strip of 16
// columns stay in registers, each in tap order from 0.0.
using Vec16 = float __attribute__((vector_size(64)));

// By reference: a 64-byte vector passed by value would depend on the target.
ORBIMG_INLINE void Load16(Vec16& v, const float* p) { std::memcpy(&v, p, sizeof v); }

ORBIMG_INLINE void Store16(float* p, const Vec16& v) { std::memcpy(p, &v, sizeof v); }

static_assert(CFilterProc::kRowsAtOnce == 4, "CombineFourRows combines four rows");

ORBIMG_INLINE void CombineFourRowsBody(float* const* out, const float* const* src, const float* k, int size, int count)
{
    int c = 0;
    for (; c + 16 <= count; c += 16) {
        Vec16 a0 = {}, a1 = {}, a2 = {}, a3 = {};
        Vec16 v;
        Load16(v, src[0] + c);
        a0 = a0 + k[0] * v;
        Load16(v, src[1] + c);
        a0 = a0 + k[1] * v;
        a1 = a1 + k[0] * v;
        Load16(v, src[2] + c);
        a0 = a0 + k[2] * v;
        a1 = a1 + k[1] * v;
        a2 = a2 + k[0] * v;
        for (int s = 3; s < size; ++s) {
            Load16(v, src[s] + c);
            a0 = a0 + k[s] * v;
            a1 = a1 + k[s - 1] * v;
            a2 = a2 + k[s - 2] * v;
            a3 = a3 + k[s - 3] * v;
        }
        Load16(v, src[size] + c);
        a1 = a1 + k[size - 1] * v;
        a2 = a2 + k[size - 2] * v;
        a3 = a3 + k[size - 3] * v;
        Load16(v, src[size + 1] + c);
        a2 = a2 + k[size - 1] * v;
        a3 = a3 + k[size - 2] * v;
        Load16(v, src[size + 2] + c);
        a3 = a3 + k[size - 1] * v;
        Store16(out[0] + c, a0);
        Store16(out[1] + c, a1);
        Store16(out[2] + c, a2);
        Store16(out[3] + c, a3);
    }
    for (; c < count; ++c) {
        for (int o = 0; o < 4; ++o) {
            float sum = 0.0f;
            for (int t = 0; t < size; ++t) {
                sum += k[t] * src[o + t][c];
            }
            out[o][c] = sum;
        }
    }
}

// The kernels for one instruction set.
struct RowKernels {
    void (*addTaps)(float* __restrict sum, const float* const* src, const float* k, int taps, int count);
    void (*combineFourRows)(float* const* out, const float* const* src, const float* k, int size, int count);
};

#define ORBIMG_ROW_KERNELS(attributes, suffix)                                                              \
    attributes void AddTaps##suffix(float* __restrict sum, const float* const* src, const float* k, int taps, \
                                    int count)                                                                \
    {                                                                                                         \
        AddTapsBody(sum, src, k, taps, count);                                                                \
    }                                                                                                         \
    attributes void CombineFourRows##suffix(float* const* out, const float* const* src, const float* k,        \
                                            int size, int count)                                              \
    {                                                                                                         \
        CombineFourRowsBody(out, src, k, size, count);                                                        \
    }

ORBIMG_ROW_KERNELS(, Plain)
#if defined(__GNUC__) && defined(__x86_64__)
ORBIMG_ROW_KERNELS(__attribute__((target("avx2"))), Avx2)
ORBIMG_ROW_KERNELS(__attribute__((target("avx512f"))), Avx512)
#endif

/// The widest kernels the processor runs, chosen on first use.
const RowKernels& Kernels()
{
    static const RowKernels kernels = [] {
#if defined(__GNUC__) && defined(__x86_64__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) {
            return RowKernels{AddTapsAvx512, CombineFourRowsAvx512};
        }
        if (__builtin_cpu_supports("avx2")) {
            return RowKernels{AddTapsAvx2, CombineFourRowsAvx2};
        }
#endif
        return RowKernels{AddTapsPlain, CombineFourRowsPlain};
    }();
    return kernels;
}

// out[i] = sum over t = 0..taps-1 of k[t] x src[t][i], in float from 0.0 in
// tap order, for i = 0..count-1: taps in the outer loop, columns in the
// inner one, kBlock columns at a time.
void CombineRows(float* out, int count, const float* k, int taps, const float* const* src)
{
    const RowKernels& kernels = Kernels();
    for (int c0 = 0; c0 < count; c0 += kBlock) {
        const int n = std::min(kBlock, count - c0);
        float* sum = out + c0;
        std::fill_n(sum, n, 0.0f);
        for (int t = 0; t < taps; t += 4) {
            const int group = std::min(4, taps - t);
            const float* block[4] = {};
            for (int g = 0; g < group; ++g) {
                block[g] = src[t + g] + c0;
            }
            kernels.addTaps(sum, block, k + t, group, n);
        }
    }
}

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
        CombineRows(out + c0, c1 - c0, m_kernel.get(), m_size, shifted);
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
            Kernels().combineFourRows(lines, ring->window.get(), kernel, m_size, hi - lo);
        } else {
            for (int o = 0; o < n; ++o) {
                CombineRows(lines[o], hi - lo, kernel, m_size, ring->window.get() + o);
            }
        }
        ring->lastRow = static_cast<int>(row + n - 1);
        j += n;
    }
    return 1;
}
