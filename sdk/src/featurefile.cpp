#include "featurefile.h"

#include "call.h"
#include "textfile.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vcc {

namespace {

bool readable(const std::string& path)
{
    std::ifstream f(path);
    return f.good();
}

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

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

} // namespace

std::string locateFeatureFile(const std::string& name)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return readable(name) ? name : std::string();
    if (readable(name))
        return name;
    const char* dir = std::getenv(kFeatureDirEnv);
    if (dir && *dir) {
        std::string p = std::string(dir) + "/" + name;
        if (readable(p))
            return p;
    }
    return {};
}

int applyFeatureText(Device& dev, const std::string& text, const std::string& origin)
{
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    int first = MV_OK;
    auto fail = [&](int status, const std::string& what) {
        std::fprintf(stderr, "virtual camera SDK: %s:%d: %s\n", origin.c_str(), lineNo, what.c_str());
        if (first == MV_OK)
            first = status;
    };
    // Lines under "[ModelName]" apply only to devices of that "DeviceModelName",
    // so one file can serve a mono and a colour model.
    Feature modelName;
    const std::string model = dev.read("DeviceModelName", modelName) == MV_OK ? modelName.s : std::string();
    bool inSection = true;
    while (std::getline(in, line)) {
        ++lineNo;
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        line = trim(line);
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.back() != ']') {
                fail(err(MV_E_PARAMETER), "expected '[DeviceModelName]'");
                inSection = false;
                continue;
            }
            std::string section = trim(line.substr(1, line.size() - 2));
            inSection = section.empty() || section == "*" || section == model;
            continue;
        }
        if (!inSection)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            fail(err(MV_E_PARAMETER), "expected 'Feature = value'");
            continue;
        }
        std::string name = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (name.empty()) {
            fail(err(MV_E_PARAMETER), "missing feature name");
            continue;
        }
        Feature probe;
        if (dev.read(name, probe) != MV_OK) {
            fail(err(MV_E_GC_GENERIC), "unknown feature '" + name + "'");
            continue;
        }
        int rc = dev.write(name, [&](Feature& f) { return writeText(name, f, value); });
        if (rc != MV_OK)
            fail(rc, std::string(reason(rc)) + ": " + name + " = " + value);
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
