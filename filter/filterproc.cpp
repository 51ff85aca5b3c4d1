// CFilterProc: state and lifetime of the separable filter processor.
#include "filter/filterproc.h"

CFilterProc::CFilterProc() = default;

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
    // The empty-state values; buffers are not released here (Empty does).
    m_radius = 0;
    m_size = 0;
    m_image = nullptr;
    m_matrix = nullptr;
    m_ringFloats = 0;
    m_plane = 0;
    m_width = 50;
    m_threadCount = 0;
}

void CFilterProc::Empty()
{
    m_rings.reset();
    m_kernel.reset();
    m_lastRow.reset();
    m_ringHead.reset();
    Init();
}

int CFilterProc::IsEmpty() { return m_rings ? 0 : 1; }
