#include "device.h"

#include "pixelformat.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vcc {

namespace {

void copyName(unsigned char* dst, size_t cap, const std::string& s)
{
    size_t n = s.size() < cap - 1 ? s.size() : cap - 1;
    std::memcpy(dst, s.data(), n);
    dst[n] = 0;
}

constexpr int64_t kWidthStep = 8;
// A line-scan sensor's exposure range, and a typical exposure, in µs.
constexpr double kExposureMinUs = 1.0, kExposureMaxUs = 10000.0, kTypicalExposureUs = 10.0;

bool validString(const char* s, size_t cap)
{
    return s && *s && std::strlen(s) < cap;
}

} // namespace

bool lockedWhileGrabbing(const std::string& name)
{
    return name == "Width" || name == "Height" || name == "OffsetX" || name == "OffsetY" || name == "PixelFormat";
}

std::shared_ptr<Device> Device::create(const VCC_DEVICE_DESC& d, int* status)
{
    *status = err(MV_E_PARAMETER);
    // The GigE record has the smallest name fields, so every name must fit it.
    if (!validString(d.manufacturer, 32) || !validString(d.model, 32) || !validString(d.serial, 64))
        return nullptr;
    if (d.transport != MV_GIGE_DEVICE && d.transport != MV_USB_DEVICE)
        return nullptr;
    if (d.widthMax == 0 || d.heightMax == 0 || d.width == 0 || d.height == 0 || d.width > d.widthMax
        || d.height > d.heightMax || d.widthMax > 65535 || d.heightMax > 65535)
        return nullptr;
    if (!d.pixelFormats || d.pixelFormatCount == 0 || d.pixelFormatCount > MV_MAX_XML_SYMBOLIC_NUM)
        return nullptr;
    std::vector<unsigned> formats(d.pixelFormats, d.pixelFormats + d.pixelFormatCount);
    for (unsigned f : formats)
        if (bytesPerPixel(f) == 0)
            return nullptr;
    unsigned initial = d.pixelFormat ? d.pixelFormat : formats.front();
    bool listed = false;
    for (unsigned f : formats)
        listed = listed || f == initial;
    if (!listed)
        return nullptr;
    if (d.deviceModelName && std::strlen(d.deviceModelName) > 255)
        return nullptr;

    auto dev = std::shared_ptr<Device>(new Device);
    dev->manufacturer_ = d.manufacturer;
    dev->model_ = d.model;
    dev->serial_ = d.serial;
    dev->transport_ = d.transport;
    if (d.lineRate > 0)
        dev->lineRate_ = d.lineRate;

    auto& fs = dev->features_;
    Feature wmax = Feature::makeInt(d.widthMax, d.widthMax, d.widthMax, 1);
    wmax.writable = false;
    Feature hmax = Feature::makeInt(d.heightMax, d.heightMax, d.heightMax, 1);
    hmax.writable = false;
    fs["WidthMax"] = wmax;
    fs["HeightMax"] = hmax;
    // A line-scan sensor's limits: widths and horizontal offsets in steps of 8
    // pixels, exposure from 1 µs to 10 ms, analogue gain up to 17.5 dB. A
    // device starts with a typical exposure, shortened to one line period on a
    // faster device so that its line rate holds; its chart is drawn for that
    // first exposure.
    fs["Width"] = Feature::makeInt(d.width, 8 < d.widthMax ? 8 : 1, d.widthMax, kWidthStep);
    fs["Height"] = Feature::makeInt(d.height, 1, d.heightMax, 1);
    fs["OffsetX"] = Feature::makeInt(0, 0, d.widthMax - d.width, kWidthStep);
    fs["OffsetY"] = Feature::makeInt(0, 0, d.heightMax - d.height, 1);
    fs["Sharpness"] = Feature::makeInt(0, 0, 100, 1);
    fs["LineDebouncerTime"] = Feature::makeInt(50, 0, 1000000, 1);
    fs["GevSCPD"] = Feature::makeInt(400, 0, 1000000, 8);
    dev->referenceExposureUs_ = std::clamp(std::min(kTypicalExposureUs, 1e6 / dev->lineRate_), kExposureMinUs, kExposureMaxUs);
    fs["ExposureTime"] = Feature::makeFloat(dev->referenceExposureUs_, kExposureMinUs, kExposureMaxUs);
    fs["Gain"] = Feature::makeFloat(0.0, 0.0, 17.5);
    fs["Gamma"] = Feature::makeFloat(1.0, 0.1, 4.0);
    fs["ReverseX"] = Feature::makeBool(false);
    fs["ReverseY"] = Feature::makeBool(false);
    fs["DeviceModelName"] = Feature::makeString(d.deviceModelName ? d.deviceModelName : d.model);
    fs["TriggerMode"] = Feature::makeEnum(0, {0, 1});
    fs["ExposureAuto"] = Feature::makeEnum(0, {0, 1, 2});
    fs["PixelFormat"] = Feature::makeEnum(initial, formats);
    dev->updateGeometryLimits();
    *status = MV_OK;
    return dev;
}

MV_CC_DEVICE_INFO Device::info() const
{
    MV_CC_DEVICE_INFO r;
    std::memset(&r, 0, sizeof r);
    r.nMajorVer = 1;
    r.nTLayerType = transport_;
    if (transport_ == MV_USB_DEVICE) {
        MV_USB3_DEVICE_INFO& u = r.SpecialInfo.stUsb3VInfo;
        copyName(u.chManufacturerName, sizeof u.chManufacturerName, manufacturer_);
        copyName(u.chVendorName, sizeof u.chVendorName, manufacturer_);
        copyName(u.chModelName, sizeof u.chModelName, model_);
        copyName(u.chSerialNumber, sizeof u.chSerialNumber, serial_);
    } else {
        MV_GIGE_DEVICE_INFO& g = r.SpecialInfo.stGigEInfo;
        copyName(g.chManufacturerName, sizeof g.chManufacturerName, manufacturer_);
        copyName(g.chModelName, sizeof g.chModelName, model_);
        copyName(g.chSerialNumber, sizeof g.chSerialNumber, serial_);
    }
    return r;
}

int Device::read(const std::string& name, Feature& out) const
{
    std::lock_guard<std::mutex> lk(mu_);
    auto it = features_.find(name);
    if (it == features_.end())
        return err(MV_E_GC_GENERIC);
    out = it->second;
    return MV_OK;
}

void Device::put(const std::string& name, const Feature& f)
{
    std::lock_guard<std::mutex> lk(mu_);
    features_[name] = f;
}

int Device::setWritable(const std::string& name, bool writable)
{
    std::lock_guard<std::mutex> lk(mu_);
    auto it = features_.find(name);
    if (it == features_.end())
        return err(MV_E_GC_GENERIC);
    it->second.writable = writable;
    return MV_OK;
}

int Device::remove(const std::string& name)
{
    std::lock_guard<std::mutex> lk(mu_);
    return features_.erase(name) ? MV_OK : err(MV_E_GC_GENERIC);
}

static int64_t intOf(const std::map<std::string, Feature>& fs, const char* n, int64_t dflt)
{
    auto it = fs.find(n);
    return it != fs.end() && it->second.type == FeatureType::Int ? it->second.i : dflt;
}

// The region of interest must stay on the sensor.
int Device::checkGeometry(const std::map<std::string, Feature>& fs) const
{
    if (intOf(fs, "Width", 0) + intOf(fs, "OffsetX", 0) > intOf(fs, "WidthMax", 65535)
        || intOf(fs, "Height", 0) + intOf(fs, "OffsetY", 0) > intOf(fs, "HeightMax", 65535))
        return err(MV_E_GC_RANGE);
    return MV_OK;
}

// Width's maximum shrinks as OffsetX grows and the other way round, as on a sensor.
void Device::updateGeometryLimits()
{
    auto limit = [this](const char* size, const char* offset, const char* max) {
        auto s = features_.find(size), o = features_.find(offset), m = features_.find(max);
        if (s == features_.end() || o == features_.end() || m == features_.end())
            return;
        s->second.imax = m->second.i - o->second.i;
        o->second.imax = m->second.i - s->second.i;
    };
    limit("Width", "OffsetX", "WidthMax");
    limit("Height", "OffsetY", "HeightMax");
}

Geometry Device::geometry() const
{
    std::lock_guard<std::mutex> lk(mu_);
    Geometry g;
    auto num = [this](const char* n) -> int64_t {
        auto it = features_.find(n);
        return it != features_.end() && it->second.type == FeatureType::Int ? it->second.i : 0;
    };
    auto flag = [this](const char* n) {
        auto it = features_.find(n);
        return it != features_.end() && it->second.type == FeatureType::Bool && it->second.b;
    };
    auto real = [this](const char* n) {
        auto it = features_.find(n);
        return it != features_.end() && it->second.type == FeatureType::Float ? static_cast<float>(it->second.f) : 0.f;
    };
    g.width = static_cast<unsigned>(num("Width"));
    g.height = static_cast<unsigned>(num("Height"));
    g.offsetX = static_cast<unsigned>(num("OffsetX"));
    g.offsetY = static_cast<unsigned>(num("OffsetY"));
    g.reverseX = flag("ReverseX");
    g.reverseY = flag("ReverseY");
    g.gain = real("Gain");
    g.exposure = real("ExposureTime");
    g.brightness = g.exposure / referenceExposureUs_ * std::pow(10.0, g.gain / 20.0);
    auto pf = features_.find("PixelFormat");
    g.pixelFormat = pf != features_.end() ? pf->second.e : static_cast<unsigned>(PixelType_Gvsp_Mono8);
    auto tm = features_.find("TriggerMode");
    g.triggerMode = tm != features_.end() && tm->second.e != 0;
    return g;
}

double Device::framePeriodSeconds() const
{
    std::lock_guard<std::mutex> lk(mu_);
    int64_t h = intOf(features_, "Height", 1);
    // A line takes its exposure, or the line period when that is longer.
    auto e = features_.find("ExposureTime");
    const double exposure = e != features_.end() && e->second.type == FeatureType::Float ? e->second.f * 1e-6 : 0.0;
    return static_cast<double>(h > 0 ? h : 1) * std::max(1.0 / lineRate_, exposure);
}

void Device::setLineRate(double r)
{
    std::lock_guard<std::mutex> lk(mu_);
    lineRate_ = r;
}

uint64_t Device::ticksAt(Clock::time_point t) const
{
    std::lock_guard<std::mutex> lk(mu_);
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t - clockEpoch_).count();
    return clockBase_ + static_cast<uint64_t>(ns / 10);
}

void Device::setTicks(uint64_t ticks)
{
    std::lock_guard<std::mutex> lk(mu_);
    clockEpoch_ = Clock::now();
    clockBase_ = ticks;
}

unsigned Device::takeLostPackets(unsigned frameNum)
{
    std::lock_guard<std::mutex> lk(mu_);
    auto it = lostPackets_.find(frameNum);
    if (it == lostPackets_.end())
        return 0;
    unsigned n = it->second;
    lostPackets_.erase(it);
    return n;
}

unsigned Device::takeGapAfter(unsigned frameNum)
{
    std::lock_guard<std::mutex> lk(mu_);
    auto it = gaps_.find(frameNum);
    if (it == gaps_.end())
        return 0;
    unsigned n = it->second;
    gaps_.erase(it);
    return n;
}

void Device::addLostPackets(unsigned frameNum, unsigned packets)
{
    std::lock_guard<std::mutex> lk(mu_);
    lostPackets_[frameNum] = packets;
}

void Device::addGap(unsigned afterFrameNum, unsigned skip)
{
    std::lock_guard<std::mutex> lk(mu_);
    gaps_[afterFrameNum] = skip;
}

void Device::mark(std::set<unsigned>& triggers, unsigned triggerIndex)
{
    std::lock_guard<std::mutex> lk(mu_);
    triggers.insert(triggerIndex);
}

bool Device::takeMark(std::set<unsigned>& triggers, unsigned triggerIndex)
{
    std::lock_guard<std::mutex> lk(mu_);
    return triggers.erase(triggerIndex) > 0;
}

void Device::addOverrun(unsigned triggerIndex) { mark(overruns_, triggerIndex); }
bool Device::takeOverrun(unsigned triggerIndex) { return takeMark(overruns_, triggerIndex); }
void Device::addBounce(unsigned triggerIndex) { mark(bounces_, triggerIndex); }
bool Device::takeBounce(unsigned triggerIndex) { return takeMark(bounces_, triggerIndex); }

void Device::addScriptedUnplug(unsigned atMs, unsigned forMs)
{
    std::lock_guard<std::mutex> lk(mu_);
    unplugs_.push_back({atMs, forMs});
}

std::vector<Device::ScriptedUnplug> Device::takeScriptedUnplugs()
{
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<ScriptedUnplug> out;
    out.swap(unplugs_);
    return out;
}

void Device::addCallFault(const FaultEntry& entry)
{
    std::lock_guard<std::mutex> lk(mu_);
    callFaults_.push_back(entry);
}

std::vector<FaultEntry> Device::takeCallFaults()
{
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<FaultEntry> out;
    out.swap(callFaults_);
    return out;
}

} // namespace vcc
