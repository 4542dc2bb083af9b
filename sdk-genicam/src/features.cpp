#include "features.h"

#include "entry.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace gcc {

namespace {

struct Fallback {
    const char* name;
    const char* older;
};
// Names of the standard feature naming convention, and what cameras built
// before it (or simulators) call the same thing.
const Fallback kFallbacks[] = {
    {"ExposureTime", "ExposureTimeAbs"},
    {"Gain", "GainRaw"},
    {"WidthMax", "SensorWidth"},
    {"HeightMax", "SensorHeight"},
    {"AcquisitionFrameRate", "AcquisitionFrameRateAbs"},
    {"Gamma", "GammaAbs"},
    {"BlackLevel", "BlackLevelRaw"},
};

// Maps a failed Aravis call to a status, and clears the error.
int failed(GError*& error)
{
    const bool bad = error != nullptr;
    g_clear_error(&error);
    return bad ? err(MV_E_GC_GENERIC) : MV_OK;
}

bool writable(ArvGcNode* node)
{
    const ArvGcAccessMode mode = arv_gc_feature_node_get_actual_access_mode(ARV_GC_FEATURE_NODE(node));
    return mode == ARV_GC_ACCESS_MODE_RW || mode == ARV_GC_ACCESS_MODE_WO;
}

} // namespace

ArvGcNode* findFeature(ArvDevice* device, const char* name)
{
    if (!device || !name)
        return nullptr;
    if (ArvGcNode* node = arv_device_get_feature(device, name))
        return node;
    for (const Fallback& f : kFallbacks)
        if (std::strcmp(f.name, name) == 0)
            return arv_device_get_feature(device, f.older);
    return nullptr;
}

int getInt(ArvDevice* device, const char* name, MVCC_INTVALUE& out)
{
    ArvGcNode* node = findFeature(device, name);
    if (!node || !ARV_IS_GC_INTEGER(node))
        return err(MV_E_GC_GENERIC);
    GError* error = nullptr;
    ArvGcInteger* i = ARV_GC_INTEGER(node);
    out.nCurValue = static_cast<unsigned>(arv_gc_integer_get_value(i, &error));
    if (!error)
        out.nMin = static_cast<unsigned>(arv_gc_integer_get_min(i, &error));
    if (!error)
        out.nMax = static_cast<unsigned>(arv_gc_integer_get_max(i, &error));
    if (!error)
        out.nInc = static_cast<unsigned>(arv_gc_integer_get_inc(i, &error));
    return failed(error);
}

int getFloat(ArvDevice* device, const char* name, MVCC_FLOATVALUE& out)
{
    ArvGcNode* node = findFeature(device, name);
    GError* error = nullptr;
    if (node && ARV_IS_GC_FLOAT(node)) {
        ArvGcFloat* f = ARV_GC_FLOAT(node);
        out.fCurValue = float(arv_gc_float_get_value(f, &error));
        if (!error)
            out.fMin = float(arv_gc_float_get_min(f, &error));
        if (!error)
            out.fMax = float(arv_gc_float_get_max(f, &error));
        return failed(error);
    }
    if (node && ARV_IS_GC_INTEGER(node)) { // an older integer feature such as GainRaw
        ArvGcInteger* i = ARV_GC_INTEGER(node);
        out.fCurValue = float(arv_gc_integer_get_value(i, &error));
        if (!error)
            out.fMin = float(arv_gc_integer_get_min(i, &error));
        if (!error)
            out.fMax = float(arv_gc_integer_get_max(i, &error));
        return failed(error);
    }
    return err(MV_E_GC_GENERIC);
}

int getBool(ArvDevice* device, const char* name, bool& out)
{
    ArvGcNode* node = findFeature(device, name);
    if (!node || !ARV_IS_GC_BOOLEAN(node))
        return err(MV_E_GC_GENERIC);
    GError* error = nullptr;
    gboolean v = FALSE;
    arv_gc_boolean_get_value_gi(ARV_GC_BOOLEAN(node), &v, &error);
    out = v != FALSE;
    return failed(error);
}

int getString(ArvDevice* device, const char* name, MVCC_STRINGVALUE& out)
{
    ArvGcNode* node = findFeature(device, name);
    if (!node || !ARV_IS_GC_STRING(node))
        return err(MV_E_GC_GENERIC);
    GError* error = nullptr;
    const char* v = arv_gc_string_get_value(ARV_GC_STRING(node), &error);
    std::memset(out.chCurValue, 0, sizeof out.chCurValue);
    if (v)
        std::strncpy(out.chCurValue, v, sizeof out.chCurValue - 1);
    if (!error)
        out.nMaxLength = arv_gc_string_get_max_length(ARV_GC_STRING(node), &error);
    return failed(error);
}

int getEnum(ArvDevice* device, const char* name, MVCC_ENUMVALUE& out)
{
    ArvGcNode* node = findFeature(device, name);
    if (!node || !ARV_IS_GC_ENUMERATION(node))
        return err(MV_E_GC_GENERIC);
    GError* error = nullptr;
    ArvGcEnumeration* e = ARV_GC_ENUMERATION(node);
    out.nCurValue = static_cast<unsigned>(arv_gc_enumeration_get_int_value(e, &error));
    guint n = 0;
    gint64* values = error ? nullptr : arv_gc_enumeration_dup_available_int_values(e, &n, &error);
    out.nSupportedNum = 0;
    for (guint k = 0; values && k < n && out.nSupportedNum < 64; ++k)
        out.nSupportValue[out.nSupportedNum++] = static_cast<unsigned>(values[k]);
    g_free(values);
    return failed(error);
}

int setEnum(ArvDevice* device, const char* name, unsigned value)
{
    ArvGcNode* node = findFeature(device, name);
    if (!node || !ARV_IS_GC_ENUMERATION(node))
        return err(MV_E_GC_GENERIC);
    if (!writable(node))
        return err(MV_E_GC_ACCESS);
    MVCC_ENUMVALUE now;
    if (int rc = getEnum(device, name, now))
        return rc;
    bool listed = false;
    for (unsigned k = 0; k < now.nSupportedNum; ++k)
        listed = listed || now.nSupportValue[k] == value;
    if (!listed)
        return err(MV_E_GC_RANGE);
    GError* error = nullptr;
    arv_gc_enumeration_set_int_value(ARV_GC_ENUMERATION(node), value, &error);
    return failed(error);
}

int setFloat(ArvDevice* device, const char* name, double value)
{
    ArvGcNode* node = findFeature(device, name);
    if (!node || !(ARV_IS_GC_FLOAT(node) || ARV_IS_GC_INTEGER(node)))
        return err(MV_E_GC_GENERIC);
    if (!writable(node))
        return err(MV_E_GC_ACCESS);
    MVCC_FLOATVALUE limits;
    if (int rc = getFloat(device, name, limits))
        return rc;
    if (!std::isfinite(value) || value < limits.fMin || value > limits.fMax)
        return err(MV_E_GC_RANGE);
    GError* error = nullptr;
    if (ARV_IS_GC_FLOAT(node))
        arv_gc_float_set_value(ARV_GC_FLOAT(node), value, &error);
    else
        arv_gc_integer_set_value(ARV_GC_INTEGER(node), std::llround(value), &error);
    return failed(error);
}

int setFromText(ArvDevice* device, const char* name, const vcc::FeatureValue& value)
{
    ArvGcNode* node = findFeature(device, name);
    if (!node || !ARV_IS_GC_FEATURE_NODE(node))
        return err(MV_E_GC_GENERIC);
    if (!writable(node))
        return err(MV_E_GC_ACCESS);
    if (ARV_IS_GC_ENUMERATION(node)) {
        // An entry name, or a number for its value.
        if (int64_t n; value.asInt(n))
            return n < 0 || n > 0xFFFFFFFFLL ? err(MV_E_GC_RANGE) : setEnum(device, name, static_cast<unsigned>(n));
        GError* error = nullptr;
        const bool set = arv_gc_enumeration_set_string_value(ARV_GC_ENUMERATION(node), value.text.c_str(), &error);
        g_clear_error(&error);
        return set ? MV_OK : err(MV_E_GC_RANGE); // no entry of that name
    }
    if (ARV_IS_GC_FLOAT(node) || (ARV_IS_GC_INTEGER(node) && !std::strcmp(name, "Gain"))) {
        double v;
        return value.asFloat(v) ? setFloat(device, name, v) : err(MV_E_PARAMETER);
    }
    GError* error = nullptr;
    arv_gc_feature_node_set_value_from_string(ARV_GC_FEATURE_NODE(node), value.text.c_str(), &error);
    return failed(error);
}

} // namespace gcc
