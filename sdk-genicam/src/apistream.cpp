// Acquisition: the image callback, buffers, start and stop, triggers, conversion.
#include "convert.h"
#include "entry.h"
#include "features.h"
#include "streampump.h"

#include <string>

using namespace gcc;

namespace {

constexpr unsigned kMinNodes = 1, kMaxNodes = 1024;
constexpr unsigned kTriggerOff = 0;
constexpr const char* kSoftware = "Software"; // the TriggerSource entry of software triggers

} // namespace

extern "C" {

MV_CC_API int MV_CC_CALL MV_CC_RegisterImageCallBackEx(void* handle,
    void(MV_CC_CALL* cbOutput)(unsigned char* pData, MV_FRAME_OUT_INFO_EX* pFrameInfo, void* pUser), void* pUser)
{
    std::shared_ptr<Handle> h = findHandle(handle);
    if (!h)
        return err(MV_E_HANDLE);
    std::lock_guard<std::mutex> lk(h->mu);
    if (h->pump)
        return err(MV_E_CALLORDER); // the running session keeps the callback it started with
    h->imageCb = cbOutput;
    h->imageUser = pUser;
    return MV_OK;
}

MV_CC_API int MV_CC_CALL MV_CC_SetImageNodeNum(void* handle, unsigned int nNum)
{
    std::shared_ptr<Handle> h = findHandle(handle);
    if (!h)
        return err(MV_E_HANDLE);
    if (nNum < kMinNodes || nNum > kMaxNodes)
        return err(MV_E_PARAMETER);
    std::lock_guard<std::mutex> lk(h->mu);
    h->nodeCount = nNum; // effective at the next start
    return MV_OK;
}

MV_CC_API int MV_CC_CALL MV_CC_StartGrabbing(void* handle)
{
    return onOpenHandle(handle, [](Handle& h) {
        if (h.pump)
            return err(MV_E_CALLORDER);
        MVCC_ENUMVALUE mode{};
        h.counters->freeRun = getEnum(h.device, "TriggerMode", mode) != MV_OK || mode.nCurValue == kTriggerOff;
        GError* error = nullptr;
        const char* source = arv_device_get_string_feature_value(h.device, "TriggerSource", &error);
        h.counters->softwareTrigger = !h.counters->freeRun && !error && source && std::string(source) == kSoftware;
        g_clear_error(&error);
        int status = MV_OK;
        h.pump = StreamPump::start(h.device, h.nodeCount, h.counters, h.imageCb, h.imageUser, &status);
        return status;
    });
}

MV_CC_API int MV_CC_CALL MV_CC_StopGrabbing(void* handle)
{
    std::shared_ptr<Handle> h = findHandle(handle);
    if (!h)
        return err(MV_E_HANDLE);
    return stopHandle(*h);
}

MV_CC_API int MV_CC_CALL MV_CC_ClearImageBuffer(void* handle)
{
    std::shared_ptr<Handle> h = findHandle(handle);
    if (!h)
        return err(MV_E_HANDLE);
    std::shared_ptr<StreamPump> pump;
    {
        std::lock_guard<std::mutex> lk(h->mu);
        pump = h->pump;
    }
    if (pump)
        pump->clear();
    return MV_OK;
}

MV_CC_API int MV_CC_CALL MV_CC_TriggerSoftwareExecute(void* handle)
{
    return onOpenHandle(handle, [](Handle& h) {
        if (!h.pump || h.counters->freeRun)
            return err(MV_E_CALLORDER);
        // Counted before the command: its frame may reach the callback
        // before the command's acknowledgement reaches us.
        ++h.counters->triggers;
        GError* error = nullptr;
        arv_device_execute_command(h.device, "TriggerSoftware", &error);
        if (error) {
            g_clear_error(&error);
            --h.counters->triggers;
            return err(MV_E_GC_GENERIC);
        }
        return MV_OK;
    });
}

MV_CC_API int MV_CC_CALL MV_CC_ConvertPixelType(void* handle, MV_CC_PIXEL_CONVERT_PARAM* pstCvtParam)
{
    if (!findHandle(handle))
        return err(MV_E_HANDLE);
    if (!pstCvtParam)
        return err(MV_E_PARAMETER);
    return vcc::convertPixels(*pstCvtParam);
}

} // extern "C"
