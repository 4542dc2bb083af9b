// Helpers of the loss-and-recovery tests, on top of the driver tests' virtual
// devices: signal counters that work from any thread, a watchdog that turns a
// hang into a failure, the way a test drives one reconnect attempt, and the
// scaling of iteration counts for the slower sanitizer builds.
#pragma once

#include "virtualdevices.h"


#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace rectest {

using namespace drvtest;

// ---- build flavour -------------------------------------------------------------

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// The iteration count a stress test runs: `full` in a plain build, `sanitized`
// under a sanitizer; LORVEX_STRESS_CYCLES overrides both.
inline int stressCycles(int full, int sanitized)
{
    bool ok = false;
    const int forced = qEnvironmentVariableIntValue("LORVEX_STRESS_CYCLES", &ok);
    if (ok && forced > 0)
        return forced;
    return (kThreadSanitizer || kAddressSanitizer) ? sanitized : full;
}

// A stress test's count, and its time limits grown in proportion when
// LORVEX_STRESS_CYCLES asks for more than the build's own count: a long soak
// must not be cut short by limits sized for the usual one.
struct StressRun
{
    int cycles;
    int usual;
    int scaled(int limit) const
    {
        return cycles <= usual ? limit : static_cast<int>(qint64(limit) * cycles / usual) + 1;
    }
};

inline StressRun stressRun(int full, int sanitized)
{
    return {stressCycles(full, sanitized), (kThreadSanitizer || kAddressSanitizer) ? sanitized : full};
}

// ---- devices -----------------------------------------------------------------------

// A small line-scan device with a modest free-run frame rate, so that frames
// flow through every test without loading the machine.
inline DeviceSpec smallDevice(const std::string& serial, double framesPerSecond = 200.0)
{
    DeviceSpec spec = monoDevice(serial, 64, 16);
    spec.lineRate = framesPerSecond * spec.height;
    return spec;
}

inline VCC_DEVICE_COUNTERS counters(const std::string& serial)
{
    VCC_DEVICE_COUNTERS c{};
    VCC_GetDeviceCounters(serial.c_str(), &c);
    return c;
}

// ---- signals ---------------------------------------------------------------------------

// Counts CameraLoss and CameraReconnect as they are emitted, on whichever
// thread emits them. `onLoss` and `onReconnect` run there too.
class SignalCount
{
public:
    explicit SignalCount(CameraLorvex* camera)
    {
        QObject::connect(
            camera, &CameraInterface::CameraLoss, camera,
            [this] {
                if (onLoss)
                    onLoss();
                ++losses;
            },
            Qt::DirectConnection);
        QObject::connect(
            camera, &CameraInterface::CameraReconnect, camera,
            [this] {
                if (onReconnect)
                    onReconnect();
                ++reconnects;
            },
            Qt::DirectConnection);
    }

    std::atomic<int> losses{0};
    std::atomic<int> reconnects{0};
    std::function<void()> onLoss;
    std::function<void()> onReconnect;
};

// ---- watchdog ---------------------------------------------------------------------------

// Ends the process with a message when it is still armed after `seconds`: a
// deadlock fails the test at once instead of waiting for the ctest timeout.
class Watchdog
{
public:
    Watchdog(const char* what, int seconds) : name(what)
    {
        worker = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!disarmed.wait_for(lock, std::chrono::seconds(seconds), [this] { return done; })) {
                std::fprintf(stderr, "WATCHDOG: %s still running after %d s; a thread is stuck\n", name.c_str(),
                             seconds);
                std::fflush(stderr);
                std::abort();
            }
        });
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        disarmed.notify_all();
        worker.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string name;
    std::mutex mutex;
    std::condition_variable disarmed;
    bool done = false;
    std::thread worker;
};

// ---- driving the recovery -----------------------------------------------------------------

// One timeout of the reconnect timer, on the camera's thread, without waiting
// for the attempt it may start.
inline void reconnectTimeout(CameraLorvex* camera)
{
    probe(camera).onReconnectTimer();
}


// The same timeout, followed by the end of the attempt it started (if any).
inline void reconnectAttempt(CameraLorvex* camera)
{
    reconnectTimeout(camera);
    probe(camera).waitForReconnect();
}

// Unplugs the device and waits until the exception path has marked the camera
// lost (which happens after its close and its CameraLoss).
inline bool unplug(CameraLorvex* camera, const std::string& serial, int timeoutMs = 5000)
{
    if (VCC_DetachDevice(serial.c_str()) != MV_OK)
        return false;
    return waitUntil([camera] { return probe(camera).lossTold(); }, timeoutMs);
}

// A camera created the way the host creates it, owned by the test.
inline std::unique_ptr<CameraLorvex> createCamera(int cameraIndex, const std::string& serial)
{
    return std::unique_ptr<CameraLorvex>(createListed(cameraIndex, QString::fromStdString(serial)));
}

// The host's listing, which fixes the device count the reopen compares with.
inline int listCameras()
{
    CameraLorvex root;
    int count = 0;
    root.getCameraList(count);
    return count;
}

} // namespace rectest
