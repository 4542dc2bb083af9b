#include "clockreads.h"

#include <cstdlib>

namespace lorvex {
namespace {

constexpr qint64 kMsecsPerDay = 86400000;

// The local zone's offset from UTC in force during one second of UTC.
struct OffsetCache
{
    qint64 second = -1;
    qint64 offsetMs = 0;
    const char* tz = nullptr;

    qint64 offsetAt(qint64 second)
    {
        // Qt reads TZ on every call; a changed variable is a changed zone.
        const char* tzNow = std::getenv("TZ");
        if (second != this->second || tzNow != tz) {
            // The local wall time of that second, read back as if it were UTC.
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::LocalTime);
            const QDateTime wall(local.date(), local.time(), Qt::UTC);
            offsetMs = local.isValid() ? wall.toMSecsSinceEpoch() - second * 1000 : 0;
            this->second = second;
            tz = tzNow;
        }
        return offsetMs;
    }
};

// One per use, since the clock read now and a device's clock lie far apart.
thread_local OffsetCache nowCache;
thread_local OffsetCache stampCache;

} // namespace

QTime timeOfDayAt(qint64 msecsSinceEpoch)
{
    // Before the epoch Qt applies a rule of its own; no clock of ours is there.
    if (msecsSinceEpoch < 0)
        return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).time();
    const qint64 wall = msecsSinceEpoch + nowCache.offsetAt(msecsSinceEpoch / 1000);
    qint64 ofDay = wall % kMsecsPerDay;
    if (ofDay < 0)
        ofDay += kMsecsPerDay;
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(ofDay));
}

QTime timeOfDay()
{
    return timeOfDayAt(QDateTime::currentMSecsSinceEpoch());
}

QDateTime localDateTime(qint64 msecsSinceEpoch)
{
    if (msecsSinceEpoch < 0)
        return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    const qint64 offsetMs = stampCache.offsetAt(msecsSinceEpoch / 1000);
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::OffsetFromUTC, static_cast<int>(offsetMs / 1000));
}

} // namespace lorvex
