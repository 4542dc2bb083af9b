// framecounts.h - what the viewer counts per camera: frames received, frames
// the plug-in reported lost before they reached it, frames whose product
// numbers do not follow from the trigger settings, and frames received but
// never drawn because a newer one replaced them first.
#ifndef LORVEXVIEWER_FRAMECOUNTS_H
#define LORVEXVIEWER_FRAMECOUNTS_H

#include <QtGlobal>

// How numbers are expected to advance from one numbered frame to the next.
struct NumberingRule
{
    int capturesPerProduct = 1;
    // False when the numbers are set from outside the count (the software
    // trigger sets them, or a product time-out may restart a product); then
    // no frame is called misnumbered.
    bool checked = true;
};

class FrameCounts
{
public:
    explicit FrameCounts(int cameraIndex = 0) : cameraIndex_(cameraIndex) {}

    // One frame received with its numbers. Product 0 (not running) is not
    // numbered and not checked.
    void received(int productId, int cycleCapture, const NumberingRule& rule);
    // The trigger settings changed: the next numbered frame starts afresh.
    void restartNumbering() { haveLast_ = false; }
    void notShown() { ++notShown_; }
    void shown() { ++shown_; }

    qint64 receivedCount() const { return received_; }
    qint64 misnumbered() const { return misnumbered_; }
    qint64 notShownCount() const { return notShown_; }
    qint64 shownCount() const { return shown_; }
    // Frames the plug-in's continuity warnings for this camera reported lost.
    qint64 lostUpstream() const;

    // Starts reading the plug-in's log for continuity warnings (once per
    // process, on the main thread, before cameras are created).
    static void watchLog();

private:
    int cameraIndex_;
    qint64 received_ = 0;
    qint64 misnumbered_ = 0;
    qint64 notShown_ = 0;
    qint64 shown_ = 0;
    bool haveLast_ = false;
    int lastProduct_ = 0;
    int lastCapture_ = 0;
};

#endif
