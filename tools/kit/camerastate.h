// camerastate.h - the one host-side state of a camera: whether it opened,
// delivers frames, is lost or being reconnected, or was closed; and the
// outages it had. Every host of this project reads the camera's state here
// and is told of each change by one signal.
//
// Threads: lives on the host's thread with the HostCamera that feeds it (the
// loss and reconnect reports and the frames reach it queued); its timers need
// that thread's event loop. Nothing in it is touched from another thread.
#ifndef LORVEXKIT_CAMERASTATE_H
#define LORVEXKIT_CAMERASTATE_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class CameraStateMachine : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Opening,       // made by the plug-in, settings not yet restored
        NotOpened,     // the device did not open at creation; the plug-in retries it
        Open,          // open, no frame lately
        Grabbing,      // open, frames arriving
        Lost,          // the plug-in reported the camera lost
        Reconnecting,  // lost for longer than one retry interval
        Closed,        // the host closed it; final
    };
    Q_ENUM(State)

    // The plug-in retries a lost camera every 3 s: after the first retry the
    // camera counts as reconnecting.
    static constexpr qint64 kFirstRetryMs = 3000;
    // A camera that sent nothing for this long is open but not grabbing.
    static constexpr qint64 kGrabbingWithinMs = 1500;

    explicit CameraStateMachine(QObject* parent = nullptr);

    State state() const { return state_; }
    // No device to reach: not opened, lost or reconnecting.
    bool down() const { return isDown(state_); }
    static bool isDown(State s) { return s == State::NotOpened || s == State::Lost || s == State::Reconnecting; }

    // Events, as the host hears them.
    // The settings restore ended; `opened`: the camera reports an image size.
    // A device that failed to open told its loss inside the plug-in's
    // creation, before any host could listen: this is where it is heard.
    void restored(bool opened);
    void frame();
    void lost();
    void reconnected();
    void closed();

    // Outages: losses of a camera that had been open, each ended by a
    // reconnect (a camera that never opened had no outage).
    int outages() const { return outages_; }
    // Start and end (ms since the epoch) and length of the last outage that
    // ended; 0 before any.
    qint64 lastOutageStart() const { return lastStart_; }
    qint64 lastOutageEnd() const { return lastEnd_; }
    qint64 lastOutageMs() const { return lastEnd_ - lastStart_; }

signals:
    void changed(CameraStateMachine::State now, CameraStateMachine::State before);

private:
    void enter(State s);
    void check();

    State state_ = State::Opening;
    QElapsedTimer sinceFrame_;
    QElapsedTimer downFor_;
    QTimer check_;  // runs while a state may change by time alone
    int outages_ = 0;
    qint64 downSince_ = 0;  // when the current outage began
    qint64 lastStart_ = 0, lastEnd_ = 0;
};

using CameraState = CameraStateMachine::State;

// For people: "grabbing", "lost", "did not open (retried every 3 s)", ...
QString stateText(CameraState s);
// For files: the state's name as one word ("grabbing", "notOpened", ...).
QString stateKey(CameraState s);

#endif
