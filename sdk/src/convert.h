// Pixel conversion to RGB8 packed (MV_CC_ConvertPixelType).
#pragma once

#include "MVCameraControl.h"

namespace vcc {

// Converts, writing at most nDstBufferSize bytes; sets nDstLen on success.
int convertPixels(MV_CC_PIXEL_CONVERT_PARAM& p);

} // namespace vcc
