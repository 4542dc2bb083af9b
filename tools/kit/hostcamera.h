// hostcamera.h - the host's side of one camera, shared by every host of this
// project: it takes the camera object a plug-in made, writes the trigger
// settings and the running flag and fires software triggers under the
// camera's mutex, brings frames, loss and reconnect reports to the host's
// thread, notes which trigger each frame answers, and tears the camera down.
//
// Threads: a HostCamera lives on the thread that created the camera (the
// host's, with an event loop for the plug-in's reconnect timer). The camera
// emits frames on the SDK's thread with its mutex held, loss reports on SDK
// or pool threads; they reach the HostCamera queued, so its members are
// touched by the host's thread only (its state machine too), except `triggers_` (see below) and the
// budget, an atomic read under the camera's mutex. Lock order: the camera's
// mutex, then the log watch's lock, then `triggers_`'s mutex; the host never
// holds the camera's mutex while it waits for anything.
#ifndef LORVEXKIT_HOSTCAMERA_H
#define LORVEXKIT_HOSTCAMERA_H

#include "camerainterface.h"
#include "camerastate.h"
#include "imagemetatype.h"
#include "logwatch.h"

#include <QMutex>
#include <QObject>

#include <atomic>
#include <deque>
#include <memory>

class HostCamera : public QObject
{
    Q_OBJECT
public:
    // Takes ownership of `camera`, made by a plug-in with camera number
    // `index`, and connects to it. Call before its settings are restored
    // (which starts grabbing), so that no frame goes unseen.
    // `log` is the watch that reads the plug-in's records about this camera
    // (the installed one unless told); it must outlive the HostCamera.
    HostCamera(CameraInterface* camera, const QString& serial, int index, QObject* parent = nullptr,
               LogWatch* log = LogWatch::installed());
    ~HostCamera() override;

    CameraInterface* camera() const { return cam_; }
    QString serial() const { return serial_; }
    int index() const { return index_; }
    LogWatch* logWatch() const { return log_; }

    // The camera's state as this host heard it; its changed() signal tells
    // every change. Hosts derive what they show and count from it.
    const CameraStateMachine* state() const { return state_; }
    // No device to reach: it did not open, or is lost until its reconnect.
    bool lost() const { return state_->down(); }
    // Call once the settings restore ended: a camera that did not open at
    // creation reported its loss before anyone listened, and it reports no
    // image size; the state says so from here. A refused open may leave a
    // stored image size: the plug-in's record of the refusal tells. True
    // when it opened.
    bool restored();
    // The SDK's status of the refused open that restored() heard; 0: none.
    quint32 openRefusal() const { return openRefusal_; }

    // The camera copies the record; written under its mutex.
    void setTrigParams(const CameraTrigParams& p);
    const CameraTrigParams& trigParams() const { return params_; }
    // The running flag, under the camera's mutex.
    void setRunning(bool on);
    // Sets the running flag and lets a device that runs without triggers
    // number exactly `frames` frames, then stop numbering.
    void runFrames(int frames);

    // One software trigger under the camera's mutex. A `productId` of 0 or
    // less becomes the camera's next product (read under the same lock).
    // False when the trigger did not reach the device: the camera is lost,
    // or the plug-in reported it dropped it.
    bool trigger(int& productId, int captureIndex);

    // During frameArrived: the trigger index the plug-in's trigger warning
    // named for this frame (counted from the device's open), or -1.
    qint64 triggerOfFrame() const { return frameTrigger_; }

    enum class Queued { Deliver, Drop };
    // Stops numbering and deletes the camera (the plug-in stops and closes
    // the device). With Queued::Drop, frames and reports already on their
    // way are dropped too; with Deliver they still arrive (a run takes them
    // in). Safe to call twice.
    void close(Queued queued = Queued::Deliver);

signals:
    void frameArrived(const ImageProcessData& frame);
    void cameraLost();
    void cameraReconnected();

private:
    void onFrame(const ImageProcessData& frame);

    // The trigger each handed-over frame answers (-1: no warning), in
    // emission order: pushed on the SDK's thread by a receiver connected
    // directly, taken here with the queued frame. Guarded by its mutex.
    struct TriggerQueue
    {
        QMutex mutex;
        std::deque<qint64> indices;
    };
    // Frames a device without triggers may still number (runFrames).
    struct Budget
    {
        std::atomic<int> remaining{0};
    };

    CameraInterface* cam_;
    QString serial_;
    int index_;
    CameraTrigParams params_;
    CameraStateMachine* state_;  // a child
    LogWatch* log_;              // may be null: no records read
    quint32 openRefusal_ = 0;
    qint64 frameTrigger_ = -1;
    std::shared_ptr<TriggerQueue> triggers_;
    std::shared_ptr<Budget> budget_;
};

#endif
