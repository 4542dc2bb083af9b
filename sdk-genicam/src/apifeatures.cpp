// Feature reads and writes, the pixel format, feature files.
#include "entry.h"
#include "featurefile.h"
#include "features.h"

#include <string>

using namespace gcc;

extern "C" {

MV_CC_API int MV_CC_CALL MV_CC_GetIntValue(void* handle, const char* strKey, MVCC_INTVALUE* pValue)
{
    if (!strKey || !pValue)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) { return getInt(h.device, strKey, *pValue); });
}

MV_CC_API int MV_CC_CALL MV_CC_GetFloatValue(void* handle, const char* strKey, MVCC_FLOATVALUE* pValue)
{
    if (!strKey || !pValue)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) { return getFloat(h.device, strKey, *pValue); });
}

MV_CC_API int MV_CC_CALL MV_CC_GetBoolValue(void* handle, const char* strKey, bool* pValue)
{
    if (!strKey || !pValue)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) { return getBool(h.device, strKey, *pValue); });
}

MV_CC_API int MV_CC_CALL MV_CC_GetStringValue(void* handle, const char* strKey, MVCC_STRINGVALUE* pValue)
{
    if (!strKey || !pValue)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) { return getString(h.device, strKey, *pValue); });
}

MV_CC_API int MV_CC_CALL MV_CC_GetEnumValue(void* handle, const char* strKey, MVCC_ENUMVALUE* pValue)
{
    if (!strKey || !pValue)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) { return getEnum(h.device, strKey, *pValue); });
}

MV_CC_API int MV_CC_CALL MV_CC_SetEnumValue(void* handle, const char* strKey, unsigned int nValue)
{
    constexpr const char* kTriggerMode = "TriggerMode";
    constexpr unsigned kTriggerOff = 0;
    if (!strKey)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) {
        const int rc = setEnum(h.device, strKey, nValue);
        if (rc == MV_OK && std::string(strKey) == kTriggerMode)
            h.counters->freeRun = nValue == kTriggerOff;
        return rc;
    });
}

MV_CC_API int MV_CC_CALL MV_CC_SetFloatValue(void* handle, const char* strKey, float fValue)
{
    if (!strKey)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) { return setFloat(h.device, strKey, fValue); });
}

MV_CC_API int MV_CC_CALL MV_CC_GetPixelFormat(void* handle, MVCC_ENUMVALUE* pValue)
{
    if (!pValue)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) { return getEnum(h.device, "PixelFormat", *pValue); });
}

MV_CC_API int MV_CC_CALL MV_CC_FeatureLoad(void* handle, const char* strFileName)
{
    if (!strFileName)
        return findHandle(handle) ? err(MV_E_PARAMETER) : err(MV_E_HANDLE);
    return onOpenHandle(handle, [&](Handle& h) {
        const std::string path = locateFeatureFile(strFileName);
        return path.empty() ? err(MV_E_PARAMETER) : applyFeatureFile(h.device, path);
    });
}

} // extern "C"
