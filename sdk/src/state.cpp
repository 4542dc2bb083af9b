#include "state.h"

#include "call.h"
#include "devicefile.h"
#include "faultscript.h"
#include "lifecycle.h"

#include <cstdio>
#include <cstdlib>

namespace vcc {

thread_local bool t_inExceptionCallback = false;

State& state()
{
    static State* s = new State; // never destroyed: SDK threads may outlive main()
    return *s;
}

void ensureInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::vector<std::shared_ptr<Device>> devices;
        const char* file = std::getenv(kDeviceFileEnv);
        if (file && *file) {
            if (loadDeviceFile(file, devices) != MV_OK) {
                std::fprintf(stderr, "virtual camera SDK: device file %s not usable, starting without devices\n", file);
                devices.clear();
            }
            applyCallFaults(devices);
        } else {
            devices = defaultDevices();
        }
        if (const char* faults = std::getenv(kFaultsEnv); faults && *faults) {
            std::string why;
            if (!applyFaultScript(faults, devices, &why))
                std::fprintf(stderr, "virtual camera SDK: %s not applied: %s\n", kFaultsEnv, why.c_str());
        }
        std::lock_guard<std::mutex> lk(state().mu);
        state().devices = std::move(devices);
    });
}

std::shared_ptr<Handle> findHandle(void* token)
{
    // The token is only a key: a stale or made-up value is never dereferenced.
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(token));
    return it == s.handles.end() ? nullptr : it->second;
}

const MV_CC_DEVICE_INFO* recordLocked(State& s, const Device& d)
{
    MV_CC_DEVICE_INFO info = d.info();
    std::string key(reinterpret_cast<const char*>(&info), sizeof info);
    auto& slot = s.records[key];
    if (!slot)
        slot = std::make_unique<MV_CC_DEVICE_INFO>(info);
    return slot.get();
}

std::shared_ptr<Device> findDeviceLocked(State& s, const std::string& serial)
{
    for (auto& d : s.devices)
        if (d->serial() == serial)
            return d;
    return nullptr;
}

std::shared_ptr<Device> findDevice(const char* serial)
{
    if (!serial)
        return nullptr;
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    return findDeviceLocked(s, serial);
}

static void dropAllHandles()
{
    State& s = state();
    std::vector<std::shared_ptr<Handle>> all;
    {
        std::lock_guard<std::mutex> lk(s.mu);
        for (auto& kv : s.handles)
            all.push_back(kv.second);
    }
    for (auto& h : all)
        destroyHandle(h);
    // An exception callback still running would otherwise touch the next test's devices.
    if (!t_inExceptionCallback) {
        std::unique_lock<std::mutex> lk(s.exceptionMu);
        s.exceptionCv.wait(lk, [&] { return s.exceptionsRunning == 0; });
    }
}

void replaceDevices(std::vector<std::shared_ptr<Device>> devices)
{
    ensureInitialised();
    dropAllHandles();
    State& s = state();
    std::lock_guard<std::mutex> lk(s.mu);
    s.devices = std::move(devices);
}

void resetAll()
{
    replaceDevices({});
    clearFailures();
    callLogClear();
    callLogEnable(true);
}

} // namespace vcc
