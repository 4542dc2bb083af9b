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

} // namespace

extern "C" {

MV_CC_API int MV_CC_CALL MV_CC_RegisterImageCallBackEx(void* handle, MvImageCallBackEx cbOutput, void* pUser)
{
    Call c(__func__, handle);
    if (c.injected())
        return c.done(c.injectedStatus());
    auto h = findHandle(handle);
    if (!h)
        return c.done(err(MV_E_HANDLE));
    if (!cbOutput)
        return c.done(err(MV_E_PARAMETER));
    std::lock_guard<std::mutex> lk(h->mu);
    if (int rc = usable(*h))
        return c.done(rc);
    h->imageCb = cbOutput;
    h->imageUser = pUser;
    return c.done(MV_OK);
}

MV_CC_API int MV_CC_CALL MV_CC_RegisterExceptionCallBack(void* handle, MvExceptionCallBack cbException, void* pUser)
{
    Call c(__func__, handle);
    if (c.injected())
        return c.done(c.injectedStatus());
    auto h = findHandle(handle);
    if (!h)
        return c.done(err(MV_E_HANDLE));
    if (!cbException)
        return c.done(err(MV_E_PARAMETER));
    std::lock_guard<std::mutex> lk(h->mu);
    if (int rc = usable(*h))
        return c.done(rc);
    h->exceptionCb = cbException;
    h->exceptionUser = pUser;
    return c.done(MV_OK);
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
