// framepath.h - the frame path of one camera: one SDK image callback becomes
// one numbered image, handed to the host through captureCompleted.
//
// It owns what only frames need: the format images are shaped to (the one
// format the camera's size answers read too), the SDK's conversion record and
// the handle it converts with, the recycled buffers, the continuity count of
// frame numbers, and the stops that a frame must not wait for. What it needs
// of its camera is handed to it once, at construction (FrameHost): the host's
// lock, the numbering fields of the host's interface, the trigger settings
// and a way to ask for the format when none is known yet.
//
// ---------------------------------------------------------------------------
// Threads (see cameralorvex.h for the letters)
//   I  deliver(): the whole frame, with the camera's cameraMutex held.
//   H, E, P  the device (lorvexdevice.h) from its operations: setFormat()
//      after a read-back, resetNumbering() before a start, useHandle() after
//      an open and before a close, StopAnnouncement and releaseIdleBuffers()
//      around a stop, close or destroy. H reads format() for the size answers.
//
// Members, who touches them, what guards them
//   shape, convertParam         H, I, E, P   formatMutex
//   handle                      I, H, E, P   atomic (set while no frame can
//      come: before the start, and after the stop)
//   lastFrameNum                H, I, P      atomic (reset before the start,
//      compared and advanced by I)
//   stopsPending, framesDroppedForStop   H, I, E, P   atomic
//   lastFormatRequest           I            cameraMutex
//   pool                        I, H, E, P   its own mutex
//
// Locks (lockrank.h): formatMutex (Format) and the pool's (FramePool) are
// leaves, taken after cameraMutex (I) or the device's handle lock.
//
// No wait that can close a circle: a frame waits for cameraMutex only while
// no stop is pending. Every SDK call that waits for a running image callback
// (stop, close, destroy) holds a StopAnnouncement while it runs; a frame that
// finds cameraMutex busy meanwhile is dropped with a warning and counted,
// never waited for.
// ---------------------------------------------------------------------------
#ifndef FRAMEPATH_H
#define FRAMEPATH_H

#include <QElapsedTimer>
#include <QMutex>

#include <atomic>
#include <functional>

#include "MVCameraControl.h"
#include "camerainterface.h"
#include "framebuffers.h"
#include "lockrank.h"

// The format the frame path shapes images to, fixed by the last read-back
// that got the device's width and height, so that a panel edit or a JSON
// restore that lands while frames arrive can never make an image disagree
// with the conversion's buffer. 0 x 0 until the first such read-back: a
// camera that never opened answers an empty size.
struct FrameFormat {
    int width = 0;
    int height = 0;
    int matType = 0;
    int channels = 1;
    bool convertColour = false;  // colour wanted and the sensor is not mono

    bool known() const { return width > 0 && height > 0; }
};

// What a frame needs of the camera it belongs to.
struct FrameHost {
    CameraInterface& numbering;   // isRunning, counters, triggerCallback, the signal
    QMutex& hostMutex;            // getMutex()
    const int& cameraIndex;
    CameraTrigParams* const& trigParams;
    // Asks the device to read its format again; called on I under
    // cameraMutex, so it may only try the device's locks.
    std::function<void()> formatWanted;
};

class FramePath
{
public:
    explicit FramePath(FrameHost host);
    FramePath(const FramePath&) = delete;
    FramePath& operator=(const FramePath&) = delete;

    // One frame of the SDK's image thread, to one captureCompleted.
    void deliver(unsigned char* data, MV_FRAME_OUT_INFO_EX* info);

    // The format and conversion record of a read-back.
    void setFormat(const FrameFormat& format, const MV_CC_PIXEL_CONVERT_PARAM& convert);
    FrameFormat format() const;

    // The open handle the colour conversion runs on; null once it is closed.
    void useHandle(void* handle) { conversionHandle = handle; }
    void* handle() const { return conversionHandle; }

    // Before a start: its first frame may arrive before the start returns.
    void resetNumbering() { lastFrameNum = 0; }
    unsigned int lastFrameNumber() const { return lastFrameNum; }

    // An idle camera holds no spare image buffers; images the host still
    // holds stay valid.
    void releaseIdleBuffers() { pool.clear(); }
    size_t idleBuffers() const { return pool.size(); }

    // Frames dropped because the host held cameraMutex while a stop was pending.
    unsigned long long droppedForStop() const { return framesDroppedForStop; }

    // Announces an SDK call that waits for a running image callback, for as
    // long as the call runs: a frame waiting for the host's lock meanwhile
    // gives up.
    class StopAnnouncement
    {
    public:
        explicit StopAnnouncement(FramePath& path) : pending(path.stopsPending) { ++pending; }
        ~StopAnnouncement() { --pending; }
        StopAnnouncement(const StopAnnouncement&) = delete;
        StopAnnouncement& operator=(const StopAnnouncement&) = delete;

    private:
        std::atomic<int>& pending;
    };

private:
    // Takes cameraMutex for one frame; false when it is busy while a stop is
    // pending, and the frame must then be dropped rather than waited for.
    bool lockForFrame();
    void unlockFrame();
    // The format for this frame; asks for a read-back, at most once per
    // kFormatRequestSpacingMs, while none is known.
    FrameFormat shapeForFrame(MV_CC_PIXEL_CONVERT_PARAM& convert);

    FrameHost host;

    mutable lorvex::RankedMutex formatMutex{lorvex::LockRank::Format, "formatMutex"};
    FrameFormat shape;
    MV_CC_PIXEL_CONVERT_PARAM convertParam;
    std::atomic<void*> conversionHandle{nullptr};

    std::atomic<unsigned int> lastFrameNum{0};
    std::atomic<int> stopsPending{0};
    std::atomic<unsigned long long> framesDroppedForStop{0};
    QElapsedTimer lastFormatRequest;

    FrameBufferPool pool;
};

#endif // FRAMEPATH_H
