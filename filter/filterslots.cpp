// The three-plane processor CFilterProcEx and the filter slots of CKelImage.
// Both hold three processors, one per colour plane, with a current one; the
// helpers below serve both.
#include "filter/filterproc.h"
#include "image/kelimage.h"

#include <algorithm>

namespace {

constexpr int kExSlots = 6;

using Triple = CFilterProc[3];

bool IsColourPlane(int plane) { return plane >= 0 && plane <= 2; }

/// Builds processor `plane` unless it is built: 0 for a plane outside 0..2,
/// 1 when already built, else MakeBuf's result.
int MakeOnce(Triple& procs, CKelImage* image, CFilterMatrix* matrix, int plane, int normalise)
{
    if (!IsColourPlane(plane)) {
        return 0;
    }
    if (!procs[plane].IsEmpty()) {
        return 1;
    }
    return procs[plane].MakeBuf(image, matrix, plane, normalise);
}

/// Processor `plane`; processor 0 for a plane outside 0..2.
CFilterProc* Select(Triple& procs, int plane) { return &procs[IsColourPlane(plane) ? plane : 0]; }

void EmptyAll(Triple& procs)
{
    for (CFilterProc& proc : procs) {
        proc.Empty();
    }
}

/// Calc of processor `plane`; 0.0 for a plane outside 0..2.
float CalcPlane(Triple& procs, int x, int y, int plane)
{
    return IsColourPlane(plane) ? procs[plane].Calc(x, y) : 0.0f;
}

}  // namespace

// ---- CFilterProcEx ------------------------------------------------------------

CFilterProcEx::CFilterProcEx() : m_current(&m_proc[0]) {}

CFilterProcEx::CFilterProcEx(const CFilterProcEx& /*other*/) : m_current(&m_proc[0]) {}

CFilterProcEx& CFilterProcEx::operator=(const CFilterProcEx& other)
{
    if (this != &other) {
        Clear();
        m_current = &m_proc[0];
    }
    return *this;
}

int CFilterProcEx::Make(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise)
{
    return MakeOnce(m_proc, image, matrix, plane, normalise);
}

void CFilterProcEx::SetPln(int plane) { m_current = Select(m_proc, plane); }

void CFilterProcEx::Clear() { EmptyAll(m_proc); }

float CFilterProcEx::Calc(int x, int y) { return m_current->Calc(x, y); }

float CFilterProcEx::Calc(int x, int y, int plane) { return CalcPlane(m_proc, x, y, plane); }

int CFilterProcEx::CalcRows(int x, int y, int count, int rows, float* out)
{
    return m_current->CalcRows(x, y, count, rows, out);
}

// ---- CKelImage filter slots ---------------------------------------------------

int CKelImage::MakeFilterProc(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise)
{
    return MakeOnce(m_filterProc, image, matrix, plane, normalise);
}

void CKelImage::SetFilterProcPln(int plane) { m_curFilterProc = Select(m_filterProc, plane); }

void CKelImage::ClearFilterProc()
{
    EmptyAll(m_filterProc);
    for (CFilterProcEx& ex : m_filterProcEx) {
        ex.Clear();
    }
}

int CKelImage::MakeFilterProcEx(int index, CKelImage* image, CFilterMatrix* matrix, int plane, int normalise)
{
    if (index < 0 || index >= kExSlots) {
        return 0;
    }
    return m_filterProcEx[index].Make(image, matrix, plane, normalise);
}

void CKelImage::SetFilterProcPlnEx(int index, int plane)
{
    if (index >= 0 && index < kExSlots) {
        m_filterProcEx[index].SetPln(plane);
    }
}

float CKelImage::CalcFilterProc(int x, int y) { return m_curFilterProc->Calc(x, y); }

float CKelImage::CalcFilterProc(int x, int y, int plane) { return CalcPlane(m_filterProc, x, y, plane); }

float CKelImage::CalcFilterProcEx(int index, int x, int y)
{
    return (index >= 0 && index < kExSlots) ? m_filterProcEx[index].Calc(x, y) : 0.0f;
}

float CKelImage::CalcFilterProcEx(int index, int x, int y, int plane)
{
    return (index >= 0 && index < kExSlots) ? m_filterProcEx[index].Calc(x, y, plane) : 0.0f;
}

int CKelImage::CalcFilterProcExRows(int index, int x, int y, int count, int rows, float* out)
{
    if (index < 0 || index >= kExSlots) {
        if (out && count > 0 && rows > 0) {
            std::fill_n(out, static_cast<std::size_t>(count) * static_cast<std::size_t>(rows), 0.0f);
        }
        return 0;
    }
    return m_filterProcEx[index].CalcRows(x, y, count, rows, out);
}
