// MV_CC_* entry points: feature reads and writes, feature files.
#include "acquisition.h"
#include "call.h"
#include "featurefile.h"
#include "lifecycle.h"
#include "state.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

using namespace vcc;

namespace {

// The open, present device behind a handle; *status says why there is none.
std::shared_ptr<Device> deviceOf(void* handle, int* status)
{
    auto h = findHandle(handle);
    if (!h) {
        *status = err(MV_E_HANDLE);
        return nullptr;
    }
    std::lock_guard<std::mutex> lk(h->mu);
    *status = usable(*h);
    return *status == MV_OK ? h->dev : nullptr;
}

// Reads a feature of the expected type into f.
int readTyped(void* handle, const char* key, const void* out, FeatureType t, Feature& f)
{
    int rc;
    auto dev = deviceOf(handle, &rc);
    if (!dev)
        return rc;
    if (!key || !out)
        return err(MV_E_PARAMETER);
    if ((rc = dev->read(key, f)) != MV_OK)
        return rc;
    return f.type == t ? MV_OK : err(MV_E_GC_GENERIC);
}

unsigned clampU32(int64_t v)
{
    return v < 0 ? 0u : v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<unsigned>(v);
}

int readEnum(void* handle, const char* key, MVCC_ENUMVALUE* out)
{
    Feature f;
    int rc = readTyped(handle, key, out, FeatureType::Enum, f);
    if (rc == MV_OK) {
        std::memset(out, 0, sizeof *out);
        out->nCurValue = f.e;
        for (unsigned v : f.supported)
            if (out->nSupportedNum < MV_MAX_XML_SYMBOLIC_NUM)
                out->nSupportValue[out->nSupportedNum++] = v;
    }
    return rc;
}

std::string fmtFloat(float v)
{
    char b[32];
    std::snprintf(b, sizeof b, "%g", static_cast<double>(v));
    return b;
}

} // namespace

extern "C" {

MV_CC_API int MV_CC_CALL MV_CC_GetIntValue(void* handle, const char* strKey, MVCC_INTVALUE* pValue)
{
    Call c(__func__, handle, strKey);
    if (c.injected())
        return c.done(c.injectedStatus());
    Feature f;
    int rc = readTyped(handle, strKey, pValue, FeatureType::Int, f);
    if (rc == MV_OK) {
        std::memset(pValue, 0, sizeof *pValue);
        pValue->nCurValue = clampU32(f.i);
        pValue->nMin = clampU32(f.imin);
        pValue->nMax = clampU32(f.imax);
        pValue->nInc = clampU32(f.inc);
    }
    return c.done(rc);
}

MV_CC_API int MV_CC_CALL MV_CC_GetFloatValue(void* handle, const char* strKey, MVCC_FLOATVALUE* pValue)
{
    Call c(__func__, handle, strKey);
    if (c.injected())
        return c.done(c.injectedStatus());
    Feature f;
    int rc = readTyped(handle, strKey, pValue, FeatureType::Float, f);
    if (rc == MV_OK) {
        std::memset(pValue, 0, sizeof *pValue);
        pValue->fCurValue = static_cast<float>(f.f);
        pValue->fMin = static_cast<float>(f.fmin);
        pValue->fMax = static_cast<float>(f.fmax);
    }
    return c.done(rc);
}

MV_CC_API int MV_CC_CALL MV_CC_GetBoolValue(void* handle, const char* strKey, bool* pValue)
{
    Call c(__func__, handle, strKey);
    if (c.injected())
        return c.done(c.injectedStatus());
    Feature f;
    int rc = readTyped(handle, strKey, pValue, FeatureType::Bool, f);
    if (rc == MV_OK)
        *pValue = f.b;
    return c.done(rc);
}

MV_CC_API int MV_CC_CALL MV_CC_GetStringValue(void* handle, const char* strKey, MVCC_STRINGVALUE* pValue)
{
    Call c(__func__, handle, strKey);
    if (c.injected())
        return c.done(c.injectedStatus());
    Feature f;
    int rc = readTyped(handle, strKey, pValue, FeatureType::String, f);
    if (rc == MV_OK) {
        std::memset(pValue, 0, sizeof *pValue);
        size_t n = f.s.size() < sizeof pValue->chCurValue - 1 ? f.s.size() : sizeof pValue->chCurValue - 1;
        std::memcpy(pValue->chCurValue, f.s.data(), n);
        pValue->nMaxLength = static_cast<int64_t>(sizeof pValue->chCurValue - 1);
    }
    return c.done(rc);
}

MV_CC_API int MV_CC_CALL MV_CC_GetEnumValue(void* handle, const char* strKey, MVCC_ENUMVALUE* pValue)
{
    Call c(__func__, handle, strKey);
    if (c.injected())
        return c.done(c.injectedStatus());
    return c.done(readEnum(handle, strKey, pValue));
}

MV_CC_API int MV_CC_CALL MV_CC_GetPixelFormat(void* handle, MVCC_ENUMVALUE* pValue)
{
    Call c(__func__, handle, "PixelFormat");
    if (c.injected())
        return c.done(c.injectedStatus());
    return c.done(readEnum(handle, "PixelFormat", pValue));
}

MV_CC_API int MV_CC_CALL MV_CC_SetEnumValue(void* handle, const char* strKey, unsigned int nValue)
{
    Call c(__func__, handle, strKey);
    std::string value = Call::logging() ? std::to_string(nValue) : std::string();
    if (c.injected())
        return c.done(c.injectedStatus(), value);
    int rc;
    auto dev = deviceOf(handle, &rc);
    if (!dev)
        return c.done(rc, value);
    if (!strKey)
        return c.done(err(MV_E_PARAMETER), value);
    return c.done(dev->write(strKey, [&](Feature& f) { return writeEnum(f, nValue); }), value);
}

MV_CC_API int MV_CC_CALL MV_CC_SetFloatValue(void* handle, const char* strKey, float fValue)
{
    Call c(__func__, handle, strKey);
    std::string value = Call::logging() ? fmtFloat(fValue) : std::string();
    if (c.injected())
        return c.done(c.injectedStatus(), value);
    int rc;
    auto dev = deviceOf(handle, &rc);
    if (!dev)
        return c.done(rc, value);
    if (!strKey)
        return c.done(err(MV_E_PARAMETER), value);
    return c.done(dev->write(strKey, [&](Feature& f) { return writeFloat(f, static_cast<double>(fValue)); }), value);
}

MV_CC_API int MV_CC_CALL MV_CC_FeatureLoad(void* handle, const char* strFileName)
{
    Call c(__func__, handle, strFileName);
    if (c.injected())
        return c.done(c.injectedStatus());
    int rc;
    auto dev = deviceOf(handle, &rc);
    if (!dev)
        return c.done(rc);
    if (!strFileName)
        return c.done(err(MV_E_PARAMETER));
    std::string path = locateFeatureFile(strFileName);
    if (path.empty()) {
        std::fprintf(stderr, "virtual camera SDK: %s: not found in the working directory nor in $%s\n", strFileName,
                     kFeatureDirEnv);
        return c.done(err(MV_E_PARAMETER));
    }
    const int status = applyFeatureFile(*dev, path);
    preparePattern(*dev); // a mirror flag set while grabbing
    return c.done(status, Call::logging() ? path : std::string());
}

} // extern "C"
