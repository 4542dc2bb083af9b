// Turns Aravis's "control-lost" signal into the SDK's exception callback.
//
// The signal comes on Aravis's heartbeat thread; the callback runs on a thread
// of this SDK instead, because a callback may close and destroy its handle,
// which must not happen inside Aravis's own signal emission. One callback per
// loss. disarm() (close, destroy) waits for a running callback unless it is
// called from inside that callback.
#pragma once

#include "handles.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace gcc {

class LossWatch : public std::enable_shared_from_this<LossWatch> {
public:
    void setCallback(ExceptionCallback cb, void* user);
    // Watches `device` for a loss, marking `counters` lost when it comes.
    void arm(ArvDevice* device, std::shared_ptr<Counters> counters);
    // Stops watching and waits for a running callback (not for itself).
    void disarm();

private:
    static void onControlLost(ArvDevice* device, gpointer self);
    void fire();

    std::mutex mu_;
    std::condition_variable idle_;
    ExceptionCallback cb_ = nullptr;
    void* user_ = nullptr;
    ArvDevice* device_ = nullptr;
    gulong signalId_ = 0;
    std::shared_ptr<Counters> counters_;
    bool armed_ = false;
    bool running_ = false;
    std::thread::id runner_;
};

} // namespace gcc
