// Separable filter processors: filtered values of single pixels on demand.
//
// Conventions
//   - A CFilterProc filters one plane of one image with the middle row of a
//     CFilterMatrix, applied horizontally and then vertically. Columns past
//     the edges repeat the edge sample; rows past the edges are mirrored.
//   - Each thread that calls Calc keeps its own ring of 2r + 1 horizontally
//     filtered rows, indexed by CParallel::GetThreadNum() and allocated on the
//     thread's first use; any number of threads may call Calc at once.
//   - Building (MakeBuf), emptying and copying are for one thread at a time
//     and must not overlap a Calc.
//   - A copy (copy constructor or assignment) starts empty: processors never
//     share buffers.
#pragma once

#include <memory>

class CKelImage;
class CFilterMatrix;

class CFilterProc {
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

    /// Writes the empty-state values into the fields, releasing nothing.
    void Init();
    /// Releases every buffer and returns to the empty state.
    void Empty();
    /// True until MakeBuf has built the processor.
    int IsEmpty();
    /// Builds the processor for plane `plane` of `image` from the middle row
    /// of `matrix`, divided by its sum when `normalise` is non-zero (unless
    /// the sum is 0). Returns 1.
    int MakeBuf(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise);
    /// The filtered value of (x, y) on the raw scale of the plane.
    float Calc(int x, int y);

    int GetWidth() const { return m_width; }
    int GetRadius() const { return m_radius; }

protected:
    /// Positions the calling thread's ring on row y; returns 1.
    int ProcHorizontal(int x, int y);
    /// The vertical combination of column x from the calling thread's ring.
    float ProcVertical(int x);

private:
    int m_radius = 0;
    int m_size = 0;
    CKelImage* m_image = nullptr;
    CFilterMatrix* m_matrix = nullptr;
    int m_ringFloats = 0;
    std::unique_ptr<std::unique_ptr<float[]>[]> m_rings;  ///< one ring per thread, made on first use
    int m_plane = 0;
    std::unique_ptr<float[]> m_kernel;
    int m_width = 50;
    std::unique_ptr<int[]> m_lastRow;
    std::unique_ptr<int[]> m_ringHead;
    int m_threadCount = 0;
};

/// Three processors, one per colour plane, with a current selection.
class CFilterProcEx {
public:
    /// Three empty processors; the current selection is processor 0.
    CFilterProcEx();
    /// Three empty processors; the current selection is this object's processor 0.
    CFilterProcEx(const CFilterProcEx& other);
    /// Empties this object's processors and selects its processor 0.
    CFilterProcEx& operator=(const CFilterProcEx& other);
    ~CFilterProcEx() = default;

    /// Builds processor `plane` (0..2) unless it is already built; returns 0
    /// for a plane outside 0..2, else 1.
    int Make(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise);
    /// Selects processor `plane`; outside 0..2 selects processor 0.
    void SetPln(int plane);
    /// Empties the three processors.
    void Clear();
    /// Calc of the current processor.
    float Calc(int x, int y);
    /// Calc of processor `plane` (0..2).
    float Calc(int x, int y, int plane);

private:
    CFilterProc m_proc[3];
    CFilterProc* m_current;
};
