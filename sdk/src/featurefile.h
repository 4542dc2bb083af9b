// Feature files: "Name = value" per line, "#" starts a comment, "[Model]"
// starts lines for devices whose DeviceModelName is Model ("[*]" for all).
#pragma once

#include "device.h"

#include <string>

namespace vcc {

constexpr const char* kFeatureDirEnv = "VCC_FEATURE_DIR";

// Finds a bare name in the working directory, then in $VCC_FEATURE_DIR; a name
// with a directory is used as it is. Empty when not found.
std::string locateFeatureFile(const std::string& name);

// Applies every line; reports each bad line as "file:line: reason" on stderr
// and returns the first error status (MV_OK when all lines applied).
int applyFeatureFile(Device& dev, const std::string& path);
int applyFeatureText(Device& dev, const std::string& text, const std::string& origin);

} // namespace vcc
