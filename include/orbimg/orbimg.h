// orbimg: image processing for astrophotography.
//
// The one header a host program needs: every exported class, the platform
// stand-ins (framework, GDI, global memory, parallel loops) and the image
// core stand-ins (CImage, CVmImage, CVmManager, CParallel, CRegistry).
#pragma once

#include "platform/wintypes.h"
#include "platform/afx.h"
#include "platform/gdi.h"
#include "platform/ppl.h"

#include "imagecore/image.h"
#include "imagecore/registry.h"
#include "imagecore/tofloat.h"

#include "image/fpoint.h"
#include "image/smallclasses.h"
#include "image/kelimage.h"
#include "display/memorydib.h"
#include "display/stretch.h"

#include "filter/filterproc.h"
#include "filter/filtermatrix.h"

#include "autolevel/autolevel.h"

#include "measure/psf.h"
#include "measure/pixelinfo.h"
#include "measure/focus.h"
#include "measure/skybackground.h"
#include "measure/starfield.h"
#include "measure/focuscurve.h"

#include "transform/imgflip.h"
#include "transform/imgresize.h"
#include "transform/imgresolution.h"
#include "transform/imgsoftbinning.h"
#include "transform/imgbright.h"

#include "colour/debayer.h"
