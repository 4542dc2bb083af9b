// clockreads.h - cheap reads of the local clock for the frame path.
#ifndef CLOCKREADS_H
#define CLOCKREADS_H

#include <QDateTime>
#include <QTime>

namespace lorvex {

// The local time zone is consulted at most once per second of the clock read
// (and again whenever the TZ variable changes); in between, the offset of that
// second is reused. Zone offsets change only at whole seconds, so the values
// below are exactly what the Qt calls named give, at a fraction of their cost
// (each of those asks the C library about the zone, which without TZ set
// re-reads the zone file's status every time). A change of the system's zone
// file is seen within one second. The caches are per thread.

// Same value as QTime::currentTime().
QTime timeOfDay();

// Same value as QDateTime::fromMSecsSinceEpoch(msecs).time().
QTime timeOfDayAt(qint64 msecsSinceEpoch);

// The instant msecsSinceEpoch with the local wall-clock offset in force at
// that instant (Qt::OffsetFromUTC, or Qt::UTC where that offset is 0). Equal
// (operator==, toMSecsSinceEpoch, date, time, offsetFromUtc) to the local
// QDateTime::fromMSecsSinceEpoch(msecs); only the time spec and the zone name
// differ. The local form cannot be built without asking the C library about
// the zone every time.
QDateTime localDateTime(qint64 msecsSinceEpoch);

} // namespace lorvex

#endif // CLOCKREADS_H
