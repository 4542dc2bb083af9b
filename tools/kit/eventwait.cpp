// eventwait.cpp
#include "eventwait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace {

constexpr int kEventSliceMs = 10;  // longest single pass over the events
constexpr int kPauseMs = 1;        // between passes, so an idle wait costs no core

} // namespace

bool runEventsFor(qint64 ms, const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (done && done())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
        QThread::msleep(kPauseMs);
    }
    // What arrived during the last pause.
    QCoreApplication::processEvents();
    return done && done();
}
