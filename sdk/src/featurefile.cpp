#include "featurefile.h"

#include "call.h"
#include "textfile.h"

#include <cstdio>

namespace vcc {

namespace {

const char* reason(int status)
{
    switch (static_cast<unsigned>(status)) {
    case MV_E_GC_GENERIC:
        return "unknown feature or wrong type";
    case MV_E_GC_RANGE:
        return "value out of range";
    case MV_E_GC_ACCESS:
        return "feature not writable";
    case MV_E_PARAMETER:
        return "bad value";
    default:
        return "rejected";
    }
}

// Sets one entry, MV_OK or the status and why.
int applyEntry(Device& dev, const FeatureEntry& e, std::string& why)
{
    if (!e.error.empty()) {
        why = e.error;
        return err(MV_E_PARAMETER);
    }
    Feature probe;
    if (dev.read(e.name, probe) != MV_OK) {
        why = "unknown feature '" + e.name + "'";
        return err(MV_E_GC_GENERIC);
    }
    const int rc = dev.write(e.name, [&](Feature& f) { return writeText(e.name, f, e.value.text); });
    if (rc != MV_OK)
        why = std::string(reason(rc)) + ": " + e.name + " = " + e.value.text;
    return rc;
}

} // namespace

int applyFeatureText(Device& dev, const std::string& text, const std::string& origin)
{
    // Lines under "[ModelName]" apply only to devices of that "DeviceModelName",
    // so one file can serve a mono and a colour model.
    Feature modelName;
    const std::string model = dev.read("DeviceModelName", modelName) == MV_OK ? modelName.s : std::string();
    int first = MV_OK;
    for (const FeatureEntry& e : parseFeatureText(text, model)) {
        std::string why;
        const int rc = applyEntry(dev, e, why);
        if (rc == MV_OK)
            continue;
        std::fprintf(stderr, "virtual camera SDK: %s:%d: %s\n", origin.c_str(), e.line, why.c_str());
        if (first == MV_OK)
            first = rc;
    }
    return first;
}

int applyFeatureFile(Device& dev, const std::string& path)
{
    std::string text;
    if (const int rc = readTextFile(path, text); rc != MV_OK)
        return rc;
    return applyFeatureText(dev, text, path);
}

} // namespace vcc
