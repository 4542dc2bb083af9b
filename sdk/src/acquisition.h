// Grabbing: the per-handle SDK thread that produces frames into node buffers
// and calls the image callback, one frame at a time.
#pragma once

#include "handle.h"

#include <memory>

namespace vcc {

int startGrabbing(const std::shared_ptr<Handle>& h);
// Waits until no image callback of the handle runs, except when called from
// that callback itself (it must not wait for itself).
int stopGrabbing(const std::shared_ptr<Handle>& h);
int clearImageBuffer(const std::shared_ptr<Handle>& h);
int softwareTrigger(const std::shared_ptr<Handle>& h);
int deliverSync(const std::shared_ptr<Handle>& h, bool deviceFrame, const MV_FRAME_OUT_INFO_EX* info,
                unsigned char* data);
// Builds the pattern for the device's present features if it grabs, so that a
// change of the mirror flags reaches the frame thread without work there.
void preparePattern(Device& d);
int nodeBufferCount(const std::shared_ptr<Handle>& h);

} // namespace vcc
