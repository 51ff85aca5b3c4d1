// orbimg: image processing for astrophotography.
//
// The one header a host program needs: every exported class, the platform
// stand-ins (framework, GDI, global memory, parallel loops) and the image
// core stand-ins (CImage, CVmImage, CVmManager, CParallel, CRegistry).
#pragma once

#include "platform/afx.h"
#include "platform/gdi.h"
#include "platform/ppl.h"
#include "platform/wintypes.h"

#include "imagecore/image.h"
#include "imagecore/registry.h"
#include "imagecore/tofloat.h"

#include "display/memorydib.h"
#include "display/stretch.h"
#include "image/fpoint.h"
#include "image/kelimage.h"
#include "image/smallclasses.h"

#include "filter/filtermatrix.h"
#include "filter/filterproc.h"

#include "autolevel/autolevel.h"

#include "measure/focus.h"
#include "measure/focuscurve.h"
#include "measure/pixelinfo.h"
#include "measure/psf.h"
#include "measure/skybackground.h"
#include "measure/starfield.h"

#include "transform/imgbright.h"
#include "transform/imgflip.h"
#include "transform/imgresize.h"
#include "transform/imgresolution.h"
#include "transform/imgsoftbinning.h"

#include "colour/debayer.h"
