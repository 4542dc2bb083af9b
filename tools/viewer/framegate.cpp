// framegate.cpp
#include "framegate.h"

void FrameGate::offer(const ImageProcessData& frame)
{
    if (pending_)
        ++notShown_;
    newest_ = frame;  // shares the pixels; the replaced image is released
    pending_ = true;
}

ImageProcessData FrameGate::take()
{
    pending_ = false;
    ++shown_;
    ImageProcessData out;
    std::swap(out, newest_);
    return out;
}
