// The picture a simulated camera sends: the virtual devices' own, built from
// the same device description, for comparing frames received over the wire.
#pragma once

#include "wirefixture.h"

#include "devicefile.h"
#include "pattern.h"

namespace wire {

// Frame `frameNum` of this device in this pixel format; empty when the
// description does not load.
inline std::vector<unsigned char> chartFrame(const WireDevice& d, unsigned pixelFormat, uint32_t frameNum)
{
    std::vector<std::shared_ptr<vcc::Device>> devices;
    const QByteArray json = QStringLiteral("{\"devices\": [%1]}").arg(d.json()).toUtf8();
    if (vcc::parseDeviceJson(json.toStdString(), "wire", devices) != MV_OK || devices.empty())
        return {};
    vcc::Geometry g = devices[0]->geometry();
    g.pixelFormat = pixelFormat;
    auto pattern = vcc::Pattern::build(g, *devices[0]);
    std::vector<unsigned char> out(pattern->frameLen());
    pattern->copyFrame(frameNum, out.data());
    return out;
}

} // namespace wire
