// Feature files (MV_CC_FeatureLoad) in the virtual SDK's format: "Name =
// value" per line, '#' starts a comment, "[Model]" starts lines for devices
// whose DeviceModelName is Model ("[*]" for all). Applied line by line.
#pragma once

#include <arv.h>

#include <string>

namespace gcc {

// Finds a bare name in the working directory, then in $VCC_FEATURE_DIR (the
// folder the virtual SDK's users already name); a name with a directory is
// used as it is. Empty when not found.
std::string locateFeatureFile(const std::string& name);

// Applies every line; reports each bad line on stderr as "file:line: reason"
// and returns the first error status (MV_OK when all lines applied).
int applyFeatureFile(ArvDevice* device, const std::string& path);

} // namespace gcc
