#include "Pattern.h"

#include "PixelFormat.h"

#include <cstring>

namespace vcc {

namespace {

struct Rgb {
    uint8_t r, g, b;
};

// The scene at column x (already mirrored) and scene row y.
Rgb scene(unsigned x, unsigned y, unsigned width)
{
    uint8_t grad = static_cast<uint8_t>(width > 1 ? (x * 255u) / (width - 1) : 0);
    bool bar = (y % Pattern::kPeriod) < Pattern::kBarRows;
    uint8_t rowShade = static_cast<uint8_t>((y % Pattern::kPeriod) * 255u / (Pattern::kPeriod - 1));
    return {grad, rowShade, static_cast<uint8_t>(bar ? 255 : 40)};
}

uint8_t mono(unsigned x, unsigned y, unsigned width)
{
    uint8_t grad = static_cast<uint8_t>(width > 1 ? (x * 255u) / (width - 1) : 0);
    bool bar = (y % Pattern::kPeriod) < Pattern::kBarRows;
    return bar ? static_cast<uint8_t>(255 - grad) : grad;
}

// Colour sampled by a Bayer site: 0 red, 1 green, 2 blue.
int bayerChannel(unsigned fmt, unsigned x, unsigned y)
{
    // Pattern of the top-left 2x2 cell, row by row.
    static const int kGR[4] = {1, 0, 2, 1}, kRG[4] = {0, 1, 1, 2}, kGB[4] = {1, 2, 0, 1}, kBG[4] = {2, 1, 1, 0};
    const int* cell = fmt == PixelType_Gvsp_BayerGR8 ? kGR
        : fmt == PixelType_Gvsp_BayerRG8           ? kRG
        : fmt == PixelType_Gvsp_BayerGB8           ? kGB
                                                   : kBG;
    return cell[(y & 1) * 2 + (x & 1)];
}

} // namespace

std::shared_ptr<const Pattern> Pattern::build(const Geometry& g)
{
    auto p = std::make_shared<Pattern>();
    p->width_ = g.width;
    p->height_ = g.height;
    p->format_ = g.pixelFormat;
    p->reverseX_ = g.reverseX;
    p->reverseY_ = g.reverseY;
    unsigned bpp = bytesPerPixel(g.pixelFormat);
    p->rowBytes_ = static_cast<size_t>(g.width) * bpp;
    p->frameLen_ = p->rowBytes_ * g.height;
    const unsigned rows = g.height + kPeriod;
    p->tall_.resize(p->rowBytes_ * rows);
    for (unsigned t = 0; t < rows; ++t) {
        // Mirroring the tall buffer mirrors every slice of it.
        unsigned sy = g.reverseY ? rows - 1 - t : t;
        uint8_t* row = p->tall_.data() + p->rowBytes_ * t;
        for (unsigned x = 0; x < g.width; ++x) {
            unsigned sx = g.reverseX ? g.width - 1 - x : x;
            if (g.pixelFormat == PixelType_Gvsp_Mono8) {
                row[x] = mono(sx, sy, g.width);
            } else if (isBayer(g.pixelFormat)) {
                Rgb c = scene(sx, sy, g.width);
                int ch = bayerChannel(g.pixelFormat, x, t);
                row[x] = ch == 0 ? c.r : ch == 1 ? c.g : c.b;
            } else {
                Rgb c = scene(sx, sy, g.width);
                bool bgr = g.pixelFormat == PixelType_Gvsp_BGR8_Packed;
                row[3 * x] = bgr ? c.b : c.r;
                row[3 * x + 1] = c.g;
                row[3 * x + 2] = bgr ? c.r : c.b;
            }
        }
    }
    return p;
}

bool Pattern::matches(const Geometry& g) const
{
    return g.width == width_ && g.height == height_ && g.pixelFormat == format_ && g.reverseX == reverseX_
        && g.reverseY == reverseY_;
}

const uint8_t* Pattern::frame(uint32_t frameNum) const
{
    size_t startRow = (static_cast<size_t>(frameNum) * kStep) % kPeriod;
    return tall_.data() + startRow * rowBytes_;
}

void stampFrameNumber(uint8_t* data, size_t len, uint32_t frameNum)
{
    if (len < 4)
        return;
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<uint8_t>(frameNum >> (8 * i));
}

uint32_t readFrameStamp(const uint8_t* data)
{
    return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 | static_cast<uint32_t>(data[2]) << 16
        | static_cast<uint32_t>(data[3]) << 24;
}

} // namespace vcc
