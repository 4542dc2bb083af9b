// Where devices come from when no test says otherwise: a JSON device file or
// the built-in default set.
#pragma once

#include "device.h"

#include <memory>
#include <string>
#include <vector>

namespace vcc {

constexpr const char* kDeviceFileEnv = "VCC_DEVICE_FILE";

std::vector<std::shared_ptr<Device>> defaultDevices();
// Parses the file; on any error writes "file: reason" to stderr and returns an error status.
int loadDeviceFile(const std::string& path, std::vector<std::shared_ptr<Device>>& out);
int parseDeviceJson(const std::string& text, const std::string& origin, std::vector<std::shared_ptr<Device>>& out);

} // namespace vcc
