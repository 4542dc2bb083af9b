#include "losswatch.h"

namespace gcc {

namespace {

// The signal's data: a strong reference, dropped when the handler is disconnected.
void dropWatch(gpointer data, GClosure*)
{
    delete static_cast<std::shared_ptr<LossWatch>*>(data);
}

} // namespace

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
        if (runner_ != std::this_thread::get_id())
            idle_.wait(lk, [this] { return !running_; });
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
