// Enumeration of GigE Vision and USB3 Vision devices into the SDK's device
// records, and opening a device by the record it was listed with.
#pragma once

#include "MVCameraControl.h"

#include <arv.h>

#include <string>

namespace gcc {

// Fills the list with the devices of the named transport layers. Records are
// interned per device and never freed: they stay valid past the next call.
int enumerate(unsigned layers, MV_CC_DEVICE_INFO_LIST& list);

// Aravis's id of the device a record (listed, or a copy of one) names; empty
// when no enumeration has listed it.
std::string deviceIdFor(const MV_CC_DEVICE_INFO& info);

// Aravis keeps its device list in process-wide state: enumeration and opens
// go through this one lock.
ArvDevice* openDevice(const std::string& id, GError** error);

} // namespace gcc
