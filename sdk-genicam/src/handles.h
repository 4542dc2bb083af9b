// A device handle: the device it was made for, its connection while open,
// its callbacks and its acquisition session.
//
// Threads: the user's threads call MV_CC_* functions; the stream pump's
// thread calls the image callback; a loss thread calls the exception
// callback. Handle::mu guards every field below it and is never held while
// waiting for a callback (stop, close and destroy take what they need under
// it, then wait without it), so a callback may call any function on its own
// handle. Lock order: the registry lock, then Handle::mu, then the pump's and
// the loss watch's own locks. Aravis's calls on one device may come from
// several threads; Aravis serialises them itself.
#pragma once

#include "MVCameraControl.h"

#include <arv.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace gcc {

class LossWatch;
class StreamPump;

using ImageCallback = void(MV_CC_CALL*)(unsigned char* pData, MV_FRAME_OUT_INFO_EX* pFrameInfo, void* pUser);
using ExceptionCallback = void(MV_CC_CALL*)(unsigned int nMsgType, void* pUser);

// Counts since the open, shared by the handle and its pump.
struct Counters {
    std::atomic<uint64_t> framesMade{0}; // frames the device sent, by their block ids
    std::atomic<uint64_t> triggers{0};   // software triggers, plus frames the device gave itself in free run
    std::atomic<bool> freeRun{true};
    std::atomic<bool> softwareTrigger{false}; // triggered, and from software only (at the start)
    std::atomic<bool> lost{false};       // the control channel is gone
};

struct Handle {
    // Set at creation, never changed.
    std::string deviceId;
    MV_CC_DEVICE_INFO info{};
    std::shared_ptr<LossWatch> loss;

    std::mutex mu;
    ArvDevice* device = nullptr; // our reference while open
    std::shared_ptr<Counters> counters;
    std::shared_ptr<StreamPump> pump;
    ImageCallback imageCb = nullptr;
    void* imageUser = nullptr;
    unsigned nodeCount = 8;
};

// Live handles: an opaque token per handle, looked up before anything is
// dereferenced, so a destroyed or made-up handle is refused, never followed.
void* addHandle(std::shared_ptr<Handle> h);
std::shared_ptr<Handle> findHandle(void* token);
std::shared_ptr<Handle> takeHandle(void* token);

// Device ids open in this process (another handle's open is refused at once).
bool claimDevice(const std::string& id);
void releaseDevice(const std::string& id);

// Drops a reference to a lost camera's device or stream on a thread of its
// own: Aravis's finalisation still talks to the camera and waits out its
// control time-outs (seconds), which would hold up the close that tells the
// loss.
void unrefAside(gpointer object);

} // namespace gcc
