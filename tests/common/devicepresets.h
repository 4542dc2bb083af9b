// The simulated devices of the tests and benchmarks, in one place. A preset
// names a device's identity, geometry, pixel formats and line rate; every
// feature limit is the virtual SDK's own line-scan default, so what a test
// sees is what the built-in cameras and device files give.
#pragma once

#include "MVCameraControl.h"
#include "VirtualCameraControl.h"

#include <string>
#include <vector>

namespace presets {

struct DevicePreset
{
    std::string manufacturer = "ZEQ Vision";
    std::string model = "LX-LS4096-GM";
    std::string serial;
    unsigned transport = MV_GIGE_DEVICE;
    unsigned width = 4096;
    unsigned height = 1000;
    unsigned widthMax = 4096;
    unsigned heightMax = 4096;
    std::vector<unsigned> formats{PixelType_Gvsp_Mono8};
    unsigned pixelFormat = 0;     // 0: the first of `formats`
    std::string deviceModelName;  // empty: same as model
    double lineRate = 0;          // 0: the SDK's default
};

// A monochrome line-scan camera of this size.
inline DevicePreset monoDevice(const std::string& serial, unsigned width = 4096, unsigned height = 1000)
{
    DevicePreset d;
    d.serial = serial;
    d.width = width;
    d.height = height;
    d.widthMax = width;
    return d;
}

// A colour line-scan camera: Bayer RG first, then packed RGB and mono.
inline DevicePreset colourDevice(const std::string& serial, unsigned width = 64, unsigned height = 16)
{
    DevicePreset d = monoDevice(serial, width, height);
    d.model = "LX-LS2048-GC";
    d.formats = {PixelType_Gvsp_BayerRG8, PixelType_Gvsp_RGB8_Packed, PixelType_Gvsp_Mono8};
    return d;
}

// A small device that offers every pixel format the SDK knows, in this one first.
inline DevicePreset everyFormatDevice(const std::string& serial, unsigned width, unsigned height, unsigned format)
{
    DevicePreset d = monoDevice(serial, width, height);
    d.formats = {PixelType_Gvsp_Mono8,   PixelType_Gvsp_BayerRG8,    PixelType_Gvsp_BayerGR8,   PixelType_Gvsp_BayerGB8,
                 PixelType_Gvsp_BayerBG8, PixelType_Gvsp_RGB8_Packed, PixelType_Gvsp_BGR8_Packed};
    d.pixelFormat = format;
    return d;
}

inline int addDevice(const DevicePreset& p)
{
    VCC_DEVICE_DESC d{};
    d.manufacturer = p.manufacturer.c_str();
    d.model = p.model.c_str();
    d.serial = p.serial.c_str();
    d.transport = p.transport;
    d.widthMax = p.widthMax;
    d.heightMax = p.heightMax;
    d.width = p.width;
    d.height = p.height;
    d.pixelFormats = p.formats.data();
    d.pixelFormatCount = static_cast<unsigned>(p.formats.size());
    d.pixelFormat = p.pixelFormat;
    d.deviceModelName = p.deviceModelName.empty() ? nullptr : p.deviceModelName.c_str();
    d.lineRate = p.lineRate;
    return VCC_AddDevice(&d);
}

} // namespace presets
