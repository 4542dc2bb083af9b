#include "playback.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace vcc {

namespace {

// The report a recording folder holds: its images in the order they came.
constexpr const char* kRecordingIndex = "frames.csv";

// Extensions a folder is searched for; a single file or a glob may name any file.
bool looksLikeImage(const fs::path& p)
{
    static const char* kExtensions[] = {".png", ".tif", ".tiff", ".bmp", ".jpg", ".jpeg", ".pgm", ".ppm", ".pnm", ".pbm"};
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return std::find(std::begin(kExtensions), std::end(kExtensions), ext) != std::end(kExtensions);
}

// Natural order: runs of digits compare by their value, so "p2" comes before
// "p10" as a person (and a recording's numbering) would have it.
bool naturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])), db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            // Leading zeros do not count; then the longer run is the larger number.
            size_t zi = i, zj = j;
            while (zi + 1 < ei && a[zi] == '0')
                ++zi;
            while (zj + 1 < ej && b[zj] == '0')
                ++zj;
            if (ei - zi != ej - zj)
                return ei - zi < ej - zj;
            const int c = a.compare(zi, ei - zi, b, zj, ej - zj);
            if (c != 0)
                return c < 0;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j))
        return a.size() - i < b.size() - j;
    return a < b; // equal by value ("p01", "p1"): any fixed order
}

// The fields of one line of a CSV file: commas separate, double quotes
// enclose a field, and a doubled quote inside one stands for itself.
std::vector<std::string> csvFields(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (c != '\r' && c != '\n') {
            fields.back() += c;
        }
    }
    return fields;
}

// A recording's images in the order they were received: the "file" column of
// its frames.csv, skipping frames whose image was not written and frames the
// recording host could not place ("unplaced" in its "named_by" column): they
// are no product's, and played back they would pass for one.
bool listRecording(const fs::path& csv, std::vector<std::string>& files, std::string* why)
{
    std::ifstream in(csv);
    std::string line;
    if (!in || !std::getline(in, line)) {
        *why = csv.string() + ": cannot be read";
        return false;
    }
    const std::vector<std::string> header = csvFields(line);
    const auto column = std::find(header.begin(), header.end(), "file");
    if (column == header.end()) {
        *why = csv.string() + ": no \"file\" column in its first line";
        return false;
    }
    const size_t at = size_t(column - header.begin());
    const auto namedBy = std::find(header.begin(), header.end(), "named_by");
    const size_t by = namedBy == header.end() ? header.size() : size_t(namedBy - header.begin());
    while (std::getline(in, line)) {
        const std::vector<std::string> row = csvFields(line);
        if (by < row.size() && row[by] == "unplaced")
            continue;
        if (at < row.size() && !row[at].empty())
            files.push_back((csv.parent_path() / row[at]).string());
    }
    return true;
}

// The files named: a recording folder in its frames.csv order, any other
// folder or glob in natural order. Empty when nothing matches.
bool listImages(const std::string& named, std::vector<std::string>& files, std::string* why)
{
    std::error_code ec;
    if (named.find_first_of("*?[") != std::string::npos) {
        glob_t g{};
        if (glob(named.c_str(), 0, nullptr, &g) == 0)
            files.assign(g.gl_pathv, g.gl_pathv + g.gl_pathc);
        globfree(&g);
    } else if (fs::is_directory(named, ec)) {
        const fs::path csv = fs::path(named) / kRecordingIndex;
        if (fs::is_regular_file(csv, ec))
            return listRecording(csv, files, why);
        for (const auto& e : fs::directory_iterator(named, ec))
            if (e.is_regular_file(ec) && looksLikeImage(e.path()))
                files.push_back(e.path().string());
    } else {
        files.push_back(named);
        return true;
    }
    std::sort(files.begin(), files.end(), naturalLess);
    return true;
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
    std::vector<std::string> files;
    if (!listImages(named.string(), files, why))
        return nullptr;
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
