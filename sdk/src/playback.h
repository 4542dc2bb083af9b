// Playback devices: image files decoded and brought to the device's geometry
// once, when the device is loaded, so the frame thread only copies rows.
#pragma once

#include "pattern.h"

#include <cstddef>
#include <memory>
#include <string>

namespace vcc {

// Most bytes the decoded images of one device may take. Loading needs up to
// twice this for a moment, while the images are stacked.
constexpr size_t kPlaybackBudgetBytes = size_t(512) << 20;

struct PlaybackSource {
    std::string images;   // a file, a folder or a glob
    std::string baseDir;  // relative names start here
    unsigned width = 0, height = 0;
    bool colour = false;  // keep colour (the device has colour formats) or take luminance
    bool strip = false;   // stack the images at the device's width instead of one frame each
};

// Returns null and says which file failed and why in *why.
std::shared_ptr<const Strip> loadPlayback(const PlaybackSource& src, std::string* why);

} // namespace vcc
