// eventwait.h - letting this thread's events run (queued frames, loss and
// reconnect reports, the cameras' reconnect timers) while a host waits.
#ifndef LORVEXKIT_EVENTWAIT_H
#define LORVEXKIT_EVENTWAIT_H

#include <QtGlobal>

#include <functional>

// Runs the events for up to `ms` milliseconds, or until `done` returns true;
// returns whether `done` did. Without `done` it runs the whole time.
bool runEventsFor(qint64 ms, const std::function<bool()>& done = {});

#endif
