#include "pixelformat.h"

namespace vcc {

namespace {
struct Named {
    const char* name;
    unsigned code;
};
const Named kFormats[] = {
    {"Mono8", PixelType_Gvsp_Mono8},
    {"BayerGR8", PixelType_Gvsp_BayerGR8},
    {"BayerRG8", PixelType_Gvsp_BayerRG8},
    {"BayerGB8", PixelType_Gvsp_BayerGB8},
    {"BayerBG8", PixelType_Gvsp_BayerBG8},
    {"RGB8Packed", PixelType_Gvsp_RGB8_Packed},
    {"RGB8", PixelType_Gvsp_RGB8_Packed},
    {"BGR8Packed", PixelType_Gvsp_BGR8_Packed},
    {"BGR8", PixelType_Gvsp_BGR8_Packed},
};
} // namespace

std::string pixelFormatName(unsigned fmt)
{
    for (const Named& n : kFormats)
        if (n.code == fmt)
            return n.name;
    return {};
}

unsigned pixelFormatFromName(const std::string& name)
{
    for (const Named& n : kFormats)
        if (name == n.name)
            return n.code;
    return 0;
}

} // namespace vcc
