// CKelImage construction, copying, standard points and pasting.
#include "image/kelimage.h"

#include <algorithm>
#include <cstring>

namespace {

const CfPoint kUnsetPoint(-1, -1);

}  // namespace

CKelImage::CKelImage() : m_curFilterProc(&m_filterProc[0]) { Init(); }

CKelImage::CKelImage(int width, int height, int planes, int bitsPixel, double bscale, double bzero, int isSigned,
                     HWND wnd, const wchar_t* text)
    : CImage(width, height, planes, bitsPixel, bscale, bzero, isSigned, wnd, text), m_curFilterProc(&m_filterProc[0])
{
    Init();
}

CKelImage::CKelImage(const CKelImage& other)
    : CImage(other, nullptr, nullptr),
      m_stdPt{other.m_stdPt[0], other.m_stdPt[1]},
      m_stdCtr(other.m_stdCtr),
      m_curFilterProc(&m_filterProc[0]),
      m_stretch(other.m_stretch)
{
}

CKelImage& CKelImage::operator=(const CKelImage& other)
{
    if (this == &other) {
        return *this;
    }
    CImage::operator=(other);
    m_stdPt[0] = other.m_stdPt[0];
    m_stdPt[1] = other.m_stdPt[1];
    m_stdCtr = other.m_stdCtr;
    m_stretch = other.m_stretch;
    // The slots filtered the old samples (possibly of another size): start
    // them afresh rather than keep rings that no longer fit.
    ClearFilterProc();
    m_curFilterProc = &m_filterProc[0];
    return *this;
}

int CKelImage::TakeRecord(const CKelImage& other, int width, int height, bool overwrite)
{
    if (!CImage::TakeRecord(other, width, height, overwrite)) {
        return 0;
    }
    m_stdPt[0] = other.m_stdPt[0];
    m_stdPt[1] = other.m_stdPt[1];
    m_stdCtr = other.m_stdCtr;
    ClearFilterProc();
    m_curFilterProc = &m_filterProc[0];
    return 1;
}

CKelImage::~CKelImage() = default;

void CKelImage::Init()
{
    m_stdPt[0] = kUnsetPoint;
    m_stdPt[1] = kUnsetPoint;
    m_stdCtr = kUnsetPoint;
}

int CKelImage::Copy(const CKelImage* src, int x, int y, HWND, const char*)
{
    if (!src || src->GetPlanes() != GetPlanes() || src->GetBytesPixel() != GetBytesPixel()) {
        return 0;
    }
    const int width = GetWidth();
    const int height = GetHeight();
    const int srcWidth = src->GetWidth();
    const int srcHeight = src->GetHeight();
    if (width < 1 || height < 1 || srcWidth < 1 || srcHeight < 1) {
        return 1;
    }
    // Destination span and the source's first column and row. Offsets at or
    // past the far edge land on the last column or row; negative offsets skip
    // the source's part that lies outside.
    const int xs = std::clamp(x, 0, width - 1);
    const int ys = std::clamp(y, 0, height - 1);
    const int srcX = x < 0 ? -x : 0;
    const int srcY = y < 0 ? -y : 0;
    const long long xe = std::min(static_cast<long long>(srcWidth) + x, static_cast<long long>(width));
    const long long ye = std::min(static_cast<long long>(srcHeight) + y, static_cast<long long>(height));
    if (srcX >= srcWidth || srcY >= srcHeight || xe <= xs || ye <= ys) {
        return 1;
    }
    const std::size_t bytes = static_cast<std::size_t>(xe - xs) * sizeof(float);
    for (int p = 0; p < GetPlanes(); ++p) {
        for (int r = ys; r < ye; ++r) {
            float* dst = GetImageAdr(xs, r, p, 0, nullptr);
            const float* from = src->GetImageAdr(srcX, r - ys + srcY, p, 0, nullptr);
            if (dst && from) {
                std::memmove(dst, from, bytes);
            }
        }
    }
    return 1;
}
