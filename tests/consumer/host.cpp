// A host program: one include, one library.
#include "orbimg.h"

int main()
{
    CKelImage image(8, 6, 3, -32, 1.0, 0.0, 1);
    *image.GetImageAdr(2, 3, 1, 0, nullptr) = 500.0f;
    image.SetLevel(-1, 0.0, 1000.0);
    const bool ok = image.GetPixelGray256(2, 3, 1) == 127 && CRuntimeClass::FromName("CObject") != nullptr;
    return ok ? 0 : 1;
}
