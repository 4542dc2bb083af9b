#include "feature.h"

#include "featureformat.h"
#include "pixelformat.h"
#include "status.h"

#include <cmath>

namespace vcc {

Feature Feature::makeInt(int64_t cur, int64_t min, int64_t max, int64_t inc)
{
    Feature f;
    f.type = FeatureType::Int;
    f.i = cur;
    f.imin = min;
    f.imax = max;
    f.inc = inc > 0 ? inc : 1;
    return f;
}

Feature Feature::makeFloat(double cur, double min, double max)
{
    Feature f;
    f.type = FeatureType::Float;
    f.f = cur;
    f.fmin = min;
    f.fmax = max;
    return f;
}

Feature Feature::makeBool(bool v)
{
    Feature f;
    f.type = FeatureType::Bool;
    f.b = v;
    return f;
}

Feature Feature::makeString(const std::string& v)
{
    Feature f;
    f.type = FeatureType::String;
    f.s = v;
    f.writable = false; // device strings are read-only unless a test says otherwise
    return f;
}

Feature Feature::makeEnum(unsigned cur, std::vector<unsigned> supported)
{
    Feature f;
    f.type = FeatureType::Enum;
    f.e = cur;
    f.supported = std::move(supported);
    return f;
}

static int precheck(const Feature& f, FeatureType t)
{
    if (f.type != t)
        return err(MV_E_GC_GENERIC);
    if (!f.writable)
        return err(MV_E_GC_ACCESS);
    return MV_OK;
}

int writeInt(Feature& f, int64_t v)
{
    if (int rc = precheck(f, FeatureType::Int))
        return rc;
    if (v < f.imin || v > f.imax || (v - f.imin) % f.inc != 0)
        return err(MV_E_GC_RANGE);
    f.i = v;
    return MV_OK;
}

int writeFloat(Feature& f, double v)
{
    if (int rc = precheck(f, FeatureType::Float))
        return rc;
    if (!std::isfinite(v) || v < f.fmin || v > f.fmax)
        return err(MV_E_GC_RANGE);
    f.f = v;
    return MV_OK;
}

int writeBool(Feature& f, bool v)
{
    if (int rc = precheck(f, FeatureType::Bool))
        return rc;
    f.b = v;
    return MV_OK;
}

int writeString(Feature& f, const std::string& v)
{
    if (int rc = precheck(f, FeatureType::String))
        return rc;
    if (v.size() > 255)
        return err(MV_E_GC_RANGE);
    f.s = v;
    return MV_OK;
}

int writeEnum(Feature& f, unsigned v)
{
    if (int rc = precheck(f, FeatureType::Enum))
        return rc;
    for (unsigned s : f.supported) {
        if (s == v) {
            f.e = v;
            return MV_OK;
        }
    }
    return err(MV_E_GC_RANGE);
}

namespace {

// Symbolic enumeration entries the feature files may use instead of numbers.
bool enumFromName(const std::string& feature, const std::string& t, unsigned& out)
{
    if (feature == "PixelFormat") {
        out = pixelFormatFromName(t);
        return out != 0;
    }
    static const struct {
        const char* name;
        unsigned value;
    } kCommon[] = {{"Off", 0}, {"On", 1}, {"Once", 1}, {"Continuous", 2}};
    for (const auto& c : kCommon) {
        if (t == c.name) {
            out = c.value;
            return true;
        }
    }
    return false;
}

} // namespace

int writeText(const std::string& name, Feature& f, const std::string& text)
{
    const int bad = err(MV_E_PARAMETER);
    const FeatureValue value{text};
    switch (f.type) {
    case FeatureType::Int: {
        int64_t v;
        return value.asInt(v) ? writeInt(f, v) : bad;
    }
    case FeatureType::Float: {
        double v;
        return value.asFloat(v) ? writeFloat(f, v) : bad;
    }
    case FeatureType::Bool: {
        bool v;
        return value.asBool(v) ? writeBool(f, v) : bad;
    }
    case FeatureType::String:
        return writeString(f, text);
    case FeatureType::Enum: {
        int64_t v;
        if (value.asInt(v))
            return (v < 0 || v > 0xFFFFFFFFLL) ? err(MV_E_GC_RANGE) : writeEnum(f, static_cast<unsigned>(v));
        unsigned e;
        return enumFromName(name, text, e) ? writeEnum(f, e) : bad;
    }
    }
    return bad;
}

} // namespace vcc
