// accounting.cpp
#include "accounting.h"

#include <QJsonArray>
#include <QStringList>

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
    for (qint64 i = 0; i < count && lostList_.size() < kListedLosses; ++i) {
        const FrameNumbers n = schedule_.at(delivered_ + lost_ + i);
        lostList_.push_back({n.product, n.capture});
    }
    lost_ += count;
}

void FrameAccounting::frameReceived(const FrameNumbers& got, qint64 lostBefore, bool placed, qint64 lostPackets)
{
    lostWithoutFrame(lostBefore, placed);
    if (lostPackets > 0)
        ++damaged_;
    // The frame's place in the run counts the lost frames before it: after a
    // loss the plug-in's count runs behind, which is a misnumbering the user
    // must see, not a shift to hide.
    const qint64 ordinal = delivered_ + lost_;
    ++delivered_;
    if (following_) {
        followFrom(got, delivered_);
        return;
    }
    if (!check_ || !placed_)
        return;
    const FrameNumbers want = schedule_.at(ordinal);
    if (got != want && misnumbered_++ == 0)
        firstMismatch_ = QStringLiteral("frame %1 numbered %2, expected %3").arg(ordinal + 1).arg(got.text(), want.text());
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
    return lost_ == 0 && placed_ && damaged_ == 0 && dropped() == 0 && notWritten_ == 0 && misnumbered_ == 0;
}

QString FrameAccounting::countsText() const
{
    QString text = QStringLiteral("triggered %1, delivered %2, lost upstream %3, dropped %4, not written %5, misnumbered %6")
                       .arg(triggered_).arg(delivered_).arg(lost_).arg(dropped()).arg(notWritten_)
                       .arg(check_ ? QString::number(misnumbered_) : QStringLiteral("not checked"));
    if (damaged_ > 0)
        text += QStringLiteral(", %1 delivered with packets missing").arg(damaged_);
    return text;
}

QString FrameAccounting::lossText() const
{
    if (!placed_)
        return QStringLiteral("frames were lost upstream where their number cannot be told (the SDK's frame count restarted); "
                              "which products are affected is unknown");
    if (lostList_.isEmpty())
        return QString();
    QStringList names;
    for (const ProductCapture& pc : lostList_)
        names << (schedule_.capturesPerProduct() > 1 ? QStringLiteral("p%1 c%2").arg(pc.product).arg(pc.capture)
                                                     : QStringLiteral("p%1").arg(pc.product));
    QString text = QStringLiteral("lost upstream: %1").arg(names.join(QStringLiteral(", ")));
    if (lost_ > lostList_.size())
        text += QStringLiteral(" and %1 more").arg(lost_ - lostList_.size());
    return text;
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
    QJsonArray lost;
    for (const ProductCapture& pc : lostList_)
        lost.append(QStringLiteral("p%1 c%2").arg(pc.product).arg(pc.capture));
    j["lostProducts"] = lost;
}
