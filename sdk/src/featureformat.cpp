#include "featureformat.h"

#include <cerrno>
#include <cmath>
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
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

FeatureEntry malformed(int line, const char* why)
{
    FeatureEntry e;
    e.line = line;
    e.error = why;
    return e;
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

bool FeatureValue::asInt(int64_t& out) const
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    out = v;
    return true;
}

bool FeatureValue::asFloat(double& out) const
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

bool FeatureValue::asBool(bool& out) const
{
    if (text == "1" || text == "true" || text == "True")
        out = true;
    else if (text == "0" || text == "false" || text == "False")
        out = false;
    else
        return false;
    return true;
}

std::vector<FeatureEntry> parseFeatureText(const std::string& text, const std::string& model)
{
    std::vector<FeatureEntry> entries;
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    bool inSection = true;
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
                entries.push_back(malformed(lineNo, "expected '[DeviceModelName]'"));
                continue;
            }
            const std::string section = trim(line.substr(1, line.size() - 2));
            inSection = section.empty() || section == "*" || section == model;
            continue;
        }
        if (!inSection)
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            entries.push_back(malformed(lineNo, "expected 'Feature = value'"));
            continue;
        }
        FeatureEntry e;
        e.line = lineNo;
        e.name = trim(line.substr(0, eq));
        if (e.name.empty()) {
            entries.push_back(malformed(lineNo, "missing feature name"));
            continue;
        }
        e.value.text = trim(line.substr(eq + 1));
        entries.push_back(std::move(e));
    }
    return entries;
}

} // namespace vcc
