// MV_CC_* entry points: callbacks, grabbing, triggers and pixel conversion.
#include "acquisition.h"
#include "call.h"
#include "convert.h"
#include "lifecycle.h"
#include "state.h"

#include <cstdio>
#include <string>

using namespace vcc;

namespace {

constexpr unsigned kMaxNodes = 1024;

using Op = int (*)(const std::shared_ptr<Handle>&);

int onHandle(const char* function, void* handle, Op op)
{
    Call c(function, handle);
    if (c.injected())
        return c.done(c.injectedStatus());
    auto h = findHandle(handle);
    return c.done(h ? op(h) : err(MV_E_HANDLE));
}

// Stores a callback and its user pointer on an open handle, under the
// handle's lock, as both MV_CC_Register* entry points do.
template <class Callback>
int registerCallback(const char* function, void* handle, Callback cb, void* user, Callback Handle::*slot,
                     void* Handle::*userSlot)
{
    Call c(function, handle);
    if (c.injected())
        return c.done(c.injectedStatus());
    auto h = findHandle(handle);
    if (!h)
        return c.done(err(MV_E_HANDLE));
    if (!cb)
        return c.done(err(MV_E_PARAMETER));
    std::lock_guard<std::mutex> lk(h->mu);
    if (int rc = usable(*h))
        return c.done(rc);
    (*h).*slot = cb;
    (*h).*userSlot = user;
    return c.done(MV_OK);
}

} // namespace

extern "C" {

MV_CC_API int MV_CC_CALL MV_CC_RegisterImageCallBackEx(void* handle, MvImageCallBackEx cbOutput, void* pUser)
{
    return registerCallback(__func__, handle, cbOutput, pUser, &Handle::imageCb, &Handle::imageUser);
}

MV_CC_API int MV_CC_CALL MV_CC_RegisterExceptionCallBack(void* handle, MvExceptionCallBack cbException, void* pUser)
{
    return registerCallback(__func__, handle, cbException, pUser, &Handle::exceptionCb, &Handle::exceptionUser);
}

MV_CC_API int MV_CC_CALL MV_CC_SetImageNodeNum(void* handle, unsigned int nNum)
{
    Call c(__func__, handle);
    std::string value = Call::logging() ? std::to_string(nNum) : std::string();
    if (c.injected())
        return c.done(c.injectedStatus(), value);
    auto h = findHandle(handle);
    if (!h)
        return c.done(err(MV_E_HANDLE), value);
    if (nNum < 1 || nNum > kMaxNodes)
        return c.done(err(MV_E_PARAMETER), value);
    std::lock_guard<std::mutex> lk(h->mu);
    if (int rc = usable(*h))
        return c.done(rc, value);
    h->nodeNum = nNum; // takes effect at the next MV_CC_StartGrabbing
    return c.done(MV_OK, value);
}

MV_CC_API int MV_CC_CALL MV_CC_StartGrabbing(void* handle)
{
    return onHandle(__func__, handle, startGrabbing);
}

MV_CC_API int MV_CC_CALL MV_CC_StopGrabbing(void* handle)
{
    return onHandle(__func__, handle, stopGrabbing);
}

MV_CC_API int MV_CC_CALL MV_CC_ClearImageBuffer(void* handle)
{
    return onHandle(__func__, handle, clearImageBuffer);
}

MV_CC_API int MV_CC_CALL MV_CC_TriggerSoftwareExecute(void* handle)
{
    return onHandle(__func__, handle, softwareTrigger);
}

MV_CC_API int MV_CC_CALL MV_CC_ConvertPixelType(void* handle, MV_CC_PIXEL_CONVERT_PARAM* pstCvtParam)
{
    Call c(__func__, handle);
    std::string value;
    if (Call::logging() && pstCvtParam) {
        char b[200];
        std::snprintf(b, sizeof b, "src=0x%08x dst=0x%08x w=%u h=%u srclen=%u dstsize=%u", pstCvtParam->enSrcPixelType,
                      pstCvtParam->enDstPixelType, pstCvtParam->nWidth, pstCvtParam->nHeight, pstCvtParam->nSrcDataLen,
                      pstCvtParam->nDstBufferSize);
        value = b;
    }
    if (c.injected())
        return c.done(c.injectedStatus(), value);
    // Conversion needs no device, but a handle that was never made or is gone is refused.
    if (!findHandle(handle))
        return c.done(err(MV_E_HANDLE), value);
    if (!pstCvtParam)
        return c.done(err(MV_E_PARAMETER), value);
    return c.done(convertPixels(*pstCvtParam), value);
}

} // extern "C"
