// The GenICam description lorvexgige's cameras publish: Aravis's simulator's
// own description, made to describe the served device instead.
//
// - The maker and model in its header are the device's, not the simulator's
//   (spelt as the schema's names are: "ZEQ Vision" is ZEQ_Vision there).
// - Only the device's pixel formats are offered.
// - The standard feature names (ExposureTime, Gain, DeviceSerialNumber) are
//   there; the simulator's older ones (ExposureTimeAbs, GainRaw, DeviceID)
//   stay as aliases of the same registers, for whoever relies on them.
// - Width, Height and the offsets carry the sensor's bounds and increments:
//   a size's maximum is the sensor less its offset and the other way round,
//   so a client that checks ranges refuses a region off the sensor.
// - PayloadSize reads the pixel format register: the schema lets a swiss
//   knife read integers only. The document is valid against the GenApi 1.0
//   schema, which the simulator's own is not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gige {

// The geometry rules of one sensor: sizes and offsets step by their increment
// from their minimum (offsets from 0), and size + offset stays on the sensor.
struct SensorBounds {
    int64_t sensorWidth = 0, sensorHeight = 0;
    int64_t widthMin = 1, widthInc = 1, heightMin = 1, heightInc = 1;
    int64_t offsetXInc = 1, offsetYInc = 1;

    bool accepts(int64_t width, int64_t height, int64_t offsetX, int64_t offsetY) const;
};

struct DescribedDevice {
    std::string maker, model;
    std::vector<unsigned> pixelFormats;
    SensorBounds bounds;
};

// The description for the device, built from the simulator's (`simulatorXml`);
// empty with *why set when that does not have the nodes this relies on.
std::string describe(const std::string& simulatorXml, const DescribedDevice& device, std::string* why);

} // namespace gige
