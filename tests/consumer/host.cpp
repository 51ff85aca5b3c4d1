// A host program: one include, one library. It prints results whose last bit
// depends on how the library rounds (display values, a luminance, a bilinear
// read, automatic levels) as hexadecimal floats; scripts/check-consumers.sh
// builds it with g++ and clang++, against the shared and the static library,
// and compares what every build prints with tests/consumer/host_expected.txt.
// It also checks what crosses the library's boundary: a run-time class found
// by name, a dynamic_cast, an exception thrown inside the library, and the
// diagnostics and hooks a host's tests use.
#include <atomic>
#include <cstdio>

#include "orbimg.h"

namespace {

bool BoundaryWorks()
{
    const CRuntimeClass* dib = CRuntimeClass::FromName("CMemoryDIB");
    if (!dib || dib->m_pBaseClass != CRuntimeClass::FromName("CBaseDIB")) {
        std::puts("CMemoryDIB is not registered");
        return false;
    }
    CMemoryDIB bitmap;
    CObject* object = &bitmap;
    if (!dynamic_cast<CBaseDIB*>(object) || !object->IsKindOf(RUNTIME_CLASS(CBaseDIB))) {
        std::puts("run-time type of CMemoryDIB lost");
        return false;
    }
    try {
        CImage huge(1 << 20, 1 << 20, 16, -64, 1.0, 0.0, 1);  // 2^47 bytes: refused
    } catch (const CMemoryException&) {
        return true;
    } catch (...) {
    }
    std::puts("CMemoryException not caught");
    return false;
}

void Silent(const wchar_t*) {}

bool HooksWork(CKelImage& image)
{
    CWnd window(24);
    CMemoryDIB bitmap;
    bitmap.Create(&window, 8, 6, 0);
    image.ToDIB(&bitmap, nullptr, 0);
    HDIB packed = image.GetDib(24);
    const bool live = GdiLiveObjectCount() == 2 && GlobalLiveBlockCount() == 1 && bitmap.GetBitCount() == 24;
    GlobalFree(packed);
    bitmap.Empty();
    void* handle = nullptr;
    image.GetImageAdr(0, 0, 0, 3, &handle);
    const bool locked = image.GetVmImage()->GetLockCount() == 1 && image.Unlock(handle) == 1;
    CVmManager::SetCurrentSwapSize(1);
    const bool swapped = CVmManager::GetCurrentSwapSize() == 1;
    CVmManager::SetCurrentSwapSize(0);
    std::atomic<int> sum{0};
    Concurrency::parallel_for(0, 100, [&sum](int i) { sum += i; });
    CRegistry::Write(L"Psf", L"Max", 12.5);
    double limit = 0.0;
    CRegistry::Read(L"Psf", L"Max", 20.0, &limit);
    CRegistry::Clear();
    const AfxMessageBoxHandler previous = AfxSetMessageBoxHandler(&Silent);
    AfxMessageBox(L"not shown");
    AfxSetMessageBoxHandler(previous);
    const bool ok = live && GdiLiveObjectCount() == 0 && GlobalLiveBlockCount() == 0 && locked && swapped &&
                    sum == 4950 && limit == 12.5 && CParallel::GetThreadNum() < CParallel::GetMaxThreads();
    if (!ok) {
        std::puts("a diagnostic or hook failed");
    }
    return ok;
}

}  // namespace

int main()
{
    CImgAutoLevel image(8, 6, 3, -32, 1.0, 0.0, 1);
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < 6; ++y) {
            float* row = image.GetImageAdr(0, y, p, 0, nullptr);
            for (int x = 0; x < 8; ++x) {
                // One division, rounded the same by any compiler.
                row[x] = static_cast<float>(7001 + 261 * x + 1482 * y + 35002 * p) / 7.0f;
            }
        }
    }
    image.SetLevel(0, 996.598747103822, 15112.46);
    image.SetLevel(1, 1200.25, 9000.7);
    image.SetLevel(2, 1100.0 / 3.0, 20000.0 / 7.0);

    float v = 1234.567f;
    std::printf("display     %a %a %a\n", image.GetPixelGray256f(3, 2, 0), image.GetPixelGray256f(5, 4, 1),
                image.GetPixelGray256f(7, 5, 2));
    std::printf("display lf  %a\n", image.GetPixelGray256f(&v, 996.6f, 0.0180709f));
    std::printf("bytes       %d %d %d\n", image.GetPixelGray256(3, 2, 0), image.GetPixelGray256(5, 4, 1),
                image.GetPixelGray256(1, 1, 2));
    std::printf("luminance   %a %a\n", image.GetPixelBright256f(3, 2), image.GetPixelBright256f(6, 1));
    std::printf("brightness  %a\n", image.CalcBright(0.1, 0.7, 1.0 / 3.0));
    std::printf("bilinear    %a %a\n", image.GetPixelGrayRaw(2.3, 1.7, 1), image.GetPixelGrayRaw(6.9, 0.35, 2));
    std::printf("raw         %a\n", image.ToRaw(100.0 / 3.0, 2));
    double low = 0.0;
    double high = 0.0;
    image.Get(low, high, 1, nullptr);
    std::printf("mean levels %a %a\n", low, high);
    return BoundaryWorks() && HooksWork(image) ? 0 : 1;
}
