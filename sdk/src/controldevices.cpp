// VCC_* entry points: the device set, features and observation.
#include "acquisition.h"
#include "call.h"
#include "devicefile.h"
#include "faultscript.h"
#include "lifecycle.h"
#include "state.h"

using namespace vcc;

namespace {

std::shared_ptr<Device> device(const char* serial)
{
    ensureInitialised();
    return findDevice(serial);
}

// Reads the feature to keep its writability, applies `change` and stores it.
template <class Change> int edit(const char* serial, const char* name, FeatureType type, Change change)
{
    auto d = device(serial);
    if (!d)
        return err(MV_E_PARAMETER);
    if (!name || !*name)
        return err(MV_E_PARAMETER);
    Feature f;
    bool existed = d->read(name, f) == MV_OK;
    if (!existed || f.type != type) {
        bool writable = existed ? f.writable : type != FeatureType::String;
        f = Feature();
        f.type = type;
        f.writable = writable;
    }
    change(f);
    d->put(name, f);
    preparePattern(*d); // a mirror flag set while grabbing
    return MV_OK;
}

} // namespace

extern "C" {

VCC_API void VCC_Reset(void)
{
    resetAll();
}

VCC_API int VCC_UseDefaultDevices(void)
{
    replaceDevices(defaultDevices());
    return MV_OK;
}

VCC_API int VCC_LoadDeviceFile(const char* path)
{
    if (!path)
        return err(MV_E_PARAMETER);
    std::vector<std::shared_ptr<Device>> devices;
    if (int rc = loadDeviceFile(path, devices))
        return rc;
    applyCallFaults(devices);
    replaceDevices(std::move(devices));
    return MV_OK;
}

VCC_API int VCC_AddDevice(const VCC_DEVICE_DESC* desc)
{
    ensureInitialised();
    if (!desc)
        return err(MV_E_PARAMETER);
    int status;
    auto d = Device::create(*desc, &status);
    if (!d)
        return status;
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    if (findDeviceLocked(s, d->serial()))
        return err(MV_E_PARAMETER);
    if (s.devices.size() >= MV_MAX_DEVICE_NUM)
        return err(MV_E_RESOURCE);
    s.devices.push_back(d);
    return MV_OK;
}

VCC_API int VCC_RemoveDevice(const char* serial)
{
    auto d = device(serial);
    if (!d)
        return err(MV_E_PARAMETER);
    disconnectDevice(d, true);
    return MV_OK;
}

VCC_API int VCC_DeviceCount(void)
{
    ensureInitialised();
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    return static_cast<int>(s.devices.size());
}

VCC_API int VCC_DetachDevice(const char* serial)
{
    auto d = device(serial);
    if (!d)
        return err(MV_E_PARAMETER);
    {
        std::lock_guard<std::mutex> lk(state().mu);
        if (!d->attached)
            return err(MV_E_CALLORDER);
    }
    disconnectDevice(d, false);
    return MV_OK;
}

VCC_API int VCC_AttachDevice(const char* serial)
{
    auto d = device(serial);
    if (!d)
        return err(MV_E_PARAMETER);
    std::lock_guard<std::mutex> lk(state().mu);
    if (d->attached)
        return err(MV_E_CALLORDER);
    d->attached = true;
    return MV_OK;
}

VCC_API int VCC_SetIntFeature(const char* serial, const char* name, long long cur, long long min, long long max,
                              long long inc)
{
    if (inc <= 0 || min > max)
        return err(MV_E_PARAMETER);
    return edit(serial, name, FeatureType::Int, [&](Feature& f) {
        f.i = cur;
        f.imin = min;
        f.imax = max;
        f.inc = inc;
    });
}

VCC_API int VCC_SetFloatFeature(const char* serial, const char* name, double cur, double min, double max)
{
    if (min > max)
        return err(MV_E_PARAMETER);
    return edit(serial, name, FeatureType::Float, [&](Feature& f) {
        f.f = cur;
        f.fmin = min;
        f.fmax = max;
    });
}

VCC_API int VCC_SetBoolFeature(const char* serial, const char* name, int value)
{
    return edit(serial, name, FeatureType::Bool, [&](Feature& f) { f.b = value != 0; });
}

VCC_API int VCC_SetStringFeature(const char* serial, const char* name, const char* value)
{
    if (!value)
        return err(MV_E_PARAMETER);
    return edit(serial, name, FeatureType::String, [&](Feature& f) { f.s = value; });
}

VCC_API int VCC_SetEnumFeature(const char* serial, const char* name, unsigned int cur, const unsigned int* supported,
                               unsigned int count)
{
    if (supported && (count == 0 || count > MV_MAX_XML_SYMBOLIC_NUM))
        return err(MV_E_PARAMETER);
    return edit(serial, name, FeatureType::Enum, [&](Feature& f) {
        f.e = cur;
        if (supported)
            f.supported.assign(supported, supported + count);
    });
}

VCC_API int VCC_SetFeatureWritable(const char* serial, const char* name, int writable)
{
    auto d = device(serial);
    if (!d || !name)
        return err(MV_E_PARAMETER);
    return d->setWritable(name, writable != 0);
}

VCC_API int VCC_RemoveFeature(const char* serial, const char* name)
{
    auto d = device(serial);
    if (!d || !name)
        return err(MV_E_PARAMETER);
    return d->remove(name);
}

VCC_API int VCC_GetDeviceCounters(const char* serial, VCC_DEVICE_COUNTERS* counters)
{
    auto d = device(serial);
    if (!d || !counters)
        return err(MV_E_PARAMETER);
    counters->framesProduced = d->produced.load();
    counters->framesDelivered = d->delivered.load();
    counters->framesDropped = d->dropped.load();
    counters->triggerOverruns = d->triggerOverruns.load();
    counters->grabbing = d->grabbing.load() ? 1 : 0;
    counters->liveHandles = d->liveHandles.load();
    std::lock_guard<std::mutex> lk(state().mu);
    counters->attached = d->attached ? 1 : 0;
    counters->opened = d->openedBy != 0 ? 1 : 0;
    return MV_OK;
}

VCC_API int VCC_LiveHandleCount(void)
{
    ensureInitialised();
    std::lock_guard<std::mutex> lk(state().mu);
    return static_cast<int>(state().handles.size());
}

VCC_API int VCC_NodeBufferCount(void* handle)
{
    auto h = findHandle(handle);
    return h ? nodeBufferCount(h) : 0;
}

} // extern "C"
