// One device feature (GenICam-style node) with its limits and the checked writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vcc {

enum class FeatureType { Int, Float, Bool, String, Enum };

struct Feature {
    FeatureType type = FeatureType::Int;
    bool writable = true;
    int64_t i = 0, imin = 0, imax = 0, inc = 1;
    double f = 0, fmin = 0, fmax = 0;
    bool b = false;
    std::string s;
    unsigned e = 0;
    std::vector<unsigned> supported;

    static Feature makeInt(int64_t cur, int64_t min, int64_t max, int64_t inc);
    static Feature makeFloat(double cur, double min, double max);
    static Feature makeBool(bool v);
    static Feature makeString(const std::string& v);
    static Feature makeEnum(unsigned cur, std::vector<unsigned> supported);
};

// Checked writes: MV_OK, MV_E_GC_GENERIC (wrong type), MV_E_GC_ACCESS (read-only)
// or MV_E_GC_RANGE (outside the limits, off the increment, not in the list).
int writeInt(Feature& f, int64_t v);
int writeFloat(Feature& f, double v);
int writeBool(Feature& f, bool v);
int writeString(Feature& f, const std::string& v);
int writeEnum(Feature& f, unsigned v);

// Parse a value written as text for this feature's type and write it.
// Enumerations take a number or a symbolic name (pixel formats, Off/On, ...).
// Returns MV_E_PARAMETER for text that is not a value of the type.
int writeText(const std::string& name, Feature& f, const std::string& text);

} // namespace vcc
