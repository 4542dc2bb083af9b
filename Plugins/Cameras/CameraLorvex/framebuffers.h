// framebuffers.h - recycled image buffers for the frame path.
//
// Every delivered frame needs a buffer that no other live image shares. A
// fresh allocation of a large frame gets fresh pages from the system, and
// touching those costs far more than the copy itself; so the camera keeps a
// few images and hands one out again once every copy the host held of it has
// been released. The buffers are allocated and freed by OpenCV's own allocator,
// never by code of this library: images may outlive the camera and even the
// loaded plug-in.
//
// The pool locks itself: the frame path hands buffers out while a stop on
// another thread may release the free ones.
#ifndef FRAMEBUFFERS_H
#define FRAMEBUFFERS_H

#include "lockrank.h"

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

    size_t size() const;

private:
    static bool soleOwner(const cv::Mat& m);

    // A leaf: guards everything below.
    mutable lorvex::RankedMutex mutex{lorvex::LockRank::FramePool, "framePoolMutex"};

    size_t capacity;
    size_t spare;
    size_t window;
    size_t windowFrames = 0;
    size_t windowPeak = 0;      // most buffers in use at once, this window
    size_t previousPeak = 0;    // ... and in the window before
    size_t nextVictim = 0;
    std::vector<cv::Mat> buffers;
};

#endif // FRAMEBUFFERS_H
