// valueaccess.cpp
#include "valueaccess.h"

#include "cameraparams.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace valueaccess {

bool isNumeric(int valueType)
{
    return valueType == Int || valueType == Float || valueType == Double;
}

double readNumber(int valueType, const void* p, double fallback)
{
    if (!p)
        return fallback;
    double v = fallback;
    switch (valueType) {
    case Int: v = *static_cast<const int*>(p); break;
    case Float: v = *static_cast<const float*>(p); break;
    case Double: v = *static_cast<const double*>(p); break;
    default: return fallback;
    }
    return std::isfinite(v) ? v : fallback;
}

void writeNumber(int valueType, void* p, double v)
{
    if (!p || !std::isfinite(v))
        return;
    switch (valueType) {
    case Int: {
        const double lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
        *static_cast<int*>(p) = static_cast<int>(std::llround(std::clamp(v, lo, hi)));
        break;
    }
    case Float: *static_cast<float*>(p) = static_cast<float>(v); break;
    case Double: *static_cast<double*>(p) = v; break;
    default: break;
    }
}

Range rangeOf(int valueType, const void* minimum, const void* maximum, const void* step)
{
    Range r;
    // Spin controls work in doubles; keep the open range inside what they
    // can show without losing integer precision.
    const double wide = valueType == Int ? double(std::numeric_limits<int>::max()) : 1e9;
    const double lo = readNumber(valueType, minimum, std::nan(""));
    const double hi = readNumber(valueType, maximum, std::nan(""));
    if (std::isfinite(lo) && std::isfinite(hi) && lo <= hi) {
        r.min = lo;
        r.max = hi;
        r.fromItem = true;
    } else {
        r.min = valueType == Int ? double(std::numeric_limits<int>::min()) : -wide;
        r.max = wide;
    }
    const double s = readNumber(valueType, step, 0.0);
    r.step = s > 0.0 ? s : (valueType == Int ? 1.0 : 0.1);
    if (valueType == Int)
        r.step = std::max(1.0, std::round(r.step));
    return r;
}

double clampTo(const Range& r, double v)
{
    return r.fromItem ? std::clamp(v, r.min, r.max) : v;
}

int decimalsFor(double step)
{
    if (!(step > 0.0) || step >= 1.0)
        return 2;
    return std::clamp(int(std::ceil(-std::log10(step) - 1e-9)), 2, 6);
}

} // namespace valueaccess
