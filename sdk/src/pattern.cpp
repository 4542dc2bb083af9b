#include "pattern.h"

#include "pixelformat.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>

namespace vcc {

namespace {

// Scene colours, red-green-blue.
const cv::Scalar kRed(230, 20, 20), kGreen(20, 200, 20), kBlue(20, 20, 230);
const cv::Scalar kWhite(255, 255, 255), kTrack(255, 160, 0);
constexpr int kFrameLabelMargin = 8; // columns left free for the stamped first bytes
// A noisy scene spans at least this many frames, so that no frame repeats the
// noise of the one before it and no compressor finds a frame's rows twice.
constexpr int kNoiseFrames = 4;
// The noise is the same on every run: a recording of it can be compared.
constexpr uint64_t kNoiseSeed = 0x5eed;

// Draws `text` as large as fits in `box`, centred.
void fitText(cv::Mat& img, const std::string& text, const cv::Rect& box, const cv::Scalar& colour, int lineType)
{
    if (box.width < 4 || box.height < 4)
        return;
    const int font = cv::FONT_HERSHEY_SIMPLEX;
    int base = 0;
    cv::Size unit = cv::getTextSize(text, font, 1.0, 1, &base);
    double scale = std::min(box.width / double(unit.width), box.height * 0.8 / double(unit.height));
    int thick = std::max(1, int(scale * 1.5));
    cv::Size size = cv::getTextSize(text, font, scale, thick, &base);
    cv::Point org(box.x + (box.width - size.width) / 2, box.y + (box.height + size.height) / 2);
    cv::putText(img, text, org, font, scale, colour, thick, lineType);
}

cv::Rect band(unsigned width, double x0, double x1, int y0, int y1)
{
    return cv::Rect(int(x0 * width), y0, std::max(0, int(x1 * width) - int(x0 * width)), y1 - y0);
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

cv::Mat mosaic(const cv::Mat& rgb, unsigned fmt, unsigned rowShift)
{
    cv::Mat out(rgb.rows, rgb.cols, CV_8UC1);
    for (int y = 0; y < rgb.rows; ++y) {
        const cv::Vec3b* in = rgb.ptr<cv::Vec3b>(y);
        uint8_t* o = out.ptr<uint8_t>(y);
        for (int x = 0; x < rgb.cols; ++x)
            o[x] = in[x][bayerChannel(fmt, unsigned(x), unsigned(y) + rowShift)];
    }
    return out;
}

// Sensor noise: Gaussian, of `sigma` grey levels, in every channel of every
// pixel, clipped at black and white. The scene is repeated first until it
// holds kNoiseFrames frames, so that the noise does not loop with the chart.
cv::Mat withNoise(const cv::Mat& scene, double sigma, unsigned height)
{
    cv::Mat tiled = scene;
    const int minRows = kNoiseFrames * int(std::max(1u, height));
    if (tiled.rows < minRows)
        cv::repeat(scene, (minRows + scene.rows - 1) / scene.rows, 1, tiled);
    cv::Mat noise(tiled.size(), CV_16SC(tiled.channels()));
    cv::RNG rng(kNoiseSeed);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    cv::Mat sum;
    cv::add(tiled, noise, sum, cv::noArray(), CV_16S);
    cv::Mat out;
    sum.convertTo(out, CV_8U); // saturates
    return out;
}

// The scene at the device's width, in one channel for Mono8 and three otherwise.
cv::Mat sceneFor(const Geometry& g, const Device& d, bool* chart)
{
    cv::Mat scene;
    *chart = !d.playback;
    if (d.playback) {
        // Recorded pictures play as they were taken, whatever the exposure.
        scene = d.playback->rows;
        if (unsigned(scene.cols) != g.width) // Width changed since the images were loaded
            cv::resize(scene, scene, cv::Size(int(g.width), scene.rows), 0, 0, cv::INTER_AREA);
    } else {
        scene = renderChart(g.width, d.serial());
        // The chart under more or less light: brighter with a longer exposure
        // or more gain, clipped at white as a sensor saturates. At the
        // device's first settings it stays exactly as rendered.
        if (g.brightness != 1.0)
            scene.convertTo(scene, -1, g.brightness);
    }
    const bool mono = g.pixelFormat == PixelType_Gvsp_Mono8;
    if (mono && scene.channels() == 3)
        cv::cvtColor(scene, scene, cv::COLOR_RGB2GRAY);
    else if (!mono && scene.channels() == 1)
        cv::cvtColor(scene, scene, cv::COLOR_GRAY2RGB);
    if (d.noise > 0)
        scene = withNoise(scene, d.noise, g.height);
    // A Bayer strip must loop on an even row, or the layout would shift at the seam.
    if (isBayer(g.pixelFormat) && scene.rows % 2)
        cv::vconcat(scene, scene, scene);
    return scene;
}

} // namespace

cv::Mat renderChart(unsigned width, const std::string& serial)
{
    const int w = int(width);
    cv::Mat img(kChartRows, w, CV_8UC3);
    // A dim left-to-right background, so that even a narrow frame shows its direction.
    for (int x = 0; x < w; ++x)
        img.col(x).setTo(cv::Scalar::all(32 + 48 * x / std::max(1, w - 1)));
    const cv::Scalar patches[] = {kRed, kGreen, kBlue};
    const char* letters[] = {"R", "G", "B"};
    for (int i = 0; i < 3; ++i) {
        fitText(img, letters[i], band(width, 0.04 + 0.24 * i, 0.08 + 0.24 * i, 40, 220), kWhite, cv::LINE_AA);
        cv::rectangle(img, band(width, 0.08 + 0.24 * i, 0.24 + 0.24 * i, 40, 220), patches[i], cv::FILLED);
    }
    // The mirror mark: an F with an arrow pointing right above it.
    cv::Rect mark = band(width, 0.78, 0.96, 40, 220);
    fitText(img, "F", cv::Rect(mark.x, mark.y + 40, mark.width, mark.height - 40), kWhite, cv::LINE_AA);
    cv::arrowedLine(img, cv::Point(mark.x, mark.y + 15), cv::Point(mark.x + mark.width, mark.y + 15), kWhite,
                    std::max(1, w / 512), cv::LINE_AA, 0, 0.2);
    cv::Rect ramp = band(width, 0.04, 0.96, 260, 340);
    for (int x = 0; x < ramp.width; ++x)
        img(cv::Rect(ramp.x + x, ramp.y, 1, ramp.height)).setTo(cv::Scalar::all(255 * x / std::max(1, ramp.width - 1)));
    fitText(img, serial, band(width, 0.04, 0.96, 380, 470), kWhite, cv::LINE_AA);
    // A track across the whole loop: it runs on from frame to frame, so a seam
    // between consecutive frames shows as a break in it.
    cv::line(img, cv::Point(int(0.02 * w), 0), cv::Point(int(0.98 * w), kChartRows - 1), kTrack,
             std::max(1, w / 1024), cv::LINE_AA);
    return img;
}

std::shared_ptr<const Pattern> Pattern::build(const Geometry& g, const Device& d)
{
    auto p = std::make_shared<Pattern>();
    p->width_ = g.width;
    p->height_ = g.height;
    p->format_ = g.pixelFormat;
    p->reverseX_ = g.reverseX;
    p->reverseY_ = g.reverseY;
    p->brightness_ = g.brightness;
    p->rowBytes_ = size_t(g.width) * bytesPerPixel(g.pixelFormat);
    p->frameLen_ = p->rowBytes_ * g.height;
    cv::Mat scene = sceneFor(g, d, &p->chart_);
    if (g.reverseX || g.reverseY) {
        // Into a new buffer: the scene may be the device's decoded strip itself.
        cv::Mat mirrored;
        cv::flip(scene, mirrored, g.reverseX && g.reverseY ? -1 : g.reverseX ? 1 : 0);
        scene = mirrored;
    }
    // Without mirroring a Mono8 device shares the decoded strip: no second copy.
    cv::Mat& out = p->rows_[0];
    if (isBayer(g.pixelFormat)) {
        out = mosaic(scene, g.pixelFormat, 0);
        if (g.height % 2)
            p->rows_[1] = mosaic(scene, g.pixelFormat, 1);
    } else if (g.pixelFormat == PixelType_Gvsp_BGR8_Packed) {
        cv::cvtColor(scene, out, cv::COLOR_RGB2BGR);
    } else {
        out = scene.isContinuous() ? scene : scene.clone();
    }
    if (p->chart_)
        p->prepareFrameLabel();
    return p;
}

bool Pattern::matches(const Geometry& g) const
{
    return g.width == width_ && g.height == height_ && g.pixelFormat == format_ && g.reverseX == reverseX_
        && g.reverseY == reverseY_ && (!chart_ || g.brightness == brightness_);
}

void Pattern::copyFrame(uint32_t frameNum, uint8_t* dst) const
{
    const uint64_t loop = uint64_t(rows_[0].rows);
    uint64_t row = (uint64_t(frameNum ? frameNum - 1 : 0) * height_) % loop;
    const cv::Mat& src = (row % 2) && !rows_[1].empty() ? rows_[1] : rows_[0];
    for (size_t left = height_; left > 0;) {
        size_t n = std::min<size_t>(left, loop - row);
        std::memcpy(dst, src.ptr(int(row)), n * rowBytes_);
        dst += n * rowBytes_;
        left -= n;
        row = 0;
    }
    if (chart_) {
        drawFrameNumber(frameNum, dst - frameLen_);
        stampFrameNumber(dst - frameLen_, frameLen_, frameNum);
    }
}

// White on black, so the label reads the same through any Bayer layout, and
// mirrored with the frame, as the sensor would see a label on the scene. The
// glyphs are drawn once here: a frame only copies its digits' cells.
void Pattern::prepareFrameLabel()
{
    const int rows = std::min<int>(int(height_), std::clamp<int>(int(height_) / 8, 10, 96));
    const int cell = std::min<int>((int(width_) - 2 * kFrameLabelMargin) / kLabelCells, rows * 3 / 4);
    if (cell < 2)
        return;
    const int type = CV_8UC(int(bytesPerPixel(format_)));
    labelRows_ = rows;
    labelCell_ = cell;
    for (int i = 0; i < kLabelGlyphs; ++i) {
        cv::Mat glyph(rows, cell, type, cv::Scalar::all(0));
        if (i > 0) // glyph 0 is the blank cell
            fitText(glyph, std::string(1, "#0123456789"[i - 1]), cv::Rect(0, 0, cell, rows), kWhite, cv::LINE_8);
        if (reverseX_ || reverseY_)
            cv::flip(glyph, glyph, reverseX_ && reverseY_ ? -1 : reverseX_ ? 1 : 0);
        glyphs_[i] = glyph;
    }
}

void Pattern::drawFrameNumber(uint32_t frameNum, uint8_t* dst) const
{
    if (!labelCell_)
        return;
    const std::string text = "#" + std::to_string(frameNum);
    cv::Mat frame(int(height_), int(width_), glyphs_[0].type(), dst);
    const int y = reverseY_ ? int(height_) - labelRows_ : 0;
    for (int i = 0; i < kLabelCells; ++i) {
        const size_t c = size_t(i);
        const int glyph = c >= text.size() ? 0 : text[c] == '#' ? 1 : 2 + (text[c] - '0');
        const int x = kFrameLabelMargin + i * labelCell_;
        const int at = reverseX_ ? int(width_) - x - labelCell_ : x;
        glyphs_[glyph].copyTo(frame(cv::Rect(at, y, labelCell_, labelRows_)));
    }
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
