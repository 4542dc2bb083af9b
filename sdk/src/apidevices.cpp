// MV_CC_* entry points: enumeration and the life of a handle.
#include "call.h"
#include "lifecycle.h"
#include "state.h"

#include <cstring>
#include <string>

using namespace vcc;

extern "C" {

MV_CC_API int MV_CC_CALL MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList)
{
    Call c(__func__, nullptr);
    if (!pstDevList)
        return c.done(err(MV_E_PARAMETER));
    State& s = state();
    unsigned count = 0;
    {
        std::lock_guard<std::mutex> lk(s.mu);
        std::memset(pstDevList, 0, sizeof *pstDevList);
        for (const auto& d : s.devices) {
            if (!d->attached || !(d->transport() & nTLayerType) || count >= MV_MAX_DEVICE_NUM)
                continue;
            // The list's pointers are non-const by layout; callers only read through them.
            pstDevList->pDeviceInfo[count++] = const_cast<MV_CC_DEVICE_INFO*>(recordLocked(s, *d));
        }
        pstDevList->nDeviceNum = count;
    }
    // A scheduled failure still leaves the list filled: callers that go by the count see it.
    int status = c.injected() ? c.injectedStatus() : MV_OK;
    return c.done(status, Call::logging() ? "devices=" + std::to_string(count) : std::string());
}

MV_CC_API int MV_CC_CALL MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* pstDevInfo)
{
    Call c(__func__, nullptr);
    if (c.injected())
        return c.done(c.injectedStatus());
    int rc = createHandle(handle, pstDevInfo);
    return c.done(rc, rc == MV_OK && Call::logging() ? "handle created" : std::string());
}

MV_CC_API int MV_CC_CALL MV_CC_DestroyHandle(void* handle)
{
    Call c(__func__, handle);
    if (c.injected())
        return c.done(c.injectedStatus());
    auto h = findHandle(handle);
    return c.done(h ? destroyHandle(h) : err(MV_E_HANDLE));
}

MV_CC_API int MV_CC_CALL MV_CC_OpenDevice(void* handle, unsigned int nAccessMode, unsigned short nSwitchoverKey)
{
    Call c(__func__, handle);
    std::string value = Call::logging() ? "access=" + std::to_string(nAccessMode) + " key=" + std::to_string(nSwitchoverKey)
                                        : std::string();
    if (c.injected())
        return c.done(c.injectedStatus(), value);
    auto h = findHandle(handle);
    return c.done(h ? openHandle(h, nAccessMode) : err(MV_E_HANDLE), value);
}

MV_CC_API int MV_CC_CALL MV_CC_CloseDevice(void* handle)
{
    Call c(__func__, handle);
    if (c.injected())
        return c.done(c.injectedStatus());
    auto h = findHandle(handle);
    return c.done(h ? closeHandle(h) : err(MV_E_HANDLE));
}

MV_CC_API int MV_CC_CALL MV_CC_GetDeviceInfo(void* handle, MV_CC_DEVICE_INFO* pstDevInfo)
{
    Call c(__func__, handle);
    if (c.injected())
        return c.done(c.injectedStatus());
    auto h = findHandle(handle);
    if (!h)
        return c.done(err(MV_E_HANDLE));
    if (!pstDevInfo)
        return c.done(err(MV_E_PARAMETER));
    {
        std::lock_guard<std::mutex> lk(h->mu);
        if (int rc = usable(*h))
            return c.done(rc);
    }
    *pstDevInfo = h->dev->info();
    return c.done(MV_OK);
}

} // extern "C"
