// Status codes as the SDK's functions return them: MV_OK or an MV_E_* code,
// which is unsigned in the header and negative as an int.
#pragma once

#include "VirtualCameraControl.h" // the MV_E_* codes

namespace vcc {

inline int err(unsigned code)
{
    return static_cast<int>(code);
}

} // namespace vcc
