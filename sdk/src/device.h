// A simulated device: identity, features, free-run settings, injected faults
// and counters. Shared by the registry and every handle made for it, so a
// handle outlives the device's removal without dangling.
#pragma once

#include "faultentry.h"
#include "feature.h"
#include "MVCameraControl.h"
#include "status.h"
#include "VirtualCameraControl.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vcc {

class Pattern;
struct Strip;
using Clock = std::chrono::steady_clock;

// What a frame looks like, read from the features at one moment.
struct Geometry {
    unsigned width = 0, height = 0, offsetX = 0, offsetY = 0;
    unsigned pixelFormat = 0;
    bool reverseX = false, reverseY = false;
    bool triggerMode = false;
    float gain = 0, exposure = 0;
    // Light reaching the sensor against the device's first settings: the
    // exposure over the device's reference exposure, times the gain (dB).
    double brightness = 1.0;
};

class Device {
public:
    // Builds a device from a description; returns null and sets *status when it is unusable.
    static std::shared_ptr<Device> create(const VCC_DEVICE_DESC& d, int* status);

    const std::string& serial() const { return serial_; }
    unsigned transport() const { return transport_; }
    MV_CC_DEVICE_INFO info() const;

    // Feature access, all under the device's own lock.
    int read(const std::string& name, Feature& out) const;
    // Checked write through `op` (one of the write* functions), with geometry rules.
    template <class Op> int write(const std::string& name, Op op);
    // Unchecked replacement by the control interface (creates the feature).
    void put(const std::string& name, const Feature& f);
    int setWritable(const std::string& name, bool writable);
    int remove(const std::string& name);

    Geometry geometry() const;
    // Height x the line period, or x ExposureTime where that is longer.
    double framePeriodSeconds() const;

    // Device clock, 100 MHz.
    uint64_t ticksAt(Clock::time_point t) const;
    void setTicks(uint64_t ticks);

    // Faults for the frame path; each is consumed once.
    unsigned takeLostPackets(unsigned frameNum);
    unsigned takeGapAfter(unsigned frameNum);
    void addLostPackets(unsigned frameNum, unsigned packets);
    void addGap(unsigned afterFrameNum, unsigned skip);
    // Scripted faults (faultscript.h): a trigger index to lose, and unplugs
    // timed from the first start of grabbing, handed out once.
    struct ScriptedUnplug {
        unsigned atMs = 0, forMs = 0;
    };
    void addOverrun(unsigned triggerIndex);
    bool takeOverrun(unsigned triggerIndex);
    // A trigger index the device receives twice, the second time as a
    // trigger of its own right after the first one's frame.
    void addBounce(unsigned triggerIndex);
    bool takeBounce(unsigned triggerIndex);
    void addScriptedUnplug(unsigned atMs, unsigned forMs);
    std::vector<ScriptedUnplug> takeScriptedUnplugs();
    // A device file's "fail" entries: they concern the SDK's calls, so the
    // SDK takes them once the file is loaded (applyCallFaults).
    void addCallFault(const FaultEntry& entry);
    std::vector<FaultEntry> takeCallFaults();

    void setLineRate(double r);
    std::atomic<unsigned> openDelayMs{0};
    std::atomic<bool> freeRunPaused{false};
    std::atomic<bool> grabbing{false};

    // Registry state, guarded by the registry lock.
    bool attached = true;
    uintptr_t openedBy = 0;

    std::atomic<uint64_t> produced{0}, delivered{0}, dropped{0};
    std::atomic<uint64_t> triggerOverruns{0}; // triggers lost while a frame was read out (any thread)
    std::atomic<int> liveHandles{0};

    // Playback images, set while the device is loaded and never changed after;
    // null for the test chart.
    std::shared_ptr<const Strip> playback;
    // Standard deviation of the sensor noise added to every pixel, in grey
    // levels (0: none); set while the device is loaded and never changed after.
    double noise = 0.0;

    // The last pattern built for this device, reused while the geometry stays.
    // Built outside patternMu, which only guards the exchange, so the frame
    // thread never waits for a build.
    std::mutex patternMu;
    std::shared_ptr<const Pattern> patternCache;

private:
    int checkGeometry(const std::map<std::string, Feature>& fs) const;
    void updateGeometryLimits();

    std::string manufacturer_, model_, serial_;
    unsigned transport_ = MV_GIGE_DEVICE;

    // Triggers marked for a scripted fault (overrun, bounce), under mu_.
    void mark(std::set<unsigned>& triggers, unsigned triggerIndex);
    bool takeMark(std::set<unsigned>& triggers, unsigned triggerIndex);

    mutable std::mutex mu_;
    std::map<std::string, Feature> features_;
    double lineRate_ = 100000.0;
    double referenceExposureUs_ = 10.0; // set once, at creation
    Clock::time_point clockEpoch_ = Clock::now();
    uint64_t clockBase_ = 0;
    std::map<unsigned, unsigned> lostPackets_, gaps_;
    std::set<unsigned> overruns_, bounces_;
    std::vector<ScriptedUnplug> unplugs_;
    std::vector<FaultEntry> callFaults_;
};

// Features whose change would alter the frame size or format: read-only while grabbing.
bool lockedWhileGrabbing(const std::string& name);

template <class Op> int Device::write(const std::string& name, Op op)
{
    std::lock_guard<std::mutex> lk(mu_);
    auto it = features_.find(name);
    if (it == features_.end())
        return err(MV_E_GC_GENERIC);
    if (grabbing.load() && lockedWhileGrabbing(name))
        return err(MV_E_GC_ACCESS);
    Feature copy = it->second;
    int rc = op(copy);
    if (rc != MV_OK)
        return rc;
    Feature old = it->second;
    it->second = copy;
    if (int g = checkGeometry(features_)) {
        it->second = old;
        return g;
    }
    updateGeometryLimits();
    return MV_OK;
}

} // namespace vcc
