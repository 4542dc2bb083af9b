// Pixel format codes the simulated devices and the converter understand.
#pragma once

#include "MVCameraControl.h"

#include <string>

namespace vcc {

// Bytes per pixel of a supported format, 0 for a format we do not know.
inline unsigned bytesPerPixel(unsigned fmt)
{
    switch (fmt) {
    case PixelType_Gvsp_Mono8:
    case PixelType_Gvsp_BayerGR8:
    case PixelType_Gvsp_BayerRG8:
    case PixelType_Gvsp_BayerGB8:
    case PixelType_Gvsp_BayerBG8:
        return 1;
    case PixelType_Gvsp_RGB8_Packed:
    case PixelType_Gvsp_BGR8_Packed:
        return 3;
    default:
        return 0;
    }
}

inline bool isBayer(unsigned fmt)
{
    return fmt >= PixelType_Gvsp_BayerGR8 && fmt <= PixelType_Gvsp_BayerBG8;
}

// Symbolic name as written in device and feature files; empty when unknown.
std::string pixelFormatName(unsigned fmt);
// Code for a symbolic name ("Mono8", "BayerRG8", ...); 0 when unknown.
unsigned pixelFormatFromName(const std::string& name);

} // namespace vcc
