// One simulated device served as a GigE Vision camera on one address.
//
// Aravis's simulator answers discovery, the control channel (with its
// heartbeat and controller privilege) and streams the frames; this class
// makes it announce the device's maker, model and serial, sets its geometry,
// pixel format and frame period, and fills each frame with the device's
// picture (test chart or playback strip) for the frame's number since the
// acquisition started.
//
// Threads: Aravis's simulator thread calls fill(); the owner's thread calls
// poll(). What they share is atomic or guarded by patternMu_.
#pragma once

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

    // Notices the end of an acquisition, so the next one numbers from 1.
    void poll();
    const Served& served() const { return served_; }

private:
    explicit ServedCamera(const Served& s) : served_(s) {}
    static void fill(ArvBuffer* buffer, void* self, guint32 exposureUs, guint32 gain, ArvPixelFormat format);
    void fillFrame(ArvBuffer* buffer);
    void announce();

    Served served_;
    ArvGvFakeCamera* gv_ = nullptr;
    ArvFakeCamera* camera_ = nullptr;
    std::string genicamFile_;

    std::atomic<bool> restart_{true};
    std::atomic<uint32_t> frameNum_{0};
    std::mutex patternMu_;
    std::shared_ptr<const vcc::Pattern> pattern_;
};

} // namespace gige
