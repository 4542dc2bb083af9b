// A device handle and, while it grabs, its acquisition session.
//
// Lock order, everywhere: registry lock, then Handle::mu, then the device's
// own lock. Device::patternMu is a leaf: taken with or without Handle::mu,
// nothing is locked under it. No lock is held while a user callback runs.
#pragma once

#include "device.h"
#include "MVCameraControl.h"
#include "pattern.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
// The callbacks a user registers, as MV_CC_RegisterImageCallBackEx and
// MV_CC_RegisterExceptionCallBack take them.
typedef void(MV_CC_CALL* MvImageCallBackEx)(unsigned char* pData, MV_FRAME_OUT_INFO_EX* pFrameInfo, void* pUser);
typedef void(MV_CC_CALL* MvExceptionCallBack)(unsigned int nMsgType, void* pUser);
}

namespace vcc {

// A synchronous delivery asked for by the control interface.
struct Request {
    bool deviceFrame = false;              // produce the device's next frame
    const MV_FRAME_OUT_INFO_EX* info = nullptr; // else: pass these pointers as they are
    unsigned char* data = nullptr;
    bool done = false;
    int status = MV_OK;
};

// A produced frame waiting in a node buffer.
struct Node {
    int buf = -1;
    MV_FRAME_OUT_INFO_EX info{};
    Request* req = nullptr; // completed once this frame has been delivered
};

// A software trigger the device took: its frame is ready once read out.
struct Trigger {
    uint32_t index = 0;
    Clock::time_point readOut;
};

struct Session {
    std::thread::id thread;          // the SDK callback thread of this session
    bool stop = false;
    bool done = false;               // the thread will call no more callbacks
    std::shared_ptr<Session> previous; // a session stopped from its own callback, still finishing

    unsigned nodeNum = 1;
    Geometry geometry;
    std::shared_ptr<const Pattern> pattern;
    // Under Handle::mu: the session's thread takes and queues buffers, a clear
    // returns queued ones, VCC_NodeBufferCount reads the pool's size. A buffer
    // the thread has taken and not queued yet is its own: it copies a frame's
    // pixels into it without the lock.
    std::vector<std::vector<uint8_t>> pool; // node buffers, allocated on demand up to nodeNum
    std::vector<int> freeBufs;
    std::deque<Node> queue;

    uint32_t frameNum = 0;
    bool haveDue = false;
    Clock::time_point nextDue;
    // Both under Handle::mu: written by the thread that fires a software
    // trigger, read by the session's SDK thread.
    std::deque<Trigger> triggers;    // software triggers whose frames are not made yet
    Clock::time_point busyUntil;     // end of the read-out of the last triggered frame
    std::deque<Request*> requests;
};

struct Handle {
    uintptr_t id = 0;
    void* token = nullptr;
    std::shared_ptr<Device> dev;

    std::mutex mu;
    std::condition_variable cv;
    bool opened = false;
    bool lost = false; // the device went away while open: only clean-up calls succeed
    MvImageCallBackEx imageCb = nullptr;
    void* imageUser = nullptr;
    MvExceptionCallBack exceptionCb = nullptr;
    void* exceptionUser = nullptr;
    unsigned nodeNum = 8;
    std::shared_ptr<Session> session;
    std::shared_ptr<Session> retiring; // stopped from its own callback, maybe still running
    // Disconnect notices handed to an exception thread and not yet returned
    // from the callback. Destroying the handle waits for them (unless it is
    // called from inside that callback), so no callback ever runs for a user
    // pointer whose owner has destroyed its handle and gone.
    int exceptionsPending = 0;
    std::condition_variable exceptionsDone;
    uint32_t frameCounter = 0; // device counters since the open
    uint32_t triggerIndex = 0;
};

} // namespace vcc
