// Window device contexts (internal): what CPaintDC opens.
#pragma once

#include "platform/wintypes.h"

namespace orbimg::platform {
/// Opens a window DC of the given depth; DeleteDC closes it.
HDC OpenWindowDC(int bitsPerPixel);
}  // namespace orbimg::platform
