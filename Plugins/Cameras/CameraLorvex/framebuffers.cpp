#include "framebuffers.h"

FrameBufferPool::FrameBufferPool(size_t capacity) : capacity(capacity ? capacity : 1)
{
    buffers.reserve(this->capacity);
}

bool FrameBufferPool::soleOwner(const cv::Mat& m)
{
    // The pool's own reference is the only one left. Read with an atomic
    // read-modify-write, as OpenCV itself counts, so the host's last release
    // on another thread happens before the buffer is written again.
    return m.u && CV_XADD(&m.u->refcount, 0) == 1;
}

cv::Mat FrameBufferPool::acquire(int rows, int cols, int type)
{
    for (cv::Mat& buffer : buffers) {
        if (buffer.rows == rows && buffer.cols == cols && buffer.type() == type && soleOwner(buffer))
            return buffer;
    }
    cv::Mat fresh(rows, cols, type);
    for (cv::Mat& buffer : buffers) {
        if (soleOwner(buffer)) {
            // A free buffer of an older geometry: give its memory back.
            buffer = fresh;
            return fresh;
        }
    }
    if (buffers.size() < capacity) {
        buffers.push_back(fresh);
    } else {
        // Every buffer is held elsewhere or has another shape: give up the
        // pool's claim on one of them, in turn, so the pool stays bounded.
        buffers[nextVictim] = fresh;
        nextVictim = (nextVictim + 1) % capacity;
    }
    return fresh;
}

void FrameBufferPool::clear()
{
    buffers.clear();
    nextVictim = 0;
}
