// hostcamera.cpp
#include "hostcamera.h"

#include "logwatch.h"

#include <QCoreApplication>
#include <QMutexLocker>

HostCamera::HostCamera(CameraInterface* camera, const QString& serial, int index, QObject* parent, LogWatch* log)
    : QObject(parent), cam_(camera), serial_(serial), index_(index), state_(new CameraStateMachine(this)), log_(log), triggers_(std::make_shared<TriggerQueue>()),
      budget_(std::make_shared<Budget>())
{
    qRegisterMetaType<ImageProcessData>("ImageProcessData");
    // First, so that a frame's trigger is queued before the frame itself:
    // runs on the SDK's thread under the camera's mutex, and only notes
    // which trigger the plug-in's warning, written just before, named.
    connect(cam_, &CameraInterface::captureCompleted, this,
            [queue = triggers_, index, log](const ImageProcessData&) {
                const qint64 trigger = log ? log->takeTriggerOfFrame(index) : -1;
                QMutexLocker lock(&queue->mutex);
                queue->indices.push_back(trigger);
            }, Qt::DirectConnection);
    // Queued: the camera must never wait for the host.
    connect(cam_, &CameraInterface::captureCompleted, this, &HostCamera::onFrame, Qt::QueuedConnection);
    connect(cam_, &CameraInterface::CameraLoss, this, [this] {
        state_->lost();
        emit cameraLost();
    }, Qt::QueuedConnection);
    connect(cam_, &CameraInterface::CameraReconnect, this, [this] {
        state_->reconnected();
        emit cameraReconnected();
    }, Qt::QueuedConnection);
}

HostCamera::~HostCamera()
{
    close(Queued::Drop);
}

void HostCamera::onFrame(const ImageProcessData& frame)
{
    {
        QMutexLocker lock(&triggers_->mutex);
        frameTrigger_ = triggers_->indices.empty() ? -1 : triggers_->indices.front();
        if (!triggers_->indices.empty())
            triggers_->indices.pop_front();
    }
    state_->frame();
    emit frameArrived(frame);
    frameTrigger_ = -1;
}

void HostCamera::setTrigParams(const CameraTrigParams& p)
{
    params_ = p;
    if (!cam_)
        return;
    QMutexLocker lock(cam_->getMutex());
    cam_->setTrigParams(&params_);
}

void HostCamera::setRunning(bool on)
{
    if (!cam_)
        return;
    QMutexLocker lock(cam_->getMutex());
    cam_->isRunning = on;
}

void HostCamera::runFrames(int frames)
{
    if (!cam_)
        return;
    budget_->remaining = frames;
    CameraInterface* cam = cam_;
    std::shared_ptr<Budget> budget = budget_;
    QMutexLocker lock(cam->getMutex());
    // The callback is stored by a software trigger; on a device that runs
    // without triggers the trigger itself takes no frame. The plug-in calls
    // it under the camera's mutex for every delivered frame, after numbering
    // it: where numbering stops exactly after the last wanted frame.
    cam->softTrigger(cam->productCounter + 1, 1, [cam, budget] {
        if (cam->isRunning && budget->remaining.fetch_sub(1) <= 1)
            cam->isRunning = false;
    });
    cam->isRunning = true;
}

bool HostCamera::restored()
{
    openRefusal_ = log_ ? log_->takeOpenRefusal(index_) : 0;
    const bool opened = cam_ && !cam_->getImageSize().isEmpty() && openRefusal_ == 0;
    state_->restored(opened);
    return opened;
}

bool HostCamera::trigger(int& productId, int captureIndex)
{
    if (!cam_ || lost())
        return false; // a trigger now would reach no device, or one whose count restarted unheard
    const int droppedBefore = log_ ? log_->triggersDropped(index_) : 0;
    {
        QMutexLocker lock(cam_->getMutex());
        if (productId <= 0)
            productId = cam_->productCounter + 1;
        cam_->softTrigger(productId, captureIndex, std::function<void()>());
    }
    // The plug-in writes its warning on this thread, inside the call.
    return !log_ || log_->triggersDropped(index_) == droppedBefore;
}

void HostCamera::close(Queued queued)
{
    if (!cam_)
        return;
    // The plug-in may run the event loop while it stops the device: what
    // could reach this object from there is cut off first.
    cam_->disconnect(this);
    if (queued == Queued::Drop) {
        disconnect(this, nullptr, nullptr, nullptr);
        disconnect(state_, nullptr, nullptr, nullptr);
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    }
    CameraInterface* cam = cam_;
    cam_ = nullptr;
    state_->closed();
    {
        QMutexLocker lock(cam->getMutex());
        cam->isRunning = false;
    }
    delete cam;
}
