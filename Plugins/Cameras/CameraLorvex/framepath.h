// framepath.h - the frame path of one camera: one SDK image callback becomes
// one numbered image, handed to the host through captureCompleted.
//
// It owns what only frames need: the format images are shaped to, the SDK's
// conversion record, the recycled buffers, the continuity count of frame
// numbers, and the stops that a frame must not wait for. The camera it
// belongs to gives it the host's lock (getMutex()), the numbering of
// products, and the signal it emits on.
//
// ---------------------------------------------------------------------------
// Threads (see cameralorvex.h for the letters)
//   I  deliver(): the whole frame, with the camera's cameraMutex held.
//   H, E, P  setFormat() from a geometry read-back, resetNumbering() before a
//      start, StopAnnouncement and releaseIdleBuffers() around a stop, close
//      or destroy; all of them with the camera's deviceMutex held.
//
// Members, who touches them, what guards them
//   format, convertParam        H, I, P      formatMutex
//   lastFrameNum                H, I, P      atomic (reset before the start,
//      compared and advanced by I)
//   stopsPending, framesDroppedForStop   H, I, E, P   atomic
//   pool                        I, H, E, P   its own mutex
//
// Locks: formatMutex is a leaf, taken after cameraMutex (I's snapshot) or
// after the camera's geometryMutex (a read-back's update). The pool's mutex
// is a leaf too.
//
// No wait that can close a circle: a frame waits for cameraMutex only while
// no stop is pending. Every SDK call that waits for a running image callback
// (stop, close, destroy) holds a StopAnnouncement while it runs; a frame that
// finds cameraMutex busy meanwhile is dropped with a warning and counted,
// never waited for.
// ---------------------------------------------------------------------------
#ifndef FRAMEPATH_H
#define FRAMEPATH_H

#include <QMutex>

#include <atomic>

#include "MVCameraControl.h"
#include "framebuffers.h"

class CameraLorvex;

// The format the frame path shapes images to, fixed by the last complete
// geometry read-back, so that a panel edit or a JSON restore that lands while
// frames arrive can never make an image disagree with the conversion's buffer.
struct FrameFormat {
    int width = 0;
    int height = 0;
    int matType = 0;
    int channels = 1;
    bool convertColour = false;  // colour wanted and the sensor is not mono
};

class FramePath
{
public:
    explicit FramePath(CameraLorvex& camera);
    FramePath(const FramePath&) = delete;
    FramePath& operator=(const FramePath&) = delete;

    // One frame of the SDK's image thread, to one captureCompleted.
    void deliver(unsigned char* data, MV_FRAME_OUT_INFO_EX* info);

    // The format and conversion record of a complete read-back.
    void setFormat(const FrameFormat& format, const MV_CC_PIXEL_CONVERT_PARAM& convert);

    // Before a start: its first frame may arrive before the start returns.
    void resetNumbering() { lastFrameNum = 0; }

    // An idle camera holds no spare image buffers; images the host still
    // holds stay valid.
    void releaseIdleBuffers() { pool.clear(); }

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
    friend class CameraLorvexProbe;

    // Takes cameraMutex for one frame; false when it is busy while a stop is
    // pending, and the frame must then be dropped rather than waited for.
    bool lockForFrame();

    CameraLorvex& camera;

    QMutex formatMutex;
    FrameFormat format;
    MV_CC_PIXEL_CONVERT_PARAM convertParam;

    std::atomic<unsigned int> lastFrameNum{0};
    std::atomic<int> stopsPending{0};
    // Frames dropped because the host held cameraMutex while a stop was pending.
    std::atomic<unsigned long long> framesDroppedForStop{0};

    FrameBufferPool pool;
};

#endif // FRAMEPATH_H
