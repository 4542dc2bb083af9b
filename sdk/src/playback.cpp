#include "playback.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace vcc {

namespace {

// Extensions a folder is searched for; a single file or a glob may name any file.
bool looksLikeImage(const fs::path& p)
{
    static const char* kExtensions[] = {".png", ".tif", ".tiff", ".bmp", ".jpg", ".jpeg", ".pgm", ".ppm", ".pnm", ".pbm"};
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return std::find(std::begin(kExtensions), std::end(kExtensions), ext) != std::end(kExtensions);
}

// The files named, in name order; empty when nothing matches.
std::vector<std::string> listImages(const std::string& named)
{
    std::vector<std::string> files;
    std::error_code ec;
    if (named.find_first_of("*?[") != std::string::npos) {
        glob_t g{};
        if (glob(named.c_str(), 0, nullptr, &g) == 0)
            files.assign(g.gl_pathv, g.gl_pathv + g.gl_pathc);
        globfree(&g);
    } else if (fs::is_directory(named, ec)) {
        for (const auto& e : fs::directory_iterator(named, ec))
            if (e.is_regular_file(ec) && looksLikeImage(e.path()))
                files.push_back(e.path().string());
    } else {
        files.push_back(named);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Decodes one file at the device's width: a frame's size, or its own aspect in a strip.
bool decode(const std::string& file, const PlaybackSource& src, cv::Mat& out, std::string* why)
{
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        *why = file + ": no such image file";
        return false;
    }
    cv::Mat img;
    try {
        img = cv::imread(file, src.colour ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        img.release();
    }
    if (img.empty()) {
        *why = file + ": not an image that can be decoded";
        return false;
    }
    if (src.colour)
        cv::cvtColor(img, img, cv::COLOR_BGR2RGB);
    int rows = int(src.height);
    if (src.strip)
        rows = std::max(1, int(double(img.rows) * src.width / img.cols + 0.5));
    const cv::Size size(int(src.width), rows);
    if (img.size() == size)
        out = img; // taken as it is: a frame-sized image plays bit for bit
    else
        cv::resize(img, out, size, 0, 0, size.area() < img.size().area() ? cv::INTER_AREA : cv::INTER_LINEAR);
    return true;
}

} // namespace

std::shared_ptr<const Strip> loadPlayback(const PlaybackSource& src, std::string* why)
{
    fs::path named(src.images);
    if (named.is_relative() && !src.baseDir.empty())
        named = fs::path(src.baseDir) / named;
    const std::vector<std::string> files = listImages(named.string());
    if (files.empty()) {
        *why = named.string() + ": no images found";
        return nullptr;
    }
    std::vector<cv::Mat> decoded;
    size_t bytes = 0, rows = 0;
    for (const std::string& file : files) {
        cv::Mat img;
        if (!decode(file, src, img, why))
            return nullptr;
        bytes += img.total() * img.elemSize();
        rows += size_t(img.rows);
        if (bytes > kPlaybackBudgetBytes || rows > size_t(INT32_MAX)) {
            *why = file + ": the images exceed the playback budget of " + std::to_string(kPlaybackBudgetBytes >> 20)
                + " MiB";
            return nullptr;
        }
        decoded.push_back(img);
    }
    auto strip = std::make_shared<Strip>();
    cv::vconcat(decoded, strip->rows);
    return strip;
}

} // namespace vcc
