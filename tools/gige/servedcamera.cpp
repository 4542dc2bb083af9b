#include "servedcamera.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unistd.h>

namespace gige {

namespace {

// Bootstrap registers a GigE Vision client reads the camera's names from.
constexpr guint32 kManufacturerNameAddress = 0x48;
constexpr guint32 kModelNameAddress = 0x68;
constexpr guint32 kBootstrapNameBytes = 32;
constexpr double kMicrosecondsPerSecond = 1e6;
// Aravis's simulator checks for a software trigger at this rate in trigger
// mode; at a few kilohertz a trigger starts its frame within a line-scan
// camera's read-out jitter.
constexpr double kTriggerPollHz = 2000;
constexpr guint32 kTriggerSourceSoftware = 1; // the simulator's TriggerSource entry "Software"
// Stream packet size (GevSCPSPacketSize, stream channel 0): a standard
// Ethernet frame on a network; on loopback, whose frames are 64 KiB, jumbo
// packets, so a frame takes a sixth of the packets and the time.
constexpr guint32 kStreamPacketSizeAddress = 0xd04;
constexpr guint32 kNetworkPacketSize = 1400;
constexpr guint32 kLoopbackPacketSize = 8192;

guint32 readRegister(ArvFakeCamera* camera, guint32 address)
{
    guint32 v = 0;
    arv_fake_camera_read_register(camera, address, &v);
    return v;
}

void writeName(ArvFakeCamera* camera, guint32 address, const std::string& name)
{
    char bytes[kBootstrapNameBytes] = {};
    std::strncpy(bytes, name.c_str(), kBootstrapNameBytes - 1);
    arv_fake_camera_write_memory(camera, address, kBootstrapNameBytes, bytes);
}

// The pixel formats the simulator's description offers, cut to the device's
// own list, written to a file the simulator loads: a client then sees the
// device's formats only.
std::string describeFormats(const std::vector<unsigned>& formats, std::string* why)
{
    ArvFakeCamera* probe = arv_fake_camera_new("probe");
    size_t size = 0;
    const char* xml = arv_fake_camera_get_genicam_xml(probe, &size);
    std::string text(xml ? xml : "", xml ? size : 0);
    g_object_unref(probe);
    const std::set<unsigned> wanted(formats.begin(), formats.end());
    const size_t enumBegin = text.find("<Enumeration Name=\"PixelFormat\"");
    const size_t enumEnd = text.find("</Enumeration>", enumBegin);
    if (enumBegin == std::string::npos || enumEnd == std::string::npos) {
        *why = "the simulator's description has no PixelFormat";
        return {};
    }
    std::string head = text.substr(0, enumBegin), body = text.substr(enumBegin, enumEnd - enumBegin),
                tail = text.substr(enumEnd);
    for (size_t at = body.find("<EnumEntry"); at != std::string::npos; at = body.find("<EnumEntry", at)) {
        const size_t end = body.find("</EnumEntry>", at);
        const size_t value = body.find("<Value>", at);
        if (end == std::string::npos || value == std::string::npos)
            break;
        const unsigned code = unsigned(std::strtoul(body.c_str() + value + 7, nullptr, 0));
        if (wanted.count(code)) {
            at = end;
            continue;
        }
        body.erase(at, end + std::strlen("</EnumEntry>") - at);
    }
    char path[] = "/tmp/lorvexgige-XXXXXX";
    const int fd = mkstemp(path);
    const std::string out = head + body + tail;
    if (fd < 0 || write(fd, out.data(), out.size()) != ssize_t(out.size())) {
        if (fd >= 0)
            close(fd);
        *why = "cannot write the camera description to /tmp";
        return {};
    }
    close(fd);
    return path;
}

} // namespace

std::unique_ptr<ServedCamera> ServedCamera::start(const Served& s, std::string* why)
{
    // The serial number register of a GigE Vision camera holds 16 bytes.
    constexpr size_t kMaxSerialLength = 15;
    if (s.device->serial().size() > kMaxSerialLength) {
        *why = "a GigE Vision serial number has at most 15 characters";
        return nullptr;
    }
    std::unique_ptr<ServedCamera> cam(new ServedCamera(s));
    vcc::Feature formats;
    s.device->read("PixelFormat", formats);
    const std::string xml = describeFormats(formats.supported, why);
    if (xml.empty())
        return nullptr;
    cam->gv_ = arv_gv_fake_camera_new_full(s.address.c_str(), s.device->serial().c_str(), xml.c_str());
    std::remove(xml.c_str()); // loaded at construction
    if (!cam->gv_ || !arv_gv_fake_camera_is_running(cam->gv_)) {
        *why = "cannot serve on " + s.address
            + " (is it an address of an interface here? scripts/netns --addr ADDR adds one)";
        return nullptr;
    }
    g_object_set(cam->gv_, "gvsp-lost-ratio", s.lostPacketRatio, nullptr);
    cam->camera_ = arv_gv_fake_camera_get_fake_camera(cam->gv_);
    cam->announce();
    // The picture for the starting geometry now, not on the first frame.
    cam->pattern_ = vcc::Pattern::build(s.device->geometry(), *s.device);
    arv_fake_camera_set_fill_pattern(cam->camera_, &ServedCamera::fill, cam.get());
    return cam;
}

ServedCamera::~ServedCamera()
{
    if (gv_)
        g_object_unref(gv_); // stops the simulator's thread first
}

void ServedCamera::announce()
{
    const MV_CC_DEVICE_INFO info = served_.device->info();
    std::string maker, model;
    if (info.nTLayerType == MV_USB_DEVICE) {
        maker = reinterpret_cast<const char*>(info.SpecialInfo.stUsb3VInfo.chManufacturerName);
        model = reinterpret_cast<const char*>(info.SpecialInfo.stUsb3VInfo.chModelName);
    } else {
        maker = reinterpret_cast<const char*>(info.SpecialInfo.stGigEInfo.chManufacturerName);
        model = reinterpret_cast<const char*>(info.SpecialInfo.stGigEInfo.chModelName);
    }
    writeName(camera_, kManufacturerNameAddress, maker);
    writeName(camera_, kModelNameAddress, model);

    vcc::Feature widthMax, heightMax;
    served_.device->read("WidthMax", widthMax);
    served_.device->read("HeightMax", heightMax);
    const vcc::Geometry g = served_.device->geometry();
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_SENSOR_WIDTH, guint32(widthMax.i));
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_SENSOR_HEIGHT, guint32(heightMax.i));
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_WIDTH, g.width);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_HEIGHT, g.height);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_PIXEL_FORMAT, g.pixelFormat);
    const double period = served_.device->framePeriodSeconds();
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_ACQUISITION_FRAME_PERIOD_US,
                                   guint32(period * kMicrosecondsPerSecond));
    const bool loopback = served_.address.rfind("127.", 0) == 0;
    arv_fake_camera_write_register(camera_, kStreamPacketSizeAddress,
                                   loopback ? kLoopbackPacketSize : kNetworkPacketSize);
    // The simulated devices take their triggers from software.
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_TRIGGER_SOURCE, kTriggerSourceSoftware);
    arv_fake_camera_set_trigger_frequency(camera_, kTriggerPollHz);
}

void ServedCamera::poll()
{
    if (arv_fake_camera_get_acquisition_status(camera_) == 0)
        restart_ = true;
}

void ServedCamera::fill(ArvBuffer* buffer, void* self, guint32, guint32, ArvPixelFormat)
{
    static_cast<ServedCamera*>(self)->fillFrame(buffer);
}

void ServedCamera::fillFrame(ArvBuffer* buffer)
{
    vcc::Geometry g = served_.device->geometry();
    g.width = readRegister(camera_, ARV_FAKE_CAMERA_REGISTER_WIDTH);
    g.height = readRegister(camera_, ARV_FAKE_CAMERA_REGISTER_HEIGHT);
    g.pixelFormat = readRegister(camera_, ARV_FAKE_CAMERA_REGISTER_PIXEL_FORMAT);
    std::shared_ptr<const vcc::Pattern> pattern;
    {
        std::lock_guard<std::mutex> lk(patternMu_);
        if (!pattern_ || !pattern_->matches(g))
            pattern_ = vcc::Pattern::build(g, *served_.device);
        pattern = pattern_;
    }
    if (restart_.exchange(false))
        frameNum_ = 0;
    const uint32_t n = ++frameNum_;
    // The buffer holds the simulator's payload for these registers (it checks
    // that before filling); its received size is not set until it is sent.
    size_t unused = 0;
    auto* data = static_cast<uint8_t*>(const_cast<void*>(arv_buffer_get_data(buffer, &unused)));
    if (data && pattern->frameLen() <= arv_fake_camera_get_payload(camera_))
        pattern->copyFrame(n, data);
}

} // namespace gige
