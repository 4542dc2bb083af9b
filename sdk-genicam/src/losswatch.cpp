#include "losswatch.h"

#include <cstdlib>

namespace gcc {

namespace {

constexpr guint64 kControlChannelPrivilege = 0x0a00; // GigE Vision bootstrap register

// The signal's data: a strong reference, dropped when the handler is disconnected.
void dropWatch(gpointer data, GClosure*)
{
    delete static_cast<std::shared_ptr<LossWatch>*>(data);
}

} // namespace

std::chrono::milliseconds LossWatch::silenceLimit()
{
    const char* v = std::getenv(kSilenceEnv);
    char* end = nullptr;
    const long long ms = v ? std::strtoll(v, &end, 10) : 0;
    if (!v || end == v || *end != '\0' || ms < kMinSilence.count())
        return kDefaultSilence;
    return std::chrono::milliseconds(ms);
}

void LossWatch::setCallback(ExceptionCallback cb, void* user)
{
    std::lock_guard<std::mutex> lk(mu_);
    cb_ = cb;
    user_ = user;
}

void LossWatch::arm(ArvDevice* device, std::shared_ptr<Counters> counters)
{
    std::lock_guard<std::mutex> lk(mu_);
    device_ = device;
    counters_ = std::move(counters);
    armed_ = true;
    signalId_ = g_signal_connect_data(device, "control-lost", G_CALLBACK(&LossWatch::onControlLost),
                                      new std::shared_ptr<LossWatch>(shared_from_this()), dropWatch, GConnectFlags(0));
    if (!ARV_IS_GV_DEVICE(device))
        return; // a USB camera's loss is its unplugging, which Aravis hears at once
    watching_ = true;
    lastAnswer_ = Clock::now();
    std::thread([self = shared_from_this(), d = ARV_DEVICE(g_object_ref(device))] { self->watchSilence(d); })
        .detach();
}

void LossWatch::watchSilence(ArvDevice* device)
{
    const auto limit = silenceLimit();
    std::unique_lock<std::mutex> lk(mu_);
    while (armed_) {
        if (!probing_) {
            probing_ = true;
            std::thread([self = shared_from_this(), d = ARV_DEVICE(g_object_ref(device))] {
                self->probe(d);
                g_object_unref(d); // before disarm() may return, so that a close leaves control at once
                std::lock_guard<std::mutex> lk(self->mu_);
                self->probing_ = false;
                self->idle_.notify_all();
            }).detach();
        }
        if (Clock::now() - lastAnswer_ > limit) {
            lk.unlock();
            fire();
            lk.lock();
            break;
        }
        wake_.wait_for(lk, kProbePeriod);
    }
    lk.unlock();
    g_object_unref(device); // takes device (referenced in arm())
    lk.lock();
    watching_ = false;
    idle_.notify_all();
}

void LossWatch::probe(ArvDevice* device)
{
    guint32 value = 0;
    GError* error = nullptr;
    const bool answered = arv_device_read_register(device, kControlChannelPrivilege, &value, &error);
    g_clear_error(&error);
    if (!answered)
        return;
    std::lock_guard<std::mutex> lk(mu_);
    lastAnswer_ = Clock::now();
}

void LossWatch::disarm()
{
    ArvDevice* device = nullptr;
    gulong id = 0;
    {
        std::unique_lock<std::mutex> lk(mu_);
        armed_ = false;
        std::swap(device, device_);
        std::swap(id, signalId_);
        wake_.notify_all();
        const bool inCallback = runner_ == std::this_thread::get_id();
        // A read of a camera that still answers ends at once; one of a lost
        // camera may wait out Aravis's time-outs, and ends on its own.
        const bool lost = counters_ && counters_->lost;
        idle_.wait(lk, [this, inCallback, lost] {
            return (inCallback || !running_) && !watching_ && (!probing_ || lost);
        });
    }
    // Outside our lock: a signal being emitted right now finds us disarmed.
    if (device && id)
        g_signal_handler_disconnect(device, id);
}

void LossWatch::onControlLost(ArvDevice*, gpointer self)
{
    (*static_cast<std::shared_ptr<LossWatch>*>(self))->fire();
}

void LossWatch::fire()
{
    std::unique_lock<std::mutex> lk(mu_);
    if (!armed_ || running_)
        return;
    armed_ = false; // one callback per loss
    if (counters_)
        counters_->lost = true;
    if (!cb_)
        return;
    running_ = true;
    std::thread([self = shared_from_this()] {
        ExceptionCallback cb;
        void* user;
        {
            std::lock_guard<std::mutex> lk(self->mu_);
            self->runner_ = std::this_thread::get_id();
            cb = self->cb_;
            user = self->user_;
        }
        cb(MV_EXCEPTION_DEV_DISCONNECT, user);
        std::lock_guard<std::mutex> lk(self->mu_);
        self->running_ = false;
        self->runner_ = {};
        self->idle_.notify_all();
    }).detach();
}

} // namespace gcc
