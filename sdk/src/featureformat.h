// The feature-file format, read the same way by both camera SDKs: "Name =
// value" per line, '#' starts a comment, "[Model]" starts lines for devices
// whose DeviceModelName is Model ("[*]" or "[]" for all). Reading a file
// yields its lines in order; each SDK applies them to its own device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vcc {

constexpr const char* kFeatureDirEnv = "VCC_FEATURE_DIR";

// Finds a bare name in the working directory, then in $VCC_FEATURE_DIR; a name
// with a directory is used as it is. Empty when not found.
std::string locateFeatureFile(const std::string& name);

// A value as written after '='; the feature it is written to decides which
// reading applies. Each reading fails on anything but the whole text.
struct FeatureValue {
    std::string text;

    bool asInt(int64_t& out) const;  // decimal, 0x hex or 0 octal
    bool asFloat(double& out) const; // finite only
    bool asBool(bool& out) const;    // 1, true, True or 0, false, False
};

// One line of a feature file for the device: a feature to set, or, when
// `error` is not empty, a line that cannot be read and why.
struct FeatureEntry {
    int line = 0;
    std::string name;
    FeatureValue value;
    std::string error;
};

// The lines of `text` that apply to a device of model `model`, in order:
// blank lines, comments and lines under other models' sections are left out,
// a malformed section header is reported and its lines skipped.
std::vector<FeatureEntry> parseFeatureText(const std::string& text, const std::string& model);

} // namespace vcc
