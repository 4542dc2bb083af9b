#include "lifecycle.h"

#include "acquisition.h"
#include "call.h"
#include "state.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace vcc {

extern thread_local bool t_inExceptionCallback;
// The handle whose exception callback this thread is running, if any.
thread_local const Handle* t_exceptionHandle = nullptr;

namespace {

std::string serialOf(const MV_CC_DEVICE_INFO& info)
{
    const unsigned char* p = info.nTLayerType == MV_USB_DEVICE ? info.SpecialInfo.stUsb3VInfo.chSerialNumber
                                                                : info.SpecialInfo.stGigEInfo.chSerialNumber;
    size_t cap = info.nTLayerType == MV_USB_DEVICE ? sizeof info.SpecialInfo.stUsb3VInfo.chSerialNumber
                                                   : sizeof info.SpecialInfo.stGigEInfo.chSerialNumber;
    // Bounded: a record without a terminator must not make us read past it.
    size_t n = strnlen(reinterpret_cast<const char*>(p), cap);
    return std::string(reinterpret_cast<const char*>(p), n);
}

} // namespace

int usable(Handle& h)
{
    if (h.lost)
        return err(MV_E_NETER);
    if (!h.opened)
        return err(MV_E_CALLORDER);
    return MV_OK;
}

int createHandle(void** out, const MV_CC_DEVICE_INFO* info)
{
    if (!out || !info)
        return err(MV_E_PARAMETER);
    std::string serial = serialOf(*info);
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    auto dev = findDeviceLocked(s, serial);
    if (!dev)
        return err(MV_E_PARAMETER);
    auto h = std::make_shared<Handle>();
    h->id = s.nextId++;
    // Opaque token far from any real allocation; ids are never reused.
    h->token = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7C0000000000ull) + h->id * 16);
    h->dev = dev;
    s.handles[reinterpret_cast<uintptr_t>(h->token)] = h;
    dev->liveHandles++;
    *out = h->token;
    return MV_OK;
}

int openHandle(const std::shared_ptr<Handle>& h, unsigned accessMode)
{
    if (accessMode < 1 || accessMode > 7)
        return err(MV_E_PARAMETER);
    {
        std::lock_guard<std::mutex> lk(h->mu);
        if (h->opened)
            return err(MV_E_CALLORDER);
    }
    if (unsigned ms = h->dev->openDelayMs.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    if (!findDeviceLocked(s, h->dev->serial()) || !h->dev->attached)
        return err(MV_E_NETER);
    if (s.handles.find(reinterpret_cast<uintptr_t>(h->token)) == s.handles.end())
        return err(MV_E_HANDLE); // destroyed during the delay
    // Every access mode we accept is exclusive: one handle at a time.
    if (h->dev->openedBy != 0)
        return err(MV_E_ACCESS_DENIED);
    std::lock_guard<std::mutex> hl(h->mu);
    if (h->opened)
        return err(MV_E_CALLORDER);
    h->dev->openedBy = h->id;
    h->opened = true;
    h->lost = false;
    h->frameCounter = 0;
    h->triggerIndex = 0;
    return MV_OK;
}

int closeHandle(const std::shared_ptr<Handle>& h)
{
    stopGrabbing(h);
    bool wasOpen;
    {
        std::lock_guard<std::mutex> lk(h->mu);
        wasOpen = h->opened;
        h->opened = false;
    }
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    if (h->dev->openedBy == h->id)
        h->dev->openedBy = 0;
    return wasOpen ? MV_OK : err(MV_E_CALLORDER);
}

int destroyHandle(const std::shared_ptr<Handle>& h)
{
    closeHandle(h);
    if (t_exceptionHandle != h.get()) {
        std::unique_lock<std::mutex> hl(h->mu);
        h->exceptionsDone.wait(hl, [&] { return h->exceptionsPending == 0; });
    }
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    if (s.handles.erase(reinterpret_cast<uintptr_t>(h->token)) == 0)
        return err(MV_E_HANDLE); // another thread destroyed it first
    h->dev->liveHandles--;
    return MV_OK;
}

void disconnectDevice(const std::shared_ptr<Device>& d, bool remove)
{
    struct Notice {
        std::shared_ptr<Handle> h;
        MvExceptionCallBack cb;
        void* user;
    };
    std::vector<Notice> notices;
    State& s = state();
    {
        std::lock_guard<std::mutex> lk(s.mu);
        d->attached = false;
        d->openedBy = 0;
        if (remove) {
            for (auto it = s.devices.begin(); it != s.devices.end(); ++it) {
                if (*it == d) {
                    s.devices.erase(it);
                    break;
                }
            }
        }
        for (auto& kv : s.handles) {
            const auto& h = kv.second;
            if (h->dev != d)
                continue;
            std::lock_guard<std::mutex> hl(h->mu);
            if (!h->opened || h->lost)
                continue;
            h->lost = true;
            h->cv.notify_all(); // the callback thread stops producing
            if (h->exceptionCb) {
                h->exceptionsPending++;
                notices.push_back({h, h->exceptionCb, h->exceptionUser});
            }
        }
    }
    for (auto& n : notices) {
        {
            std::lock_guard<std::mutex> lk(s.exceptionMu);
            s.exceptionsRunning++;
        }
        std::thread([n] {
            t_inExceptionCallback = true;
            t_exceptionHandle = n.h.get();
            n.cb(MV_EXCEPTION_DEV_DISCONNECT, n.user);
            t_exceptionHandle = nullptr;
            {
                std::lock_guard<std::mutex> hl(n.h->mu);
                n.h->exceptionsPending--;
                n.h->exceptionsDone.notify_all();
            }
            State& st = state();
            std::lock_guard<std::mutex> lk(st.exceptionMu);
            st.exceptionsRunning--;
            st.exceptionCv.notify_all();
        }).detach();
    }
}

} // namespace vcc
