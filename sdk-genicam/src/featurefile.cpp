#include "featurefile.h"

#include "entry.h"
#include "features.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace gcc {

namespace {

const char* reason(int status)
{
    switch (static_cast<unsigned>(status)) {
    case MV_E_GC_GENERIC:
        return "unknown feature, wrong type or refused by the camera";
    case MV_E_GC_RANGE:
        return "value out of range";
    case MV_E_GC_ACCESS:
        return "feature not writable";
    default:
        return "bad value";
    }
}

// Sets one entry, MV_OK or the status and why.
int applyEntry(ArvDevice* device, const vcc::FeatureEntry& e, std::string& why)
{
    if (!e.error.empty()) {
        why = e.error;
        return err(MV_E_PARAMETER);
    }
    const int rc = setFromText(device, e.name.c_str(), e.value);
    if (rc != MV_OK)
        why = std::string(reason(rc)) + ": " + e.name + " = " + e.value.text;
    return rc;
}

} // namespace

int applyFeatureFile(ArvDevice* device, const std::string& path)
{
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "genicam camera SDK: %s: cannot be read\n", path.c_str());
        return err(MV_E_PARAMETER);
    }
    std::stringstream text;
    text << in.rdbuf();
    MVCC_STRINGVALUE modelName{};
    const std::string model = getString(device, "DeviceModelName", modelName) == MV_OK ? modelName.chCurValue : "";
    int first = MV_OK;
    for (const vcc::FeatureEntry& e : vcc::parseFeatureText(text.str(), model)) {
        std::string why;
        const int rc = applyEntry(device, e, why);
        if (rc == MV_OK)
            continue;
        std::fprintf(stderr, "genicam camera SDK: %s:%d: %s\n", path.c_str(), e.line, why.c_str());
        if (first == MV_OK)
            first = rc;
    }
    return first;
}

} // namespace gcc
