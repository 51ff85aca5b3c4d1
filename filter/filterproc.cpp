// CFilterProc: kernel set-up, per-thread row rings, horizontal filtering of
// rows into the rings and the vertical combination.
#include "filter/filterproc.h"

#include <algorithm>
#include <cstring>

#include "filter/filtermatrix.h"
#include "image/kelimage.h"
#include "imagecore/image.h"
#include "platform/afx.h"

// One thread's ring: size slots of width floats; slot (head + k) mod size
// holds the horizontally filtered row lastRow - r + k while positioned.
struct CFilterProc::Ring {
    std::unique_ptr<float[]> rows;  ///< m_ringFloats floats
    std::unique_ptr<float[]> pad;   ///< one source row with r clamped columns on each side
    int padFloats = 0;
    int lastRow = 0;
    int head = 0;
    bool positioned = false;
};

namespace {

// Columns per block of the row kernels: one block of sums stays in L1.
constexpr int kBlock = 1024;

// The row kernels below add products tap by tap to a block of sums, taps in
// the outer loop and columns in the inner one, so the compiler vectorises
// across columns while every column keeps its own sum in tap order: results
// are bit for bit those of the plain loop over taps. Up to four taps are
// folded into one pass over the block (((s + k0 a) + k1 b) + ...), which is
// the same order with fewer loads and stores of the sums.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define ORBIMG_ROW_KERNEL __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define ORBIMG_ROW_KERNEL
#endif

// sum[i] = (((sum[i] + k[0] src[0][i]) + k[1] src[1][i]) + ...), taps 0..n-1 (n <= 4).
ORBIMG_ROW_KERNEL
void AddTaps(float* __restrict sum, const float* const* src, const float* k, int taps, int count)
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

// out[i] = sum over t = 0..taps-1 of k[t] x row(t)[i], in float from 0.0 in
// tap order, for i = 0..count-1, where row(t) = rowOf(t) (a pointer to the
// first column). Works through kBlock columns at a time.
template <typename RowOf>
void CombineRows(float* out, int count, const float* k, int taps, RowOf rowOf)
{
    for (int c0 = 0; c0 < count; c0 += kBlock) {
        const int n = std::min(kBlock, count - c0);
        float* sum = out + c0;
        std::fill_n(sum, n, 0.0f);
        for (int t = 0; t < taps; t += 4) {
            const int group = std::min(4, taps - t);
            const float* src[4] = {};
            for (int g = 0; g < group; ++g) {
                src[g] = rowOf(t + g) + c0;
            }
            AddTaps(sum, src, k + t, group, n);
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
    const int width = image->GetWidth();
    const long long ringFloats = static_cast<long long>(size) * width;
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

    // Rings: kept when their size is unchanged (they are refilled before any
    // read), else dropped; each thread makes its own on first use.
    if (!m_rings || ringFloats != m_ringFloats || threadCount != m_threadCount) {
        m_rings = std::make_unique<std::unique_ptr<Ring>[]>(static_cast<std::size_t>(threadCount));
    } else {
        for (int t = 0; t < threadCount; ++t) {
            if (m_rings[t]) {
                m_rings[t]->positioned = false;
            }
        }
    }
    m_kernel = std::move(kernel);
    m_radius = radius;
    m_size = size;
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

    // The source row with clamped columns: pad[i] = sample[clamp(i - r)].
    float* pad = ring.pad.get();
    const int r = m_radius;
    for (int i = 0; i < ring.padFloats; ++i) {
        if (i >= r && i - r < imageWidth) {
            // The run of columns inside the image.
            const int run = std::min(ring.padFloats - i, imageWidth - (i - r));
            std::memcpy(pad + i, src + (i - r), static_cast<std::size_t>(run) * sizeof(float));
            i += run - 1;
        } else {
            pad[i] = src[i < r ? 0 : imageWidth - 1];
        }
    }
    m_image->Unlock(handle);

    CombineRows(out, m_width, m_kernel.get(), m_size, [pad](int j) { return pad + j; });
}

void CFilterProc::Position(Ring& ring, int y)
{
    if (ring.positioned && ring.lastRow == y) {
        return;
    }
    const long long down = static_cast<long long>(y) - ring.lastRow;
    const long long r = m_radius;
    if (ring.positioned && down > 0 && down <= m_size) {
        // Slide down: the `down` oldest slots take the new bottom rows.
        for (int i = 0; i < down; ++i) {
            LoadRow(ring, (ring.head + i) % m_size, y + r - down + 1 + i);
        }
        ring.head = static_cast<int>((ring.head + down) % m_size);
    } else {
        // Any other move refills the whole window from slot 0.
        ring.positioned = false;
        for (int i = 0; i < m_size; ++i) {
            LoadRow(ring, i, y - r + i);
        }
        ring.head = 0;
    }
    ring.lastRow = y;
    ring.positioned = true;
}

// ---- values -------------------------------------------------------------------

int CFilterProc::ProcHorizontal(int /*x*/, int y)
{
    Ring* ring = ThreadRing();
    if (!ring) {
        return 0;
    }
    Position(*ring, y);
    return 1;
}

float CFilterProc::ProcVertical(int x)
{
    Ring* ring = ThreadRing();
    if (!ring || !ring->positioned || x < 0 || x >= m_width) {
        return 0.0f;
    }
    const float* rows = ring->rows.get();
    const float* kernel = m_kernel.get();
    float sum = 0.0f;
    int slot = ring->head;
    for (int k = 0; k < m_size; ++k) {
        sum += kernel[k] * rows[static_cast<std::size_t>(slot) * static_cast<std::size_t>(m_width) + x];
        slot = (slot + 1 == m_size) ? 0 : slot + 1;
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

int CFilterProc::CalcRow(int x, int y, int count, float* out)
{
    if (count < 1 || !out) {
        return m_rings ? 1 : 0;
    }
    // Columns x .. x + count - 1 that lie in 0 .. width - 1: [lo, hi).
    const long long end = static_cast<long long>(x) + count;
    const int lo = static_cast<int>(std::clamp<long long>(x, 0, m_width));
    const int hi = static_cast<int>(std::clamp<long long>(end, lo, m_width));
    Ring* ring = (m_rings && hi > lo) ? ThreadRing() : nullptr;
    if (!ring) {
        std::fill_n(out, count, 0.0f);
        return m_rings ? 1 : 0;
    }
    std::fill_n(out, lo - x, 0.0f);
    std::fill_n(out + (hi - x), static_cast<int>(end - hi), 0.0f);

    Position(*ring, y);
    const float* rows = ring->rows.get();
    const int head = ring->head;
    const int size = m_size;
    const std::size_t width = static_cast<std::size_t>(m_width);
    CombineRows(out + (lo - x), hi - lo, m_kernel.get(), size, [&](int k) {
        const int slot = (head + k) % size;
        return rows + static_cast<std::size_t>(slot) * width + lo;
    });
    return 1;
}
