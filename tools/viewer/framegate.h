// framegate.h - between the camera and the screen: keeps only the newest
// received image until the view is ready to draw it, so a camera faster than
// the screen never waits for drawing. An image replaced before it was drawn
// is counted as not shown (it was received; it is not lost).
#ifndef LORVEXVIEWER_FRAMEGATE_H
#define LORVEXVIEWER_FRAMEGATE_H

#include "camerainterface.h"
#include "framecounts.h"

class FrameGate
{
public:
    explicit FrameGate(FrameCounts& counts) : counts_(counts) {}

    // A received image becomes the one to draw next.
    void offer(const ImageProcessData& frame);
    bool hasPending() const { return pending_; }
    // The image to draw now; counted as shown.
    ImageProcessData take();

private:
    FrameCounts& counts_;
    ImageProcessData newest_;
    bool pending_ = false;
};

#endif
