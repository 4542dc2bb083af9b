#include "featurefile.h"

#include "entry.h"
#include "features.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace gcc {

namespace {

constexpr const char* kFeatureDirEnv = "VCC_FEATURE_DIR";

bool readable(const std::string& path)
{
    std::ifstream f(path);
    return f.good();
}

std::string trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

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

} // namespace

std::string locateFeatureFile(const std::string& name)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return readable(name) ? name : std::string();
    if (readable(name))
        return name;
    if (const char* dir = std::getenv(kFeatureDirEnv); dir && *dir) {
        const std::string p = std::string(dir) + "/" + name;
        if (readable(p))
            return p;
    }
    return {};
}

int applyFeatureFile(ArvDevice* device, const std::string& path)
{
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "genicam camera SDK: %s: cannot be read\n", path.c_str());
        return err(MV_E_PARAMETER);
    }
    int first = MV_OK;
    int lineNo = 0;
    auto fail = [&](int status, const std::string& what) {
        std::fprintf(stderr, "genicam camera SDK: %s:%d: %s\n", path.c_str(), lineNo, what.c_str());
        if (first == MV_OK)
            first = status;
    };
    MVCC_STRINGVALUE modelName{};
    const std::string model = getString(device, "DeviceModelName", modelName) == MV_OK ? modelName.chCurValue : "";
    bool inSection = true;
    std::string line;
    while (std::getline(in, line)) {
        ++lineNo;
        if (const size_t hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        line = trim(line);
        if (line.empty())
            continue;
        if (line.front() == '[') {
            inSection = line.back() == ']';
            if (!inSection) {
                fail(err(MV_E_PARAMETER), "expected '[DeviceModelName]'");
                continue;
            }
            const std::string section = trim(line.substr(1, line.size() - 2));
            inSection = section.empty() || section == "*" || section == model;
            continue;
        }
        if (!inSection)
            continue;
        const size_t eq = line.find('=');
        const std::string name = eq == std::string::npos ? std::string() : trim(line.substr(0, eq));
        if (name.empty()) {
            fail(err(MV_E_PARAMETER), "expected 'Feature = value'");
            continue;
        }
        const std::string value = trim(line.substr(eq + 1));
        if (const int rc = setFromText(device, name.c_str(), value))
            fail(rc, std::string(reason(rc)) + ": " + name + " = " + value);
    }
    return first;
}

} // namespace gcc
