// Process-wide registry: the device set, live handles and enumeration storage.
#pragma once

#include "device.h"
#include "handle.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vcc {

struct State {
    std::mutex mu;
    std::vector<std::shared_ptr<Device>> devices; // in enumeration order
    std::unordered_map<uintptr_t, std::shared_ptr<Handle>> handles;
    uintptr_t nextId = 1;
    // Enumeration records, one per distinct device description, never freed or
    // changed: a pointer handed out stays valid even while another thread
    // enumerates, which is more than the "until the next enumeration" callers rely on.
    std::map<std::string, std::unique_ptr<MV_CC_DEVICE_INFO>> records;

    // Exception callbacks in flight, so a reset can wait for them.
    std::mutex exceptionMu;
    std::condition_variable exceptionCv;
    int exceptionsRunning = 0;
};

State& state();

std::shared_ptr<Handle> findHandle(void* token);
// The interned enumeration record of a device; caller holds State::mu.
const MV_CC_DEVICE_INFO* recordLocked(State& s, const Device& d);
std::shared_ptr<Device> findDeviceLocked(State& s, const std::string& serial);
std::shared_ptr<Device> findDevice(const char* serial);

// Replace the device set; every handle is closed and destroyed first.
void replaceDevices(std::vector<std::shared_ptr<Device>> devices);
void resetAll();

} // namespace vcc
