#include "discovery.h"

#include "entry.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace gcc {

namespace {

struct Record {
    std::string id;
    MV_CC_DEVICE_INFO info{};
};

std::mutex gSystemMu;
// Keyed by everything a record shows, so a device that announces new names
// gets a new record while the old one stays valid.
std::map<std::string, std::unique_ptr<Record>> gRecords;

template <size_t N> void copyName(unsigned char (&dst)[N], const char* src)
{
    std::memset(dst, 0, N);
    if (src)
        std::strncpy(reinterpret_cast<char*>(dst), src, N - 1);
}

unsigned ipv4(const char* address)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!address || std::sscanf(address, "%u.%u.%u.%u", &a, &b, &c, &d) != 4)
        return 0;
    return (a & 0xff) << 24 | (b & 0xff) << 16 | (c & 0xff) << 8 | (d & 0xff);
}

const char* orEmpty(const char* s)
{
    return s ? s : "";
}

// The record for device `i` of Aravis's current list, or null for a transport
// layer the caller did not ask for.
Record* recordFor(unsigned i, unsigned layers)
{
    const std::string protocol = orEmpty(arv_get_device_protocol(i));
    unsigned layer = 0;
    if (protocol == "GigEVision")
        layer = MV_GIGE_DEVICE;
    else if (protocol == "USB3Vision")
        layer = MV_USB_DEVICE;
    if (!(layer & layers))
        return nullptr;
    const char* id = orEmpty(arv_get_device_id(i));
    const char* vendor = orEmpty(arv_get_device_vendor(i));
    const char* model = orEmpty(arv_get_device_model(i));
    const char* serial = orEmpty(arv_get_device_serial_nbr(i));
    const char* address = orEmpty(arv_get_device_address(i));
    const std::string key = std::string(id) + '\n' + vendor + '\n' + model + '\n' + serial + '\n' + address;
    auto& slot = gRecords[key];
    if (!slot) {
        slot = std::make_unique<Record>();
        slot->id = id;
        slot->info.nMajorVer = 1;
        slot->info.nTLayerType = layer;
        if (layer == MV_GIGE_DEVICE) {
            MV_GIGE_DEVICE_INFO& g = slot->info.SpecialInfo.stGigEInfo;
            copyName(g.chManufacturerName, vendor);
            copyName(g.chModelName, model);
            copyName(g.chSerialNumber, serial);
            g.nCurrentIp = ipv4(address);
        } else {
            MV_USB3_DEVICE_INFO& u = slot->info.SpecialInfo.stUsb3VInfo;
            copyName(u.chVendorName, vendor);
            copyName(u.chManufacturerName, vendor);
            copyName(u.chModelName, model);
            copyName(u.chSerialNumber, serial);
        }
    }
    return slot.get();
}

// The names that identify a device in a record of either transport layer.
std::tuple<unsigned, std::string, std::string> identity(const MV_CC_DEVICE_INFO& info)
{
    auto str = [](const unsigned char* s, size_t n) {
        return std::string(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), n));
    };
    if (info.nTLayerType == MV_USB_DEVICE) {
        const auto& u = info.SpecialInfo.stUsb3VInfo;
        return {info.nTLayerType, str(u.chModelName, sizeof u.chModelName), str(u.chSerialNumber, sizeof u.chSerialNumber)};
    }
    const auto& g = info.SpecialInfo.stGigEInfo;
    return {info.nTLayerType, str(g.chModelName, sizeof g.chModelName), str(g.chSerialNumber, sizeof g.chSerialNumber)};
}

} // namespace

int enumerate(unsigned layers, MV_CC_DEVICE_INFO_LIST& list)
{
    std::lock_guard<std::mutex> lk(gSystemMu);
    arv_update_device_list();
    list.nDeviceNum = 0;
    const unsigned n = arv_get_n_devices();
    for (unsigned i = 0; i < n && list.nDeviceNum < MV_MAX_DEVICE_NUM; ++i)
        if (Record* r = recordFor(i, layers))
            list.pDeviceInfo[list.nDeviceNum++] = &r->info;
    return MV_OK;
}

std::string deviceIdFor(const MV_CC_DEVICE_INFO& info)
{
    std::lock_guard<std::mutex> lk(gSystemMu);
    for (const auto& [key, r] : gRecords)
        if (&r->info == &info)
            return r->id;
    // A copy: the newest record with the same transport, model and serial.
    const auto wanted = identity(info);
    std::string found;
    for (const auto& [key, r] : gRecords)
        if (identity(r->info) == wanted)
            found = r->id;
    return found;
}

ArvDevice* openDevice(const std::string& id, GError** error)
{
    std::lock_guard<std::mutex> lk(gSystemMu);
    return arv_open_device(id.c_str(), error);
}

} // namespace gcc
