// Precomputed synthetic image for one geometry and pixel format.
//
// The scene is a horizontal gradient crossed by a bright bar that moves down
// kStep rows per frame. It is rendered once into a buffer kPeriod rows taller
// than the frame, so every frame is one contiguous slice of it: producing a
// frame costs a single memcpy. Colour formats are the mosaic (or packing) of
// a colour version of the same scene; the step is even, so the Bayer phase
// of a slice never shifts.
#pragma once

#include "Device.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace vcc {

class Pattern {
public:
    static constexpr unsigned kPeriod = 256; // rows after which the bar repeats
    static constexpr unsigned kStep = 16;    // rows the bar moves per frame
    static constexpr unsigned kBarRows = 32;

    static std::shared_ptr<const Pattern> build(const Geometry& g);

    bool matches(const Geometry& g) const;
    size_t frameLen() const { return frameLen_; }
    // Start of frame `frameNum`'s data: frameLen() readable bytes.
    const uint8_t* frame(uint32_t frameNum) const;

private:
    unsigned width_ = 0, height_ = 0, format_ = 0;
    bool reverseX_ = false, reverseY_ = false;
    size_t rowBytes_ = 0, frameLen_ = 0;
    std::vector<uint8_t> tall_;
};

// Write the frame number into the first four bytes (little endian) so that a
// test can read back which frame it holds.
void stampFrameNumber(uint8_t* data, size_t len, uint32_t frameNum);
uint32_t readFrameStamp(const uint8_t* data);

} // namespace vcc
