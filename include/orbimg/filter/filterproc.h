// Separable filter processors: filtered values of single pixels on demand.
//
// Conventions
//   - A CFilterProc filters one plane of one image with the middle row of a
//     CFilterMatrix (the kernel, 2r + 1 taps), applied horizontally and then
//     vertically. All sums are in float, from 0.0, in tap order:
//       h(c, row) = sum over j = 0..2r of kernel[j] x sample(clamp(c - r + j), row)
//       Calc(x, y) = sum over k = 0..2r of kernel[k] x h(x, mirror(y - r + k))
//     clamp limits a column to 0 .. image width - 1 (the edge sample
//     repeats). mirror maps a row index j of an image of height H to
//     m = |j mod 2H| (remainder with the dividend's sign), then 2H - 1 - m
//     when m >= H: -1 -> 1, -2 -> 2 at the top, H -> H - 1, H + 1 -> H - 2
//     at the bottom. Any row index lands inside the image (it mirrors as
//     often as needed), so images lower than r + 1 rows are fine.
//   - Each thread that calls Calc keeps its own ring of horizontally
//     filtered rows (the 2r + 1 rows around the row asked for, and up to
//     kRowsAtOnce - 1 more below it for CalcRows), indexed by
//     CParallel::GetThreadNum() and allocated on the thread's first use; any
//     number of threads may call Calc at once. A thread moving down by
//     k <= 2r + 1 rows filters k new rows; asking for a row whose window the
//     ring holds filters none; any other move (up past the rows held, or
//     further down) refills the whole window. A value never depends on the
//     order in which pixels were asked for.
//   - Rows are read with a read-only lock that is released by its handle
//     right after the row is filtered; no other lock on the image is touched.
//   - Every store into a ring is checked against the ring's bounds; one
//     outside (never in normal use) is dropped and the message box "Over!"
//     is shown.
//   - Building (MakeBuf), emptying and copying are for one thread at a time
//     and must not overlap a Calc.
//   - A copy (copy constructor or assignment) starts empty: processors never
//     share buffers.
//   - NaN samples propagate into the values they touch; no undefined
//     behaviour.
#pragma once

#include <memory>

#include "platform/export.h"

class CKelImage;
class CFilterMatrix;

class ORBIMG_API CFilterProc {
public:
    /// The empty state: no buffers, width 50.
    CFilterProc();
    /// The empty state, then MakeBuf(image, matrix, plane, 1).
    CFilterProc(CKelImage* image, CFilterMatrix* matrix, int plane);
    /// An empty processor (buffers are never shared).
    CFilterProc(const CFilterProc& other);
    /// Empties this processor; the other's buffers are not copied.
    CFilterProc& operator=(const CFilterProc& other);
    virtual ~CFilterProc();

    /// The empty state. The processor owns its buffers, so they are released
    /// too (the same as Empty).
    void Init();
    /// Releases every buffer and returns to the empty state.
    void Empty();
    /// True until MakeBuf has built the processor (rings are made later, on
    /// each thread's first Calc, and do not count).
    int IsEmpty();
    /// Builds the processor for plane `plane` of `image` from the middle row
    /// (row r) of `matrix`; when `normalise` is non-zero the kernel is divided
    /// by its sum (taken in float, in tap order), unless that sum is 0.0. The
    /// image and matrix are not owned; the kernel is copied, the image must
    /// outlive the processor's use. Rings of the same geometry (radius and
    /// image width) are kept from an earlier build and refilled before use.
    /// Returns 1; returns 0 and leaves the processor empty when image or
    /// matrix is null, the matrix is empty, the image has no samples,
    /// `plane` is not one of its planes or a ring would pass 2^31 floats.
    int MakeBuf(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise);
    /// The filtered value of (x, y) on the raw scale of the plane. Any y is
    /// accepted (rows mirror). 0.0 when x is outside 0 .. GetWidth() - 1 or
    /// the processor is empty; nothing is read then. A row that can no longer
    /// be fetched (the image shrank since MakeBuf) filters to 0.0. A thread's
    /// first call allocates its ring (std::bad_alloc on failure);
    /// CParallel::GetThreadNum's exception passes through.
    float Calc(int x, int y);
    /// The values Calc(x + i, y + j) gives, bit for bit, for i = 0 .. count - 1
    /// and j = 0 .. rows - 1, written to out[j x count + i]; computed whole
    /// rows at a time (kRowsAtOnce rows per pass over the ring), so it is
    /// much faster than Calc per pixel. Columns outside 0 .. GetWidth() - 1
    /// give 0.0. Returns 1 for a built processor; 0 (every value 0.0) when it
    /// is empty. Nothing is written when count or rows is below 1 or out is
    /// null.
    int CalcRows(int x, int y, int count, int rows, float* out);

    /// Rows CalcRows combines in one pass over the ring.
    static constexpr int kRowsAtOnce = 4;

    /// Row length of the rings: the image width at MakeBuf; 50 when empty.
    int GetWidth() const { return m_width; }
    /// Kernel radius r; 0 when empty.
    int GetRadius() const { return m_radius; }

protected:
    /// Positions the calling thread's ring on row y (x is not used). Returns
    /// 1; 0 when the processor is empty.
    int ProcHorizontal(int x, int y);
    /// The vertical combination of column x from the calling thread's ring,
    /// as positioned by the last ProcHorizontal; 0.0 when the ring is not
    /// positioned or x is outside 0 .. GetWidth() - 1.
    float ProcVertical(int x);

private:
    struct Ring;

    /// The calling thread's ring, made on its first use; null when empty.
    Ring* ThreadRing();
    /// Fills ring slot `slot` with image row `row` (mirrored), filtered
    /// horizontally.
    void LoadRow(Ring& ring, int slot, long long row);
    /// Makes `ring` hold rows first .. last (at most m_slots of them),
    /// filtering the rows it lacks.
    void Position(Ring& ring, long long first, long long last);
    /// Pointers to column x of window rows first, first + 1, ... (count of
    /// them), which the ring must hold.
    void WindowRows(Ring& ring, long long first, int count, int x);

    int m_radius = 0;
    int m_size = 0;
    int m_slots = 0;  ///< rows per ring: m_size + kRowsAtOnce - 1
    CKelImage* m_image = nullptr;
    CFilterMatrix* m_matrix = nullptr;
    int m_ringFloats = 0;
    std::unique_ptr<std::unique_ptr<Ring>[]> m_rings;  ///< one entry per thread, each made on first use
    int m_plane = 0;
    std::unique_ptr<float[]> m_kernel;
    int m_width = 50;
    int m_threadCount = 0;
};

/// Three processors, one per colour plane, with a current selection.
class ORBIMG_API CFilterProcEx {
public:
    /// Three empty processors; the current selection is processor 0.
    CFilterProcEx();
    /// Three empty processors; the current selection is this object's processor 0.
    CFilterProcEx(const CFilterProcEx& other);
    /// Empties this object's processors and selects its processor 0.
    CFilterProcEx& operator=(const CFilterProcEx& other);
    ~CFilterProcEx() = default;

    /// Builds processor `plane` (0..2) with MakeBuf unless it is already
    /// built. Returns 0 for a plane outside 0..2; 1 for a processor already
    /// built; else MakeBuf's result.
    int Make(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise);
    /// Selects processor `plane`; outside 0..2 selects processor 0.
    void SetPln(int plane);
    /// Empties the three processors; the selection stays.
    void Clear();
    /// Calc of the current processor.
    float Calc(int x, int y);
    /// Calc of processor `plane`; 0.0 for a plane outside 0..2.
    float Calc(int x, int y, int plane);
    /// CalcRows of the current processor.
    int CalcRows(int x, int y, int count, int rows, float* out);

private:
    CFilterProc m_proc[3];
    CFilterProc* m_current;
};
