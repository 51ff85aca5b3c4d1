// The three-plane processor CFilterProcEx and the filter slots of CKelImage.
#include "filter/filterproc.h"
#include "image/kelimage.h"

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

void CFilterProcEx::SetPln(int plane) { m_current = &m_proc[(plane >= 0 && plane <= 2) ? plane : 0]; }

void CFilterProcEx::Clear()
{
    for (CFilterProc& proc : m_proc) {
        proc.Empty();
    }
}

void CKelImage::SetFilterProcPln(int plane)
{
    m_curFilterProc = &m_filterProc[(plane >= 0 && plane <= 2) ? plane : 0];
}

void CKelImage::ClearFilterProc()
{
    for (CFilterProc& proc : m_filterProc) {
        proc.Empty();
    }
    for (CFilterProcEx& ex : m_filterProcEx) {
        ex.Clear();
    }
}
