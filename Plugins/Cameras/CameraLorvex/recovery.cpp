// The SDK's callbacks, the reconnect timer and the reconnect task on Qt's
// global thread pool. The device (lorvexdevice.h) runs the loss and the
// reopen; this file only hands them over.
#include "cameralorvex.h"
#include "devicetable.h"

#include <QMutexLocker>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent>


namespace {

// Every camera object alive in this process. The SDK does not promise that a
// disconnect notice never arrives after its handle was destroyed, so the
// callback accepts its user pointer only while that camera is registered, and
// counts itself in before the registry lock is let go; the destructor
// unregisters first and then waits for the count to drop to zero.
// Never destroyed: a host may delete its cameras (or unload the plug-in,
// which deletes the root object) after this library's statics are gone.
lorvex::RankedMutex& liveCamerasMutex()
{
    static lorvex::RankedMutex* const mutex = new lorvex::RankedMutex(lorvex::LockRank::LiveCameras, "liveCamerasMutex");
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
    lorvex::RankedLocker registry(liveCamerasMutex());
    liveCameras().insert(camera);
}

void CameraLorvex::unregisterLiveCamera(const CameraLorvex* camera)
{
    lorvex::RankedLocker registry(liveCamerasMutex());
    liveCameras().remove(camera);
}

void MV_CC_CALL CameraLorvex::ImageCallBack(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* user)
{
    static_cast<CameraLorvex*>(user)->framePath.deliver(data, info);
}

void MV_CC_CALL CameraLorvex::ExceptionImageCallBack(unsigned int nMsgType, void* pUser)
{
    if (nMsgType != MV_EXCEPTION_DEV_DISCONNECT)
        return;
    if (!pUser)
        return;
    CameraLorvex* camera = static_cast<CameraLorvex*>(pUser);
    {
        lorvex::RankedLocker registry(liveCamerasMutex());
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
    // Settled here when no device operation runs; otherwise the running one
    // takes it over, and this callback returns at once: the SDK's destroy
    // of the handle, in that operation, waits for it.
    camera->cameraDevice.noticeDisconnect();
}

void CameraLorvex::onReconnectTimer()
{
    if (!cameraDevice.reconnectDue())
        return;
    if (reconnectFuture.isRunning())
        return;
    reconnectFuture = QtConcurrent::run(QThreadPool::globalInstance(), [this] { reconnectTask(); });
}

void CameraLorvex::reconnectTask()
{
    if (bShuttingDown)
        return;
    qInfo() << "Reopening camera" << cameraIndex;
    cameraDevice.reopen();
}
