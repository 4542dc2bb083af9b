// One simulated device served as a GigE Vision camera on one address.
//
// Aravis's simulator answers discovery, the control channel (with its
// heartbeat and controller privilege) and streams the frames; this class
// makes it describe and announce the device (its maker, model, serial and
// lorvexgige's version; description.h), sets its geometry, pixel format and
// frame period, keeps its region on the sensor, and fills each frame with the
// device's picture (test chart or playback strip) for the frame's number since
// the acquisition started.
//
// Threads: Aravis's simulator thread calls fill(); the owner's thread calls
// poll(), and only it touches bounds_ and onSensor_. What the two share is
// atomic or guarded by patternMu_.
#pragma once

#include "description.h"
#include "device.h"
#include "pattern.h"

#include <arv.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace gige {

struct Served {
    std::shared_ptr<vcc::Device> device;
    std::string address = "127.0.0.1";
    double lostPacketRatio = 0; // of the stream's packets, dropped at random
};

class ServedCamera {
public:
    // Null with *why set when the camera cannot be served (e.g. the address
    // is on no interface).
    static std::unique_ptr<ServedCamera> start(const Served& s, std::string* why);
    ~ServedCamera();

    ServedCamera(const ServedCamera&) = delete;
    ServedCamera& operator=(const ServedCamera&) = delete;

    // Notices the end of an acquisition, so the next one numbers from 1, and
    // puts a region written off the sensor back.
    void poll();
    const Served& served() const { return served_; }

private:
    explicit ServedCamera(const Served& s) : served_(s) {}
    static void fill(ArvBuffer* buffer, void* self, guint32 exposureUs, guint32 gain, ArvPixelFormat format);
    void fillFrame(ArvBuffer* buffer);
    void announce();
    void keepOnSensor();

    struct Region {
        guint32 width = 0, height = 0, offsetX = 0, offsetY = 0;
    };

    Served served_;
    ArvGvFakeCamera* gv_ = nullptr;
    ArvFakeCamera* camera_ = nullptr;
    SensorBounds bounds_;
    Region onSensor_; // the last region on the sensor

    std::atomic<bool> restart_{true};
    std::atomic<uint32_t> frameNum_{0};
    std::mutex patternMu_;
    std::shared_ptr<const vcc::Pattern> pattern_;
};

} // namespace gige
