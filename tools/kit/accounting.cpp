// accounting.cpp
#include "accounting.h"

#include <QDateTime>
#include <QJsonArray>
#include <QStringList>

#include <cmath>

#include <algorithm>

void FrameAccounting::setSchedule(const ProductSchedule& schedule, bool checkNumbers)
{
    schedule_ = schedule;
    check_ = checkNumbers;
    following_ = false;
}

void FrameAccounting::followNumbers(const ProductSchedule& schedule, bool checkNumbers)
{
    schedule_ = schedule;
    check_ = checkNumbers;
    following_ = true;
    haveLast_ = false;
}

void FrameAccounting::lostWithoutFrame(qint64 count, bool placed)
{
    if (!placed) {
        placed_ = false;
        return;
    }
    if (following_) {
        lost_ += count;
        return;
    }
    // The frames at the next ordinals of the run are the ones missing.
    const qint64 first = delivered_ + lost_;
    for (qint64 i = 0; i < count; ++i)
        lostPlaces_.add(first + i);
    lost_ += count;
}

bool FrameAccounting::frameReceived(const FrameNumbers& got, qint64 lostBefore, bool placed, qint64 lostPackets,
                                    qint64 triggerIndex)
{
    lastUnplaced_ = false;
    if (!following_ && byTrigger_) {
        if (!answerTrigger(got, lostBefore, triggerIndex))
            return false;
        countDamage(lastName_, lostPackets);
        countProduct(got);
        return true;
    }
    // A frame after the run's last place: a free-running device delivered
    // it after frames the run already counted as lost upstream.
    if (!following_ && expected_ > 0 && delivered_ + lost_ + lostBefore >= expected_) {
        lostWithoutFrame(std::min(lostBefore, std::max<qint64>(0, expected_ - delivered_ - lost_)), placed);
        ++outside_;
        return false;
    }
    lostWithoutFrame(lostBefore, placed);
    lastName_ = got;
    countDamage(got, lostPackets);
    if (!following_)
        countProduct(got);
    // The frame's place in the run counts the lost frames before it: after a
    // loss the plug-in's count runs behind, which is a misnumbering the user
    // must see, not a shift to hide.
    const qint64 ordinal = delivered_ + lost_;
    ++delivered_;
    if (following_) {
        followFrom(got, delivered_);
        return true;
    }
    if (!check_ || !placed_)
        return true;
    const FrameNumbers want = schedule_.at(ordinal);
    if (got != want)
        noteMismatch(QStringLiteral("frame %1 numbered %2, expected %3").arg(ordinal + 1).arg(got.text(), want.text()));
    return true;
}

void FrameAccounting::countDamage(const FrameNumbers& got, qint64 lostPackets)
{
    // The device's pace: frames delivered and lost upstream alike.
    const qint64 now = deliveryMs_ >= 0 ? deliveryMs_ : QDateTime::currentMSecsSinceEpoch();
    deliveryMs_ = -1;
    if (firstFrameMs_ < 0) {
        firstFrameMs_ = now;
        firstPlace_ = delivered_ + lost_;
    }
    lastFrameMs_ = now;
    framesTimed_ = delivered_ + lost_ - firstPlace_;
    if (lostPackets <= 0)
        return;
    ++damaged_;
    if (damagedList_.size() < kListedLosses)
        damagedList_.push_back({got.product, got.capture});
}

void FrameAccounting::countProduct(const FrameNumbers& got)
{
    if (lastNumbers_.product > 0 && got.product != lastNumbers_.product
        && lastNumbers_.capture < schedule_.capturesPerProduct())
        ++incomplete_;
    lastNumbers_ = {got.product, got.capture};
}

void FrameAccounting::noteMismatch(const QString& text)
{
    if (misnumbered_++ == 0)
        firstMismatch_ = text;
}

bool FrameAccounting::answerTrigger(const FrameNumbers& got, qint64 lostBefore, qint64 triggerIndex)
{
    // Without a warning the frame answers the next trigger, after those
    // whose frames the SDK reported lost on the way.
    const qint64 index = triggerIndex > 0 ? triggerIndex : awaitingFirst_ + lostBefore;
    const qint64 skip = index - awaitingFirst_;
    if (skip < 0 || skip >= qint64(awaiting_.size())) {
        lostWithoutFrame(lostBefore, true);
        ++outside_; // answers a trigger of no run: before it, or never sent
        ++unplaced_;
        lastUnplaced_ = true;
        return false;
    }
    // Of the triggers passed over, the last ones lost their frames upstream
    // (as many as the SDK's count skipped); the device made no frame for the
    // earlier ones. Frames the count skipped beyond them answered no trigger
    // of the run: lost, but no product's.
    const qint64 lostHere = std::min(lostBefore, skip);
    for (qint64 i = 0; i < skip; ++i) {
        if (i >= skip - lostHere)
            noteLost(awaiting_.front());
        else
            noteWithoutFrame(awaiting_.front());
        awaiting_.pop_front();
    }
    lost_ += lostBefore - lostHere;
    lostBetweenTriggers_ += lostBefore - lostHere;
    const FrameNumbers want = schedule_.at(awaiting_.front());
    awaiting_.pop_front();
    awaitingFirst_ = index + 1;
    // Where the settings leave the numbers to chance (a product time-out
    // renumbers late captures), the plug-in's numbers are the names.
    lastName_ = check_ ? want : got;
    ++delivered_;
    if (check_ && got != want)
        noteMismatch(QStringLiteral("frame %1 numbered %2, its trigger %3 asked for %4")
                         .arg(delivered_).arg(got.text()).arg(index).arg(want.text()));
    return true;
}

void FrameAccounting::noteLost(qint64 ordinal)
{
    ++lost_;
    lostPlaces_.add(ordinal);
}

QVector<ProductCapture> FrameAccounting::lostFrames() const
{
    QVector<ProductCapture> out;
    for (qint64 o : lostPlaces_.first(kListedLosses)) {
        const FrameNumbers n = schedule_.at(o);
        out.push_back({n.product, n.capture});
    }
    return out;
}

void FrameAccounting::triggerSent()
{
    awaiting_.push_back(triggered_++);
}

void FrameAccounting::triggerNotSent()
{
    noteWithoutFrame(triggered_++);
}

void FrameAccounting::noteWithoutFrame(qint64 ordinal)
{
    withoutFrame_.add(ordinal);
}

void FrameAccounting::deviceReopened()
{
    while (!awaiting_.empty()) {
        noteWithoutFrame(awaiting_.front());
        awaiting_.pop_front();
    }
    awaitingFirst_ = 1;
}

void FrameAccounting::cameraLost(qint64 ms)
{
    const qint64 previousEnd = losses_.isEmpty() ? -1 : losses_.constLast().endMs;
    if (!losses_.isEmpty() && previousEnd < 0)
        return; // still lost: a failed reopen reports the loss again
    // The camera went silent at its last frame; the loss is only heard a
    // silence limit later. Not before the previous loss ended, though.
    losses_.resize(losses_.size() + 1);
    Loss& l = losses_.last();
    l.heardMs = ms;
    l.startMs = std::max(lastFrameMs_ >= 0 ? std::min(lastFrameMs_, ms) : ms, std::min(previousEnd, ms));
    if (framesTimed_ > 0 && lastFrameMs_ > firstFrameMs_)
        l.framesPerSecond = framesTimed_ * 1000.0 / double(lastFrameMs_ - firstFrameMs_);
}

void FrameAccounting::cameraNotOpened()
{
    losses_.resize(losses_.size() + 1); // made in place, as in cameraLost
    losses_.last().startMs = -1;
    losses_.last().heardMs = -1;
}

void FrameAccounting::cameraBack(qint64 backMs)
{
    if (losses_.isEmpty() || losses_.last().endMs >= 0)
        return;
    losses_.last().endMs = backMs;
    losses_.last().reconnected = true;
}

void FrameAccounting::runEnded(qint64 ms, bool timed)
{
    if (!timed && lastNumbers_.product > 0 && lastNumbers_.capture < schedule_.capturesPerProduct())
        ++incomplete_;
    lastNumbers_ = {};
    if (!losses_.isEmpty() && losses_.last().endMs < 0)
        losses_.last().endMs = ms;
    while (!awaiting_.empty()) {
        noteWithoutFrame(awaiting_.front());
        awaiting_.pop_front();
    }
}

void FrameAccounting::followFrom(const FrameNumbers& got, qint64 ordinal)
{
    if (got.product <= 0)
        return;
    const ProductCapture now{got.product, got.capture};
    if (haveLast_ && check_) {
        const ProductCapture want = schedule_.next(last_);
        if (now != want && misnumbered_++ == 0)
            firstMismatch_ = QStringLiteral("frame %1 numbered p%2 c%3, expected p%4 c%5")
                                 .arg(ordinal).arg(now.product).arg(now.capture).arg(want.product).arg(want.capture);
    }
    haveLast_ = true;
    last_ = now;
}

qint64 FrameAccounting::dropped() const
{
    return std::max<qint64>(0, triggered_ - delivered_ - lost_);
}

bool FrameAccounting::clean() const
{
    return lost_ == 0 && placed_ && damaged_ == 0 && dropped() == 0 && notWritten_ == 0 && misnumbered_ == 0
           && withoutFrame_.isEmpty() && losses_.isEmpty() && incomplete_ == 0;
}

QString FrameAccounting::countsText() const
{
    QString text = QStringLiteral("triggered %1, delivered %2, lost upstream %3, dropped %4, not written %5, misnumbered %6")
                       .arg(triggered_).arg(delivered_).arg(lost_).arg(dropped()).arg(notWritten_)
                       .arg(check_ ? QString::number(misnumbered_) : QStringLiteral("not checked"));
    if (damaged_ > 0)
        text += QStringLiteral(", %1 delivered with packets missing").arg(damaged_);
    if (unplaced_ > 0)
        text += QStringLiteral(", %1 unplaced (answering no trigger of the run; kept as unplaced, not counted)").arg(unplaced_);
    if (outside_ > unplaced_)
        text += QStringLiteral(", %1 outside the run (not counted)").arg(outside_ - unplaced_);
    if (incomplete_ > 0)
        text += QStringLiteral(", %1 product(s) incomplete").arg(incomplete_);
    if (!losses_.isEmpty())
        text += QStringLiteral(", camera lost %1 time(s)").arg(losses_.size());
    return text;
}

namespace {

QString pcText(int product, int capture, bool withCapture)
{
    return withCapture ? QStringLiteral("p%1 c%2").arg(product).arg(capture) : QStringLiteral("p%1").arg(product);
}

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

QString FrameAccounting::lossText() const
{
    const bool captures = schedule_.capturesPerProduct() > 1;
    QStringList lines;
    if (!placed_)
        lines << QStringLiteral("frames were lost upstream where their number cannot be told (the SDK's frame count "
                                "restarted); which products are affected is unknown");
    else if (!lostPlaces_.isEmpty())
        lines << QStringLiteral("lost upstream: %1").arg(lostPlaces_.text(schedule_, kListedRanges));
    if (lostBetweenTriggers_ > 0)
        lines << QStringLiteral("lost upstream: %1 frame(s) the device counted between triggers whose frames all arrived "
                                "(no product lacks its frame for them)").arg(lostBetweenTriggers_);
    if (!withoutFrame_.isEmpty())
        lines << QStringLiteral("no frame for the triggers of: %1").arg(withoutFrame_.text(schedule_, kListedRanges));
    if (!damagedList_.isEmpty()) {
        QStringList names;
        for (const ProductCapture& pc : damagedList_)
            names << pcText(pc.product, pc.capture, captures);
        lines << QStringLiteral("packets missing in: %1%2").arg(names.join(QStringLiteral(", ")),
                     damaged_ > damagedList_.size() ? QStringLiteral(" and %1 more after them").arg(damaged_ - damagedList_.size()) : QString());
    }
    for (const Loss& l : losses_) {
        const QJsonObject j = lossJson(l);
        QString text;
        if (l.startMs < 0)
            text = l.reconnected ? QStringLiteral("camera did not open until %1").arg(timeText(l.endMs))
                                 : QStringLiteral("camera never opened during the run");
        else
            text = QStringLiteral("camera lost from %1 to %2%3").arg(timeText(l.startMs), timeText(l.endMs),
                       l.reconnected ? QString() : QStringLiteral(" (the run ended first)"));
        if (l.framesPerSecond > 0)
            text += QStringLiteral(", about %1 frame(s) at the %2 frames/s before it")
                        .arg(j.value(QStringLiteral("framesMissed")).toInt()).arg(l.framesPerSecond, 0, 'f', 1);
        lines << text;
    }
    return lines.join(QLatin1Char('\n'));
}

QJsonObject FrameAccounting::lossJson(const Loss& l) const
{
    QJsonObject j;
    // A camera that never opened before it has no time it was lost at.
    j["start"] = l.startMs < 0 ? QJsonValue() : QJsonValue(QDateTime::fromMSecsSinceEpoch(l.startMs).toString(Qt::ISODateWithMs));
    j["end"] = QDateTime::fromMSecsSinceEpoch(l.endMs).toString(Qt::ISODateWithMs);
    j["heard"] = l.heardMs < 0 ? QJsonValue() : QJsonValue(QDateTime::fromMSecsSinceEpoch(l.heardMs).toString(Qt::ISODateWithMs));
    j["reconnected"] = l.reconnected;
    if (l.framesPerSecond > 0) {
        j["framesPerSecondBefore"] = std::round(l.framesPerSecond * 10) / 10;
        j["framesMissed"] = qint64(std::llround(l.framesPerSecond * double(l.endMs - l.startMs) / 1000.0));
    } else {
        j["framesMissed"] = QJsonValue(); // too few frames before the loss to tell the rate
    }
    return j;
}

void FrameAccounting::writeJson(QJsonObject& j) const
{
    j["triggered"] = triggered_;
    j["delivered"] = delivered_;
    j["lostUpstream"] = lost_;
    j["lossesPlaced"] = placed_;
    j["dropped"] = dropped();
    j["notWritten"] = notWritten_;
    j["framesWithLostPackets"] = damaged_;
    if (check_) {
        j["numberingMismatches"] = misnumbered_;
        if (misnumbered_)
            j["firstNumberingMismatch"] = firstMismatch_;
    }
    j["lostProducts"] = QJsonArray::fromStringList(lostPlaces_.names(schedule_, kListedLosses));
    j["lostBetweenTriggers"] = lostBetweenTriggers_;
    j["framesOutsideRun"] = outside_;
    j["framesUnplaced"] = unplaced_;
    j["productsIncomplete"] = incomplete_;
    if (byTrigger_) {
        j["numberingCheckedBy"] = "trigger";
        j["triggersWithoutFrame"] = withoutFrame_.count();
        j["productsWithoutFrame"] = QJsonArray::fromStringList(withoutFrame_.names(schedule_, kListedLosses));
    } else if (check_) {
        j["numberingCheckedBy"] = "order";
    }
    QJsonArray damaged;
    for (const ProductCapture& pc : damagedList_)
        damaged.append(QStringLiteral("p%1 c%2").arg(pc.product).arg(pc.capture));
    j["framesWithLostPacketsList"] = damaged;
    QJsonArray losses;
    for (const Loss& l : losses_)
        losses.append(lossJson(l));
    j["cameraLosses"] = losses;
}
