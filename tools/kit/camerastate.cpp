// camerastate.cpp
#include "camerastate.h"

#include <QDateTime>
#include <QMetaEnum>

namespace {

// How often the time-driven moves (grabbing to open, lost to reconnecting)
// are checked while one may be due.
constexpr int kCheckEveryMs = 250;

} // namespace

QString stateText(CameraState s)
{
    switch (s) {
    case CameraState::Opening: return QObject::tr("opening");
    case CameraState::NotOpened: return QObject::tr("did not open (retried every 3 s)");
    case CameraState::Open: return QObject::tr("open");
    case CameraState::Grabbing: return QObject::tr("grabbing");
    case CameraState::Lost: return QObject::tr("lost");
    case CameraState::Reconnecting: return QObject::tr("reconnecting");
    case CameraState::Closed: return QObject::tr("closed");
    }
    return QString();
}

QString stateKey(CameraState s)
{
    QString key = QString::fromLatin1(QMetaEnum::fromType<CameraState>().valueToKey(int(s)));
    if (!key.isEmpty())
        key[0] = key[0].toLower();
    return key;
}

CameraStateMachine::CameraStateMachine(QObject* parent) : QObject(parent)
{
    check_.setInterval(kCheckEveryMs);
    connect(&check_, &QTimer::timeout, this, &CameraStateMachine::check);
}

void CameraStateMachine::enter(State s)
{
    if (s == state_)
        return;
    const State before = state_;
    state_ = s;
    const bool timed = s == State::Grabbing || s == State::Lost;
    if (timed && !check_.isActive())
        check_.start();
    else if (!timed)
        check_.stop();
    emit changed(s, before);
}

void CameraStateMachine::restored(bool opened)
{
    if (state_ != State::Opening)
        return;  // a loss or reconnect heard meanwhile says more
    enter(opened ? State::Open : State::NotOpened);
}

void CameraStateMachine::frame()
{
    sinceFrame_.start();
    if (state_ == State::Open || state_ == State::Opening)
        enter(State::Grabbing);
}

void CameraStateMachine::lost()
{
    if (state_ == State::Closed || isDown(state_))
        return;
    downFor_.start();
    downSince_ = QDateTime::currentMSecsSinceEpoch();
    // Lost before the restore ended: it opened, then went away.
    enter(State::Lost);
}

void CameraStateMachine::reconnected()
{
    if (!isDown(state_) && state_ != State::Opening)
        return;
    if (state_ == State::Lost || state_ == State::Reconnecting) {
        ++outages_;
        lastStart_ = downSince_;
        lastEnd_ = QDateTime::currentMSecsSinceEpoch();
    }
    enter(State::Open);
}

void CameraStateMachine::closed()
{
    enter(State::Closed);
}

void CameraStateMachine::check()
{
    if (state_ == State::Grabbing && sinceFrame_.elapsed() >= kGrabbingWithinMs)
        enter(State::Open);
    else if (state_ == State::Lost && downFor_.elapsed() >= kFirstRetryMs)
        enter(State::Reconnecting);
    else if (state_ != State::Grabbing && state_ != State::Lost)
        check_.stop();
}
