// Turns a camera that stopped answering into the SDK's exception callback.
//
// Two things hear a loss, and the first one counts: Aravis's "control-lost"
// signal (its heartbeat gives up on a silent GigE Vision camera only after
// some 6 to 10 s, and cannot be tuned), and this SDK's own check, which reads
// the camera's control register every kProbePeriod on a thread of its own and
// declares the loss once no read has been answered for the silence limit
// (kSilenceEnv in milliseconds, default kDefaultSilence). A read that is not
// answered blocks for Aravis's control time-outs, so the reads run apart from
// the thread that watches the clock.
//
// The signal comes on Aravis's heartbeat thread; the callback runs on a thread
// of this SDK instead, because a callback may close and destroy its handle,
// which must not happen inside Aravis's own signal emission. One callback per
// loss. disarm() (close, destroy) waits for a running callback unless it is
// called from inside that callback.
#pragma once

#include "handles.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace gcc {

class LossWatch : public std::enable_shared_from_this<LossWatch> {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr const char* kSilenceEnv = "LORVEX_LOSS_TIMEOUT_MS";
    static constexpr std::chrono::milliseconds kDefaultSilence{5000};
    static constexpr std::chrono::milliseconds kMinSilence{500};
    static constexpr std::chrono::milliseconds kProbePeriod{250};
    // The silence limit the environment asks for, else the default.
    static std::chrono::milliseconds silenceLimit();

    void setCallback(ExceptionCallback cb, void* user);
    // Watches `device` for a loss, marking `counters` lost when it comes.
    void arm(ArvDevice* device, std::shared_ptr<Counters> counters);
    // Stops watching and waits for a running callback (not for itself), for
    // the check's clock thread and, unless the camera is lost (a read may
    // then wait out Aravis's time-outs, and ends on its own), for a read in
    // flight: their references on the device are gone when it returns.
    void disarm();

private:
    static void onControlLost(ArvDevice* device, gpointer self);
    void fire();
    // The check's clock thread (it takes over a reference on device); it
    // starts each read on a thread of its own.
    void watchSilence(ArvDevice* device);
    void probe(ArvDevice* device);

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
    // The silence check, under mu_: whether its clock thread and a read are
    // running, when the camera last answered; idle_ is told when either
    // ends, wake_ when the watch is disarmed.
    bool watching_ = false;
    bool probing_ = false;
    Clock::time_point lastAnswer_;
    std::condition_variable wake_;
};

} // namespace gcc
