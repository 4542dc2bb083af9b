// Handle creation, opening, closing, destruction and loss of the device.
#pragma once

#include "handle.h"

#include <memory>

namespace vcc {

int createHandle(void** out, const MV_CC_DEVICE_INFO* info);
int openHandle(const std::shared_ptr<Handle>& h, unsigned accessMode);
int closeHandle(const std::shared_ptr<Handle>& h);
int destroyHandle(const std::shared_ptr<Handle>& h);

// The device is unplugged (or removed): open handles lose it and get
// MV_EXCEPTION_DEV_DISCONNECT on an exception thread of the SDK.
void disconnectDevice(const std::shared_ptr<Device>& d, bool remove);

// Status for a call that needs an open, present device.
int usable(Handle& h);

} // namespace vcc
