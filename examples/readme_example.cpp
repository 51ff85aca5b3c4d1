// The host example of the README, kept compiling and checked by CTest.
#include "orbimg.h"

int main()
{
    // A 640 x 480 mono frame of 32-bit floats (bits per pixel -32).
    CKelImage frame(640, 480, 1, -32, 1.0, 0.0, 1);

    // Fill it: one row address per row, samples contiguous along the row.
    for (int y = 0; y < frame.GetHeight(); ++y) {
        float* row = frame.GetImageAdr(0, y, 0, 0, nullptr);
        for (int x = 0; x < frame.GetWidth(); ++x) {
            row[x] = 1000.0f + 0.5f * x;
        }
    }

    // Display levels: samples at 1000 show black, at 1200 white.
    frame.SetLevel(0, 1000.0, 1200.0);

    float raw = frame.GetPixelGrayRaw(100, 50, 0);           // 1050
    float display = frame.GetPixelGray256f(100, 50, 0);      // 63.75 on the 0..255 scale
    unsigned char byte = frame.GetPixelGray256(100, 50, 0);  // 63
    float between = frame.GetPixelGrayRaw(100.5, 50.0, 0);   // bilinear: 1050.25
    return (raw == 1050.0f && display == 63.75f && byte == 63 && between == 1050.25f) ? 0 : 1;
}
