// Process-wide registry: the device set, live handles and enumeration storage.
#pragma once

#include "Device.h"
#include "Handle.h"

#include <condition_variable>
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
    // The last two enumerations' records: a caller's pointers stay valid until the
    // next enumeration, and a little beyond for a reader that overlaps it.
    std::unique_ptr<MV_CC_DEVICE_INFO[]> enumCurrent, enumPrevious;

    // Exception callbacks in flight, so a reset can wait for them.
    std::mutex exceptionMu;
    std::condition_variable exceptionCv;
    int exceptionsRunning = 0;
};

State& state();

std::shared_ptr<Handle> findHandle(void* token);
std::shared_ptr<Device> findDeviceLocked(State& s, const std::string& serial);
std::shared_ptr<Device> findDevice(const char* serial);

// Replace the device set; every handle is closed and destroyed first.
void replaceDevices(std::vector<std::shared_ptr<Device>> devices);
void resetAll();

} // namespace vcc
