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

// One typed feature read as every MV_CC_Get* entry point does it: the call is
// recorded, an injected failure answers first, and the record is filled only
// when the device has the feature with the expected type.
template <class Out, class Fill>
int readFeature(const char* function, void* handle, const char* key, Out* out, FeatureType t, Fill fill)
{
    Call c(function, handle, key);
    if (c.injected())
        return c.done(c.injectedStatus());
    Feature f;
    const int rc = readTyped(handle, key, out, t, f);
    if (rc == MV_OK)
        fill(f, *out);
    return c.done(rc);
}

// One feature write as MV_CC_Set* does it; value is the logged text.
template <class Write>
int writeFeature(const char* function, void* handle, const char* key, const std::string& value, Write write)
{
    Call c(function, handle, key);
    if (c.injected())
        return c.done(c.injectedStatus(), value);
    int rc;
    auto dev = deviceOf(handle, &rc);
    if (!dev)
        return c.done(rc, value);
    if (!key)
        return c.done(err(MV_E_PARAMETER), value);
    const int status = dev->write(key, write);
    if (status == MV_OK)
        preparePattern(*dev); // mirroring, exposure or gain set while grabbing
    return c.done(status, value);
}

void fillEnum(const Feature& f, MVCC_ENUMVALUE& out)
{
    std::memset(&out, 0, sizeof out);
    out.nCurValue = f.e;
    for (unsigned v : f.supported)
        if (out.nSupportedNum < MV_MAX_XML_SYMBOLIC_NUM)
            out.nSupportValue[out.nSupportedNum++] = v;
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
    return readFeature(__func__, handle, strKey, pValue, FeatureType::Int, [](const Feature& f, MVCC_INTVALUE& out) {
        std::memset(&out, 0, sizeof out);
        out.nCurValue = clampU32(f.i);
        out.nMin = clampU32(f.imin);
        out.nMax = clampU32(f.imax);
        out.nInc = clampU32(f.inc);
    });
}

MV_CC_API int MV_CC_CALL MV_CC_GetFloatValue(void* handle, const char* strKey, MVCC_FLOATVALUE* pValue)
{
    return readFeature(__func__, handle, strKey, pValue, FeatureType::Float, [](const Feature& f, MVCC_FLOATVALUE& out) {
        std::memset(&out, 0, sizeof out);
        out.fCurValue = static_cast<float>(f.f);
        out.fMin = static_cast<float>(f.fmin);
        out.fMax = static_cast<float>(f.fmax);
    });
}

MV_CC_API int MV_CC_CALL MV_CC_GetBoolValue(void* handle, const char* strKey, bool* pValue)
{
    return readFeature(__func__, handle, strKey, pValue, FeatureType::Bool,
                       [](const Feature& f, bool& out) { out = f.b; });
}

MV_CC_API int MV_CC_CALL MV_CC_GetStringValue(void* handle, const char* strKey, MVCC_STRINGVALUE* pValue)
{
    return readFeature(__func__, handle, strKey, pValue, FeatureType::String, [](const Feature& f, MVCC_STRINGVALUE& out) {
        std::memset(&out, 0, sizeof out);
        const size_t room = sizeof out.chCurValue - 1;
        std::memcpy(out.chCurValue, f.s.data(), f.s.size() < room ? f.s.size() : room);
        out.nMaxLength = static_cast<int64_t>(room);
    });
}

MV_CC_API int MV_CC_CALL MV_CC_GetEnumValue(void* handle, const char* strKey, MVCC_ENUMVALUE* pValue)
{
    return readFeature(__func__, handle, strKey, pValue, FeatureType::Enum, fillEnum);
}

MV_CC_API int MV_CC_CALL MV_CC_GetPixelFormat(void* handle, MVCC_ENUMVALUE* pValue)
{
    return readFeature(__func__, handle, "PixelFormat", pValue, FeatureType::Enum, fillEnum);
}

MV_CC_API int MV_CC_CALL MV_CC_SetEnumValue(void* handle, const char* strKey, unsigned int nValue)
{
    return writeFeature(__func__, handle, strKey, Call::logging() ? std::to_string(nValue) : std::string(),
                        [&](Feature& f) { return writeEnum(f, nValue); });
}

MV_CC_API int MV_CC_CALL MV_CC_SetFloatValue(void* handle, const char* strKey, float fValue)
{
    return writeFeature(__func__, handle, strKey, Call::logging() ? fmtFloat(fValue) : std::string(),
                        [&](Feature& f) { return writeFloat(f, static_cast<double>(fValue)); });
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
