// placeranges.cpp
#include "placeranges.h"

namespace {

QString name(const ProductSchedule& s, qint64 ordinal)
{
    const FrameNumbers n = s.at(ordinal);
    return s.capturesPerProduct() > 1 ? QStringLiteral("p%1 c%2").arg(n.product).arg(n.capture)
                                      : QStringLiteral("p%1").arg(n.product);
}

} // namespace

void PlaceRanges::add(qint64 ordinal)
{
    auto next = ranges_.upper_bound(ordinal);
    if (next != ranges_.begin()) {
        auto prev = std::prev(next);
        if (ordinal <= prev->second)
            return; // already there
        if (prev->second + 1 == ordinal) {
            prev->second = ordinal;
            if (next != ranges_.end() && next->first == ordinal + 1) {
                prev->second = next->second;
                ranges_.erase(next);
            }
            ++count_;
            return;
        }
    }
    if (next != ranges_.end() && next->first == ordinal + 1) {
        const qint64 last = next->second;
        ranges_.erase(next);
        ranges_[ordinal] = last;
    } else {
        ranges_[ordinal] = ordinal;
    }
    ++count_;
}

QString PlaceRanges::text(const ProductSchedule& s, int maxRanges) const
{
    QStringList parts;
    qint64 shown = 0;
    for (auto it = ranges_.begin(); it != ranges_.end(); ++it) {
        if (parts.size() >= maxRanges) {
            parts.last() += QStringLiteral(" and %1 more from %2 on").arg(count_ - shown).arg(name(s, it->first));
            break;
        }
        // Two neighbours read better as a pair than as a range.
        if (it->second - it->first >= 2)
            parts << QStringLiteral("%1-%2").arg(name(s, it->first), name(s, it->second));
        else
            for (qint64 o = it->first; o <= it->second; ++o)
                parts << name(s, o);
        shown += it->second - it->first + 1;
    }
    return parts.join(QStringLiteral(", "));
}

QVector<qint64> PlaceRanges::first(int limit) const
{
    QVector<qint64> out;
    for (auto it = ranges_.begin(); it != ranges_.end() && out.size() < limit; ++it)
        for (qint64 o = it->first; o <= it->second && out.size() < limit; ++o)
            out << o;
    return out;
}

QStringList PlaceRanges::names(const ProductSchedule& s, int limit) const
{
    QStringList out;
    for (qint64 o : first(limit)) {
        const FrameNumbers n = s.at(o);
        out << QStringLiteral("p%1 c%2").arg(n.product).arg(n.capture);
    }
    return out;
}
