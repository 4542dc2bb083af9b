#include "servedcamera.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace gige {

namespace {

// Bootstrap registers a GigE Vision client reads the camera's names from.
constexpr guint32 kManufacturerNameAddress = 0x48;
constexpr guint32 kModelNameAddress = 0x68;
constexpr guint32 kDeviceVersionAddress = 0x88;
constexpr guint32 kManufacturerInfoAddress = 0xa8;
constexpr guint32 kBootstrapNameBytes = 32;
constexpr guint32 kManufacturerInfoBytes = 48;
constexpr const char* kManufacturerInfo = "simulated line-scan camera";
// The first of the URL registers that say where the GenICam description is.
constexpr guint32 kFirstUrlAddress = 0x200;
constexpr guint32 kUrlBytes = 512;
constexpr const char* kLocalUrlScheme = "Local:"; // a description in the camera's memory
constexpr const char* kDescriptionFileName = "lorvexgige.xml";
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

void writeName(ArvFakeCamera* camera, guint32 address, const std::string& name, guint32 bytesAvailable)
{
    std::vector<char> bytes(bytesAvailable, '\0');
    std::strncpy(bytes.data(), name.c_str(), bytesAvailable - 1);
    arv_fake_camera_write_memory(camera, address, bytesAvailable, bytes.data());
}

struct Identity {
    std::string maker, model;
};

Identity identityOf(const vcc::Device& device)
{
    const MV_CC_DEVICE_INFO info = device.info();
    const bool usb = info.nTLayerType == MV_USB_DEVICE;
    const auto& u = info.SpecialInfo.stUsb3VInfo;
    const auto& g = info.SpecialInfo.stGigEInfo;
    const auto* maker = usb ? u.chManufacturerName : g.chManufacturerName;
    const auto* model = usb ? u.chModelName : g.chModelName;
    return {reinterpret_cast<const char*>(maker), reinterpret_cast<const char*>(model)};
}

SensorBounds boundsOf(const vcc::Device& device)
{
    vcc::Feature widthMax, heightMax, width, height, offsetX, offsetY;
    device.read("WidthMax", widthMax);
    device.read("HeightMax", heightMax);
    device.read("Width", width);
    device.read("Height", height);
    device.read("OffsetX", offsetX);
    device.read("OffsetY", offsetY);
    auto inc = [](const vcc::Feature& f) { return f.inc > 0 ? f.inc : int64_t(1); };
    SensorBounds b;
    b.sensorWidth = widthMax.i;
    b.sensorHeight = heightMax.i;
    b.widthMin = std::max<int64_t>(width.imin, 1);
    b.widthInc = inc(width);
    b.heightMin = std::max<int64_t>(height.imin, 1);
    b.heightInc = inc(height);
    b.offsetXInc = inc(offsetX);
    b.offsetYInc = inc(offsetY);
    return b;
}

// The device's description, written to a file the simulator loads.
std::string writeDescription(const vcc::Device& device, const SensorBounds& bounds, std::string* why)
{
    ArvFakeCamera* probe = arv_fake_camera_new("probe");
    size_t size = 0;
    const char* xml = arv_fake_camera_get_genicam_xml(probe, &size);
    const std::string simulatorXml(xml ? xml : "", xml ? size : 0);
    g_object_unref(probe);
    const Identity id = identityOf(device);
    vcc::Feature formats;
    device.read("PixelFormat", formats);
    const std::string out = describe(simulatorXml, {id.maker, id.model, formats.supported, bounds}, why);
    if (out.empty())
        return {};
    char path[] = "/tmp/lorvexgige-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, out.data(), out.size()) != ssize_t(out.size())) {
        if (fd >= 0)
            close(fd);
        *why = "cannot write the camera description to /tmp";
        return {};
    }
    close(fd);
    return path;
}

// The first URL register names the description's file; the simulator's own
// name is replaced, keeping its address and size ("Local:NAME;ADDR;SIZE").
void renameDescription(ArvFakeCamera* camera)
{
    char url[kUrlBytes + 1] = {};
    arv_fake_camera_read_memory(camera, kFirstUrlAddress, kUrlBytes, url);
    const char* place = std::strchr(url, ';');
    if (std::strncmp(url, kLocalUrlScheme, std::strlen(kLocalUrlScheme)) != 0 || !place)
        return;
    const std::string renamed = std::string(kLocalUrlScheme) + kDescriptionFileName + place;
    char bytes[kUrlBytes] = {};
    std::strncpy(bytes, renamed.c_str(), kUrlBytes - 1);
    arv_fake_camera_write_memory(camera, kFirstUrlAddress, kUrlBytes, bytes);
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
    cam->bounds_ = boundsOf(*s.device);
    const std::string xml = writeDescription(*s.device, cam->bounds_, why);
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
    // Under its lock: the simulator's thread already runs, and the only
    // order between it and us otherwise is the simulator's own mutex, which
    // a sanitizer cannot see into.
    {
        std::lock_guard<std::mutex> lk(cam->patternMu_);
        cam->pattern_ = vcc::Pattern::build(s.device->geometry(), *s.device);
    }
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
    const Identity id = identityOf(*served_.device);
    writeName(camera_, kManufacturerNameAddress, id.maker, kBootstrapNameBytes);
    writeName(camera_, kModelNameAddress, id.model, kBootstrapNameBytes);
    writeName(camera_, kDeviceVersionAddress, std::string("lorvexgige ") + LORVEXGIGE_VERSION, kBootstrapNameBytes);
    writeName(camera_, kManufacturerInfoAddress, kManufacturerInfo, kManufacturerInfoBytes);
    renameDescription(camera_);

    const vcc::Geometry g = served_.device->geometry();
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_SENSOR_WIDTH, guint32(bounds_.sensorWidth));
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_SENSOR_HEIGHT, guint32(bounds_.sensorHeight));
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_WIDTH, g.width);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_HEIGHT, g.height);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_X_OFFSET, g.offsetX);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_Y_OFFSET, g.offsetY);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_PIXEL_FORMAT, g.pixelFormat);
    onSensor_ = {g.width, g.height, g.offsetX, g.offsetY};
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
    keepOnSensor();
}

// A client that checks ranges never writes a region off the sensor; one that
// writes the registers directly can. Such a region is put back to the last
// one on the sensor, so nothing streams frames the sensor cannot make. (The
// device's own starting region is kept as it is, whatever its steps.)
void ServedCamera::keepOnSensor()
{
    const Region now{readRegister(camera_, ARV_FAKE_CAMERA_REGISTER_WIDTH),
                     readRegister(camera_, ARV_FAKE_CAMERA_REGISTER_HEIGHT),
                     readRegister(camera_, ARV_FAKE_CAMERA_REGISTER_X_OFFSET),
                     readRegister(camera_, ARV_FAKE_CAMERA_REGISTER_Y_OFFSET)};
    const bool unchanged = now.width == onSensor_.width && now.height == onSensor_.height
        && now.offsetX == onSensor_.offsetX && now.offsetY == onSensor_.offsetY;
    if (unchanged || bounds_.accepts(now.width, now.height, now.offsetX, now.offsetY)) {
        onSensor_ = now;
        return;
    }
    std::fprintf(stderr,
                 "lorvexgige: %s: region %ux%u at (%u, %u) is not on the %lldx%lld sensor in its steps; "
                 "back to %ux%u at (%u, %u)\n",
                 served_.device->serial().c_str(), now.width, now.height, now.offsetX, now.offsetY,
                 static_cast<long long>(bounds_.sensorWidth), static_cast<long long>(bounds_.sensorHeight),
                 onSensor_.width, onSensor_.height, onSensor_.offsetX, onSensor_.offsetY);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_WIDTH, onSensor_.width);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_HEIGHT, onSensor_.height);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_X_OFFSET, onSensor_.offsetX);
    arv_fake_camera_write_register(camera_, ARV_FAKE_CAMERA_REGISTER_Y_OFFSET, onSensor_.offsetY);
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
