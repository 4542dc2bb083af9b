// placeranges.h - places in a run (frame ordinals), kept as sorted ranges so
// that a report can list every one of them briefly without hiding any: a
// list cut short names where it stops, and nothing before that is left out.
#ifndef LORVEXKIT_PLACERANGES_H
#define LORVEXKIT_PLACERANGES_H

#include "schedule.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <map>

// Not shared between threads.
class PlaceRanges
{
public:
    void add(qint64 ordinal);
    qint64 count() const { return count_; }
    bool isEmpty() const { return count_ == 0; }
    // "p3, p5-p9, p12 c2" in run order: at most `maxRanges` ranges, then
    // "and N more from pX on" so that the cut is visible.
    QString text(const ProductSchedule& s, int maxRanges) const;
    // The first `limit` places, in run order.
    QVector<qint64> first(int limit) const;
    // Each of those as "p3 c1".
    QStringList names(const ProductSchedule& s, int limit) const;

private:
    std::map<qint64, qint64> ranges_; // first ordinal -> last, disjoint, not touching
    qint64 count_ = 0;
};

#endif
