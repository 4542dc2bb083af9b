// Feature files (MV_CC_FeatureLoad) in the virtual SDK's format (read by
// featureformat.h, found in the working directory or $VCC_FEATURE_DIR like
// the virtual SDK's), applied to a camera line by line.
#pragma once

#include "featureformat.h"

#include <arv.h>

#include <string>

namespace gcc {

using vcc::locateFeatureFile;

// Applies every line; reports each bad line on stderr as "file:line: reason"
// and returns the first error status (MV_OK when all lines applied).
int applyFeatureFile(ArvDevice* device, const std::string& path);

} // namespace gcc
