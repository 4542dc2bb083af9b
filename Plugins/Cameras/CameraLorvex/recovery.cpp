// Loss and recovery: the SDK's exception callback, the reconnect timer and
// the reconnect task on Qt's global thread pool.
#include "cameralorvex.h"
#include "devicetable.h"

#include <QMutexLocker>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent>

#include <chrono>

namespace {

// How long the exception callback waits for the device lock at a time.
constexpr int kDeviceWaitStepMs = 10;

// Every camera object alive in this process. The SDK does not promise that a
// disconnect notice never arrives after its handle was destroyed, so the
// callback accepts its user pointer only while that camera is registered, and
// counts itself in before the registry lock is let go; the destructor
// unregisters first and then waits for the count to drop to zero.
// Never destroyed: a host may delete its cameras (or unload the plug-in,
// which deletes the root object) after this library's statics are gone.
QMutex& liveCamerasMutex()
{
    static QMutex* const mutex = new QMutex;
    return *mutex;
}

QSet<const CameraLorvex*>& liveCameras()
{
    static QSet<const CameraLorvex*>* const cameras = new QSet<const CameraLorvex*>;
    return *cameras;
}

struct InFlight
{
    explicit InFlight(std::atomic<int>& counter) : counter(counter) {}
    ~InFlight() { --counter; }
    std::atomic<int>& counter;
};

} // namespace

void CameraLorvex::registerLiveCamera(const CameraLorvex* camera)
{
    QMutexLocker registry(&liveCamerasMutex());
    liveCameras().insert(camera);
}

void CameraLorvex::unregisterLiveCamera(const CameraLorvex* camera)
{
    QMutexLocker registry(&liveCamerasMutex());
    liveCameras().remove(camera);
}

void MV_CC_CALL CameraLorvex::ExceptionImageCallBack(unsigned int nMsgType, void* pUser)
{
    if (nMsgType != MV_EXCEPTION_DEV_DISCONNECT)
        return;
    if (!pUser)
        return;
    CameraLorvex* camera = static_cast<CameraLorvex*>(pUser);
    {
        QMutexLocker registry(&liveCamerasMutex());
        if (!liveCameras().contains(camera))
            return;  // a late notice for a camera that is gone
        // The destructor waits for this count to drop to zero before it lets
        // the object go.
        ++camera->exceptionCallsInFlight;
    }
    InFlight inFlight(camera->exceptionCallsInFlight);
    if (camera->bShuttingDown)
        return;

    qInfo().noquote() << QString("camera %1 disconnect").arg(camera->serialNumber);

    // The close must not interleave with a trigger, a feature access, a
    // restart or the destructor on the host's thread: all of them hold or try
    // the device lock. It is waited for in short steps, and never for long:
    // the SDK's destruction of the handle, in a close or restart that holds
    // the lock, waits for this very callback to return. Such an operation
    // takes the notice over instead.
    while (!camera->deviceMutex.try_lock_for(std::chrono::milliseconds(kDeviceWaitStepMs))) {
        if (camera->bShuttingDown)
            return;
        QMutexLocker loss(&camera->lossMutex);
        if (camera->deviceOperations > 0) {
            camera->deferredLoss = true;
            camera->deferredGeneration = camera->cameraDevice.generation();
            return;
        }
    }
    // A camera the host closed, or one already lost, has nothing to lose:
    // marking it lost would reopen a camera closed on purpose.
    if (camera->bShuttingDown || !camera->cameraDevice.isOpen()) {
        camera->deviceMutex.unlock();
        return;
    }
    camera->stopAndClose();
    // Still under the device lock, so that a reconnect task cannot slip a
    // reopen and its flag-clearing in between the close and the flag.
    camera->markLost();
    camera->deviceMutex.unlock();
}

CameraLorvex::DeviceOperation::DeviceOperation(CameraLorvex& camera, Ends ends) : camera(camera), ends(ends)
{
    camera.deviceMutex.lock();
    QMutexLocker loss(&camera.lossMutex);
    ++camera.deviceOperations;
}

CameraLorvex::DeviceOperation::~DeviceOperation()
{
    settleNotices(true);
    camera.deviceMutex.unlock();
}

void CameraLorvex::DeviceOperation::settleNotices(bool finishing)
{
    for (;;) {
        unsigned int generation = 0;
        {
            QMutexLocker loss(&camera.lossMutex);
            // An outer operation (one whose pause ran this one) settles them.
            if (!camera.deferredLoss || camera.deviceOperations > 1) {
                if (finishing)
                    --camera.deviceOperations;
                return;
            }
            camera.deferredLoss = false;
            generation = camera.deferredGeneration;
        }
        // Still counted as an operation: a notice that comes meanwhile is
        // deferred again rather than waiting for the lock. The host's close
        // releases the device itself and leaves the camera closed.
        if (ends == Ends::OpenOrLost)
            camera.settleDeferredLoss(generation);
    }
}

void CameraLorvex::settleDeferredLoss(unsigned int generation)
{
    // The notice was about the handle that is open now: it is gone.
    if (cameraDevice.isOpen() && cameraDevice.generation() == generation)
        stopAndClose();
    if (!cameraDevice.isOpen() && !cameraDevice.isLost())
        markLost();
}

void CameraLorvex::onReconnectTimer()
{
    if (!cameraDevice.isLost())
        return;
    if (reconnectFuture.isRunning())
        return;
    reconnectFuture = QtConcurrent::run(QThreadPool::globalInstance(), [this] { reconnectTask(); });
}

void CameraLorvex::reconnectTask()
{
    qInfo() << "Reopening camera" << cameraIndex;
    // Under the device lock from the attempt to the cleared flag: a disconnect
    // that comes meanwhile is settled after it and leaves the flag set.
    DeviceOperation operation(*this);
    // Closed by its host since the timeout: a close is final.
    if (!cameraDevice.isLost())
        return;
    if (!CameraReopen())
        return;
    // A disconnect during the reopen: the device is gone again.
    operation.settle();
    if (!cameraDevice.isOpen())
        return;
    qInfo() << "Successfully reopening camera" << cameraIndex;
    emit CameraReconnect();
    cameraDevice.found();
}

bool CameraLorvex::CameraReopen()
{
    if (bShuttingDown)
        return false;
    // Opened meanwhile by another path (restartCamera): the live handle is
    // neither replaced nor opened twice; the camera is simply back.
    if (cameraDevice.isOpen())
        return true;
    {
        QMutexLocker table(&lorvex::deviceTableMutex());
        lorvex::enumAcceptedDevicesLocked();
        if (static_cast<int>(lorvex::acceptedDevices().nDeviceNum) != lorvex::listedDeviceCount())
            return false;
    }
    const bool grabbing = bringUpDevice(OpenFirst::Yes);
    if (!cameraDevice.isOpen())
        return false;
    // A device that opens but will not grab would stay silent while the host
    // believes it back: give it up, report the loss, try at the next timeout.
    if (!grabbing) {
        qWarning() << "Camera" << cameraIndex << "reopened but refused to start grabbing; closed, retried later";
        stopAndClose();
        markLost();
        return false;
    }
    return true;
}
