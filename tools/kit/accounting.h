// accounting.h - what happened to the frames of one camera during a run,
// kept so that a host can say plainly whether every frame is there and
// numbered right.
#ifndef LORVEXKIT_ACCOUNTING_H
#define LORVEXKIT_ACCOUNTING_H

#include "schedule.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

// Fed on the thread that receives the frames; not shared between threads.
class FrameAccounting
{
public:
    // `checkNumbers`: the trigger settings fix which numbers each frame must
    // carry (false where they leave them to chance).
    void setSchedule(const ProductSchedule& schedule, bool checkNumbers);
    // For a host that joins a camera's count where it stands and changes the
    // trigger settings while frames flow (the viewer): each numbered frame is
    // checked against the one before it instead of against the run's start,
    // and lost frames are counted without naming their products (there is
    // no run to place them in). Frames taken while the camera is not running
    // (product 0) are counted, never checked.
    void followNumbers(const ProductSchedule& schedule, bool checkNumbers);
    // The next numbered frame starts the count afresh (following only).
    void restartNumbering() { haveLast_ = false; }

    // Frames asked for: software triggers sent, or frames a device that runs
    // without triggers was allowed to number.
    void addTriggered(qint64 count = 1) { triggered_ += count; }

    // One numbered frame as received. `lostBefore` frames were reported lost
    // upstream (by the SDK's frame numbers) just before it; `placed` is false
    // when the loss could not be tied to this frame (its count is unknown);
    // `lostPackets` packets of the frame itself never arrived.
    void frameReceived(const FrameNumbers& got, qint64 lostBefore = 0, bool placed = true, qint64 lostPackets = 0);
    // Losses upstream that no received frame accounts for.
    void lostWithoutFrame(qint64 count, bool placed);
    // A received frame's image that was not written (queue full, write error).
    void imageNotWritten() { ++notWritten_; }

    qint64 triggered() const { return triggered_; }
    qint64 delivered() const { return delivered_; }
    qint64 lostUpstream() const { return lost_; }
    // Frames asked for that neither arrived nor were reported lost upstream.
    qint64 dropped() const;
    qint64 notWritten() const { return notWritten_; }
    // Delivered frames whose image lacks packets that never arrived.
    qint64 damaged() const { return damaged_; }
    qint64 misnumbered() const { return misnumbered_; }
    bool numbersChecked() const { return check_; }
    QString firstMismatch() const { return firstMismatch_; }
    // Whether every upstream loss could be tied to its place in the run.
    bool lossesPlaced() const { return placed_; }
    // The products (with their captures) whose frames were lost upstream,
    // oldest first, at most kListedLosses of them.
    const QVector<ProductCapture>& lostFrames() const { return lostList_; }

    // Nothing lost, damaged, dropped, left unwritten or misnumbered.
    bool clean() const;
    // "triggered 150, delivered 140, lost upstream 10, ..." for a console.
    QString countsText() const;
    // Where the lost frames belonged, or that it cannot be told.
    QString lossText() const;
    void writeJson(QJsonObject& json) const;

    static constexpr int kListedLosses = 50;

private:
    // Checks a numbered frame against the one before it (following only).
    void followFrom(const FrameNumbers& got, qint64 ordinal);

    ProductSchedule schedule_;
    bool check_ = false;
    qint64 triggered_ = 0;
    qint64 delivered_ = 0;
    qint64 lost_ = 0;
    qint64 notWritten_ = 0;
    qint64 damaged_ = 0;
    qint64 misnumbered_ = 0;
    bool placed_ = true;
    QString firstMismatch_;
    QVector<ProductCapture> lostList_;
    bool following_ = false;
    bool haveLast_ = false;
    ProductCapture last_;
};

#endif
