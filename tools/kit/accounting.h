// accounting.h - what happened to the frames of one camera during a run,
// kept so that a host can say plainly whether every frame is there and
// numbered right.
#ifndef LORVEXKIT_ACCOUNTING_H
#define LORVEXKIT_ACCOUNTING_H

#include "placeranges.h"
#include "schedule.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

#include <deque>

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
    // An interrupted run of a device not fired by software asked for no more
    // than what came: the frames not yet made are not dropped.
    void askedForWhatCame() { triggered_ = delivered_ + lost_; }
    // Frames the run asks for; a frame whose place lies beyond them is not
    // the run's (0: open-ended, a timed run).
    void setExpected(qint64 frames) { expected_ = frames; }

    // A device fired by software triggers: each frame is checked against the
    // trigger it answers, which the plug-in's trigger warning names (counted
    // from the device's open), instead of against its place in the run.
    void checkByTrigger() { byTrigger_ = true; }
    // The run's next software trigger was passed to the device; its frame
    // must carry the schedule's numbers at the trigger's place in the run.
    void triggerSent();
    // The run's next trigger never reached the device (the camera was lost,
    // or the plug-in dropped it): asked for, and its product gets no frame.
    void triggerNotSent();
    // The device was opened again: its trigger count restarts with the next
    // trigger sent, and the triggers still awaited will never be answered.
    void deviceReopened();
    // Triggers sent after the last one a frame answered.
    qint64 triggersAwaited() const { return qint64(awaiting_.size()); }

    // The camera's loss was heard at `ms` (milliseconds since the epoch); it
    // counts from the last frame received before it. It came back at `backMs`; the run ended at `ms` (closes a loss still open; a
    // `timed` run may end inside a product, which is not then incomplete).
    void cameraLost(qint64 ms);
    // The camera did not open when it was created: away from before the run,
    // with no time it was lost at.
    void cameraNotOpened();
    void cameraBack(qint64 backMs);
    void runEnded(qint64 ms, bool timed = false);
    int losses() const { return int(losses_.size()); }

    // When the plug-in handed the next frame over (milliseconds since the
    // epoch, its receive time): the device's pace before a loss is measured
    // on it, not on when a busy host got round to the frame.
    void setDeliveryTime(qint64 ms) { deliveryMs_ = ms; }

    // One numbered frame as received. `lostBefore` frames were reported lost
    // upstream (by the SDK's frame numbers) just before it; `placed` is false
    // when the loss could not be tied to this frame (its count is unknown);
    // `lostPackets` packets of the frame itself never arrived;
    // `triggerIndex` is the trigger the plug-in's warning says it answers
    // (-1: none written, the frame answers the next trigger). Returns false
    // for a frame that is not the run's (beyond its length, or answering no
    // trigger of it): it is counted apart, never as delivered.
    bool frameReceived(const FrameNumbers& got, qint64 lostBefore = 0, bool placed = true, qint64 lostPackets = 0,
                       qint64 triggerIndex = -1);
    // The product and capture the latest frame taken for the run stands
    // for: the numbers of the trigger it answers where frames are checked by
    // trigger and the settings fix the numbers, else the plug-in's own. Files, report rows and the lists of
    // lost or damaged frames all use this one name.
    FrameNumbers lastName() const { return lastName_; }
    bool lastNamedByTrigger() const { return byTrigger_ && !following_ && check_; }
    // The latest frame refused by frameReceived answers a trigger the run
    // never sent or already passed: the host cannot tell which product it
    // shows, so it keeps it under a name of its own, never a product's.
    bool lastUnplaced() const { return lastUnplaced_; }
    qint64 unplaced() const { return unplaced_; }
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
    // Frames that are not the run's, the unplaced ones among them.
    qint64 outsideRun() const { return outside_; }
    // Products whose frames ended before their last capture (a product
    // time-out renumbered a late capture as a new product, or frames were
    // lost): counted when the next product starts, or at the run's end.
    qint64 incompleteProducts() const { return incomplete_; }
    // Triggers of the run whose product got no frame (checked by trigger).
    qint64 withoutFrame() const { return withoutFrame_.count(); }
    bool numbersChecked() const { return check_; }
    QString firstMismatch() const { return firstMismatch_; }
    // Whether every upstream loss could be tied to its place in the run.
    bool lossesPlaced() const { return placed_; }
    // The products (with their captures) whose frames were lost upstream,
    // in run order, at most kListedLosses of them.
    QVector<ProductCapture> lostFrames() const;

    // Nothing lost, damaged, dropped, left unwritten or misnumbered.
    bool clean() const;
    // "triggered 150, delivered 140, lost upstream 10, ..." for a console.
    QString countsText() const;
    // Where the lost frames belonged, or that it cannot be told.
    QString lossText() const;
    void writeJson(QJsonObject& json) const;

    static constexpr int kListedLosses = 50;
    // Ranges of products a console line lists before it says where it stops.
    static constexpr int kListedRanges = 20;

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
    PlaceRanges lostPlaces_;     // places of frames lost upstream
    bool following_ = false;
    bool haveLast_ = false;
    ProductCapture last_;

    // A loss of the camera: when, and the frame rate seen before it.
    struct Loss
    {
        qint64 startMs = 0;       // the last frame before it; -1: never open before it
        qint64 heardMs = 0;       // when the SDK reported it; -1: never open before it
        qint64 endMs = -1;        // -1: not back yet
        bool reconnected = false;
        double framesPerSecond = -1; // -1: too few frames before it to tell
    };
    // Checks a frame against the trigger it answers.
    bool answerTrigger(const FrameNumbers& got, qint64 lostBefore, qint64 triggerIndex);
    void noteWithoutFrame(qint64 ordinal);
    void noteLost(qint64 ordinal);
    // Times the frame for the rate before a loss, and counts lost packets.
    void countDamage(const FrameNumbers& got, qint64 lostPackets);
    void countProduct(const FrameNumbers& got);
    void noteMismatch(const QString& text);
    QJsonObject lossJson(const Loss& l) const;

    qint64 expected_ = 0;
    qint64 outside_ = 0;
    qint64 unplaced_ = 0;
    bool lastUnplaced_ = false;
    bool byTrigger_ = false;
    std::deque<qint64> awaiting_;       // run places of the sent triggers from the next unanswered one on
    qint64 awaitingFirst_ = 1;          // the device's trigger index of awaiting_.front()
    PlaceRanges withoutFrame_;          // places of triggers whose product got no frame
    QVector<ProductCapture> damagedList_;
    QVector<Loss> losses_;
    // Receive times of the first and the latest frame, and the frames
    // (delivered or lost upstream) the device made between them.
    qint64 firstFrameMs_ = -1, lastFrameMs_ = -1, firstPlace_ = 0, framesTimed_ = 0;
    qint64 deliveryMs_ = -1;
    qint64 incomplete_ = 0;
    // Frames the device's count skipped although every trigger before the
    // next frame was answered: lost upstream, yet no product's frame.
    qint64 lostBetweenTriggers_ = 0;
    FrameNumbers lastName_;
    ProductCapture lastNumbers_;  // the run's latest numbered frame
};

#endif
