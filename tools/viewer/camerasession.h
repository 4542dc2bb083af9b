// camerasession.h - one opened camera in the viewer: the kit's HostCamera
// (creation, trigger settings and running flag under the camera's mutex,
// triggers, reception, teardown, as lorvexhost has them), its settings file,
// the images it sends, and its state, the kit's one state of the camera.
//
// Threads: a session lives on the GUI thread. The HostCamera brings images,
// loss and reconnect reports to it queued, so every member here is touched by
// the GUI thread only. The kit's log watch lock comes after the camera's
// mutex (the frame path logs with it held); the session takes it, to collect
// the losses reported before a frame, holding no other lock.
#ifndef LORVEXVIEWER_CAMERASESSION_H
#define LORVEXVIEWER_CAMERASESSION_H

#include "accounting.h"
#include "camerainterface.h"
#include "hostcamera.h"
#include "framegate.h"
#include "imagemetatype.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class ViewerHost;

class CameraSession : public QObject
{
    Q_OBJECT
public:
    // Creates the camera, hands over the trigger settings and the running
    // flag, then restores its settings file (written with the defaults where
    // there is none), which starts grabbing. A non-null `camera` is used
    // instead of a new one, as it is (tests). The session owns its camera.
    CameraSession(const ViewerHost* host, const QString& serial, int cameraIndex, bool running,
                  CameraInterface* camera = nullptr, QObject* parent = nullptr);
    ~CameraSession() override;

    // Stops the session and deletes the camera. The plug-in may run the
    // event loop while it stops the device, so everything that could be
    // reached from there (timers, queued images, the session's signals) is
    // cut off first. Safe to call twice.
    void close();

    bool valid() const { return camera() != nullptr; }
    CameraInterface* camera() const { return camera_ ? camera_->camera() : nullptr; }
    QString serial() const { return serial_; }
    int cameraIndex() const { return index_; }
    // What opening reported for people (settings written, file invalid, ...).
    QStringList messages() const { return messages_; }

    // The kit's state of the camera (Closed once the session is).
    CameraState state() const;
    const CameraStateMachine* stateMachine() const { return camera_ ? camera_->state() : nullptr; }
    // Received, lost upstream and misnumbered frames since the camera opened.
    const FrameAccounting& accounting() const { return accounting_; }
    // Shown and not shown frames.
    FrameGate& gate() { return gate_; }
    const FrameGate& gate() const { return gate_; }
    double receivedPerSecond() const { return receivedRate_; }
    double shownPerSecond() const { return shownRate_; }

    // Trigger settings: the camera copies them under its mutex.
    const CameraTrigParams& trigParams() const { return params_; }
    void setTrigParams(const CameraTrigParams& p);
    bool running() const { return running_; }
    void setRunning(bool on);
    // One software trigger for the next capture of the host's numbering.
    // False when it reached no device (closed, not opened, lost, or dropped
    // by the plug-in): the numbering then stays where it was.
    bool trigger();
    int nextProduct() const { return next_.product; }
    int nextCapture() const { return next_.capture; }
    // What the next software trigger passes, for people; the Trigger button
    // and the status line both show this one text.
    QString nextText() const;

    // Writes the camera's current settings to its settings file.
    bool saveSettings(QString& error);

    // The newest image received is due for drawing at the screen's pace.
    void setDisplayInterval(int ms) { tick_.setInterval(ms); }

signals:
    void frameReceived(const ImageProcessData& frame);
    void drawDue();
    void stateChanged();
    // Twice a second, with the new frame rates.
    void ratesUpdated();

private:
    void onFrame(const ImageProcessData& frame);
    void onStateChanged(CameraState now, CameraState before);
    void restoreSettings();
    void followTrigParams();
    void updateRates();

    const ViewerHost* host_;
    QString serial_;
    int index_;
    HostCamera* camera_ = nullptr;  // a child; its camera is null once closed
    CameraTrigParams params_;
    bool running_ = false;
    ProductCapture next_{0, 1};   // product 0: continue from the camera's own count
    QStringList messages_;
    FrameAccounting accounting_;
    FrameGate gate_;
    QTimer tick_;
    QTimer rates_;
    qint64 ratesReceived_ = 0, ratesShown_ = 0;
    QElapsedTimer ratesClock_;
    double receivedRate_ = 0.0, shownRate_ = 0.0;
};

#endif
