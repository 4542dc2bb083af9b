// Enumeration, handles, open and close, the exception callback.
#include "discovery.h"
#include "entry.h"
#include "losswatch.h"
#include "streampump.h"

#include <cstring>

using namespace gcc;

namespace gcc {

int stopHandle(Handle& h)
{
    std::shared_ptr<StreamPump> pump;
    {
        std::lock_guard<std::mutex> lk(h.mu);
        pump = h.pump;
    }
    if (!pump)
        return MV_OK;
    pump->stop(); // without the handle's lock: the callback may take it
    std::lock_guard<std::mutex> lk(h.mu);
    if (h.pump == pump)
        h.pump.reset();
    return MV_OK;
}

int closeHandle(Handle& h)
{
    {
        std::lock_guard<std::mutex> lk(h.mu);
        if (!h.device)
            return err(MV_E_CALLORDER);
    }
    stopHandle(h);
    h.loss->disarm();
    ArvDevice* device = nullptr;
    bool lost = false;
    {
        std::lock_guard<std::mutex> lk(h.mu);
        std::swap(device, h.device);
        lost = h.counters && h.counters->lost;
    }
    if (device) {
        if (lost)
            unrefAside(device);
        else
            g_object_unref(device); // leaves control of the camera
        releaseDevice(h.deviceId);
    }
    return MV_OK;
}

} // namespace gcc

extern "C" {

MV_CC_API int MV_CC_CALL MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList)
{
    if (!pstDevList)
        return err(MV_E_PARAMETER);
    return enumerate(nTLayerType, *pstDevList);
}

MV_CC_API int MV_CC_CALL MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* pstDevInfo)
{
    if (!handle || !pstDevInfo)
        return err(MV_E_PARAMETER);
    const std::string id = deviceIdFor(*pstDevInfo);
    if (id.empty())
        return err(MV_E_PARAMETER);
    auto h = std::make_shared<Handle>();
    h->deviceId = id;
    std::memcpy(&h->info, pstDevInfo, sizeof h->info);
    h->loss = std::make_shared<LossWatch>();
    *handle = addHandle(std::move(h));
    return MV_OK;
}

MV_CC_API int MV_CC_CALL MV_CC_DestroyHandle(void* handle)
{
    std::shared_ptr<Handle> h = takeHandle(handle);
    if (!h)
        return err(MV_E_HANDLE);
    closeHandle(*h);
    return MV_OK;
}

MV_CC_API int MV_CC_CALL MV_CC_OpenDevice(void* handle, unsigned int nAccessMode, unsigned short /*nSwitchoverKey*/)
{
    constexpr unsigned kFirstAccessMode = 1, kLastAccessMode = 7;
    std::shared_ptr<Handle> h = findHandle(handle);
    if (!h)
        return err(MV_E_HANDLE);
    if (nAccessMode < kFirstAccessMode || nAccessMode > kLastAccessMode)
        return err(MV_E_PARAMETER);
    std::lock_guard<std::mutex> lk(h->mu);
    if (h->device)
        return err(MV_E_CALLORDER);
    if (!claimDevice(h->deviceId))
        return err(MV_E_ACCESS_DENIED);
    GError* error = nullptr;
    ArvDevice* device = openDevice(h->deviceId, &error);
    g_clear_error(&error);
    if (!device) {
        releaseDevice(h->deviceId);
        return err(MV_E_NETER);
    }
    // A GigE Vision camera that another client controls still answers reads:
    // Aravis opens it without control, which is where access is refused.
    if (ARV_IS_GV_DEVICE(device) && !arv_gv_device_is_controller(ARV_GV_DEVICE(device))) {
        g_object_unref(device);
        releaseDevice(h->deviceId);
        return err(MV_E_ACCESS_DENIED);
    }
    // A camera that an earlier session lost left acquiring would stream as
    // soon as it is controlled again, before the feature file's settings and
    // the start: it stays silent until the start.
    GError* stopError = nullptr;
    arv_device_execute_command(device, "AcquisitionStop", &stopError);
    g_clear_error(&stopError);
    h->device = device;
    h->counters = std::make_shared<Counters>();
    h->loss->arm(device, h->counters);
    return MV_OK;
}

MV_CC_API int MV_CC_CALL MV_CC_CloseDevice(void* handle)
{
    std::shared_ptr<Handle> h = findHandle(handle);
    return h ? closeHandle(*h) : err(MV_E_HANDLE);
}

MV_CC_API int MV_CC_CALL MV_CC_GetDeviceInfo(void* handle, MV_CC_DEVICE_INFO* pstDevInfo)
{
    std::shared_ptr<Handle> h = findHandle(handle);
    if (!h)
        return err(MV_E_HANDLE);
    if (!pstDevInfo)
        return err(MV_E_PARAMETER);
    std::memcpy(pstDevInfo, &h->info, sizeof h->info);
    return MV_OK;
}

MV_CC_API int MV_CC_CALL MV_CC_RegisterExceptionCallBack(void* handle,
    void(MV_CC_CALL* cbException)(unsigned int nMsgType, void* pUser), void* pUser)
{
    std::shared_ptr<Handle> h = findHandle(handle);
    if (!h)
        return err(MV_E_HANDLE);
    h->loss->setCallback(cbException, pUser);
    return MV_OK;
}

} // extern "C"
