#include "devicefile.h"

#include "call.h"
#include "faultentry.h"
#include "textfile.h"
#include "pixelformat.h"
#include "playback.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace vcc {

std::vector<std::shared_ptr<Device>> defaultDevices()
{
    static const unsigned kMono[] = {PixelType_Gvsp_Mono8};
    static const unsigned kColour[] = {PixelType_Gvsp_BayerRG8, PixelType_Gvsp_Mono8};
    const VCC_DEVICE_DESC descs[] = {
        {"ZEQ Vision", "LX-LS4096-GM", "ZQ4096M0001", MV_GIGE_DEVICE, 4096, 65535, 4096, 1000, kMono, 1,
         PixelType_Gvsp_Mono8, "LX-LS4096-GM", 100000.0},
        {"ZEQ Vision", "LX-LS2048-GC", "ZQ2048C0002", MV_GIGE_DEVICE, 2048, 65535, 2048, 1000, kColour, 2,
         PixelType_Gvsp_BayerRG8, "LX-LS2048-GC", 50000.0},
        // A simulator entry of the kind an application must not offer as a camera.
        {"GEV Systems", "LX-LS1024-GM", "VirLS1024003", MV_GIGE_DEVICE, 1024, 65535, 1024, 512, kMono, 1,
         PixelType_Gvsp_Mono8, "LX-LS1024-GM", 20000.0},
    };
    std::vector<std::shared_ptr<Device>> out;
    for (const auto& d : descs) {
        int status;
        if (auto dev = Device::create(d, &status))
            out.push_back(dev);
    }
    return out;
}

namespace {

using Json = nlohmann::ordered_json; // keeps the file's order, in which features are applied

// Noise beyond a quarter of the range hides the scene; more is a typing mistake.
constexpr double kMaxNoise = 64.0;

std::string str(const Json& o, const char* key, const std::string& dflt = {})
{
    auto v = o.find(key);
    return v != o.end() && v->is_string() ? v->get<std::string>() : dflt;
}

bool num(const Json& o, const char* key, double& out)
{
    auto v = o.find(key);
    if (v == o.end() || !v->is_number())
        return false;
    out = v->get<double>();
    return true;
}

// Whether a number from the file converts to unsigned without overflow.
bool fitsUnsigned(double v)
{
    return v >= 0 && v <= double(std::numeric_limits<unsigned>::max());
}

unsigned formatOf(const Json& v)
{
    if (v.is_string())
        return pixelFormatFromName(v.get<std::string>());
    if (v.is_number() && v.get<double>() > 0 && fitsUnsigned(v.get<double>()))
        return static_cast<unsigned>(v.get<double>());
    return 0;
}

// A feature value as a feature file would write it; other JSON types give text no feature takes.
std::string featureText(const Json& v)
{
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_boolean())
        return v.get<bool>() ? "true" : "false";
    return v.is_number() ? v.dump() : std::string();
}

// Device-file settings may set read-only features: the file describes the device itself.
int applyFeature(Device& dev, const std::string& name, const Json& v)
{
    Feature f;
    if (dev.read(name, f) != MV_OK)
        return err(MV_E_GC_GENERIC);
    const bool writable = f.writable;
    f.writable = true;
    int rc = writeText(name, f, featureText(v));
    if (rc != MV_OK)
        return rc;
    f.writable = writable;
    dev.put(name, f);
    return MV_OK;
}

// Images instead of the chart: decoded now, at the geometry the device has after its features.
int loadImages(const Json& o, const std::string& baseDir, const std::vector<unsigned>& formats, Device& dev,
               std::string* why)
{
    auto images = o.find("images");
    if (images == o.end())
        return MV_OK;
    auto strip = o.find("strip");
    if (!images->is_string() || (strip != o.end() && !strip->is_boolean())) {
        *why = "images must name a file, folder or glob, and strip be true or false";
        return err(MV_E_PARAMETER);
    }
    PlaybackSource src;
    src.images = images->get<std::string>();
    src.baseDir = baseDir;
    const Geometry g = dev.geometry();
    src.width = g.width;
    src.height = g.height;
    src.colour = std::any_of(formats.begin(), formats.end(), [](unsigned f) { return f != PixelType_Gvsp_Mono8; });
    src.strip = strip != o.end() && strip->get<bool>();
    dev.playback = loadPlayback(src, why);
    return dev.playback ? MV_OK : err(MV_E_PARAMETER);
}

// Every key a device may have; any other is a mistake the user must hear of.
const char* const kDeviceKeys[] = {"manufacturer", "model", "serial", "transport", "widthMax", "heightMax",
                                   "width", "height", "pixelFormats", "pixelFormat", "deviceModelName",
                                   "lineRate", "openDelayMs", "attached", "features", "images", "strip", "noise",
                                   "faults",
                                   // the GigE Vision simulator's own keys, which the SDK leaves alone
                                   "address", "lostPacketRatio"};

// The first key of `o` that is not a device key, or that has the wrong JSON
// type; empty when every key is right.
std::string badKey(const Json& o)
{
    for (const auto& m : o.items()) {
        const std::string& k = m.key();
        const Json& v = m.value();
        if (std::find_if(std::begin(kDeviceKeys), std::end(kDeviceKeys), [&](const char* n) { return k == n; })
            == std::end(kDeviceKeys))
            return "unknown key \"" + k + "\"";
        const bool text = k == "manufacturer" || k == "model" || k == "serial" || k == "transport" || k == "deviceModelName"
                          || k == "address";
        const bool numeric = k == "widthMax" || k == "heightMax" || k == "width" || k == "height" || k == "lineRate"
                             || k == "openDelayMs" || k == "lostPacketRatio" || k == "noise";
        if ((text && !v.is_string()) || (numeric && !v.is_number()) || (k == "attached" && !v.is_boolean())
            || (k == "features" && !v.is_object()) || ((k == "pixelFormats" || k == "faults") && !v.is_array()))
            return k + " has the wrong type";
    }
    return {};
}

int parseOne(const Json& o, const std::string& where, const std::string& baseDir, std::shared_ptr<Device>& out)
{
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "virtual camera SDK: %s: %s\n", where.c_str(), why.c_str());
        return err(MV_E_PARAMETER);
    };
    if (!o.is_object())
        return fail("a device must be an object");
    if (const std::string bad = badKey(o); !bad.empty())
        return fail(bad);
    std::string manufacturer = str(o, "manufacturer"), model = str(o, "model"), serial = str(o, "serial");
    std::string transport = str(o, "transport", "gige");
    std::string modelName = str(o, "deviceModelName", model);
    double widthMax = 0, heightMax = 0, width = 0, height = 0, lineRate = 0, delay = 0, noise = 0;
    if (!num(o, "widthMax", widthMax) || !num(o, "heightMax", heightMax))
        return fail("widthMax and heightMax are required");
    if (!num(o, "width", width))
        width = widthMax;
    if (!num(o, "height", height))
        height = heightMax;
    // Left out, the line rate takes its default; given, it must be a rate.
    if (num(o, "lineRate", lineRate) && !(lineRate > 0))
        return fail("lineRate must be above 0 lines per second");
    num(o, "openDelayMs", delay);
    if (!fitsUnsigned(widthMax) || !fitsUnsigned(heightMax) || !fitsUnsigned(width) || !fitsUnsigned(height)
        || !fitsUnsigned(delay))
        return fail("sizes and openDelayMs must lie between 0 and 4294967295");
    std::vector<unsigned> formats;
    if (auto pf = o.find("pixelFormats"); pf != o.end() && pf->is_array()) {
        for (const Json& v : *pf) {
            unsigned f = formatOf(v);
            if (!f)
                return fail("unknown pixel format in pixelFormats");
            formats.push_back(f);
        }
    }
    if (formats.empty())
        formats.push_back(PixelType_Gvsp_Mono8);
    unsigned initial = 0;
    if (auto pf = o.find("pixelFormat"); pf != o.end())
        if (!(initial = formatOf(*pf)))
            return fail("unknown pixelFormat");
    if (transport != "gige" && transport != "usb3")
        return fail("transport must be \"gige\" or \"usb3\"");

    VCC_DEVICE_DESC d{};
    d.manufacturer = manufacturer.c_str();
    d.model = model.c_str();
    d.serial = serial.c_str();
    d.transport = transport == "usb3" ? MV_USB_DEVICE : MV_GIGE_DEVICE;
    d.widthMax = static_cast<unsigned>(widthMax);
    d.heightMax = static_cast<unsigned>(heightMax);
    d.width = static_cast<unsigned>(width);
    d.height = static_cast<unsigned>(height);
    d.pixelFormats = formats.data();
    d.pixelFormatCount = static_cast<unsigned>(formats.size());
    d.pixelFormat = initial;
    d.deviceModelName = modelName.c_str();
    d.lineRate = lineRate;
    int status;
    out = Device::create(d, &status);
    if (!out)
        return fail("incomplete or inconsistent device (names, sizes, pixel formats)");
    if (delay > 0)
        out->openDelayMs = static_cast<unsigned>(delay);
    if (auto a = o.find("attached"); a != o.end())
        out->attached = a->get<bool>();
    if (auto fs = o.find("features"); fs != o.end() && fs->is_object()) {
        for (const auto& m : fs->items())
            if (applyFeature(*out, m.key(), m.value()) != MV_OK)
                return fail("feature " + m.key() + " cannot take that value");
    }
    if (num(o, "noise", noise) && !(noise >= 0 && noise <= kMaxNoise))
        return fail("noise must lie between 0 and 64 grey levels");
    out->noise = noise;
    std::string why;
    if (loadImages(o, baseDir, formats, *out, &why) != MV_OK)
        return fail(why);
    if (auto fs = o.find("faults"); fs != o.end()) {
        for (const Json& f : *fs) {
            FaultEntry entry;
            if (!f.is_string() || !parseFaultEntry(f.get<std::string>(), entry, &why))
                return fail("faults: " + (f.is_string() ? f.get<std::string>() + ": " + why : std::string("entries are texts")));
            applyToDevice(entry, *out);
        }
    }
    return MV_OK;
}

} // namespace

int parseDeviceJson(const std::string& text, const std::string& origin, std::vector<std::shared_ptr<Device>>& out)
{
    Json doc;
    try {
        doc = Json::parse(text);
    } catch (const Json::parse_error& e) {
        // The library's message names the line, the column and what it met there.
        std::string why = e.what();
        why.erase(0, why.find("] ") == std::string::npos ? 0 : why.find("] ") + 2);
        std::fprintf(stderr, "virtual camera SDK: %s: %s\n", origin.c_str(), why.c_str());
        return err(MV_E_PARAMETER);
    }
    auto list = doc.find("devices"); // end() unless the document is an object holding it
    if (list == doc.end() || !list->is_array()) {
        std::fprintf(stderr, "virtual camera SDK: %s: expected {\"devices\": [...]}\n", origin.c_str());
        return err(MV_E_PARAMETER);
    }
    const std::string baseDir = std::filesystem::path(origin).parent_path().string();
    std::vector<std::shared_ptr<Device>> devices;
    for (size_t i = 0; i < list->size(); ++i) {
        std::shared_ptr<Device> d;
        std::string where = origin + ": device " + std::to_string(i);
        if (int rc = parseOne((*list)[i], where, baseDir, d))
            return rc;
        for (const auto& other : devices) {
            if (other->serial() == d->serial()) {
                std::fprintf(stderr, "virtual camera SDK: %s: duplicate serial %s\n", where.c_str(), d->serial().c_str());
                return err(MV_E_PARAMETER);
            }
        }
        devices.push_back(d);
    }
    out = std::move(devices);
    return MV_OK;
}

int loadDeviceFile(const std::string& path, std::vector<std::shared_ptr<Device>>& out)
{
    std::string text;
    if (const int rc = readTextFile(path, text); rc != MV_OK)
        return rc;
    return parseDeviceJson(text, path, out);
}

} // namespace vcc
