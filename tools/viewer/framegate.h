// framegate.h - between the camera and the screen: keeps only the newest
// received image until the view is ready to draw it, so a camera faster than
// the screen never waits for drawing. An image replaced before it was drawn
// is counted as not shown (it was received; it is not lost).
#ifndef LORVEXVIEWER_FRAMEGATE_H
#define LORVEXVIEWER_FRAMEGATE_H

#include "camerainterface.h"

class FrameGate
{
public:
    // A received image becomes the one to draw next.
    void offer(const ImageProcessData& frame);
    bool hasPending() const { return pending_; }
    // The image to draw now; counted as shown.
    ImageProcessData take();

    qint64 shownCount() const { return shown_; }
    qint64 notShownCount() const { return notShown_; }

private:
    ImageProcessData newest_;
    bool pending_ = false;
    qint64 shown_ = 0;
    qint64 notShown_ = 0;
};

#endif
