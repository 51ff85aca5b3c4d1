// The three-plane processor CFilterProcEx and the filter slots of CKelImage.
#include "filter/filterproc.h"
#include "image/kelimage.h"

#include <algorithm>

namespace {

constexpr int kExSlots = 6;

bool IsColourPlane(int plane) { return plane >= 0 && plane <= 2; }

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
    if (!IsColourPlane(plane)) {
        return 0;
    }
    if (!m_proc[plane].IsEmpty()) {
        return 1;
    }
    return m_proc[plane].MakeBuf(image, matrix, plane, normalise);
}

void CFilterProcEx::SetPln(int plane) { m_current = &m_proc[IsColourPlane(plane) ? plane : 0]; }

void CFilterProcEx::Clear()
{
    for (CFilterProc& proc : m_proc) {
        proc.Empty();
    }
}

float CFilterProcEx::Calc(int x, int y) { return m_current->Calc(x, y); }

float CFilterProcEx::Calc(int x, int y, int plane) { return IsColourPlane(plane) ? m_proc[plane].Calc(x, y) : 0.0f; }

int CFilterProcEx::CalcRows(int x, int y, int count, int rows, float* out)
{
    return m_current->CalcRows(x, y, count, rows, out);
}

// ---- CKelImage filter slots ---------------------------------------------------

int CKelImage::MakeFilterProc(CKelImage* image, CFilterMatrix* matrix, int plane, int normalise)
{
    if (!IsColourPlane(plane)) {
        return 0;
    }
    if (!m_filterProc[plane].IsEmpty()) {
        return 1;
    }
    return m_filterProc[plane].MakeBuf(image, matrix, plane, normalise);
}

void CKelImage::SetFilterProcPln(int plane) { m_curFilterProc = &m_filterProc[IsColourPlane(plane) ? plane : 0]; }

void CKelImage::ClearFilterProc()
{
    for (CFilterProc& proc : m_filterProc) {
        proc.Empty();
    }
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

float CKelImage::CalcFilterProc(int x, int y, int plane)
{
    return IsColourPlane(plane) ? m_filterProc[plane].Calc(x, y) : 0.0f;
}

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
