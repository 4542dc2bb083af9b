// framebuffers.h - recycled image buffers and cheap clock reads for the frame
// path.
//
// Every delivered frame needs a buffer that no other live image shares. A
// fresh allocation of a large frame gets fresh pages from the system, and
// touching those costs far more than the copy itself; so the camera keeps a
// few images and hands one out again once every copy the host held of it has
// been released. The buffers are allocated and freed by OpenCV's own allocator,
// never by code of this library: images may outlive the camera and even the
// loaded plug-in.
//
// The pool is not thread-safe: the frame path uses it under cameraMutex.
#ifndef FRAMEBUFFERS_H
#define FRAMEBUFFERS_H

#include <QDateTime>
#include <QTime>

#include <opencv2/core.hpp>

#include <vector>

class FrameBufferPool
{
public:
    // `capacity` bounds the buffers the pool references at all (held by the
    // host or free). Free buffers are kept as long as the host's recent needs
    // call for them: up to the most buffers in use at once (held elsewhere,
    // or being handed out) over the last one or two windows of `window`
    // frames, plus `spare`. A host that releases late in bursts thus never
    // sees its buffers freed and allocated again; one that holds fewer images
    // than before gets the surplus back within two windows.
    explicit FrameBufferPool(size_t capacity = 32, size_t spare = 2, size_t window = 256);

    // An image of rows x cols x type whose buffer no other live cv::Mat shares.
    // Throws what cv::Mat throws when memory cannot hold the image.
    cv::Mat acquire(int rows, int cols, int type);

    // Drops the pool's references; images the host still holds stay valid.
    void clear();

    size_t size() const { return buffers.size(); }

private:
    static bool soleOwner(const cv::Mat& m);

    size_t capacity;
    size_t spare;
    size_t window;
    size_t windowFrames = 0;
    size_t windowPeak = 0;      // most buffers in use at once, this window
    size_t previousPeak = 0;    // ... and in the window before
    size_t nextVictim = 0;
    std::vector<cv::Mat> buffers;
};

namespace lorvex {

// The local time zone is consulted at most once per second of the clock read
// (and again whenever the TZ variable changes); in between, the offset of that
// second is reused. Zone offsets change only at whole seconds, so the values
// below are exactly what the Qt calls named give, at a fraction of their cost
// (each of those asks the C library about the zone, which without TZ set
// re-reads the zone file's status every time). A change of the system's zone
// file is seen within one second. The caches are per thread.

// Same value as QTime::currentTime().
QTime timeOfDay();

// Same value as QDateTime::fromMSecsSinceEpoch(msecs).time().
QTime timeOfDayAt(qint64 msecsSinceEpoch);

// The instant msecsSinceEpoch with the local wall-clock offset in force at
// that instant (Qt::OffsetFromUTC, or Qt::UTC where that offset is 0). Equal
// (operator==, toMSecsSinceEpoch, date, time, offsetFromUtc) to the local
// QDateTime::fromMSecsSinceEpoch(msecs); only the time spec and the zone name
// differ. The local form cannot be built without asking the C library about
// the zone every time.
QDateTime localDateTime(qint64 msecsSinceEpoch);

} // namespace lorvex

#endif // FRAMEBUFFERS_H
