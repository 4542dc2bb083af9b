#include "framebuffers.h"


#include <algorithm>
#include <utility>

FrameBufferPool::FrameBufferPool(size_t capacity, size_t spare, size_t window)
    : capacity(capacity ? capacity : 1), spare(spare), window(window ? window : 1)
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
    lorvex::RankedLocker lock(mutex);
    // A geometry change: buffers of another shape can never be handed out
    // again. Free ones go back now, held ones when the host lets them go.
    for (size_t i = buffers.size(); i-- > 0;) {
        const cv::Mat& b = buffers[i];
        if (b.rows != rows || b.cols != cols || b.type() != type) {
            buffers[i] = std::move(buffers.back());
            buffers.pop_back();
        }
    }
    if (nextVictim >= buffers.size())
        nextVictim = 0;

    size_t chosen = buffers.size();
    size_t freeCount = 0;
    size_t lastOtherFree = buffers.size();
    for (size_t i = 0; i < buffers.size(); ++i) {
        if (!soleOwner(buffers[i]))
            continue;
        ++freeCount;
        if (chosen == buffers.size())
            chosen = i;
        else
            lastOtherFree = i;
    }

    // Buffers in use once this frame has one: held elsewhere, plus this one.
    const size_t inUse = buffers.size() - freeCount + 1;
    windowPeak = std::max(windowPeak, inUse);
    if (++windowFrames == window) {
        previousPeak = windowPeak;
        windowPeak = inUse;
        windowFrames = 0;
    }

    if (chosen != buffers.size()) {
        cv::Mat image = buffers[chosen];
        // More buffers than the host has needed lately: it holds fewer images
        // than it did. Give one free buffer back per frame.
        const size_t keep = std::max(previousPeak, windowPeak) + spare;
        if (buffers.size() > keep && lastOtherFree != buffers.size()) {
            buffers[lastOtherFree] = std::move(buffers.back());
            buffers.pop_back();
        }
        return image;
    }

    cv::Mat fresh(rows, cols, type);
    if (buffers.size() < capacity) {
        buffers.push_back(fresh);
    } else {
        // Every buffer is held elsewhere: give up the pool's claim on one of
        // them, in turn, so the pool stays bounded. The host's copies keep it.
        buffers[nextVictim] = fresh;
        nextVictim = (nextVictim + 1) % buffers.size();
    }
    return fresh;
}

void FrameBufferPool::clear()
{
    lorvex::RankedLocker lock(mutex);
    buffers.clear();
    nextVictim = 0;
}

size_t FrameBufferPool::size() const
{
    lorvex::RankedLocker lock(mutex);
    return buffers.size();
}
