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
// Not thread-safe: the frame path uses it under cameraMutex.
#ifndef FRAMEBUFFERS_H
#define FRAMEBUFFERS_H

#include <opencv2/core.hpp>

#include <vector>

class FrameBufferPool
{
public:
    explicit FrameBufferPool(size_t capacity = 12);

    // An image of rows x cols x type whose buffer no other live cv::Mat shares.
    cv::Mat acquire(int rows, int cols, int type);

    // Drops the pool's references; images the host still holds stay valid.
    void clear();

    size_t size() const { return buffers.size(); }

private:
    static bool soleOwner(const cv::Mat& m);

    size_t capacity;
    size_t nextVictim = 0;
    std::vector<cv::Mat> buffers;
};

#endif // FRAMEBUFFERS_H
