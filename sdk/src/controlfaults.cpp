// VCC_* entry points: fault injection, synchronous deliveries and the call log.
#include "acquisition.h"
#include "call.h"
#include "state.h"

#include <cstring>

using namespace vcc;

namespace {

std::shared_ptr<Device> device(const char* serial)
{
    ensureInitialised();
    return findDevice(serial);
}

// The handle that has the device open, if any.
std::shared_ptr<Handle> openerOf(const char* serial)
{
    auto d = device(serial);
    if (!d)
        return nullptr;
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    for (auto& kv : s.handles)
        if (kv.second->dev == d && kv.second->id == d->openedBy)
            return kv.second;
    return nullptr;
}

} // namespace

extern "C" {

VCC_API int VCC_FailNext(const char* functionName, int count, int status)
{
    if (!functionName || std::strncmp(functionName, "MV_CC_", 6) != 0 || count < 0)
        return err(MV_E_PARAMETER);
    failNext(functionName, count, status);
    return MV_OK;
}

VCC_API void VCC_ClearFailures(void)
{
    clearFailures();
}

VCC_API int VCC_InjectLostPackets(const char* serial, unsigned int frameNum, unsigned int packets)
{
    auto d = device(serial);
    if (!d || frameNum == 0)
        return err(MV_E_PARAMETER);
    d->addLostPackets(frameNum, packets);
    return MV_OK;
}

VCC_API int VCC_InjectFrameGap(const char* serial, unsigned int afterFrameNum, unsigned int skip)
{
    auto d = device(serial);
    if (!d || skip == 0)
        return err(MV_E_PARAMETER);
    d->addGap(afterFrameNum, skip);
    return MV_OK;
}

VCC_API int VCC_SetOpenDelayMs(const char* serial, unsigned int ms)
{
    auto d = device(serial);
    if (!d)
        return err(MV_E_PARAMETER);
    d->openDelayMs = ms;
    return MV_OK;
}

VCC_API int VCC_SetLineRate(const char* serial, double linesPerSecond)
{
    auto d = device(serial);
    if (!d || !(linesPerSecond > 0))
        return err(MV_E_PARAMETER);
    d->setLineRate(linesPerSecond);
    return MV_OK;
}

VCC_API int VCC_SetFreeRunPaused(const char* serial, int paused)
{
    auto d = device(serial);
    if (!d)
        return err(MV_E_PARAMETER);
    d->freeRunPaused = paused != 0;
    return MV_OK;
}

VCC_API int VCC_SetDeviceTimeStamp(const char* serial, unsigned long long ticks)
{
    auto d = device(serial);
    if (!d)
        return err(MV_E_PARAMETER);
    d->setTicks(ticks);
    return MV_OK;
}

VCC_API int VCC_DeliverFrame(void* handle, const MV_FRAME_OUT_INFO_EX* info, unsigned char* data)
{
    auto h = findHandle(handle);
    return h ? deliverSync(h, false, info, data) : err(MV_E_HANDLE);
}

VCC_API int VCC_DeliverFrameToDevice(const char* serial, const MV_FRAME_OUT_INFO_EX* info, unsigned char* data)
{
    auto h = openerOf(serial);
    return h ? deliverSync(h, false, info, data) : err(MV_E_CALLORDER);
}

VCC_API int VCC_DeliverDeviceFrame(void* handle)
{
    auto h = findHandle(handle);
    return h ? deliverSync(h, true, nullptr, nullptr) : err(MV_E_HANDLE);
}

VCC_API int VCC_DeliverDeviceFrameToDevice(const char* serial)
{
    auto h = openerOf(serial);
    return h ? deliverSync(h, true, nullptr, nullptr) : err(MV_E_CALLORDER);
}

VCC_API void VCC_CallLogEnable(int enabled)
{
    callLogEnable(enabled != 0);
}

VCC_API void VCC_CallLogClear(void)
{
    callLogClear();
}

VCC_API int VCC_CallLogCount(void)
{
    return callLogCount();
}

VCC_API int VCC_CallLogGet(int index, VCC_CALL_RECORD* record)
{
    return callLogGet(index, record) ? MV_OK : err(MV_E_PARAMETER);
}

VCC_API int VCC_CallLogCountOf(const char* functionName, const char* key)
{
    return callLogCountOf(functionName, key);
}

} // extern "C"
