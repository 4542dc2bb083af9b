// Feature files (format: featureformat.h) applied to a simulated device.
#pragma once

#include "device.h"
#include "featureformat.h"

#include <string>

namespace vcc {

// Applies every line; reports each bad line as "file:line: reason" on stderr
// and returns the first error status (MV_OK when all lines applied).
int applyFeatureFile(Device& dev, const std::string& path);
int applyFeatureText(Device& dev, const std::string& text, const std::string& origin);

} // namespace vcc
