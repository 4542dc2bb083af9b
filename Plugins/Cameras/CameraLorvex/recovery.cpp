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
    // the device lock. It is waited for in short steps, because the destructor
    // may hold it while the SDK waits for this very callback to return.
    while (!camera->deviceMutex.try_lock_for(std::chrono::milliseconds(10))) {
        if (camera->bShuttingDown)
            return;
    }
    if (camera->bShuttingDown) {
        camera->deviceMutex.unlock();
        return;
    }
    camera->closeCamera();
    // Still under the device lock, so that a reconnect task cannot slip a
    // reopen and its flag-clearing in between the close and the flag.
    emit camera->CameraLoss();
    camera->bCameraLost = true;
    camera->deviceMutex.unlock();
}

void CameraLorvex::onReconnectTimer()
{
    if (!bCameraLost)
        return;
    if (reconnectFuture.isRunning())
        return;
    reconnectFuture = QtConcurrent::run(QThreadPool::globalInstance(), [this] { reconnectTask(); });
}

void CameraLorvex::reconnectTask()
{
    qInfo() << "Reopening camera" << cameraIndex;
    // Under the device lock from the attempt to the cleared flag: a disconnect
    // that comes meanwhile is handled after it and leaves the flag set.
    QMutexLocker device(&deviceMutex);
    if (!CameraReopen())
        return;
    qInfo() << "Successfully reopening camera" << cameraIndex;
    emit CameraReconnect();
    bCameraLost = false;
}

bool CameraLorvex::CameraReopen()
{
    QMutexLocker device(&deviceMutex);
    if (bShuttingDown)
        return false;
    // Opened meanwhile by another path (restartCamera): the live handle is
    // neither replaced nor opened twice; the camera is simply back.
    if (bOpened)
        return true;
    {
        QMutexLocker table(&lorvex::deviceTableMutex());
        lorvex::enumAcceptedDevicesLocked();
        if (static_cast<int>(lorvex::acceptedDevices().nDeviceNum) != lorvex::listedDeviceCount())
            return false;
    }
    CameraOpen();
    readBackGeometryLocked();
    CameraStart();
    return bOpened != 0;
}
