// What a device shows, prepared for one geometry and pixel format.
//
// The scene is a looping strip of rows at the device's width: the test chart
// or the device's playback images. Frame n holds the strip's rows
// [(n-1) * Height, n * Height) modulo the strip's length, so consecutive
// frames join into one continuous picture, as a line-scan camera's do.
//
// Everything that costs more than copying rows happens in build(), on the
// thread that starts grabbing or changes the mirror flags, exposure or gain: colour devices get
// the scene mosaiced (or packed) into their format, mirrored as the flags say.
// Producing a frame then costs copies of whole rows, plus, for the chart, the
// frame number drawn into a small corner.
#pragma once

#include "device.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace vcc {

// Playback images decoded at load: one channel for a device without colour
// formats, else three channels in red, green, blue order.
struct Strip {
    cv::Mat rows;
};

class Pattern {
public:
    static std::shared_ptr<const Pattern> build(const Geometry& g, const Device& d);

    bool matches(const Geometry& g) const;
    size_t frameLen() const { return frameLen_; }
    // Writes frame `frameNum` (counted from 1) into dst, frameLen() bytes.
    void copyFrame(uint32_t frameNum, uint8_t* dst) const;

private:
    void prepareFrameLabel();
    void drawFrameNumber(uint32_t frameNum, uint8_t* dst) const;

    static constexpr int kLabelCells = 11;  // '#' and up to ten digits
    static constexpr int kLabelGlyphs = 12; // a blank cell, '#', '0' to '9'

    unsigned width_ = 0, height_ = 0, format_ = 0;
    bool reverseX_ = false, reverseY_ = false;
    double brightness_ = 1.0; // the chart's; playback ignores it
    bool chart_ = false;
    size_t rowBytes_ = 0, frameLen_ = 0;
    // Device-format strip; [1] is mosaiced one row shifted, for frames that
    // start on an odd strip row of a Bayer device.
    cv::Mat rows_[2];
    // The chart's frame label: glyph cells already mirrored as the frame is.
    cv::Mat glyphs_[kLabelGlyphs];
    int labelRows_ = 0, labelCell_ = 0;
};

// Rows of the test chart for a device of this width and serial number, three
// channels in red, green, blue order; it loops every kChartRows rows.
constexpr int kChartRows = 600;
cv::Mat renderChart(unsigned width, const std::string& serial);

// The chart's devices carry their frame number in the first four bytes (little
// endian) too, so that a test can read back which frame it holds.
void stampFrameNumber(uint8_t* data, size_t len, uint32_t frameNum);
uint32_t readFrameStamp(const uint8_t* data);

} // namespace vcc
