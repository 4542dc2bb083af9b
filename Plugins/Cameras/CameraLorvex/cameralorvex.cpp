// Identity and the small interface answers, construction and teardown.
#include "cameralorvex.h"
#include "triggercodes.h"

#include <QMutexLocker>
#include <QThread>

#include <cstring>
#include <limits>

namespace {

// The reconnect timer's period: a lost camera is tried this often.
constexpr int kReconnectIntervalMs = 3000;

} // namespace

CameraLorvex::CameraLorvex()
{
    initialTriggerType = 1;
    trigParams = new CameraTrigParams;
    trigParams->triggerType = initialTriggerType;
    // Until the device gives its exposure limits, none: an exposure time set
    // before the first open is kept as given, not clamped to nothing.
    exposureMin = 0.0f;
    exposureMax = std::numeric_limits<float>::max();
    reconnectTimer = new QTimer(this);
    connect(reconnectTimer, &QTimer::timeout, this, &CameraLorvex::onReconnectTimer);
    registerLiveCamera(this);
}

CameraLorvex::~CameraLorvex()
{
    // From here on a disconnect notice is not accepted at all, and one already
    // accepted gives up instead of closing.
    unregisterLiveCamera(this);
    bShuttingDown = true;

    // No new reconnect task can begin once the timer is stopped; a queued one
    // is cancelled and a running one is waited for.
    reconnectTimer->stop();
    reconnectFuture.cancel();
    reconnectFuture.waitForFinished();

    // Waits its turn behind an operation of another thread, then stops and
    // closes the device for good.
    cameraDevice.shutDown();

    // An exception callback that began before the close may still be settling
    // a loss; the object must outlive it.
    while (exceptionCallsInFlight.load() > 0)
        QThread::msleep(1);

    delete trigParams;
    trigParams = nullptr;
    qDeleteAll(paramItems);
    paramItems.clear();
    qDeleteAll(retiredParamItems);
    retiredParamItems.clear();
}

// ---- SerializeInterface ------------------------------------------------------

void CameraLorvex::serialize(QJsonObject& json)
{
    // A reconnect's read-back writes the geometry and limits on a pool thread.
    lorvex::RankedLocker panel(cameraDevice.panelLock());
    writeParamsWrap(json);
}

void CameraLorvex::deserialize(const QJsonObject& json)
{
    {
        // The panel part, at once even when an operation runs: a reconnect's
        // read-back must not write the panel's fields while they are restored.
        lorvex::RankedLocker panel(cameraDevice.panelLock());
        QJsonObject copy = json;
        readParamsWrap(copy);
    }
    // The device part: the read-back and the start, as one operation.
    cameraDevice.restore();
    reconnectTimer->start(kReconnectIntervalMs);
}

// ---- PluginInterface ---------------------------------------------------------

QString CameraLorvex::getPluginID()
{
    return QStringLiteral("com.zeq.quorlan.camerainterface.CameraLorvex");
}

QString CameraLorvex::getPluginName()
{
    return QString::fromUtf8("Lorvex相机");
}

QString CameraLorvex::getVersion()
{
    return tr("V1.10");
}

QString CameraLorvex::getHelpText()
{
    return QString::fromUtf8("请查看帮助文档");
}

QPixmap CameraLorvex::getIcon()
{
    // Resolves only through resources the host registered.
    return QPixmap(QStringLiteral(":/img/Resources/ProcessColor.png"));
}

QVector<ParamWrap*>* CameraLorvex::getParamItems()
{
    return &paramItems;
}

bool CameraLorvex::hostFlagQuery()
{
    return true;
}

quint64 CameraLorvex::hostObjectQuery()
{
    return 0;
}

// ---- CameraInterface: small answers ------------------------------------------

QString CameraLorvex::getSerialNumber()
{
    return serialNumber;
}

// The size answers read the format the frames are shaped to: a host that
// sizes its buffers from them gets the frames' size.
QSize CameraLorvex::getImageSize()
{
    const FrameFormat format = framePath.format();
    return QSize(format.width, format.height);
}

int CameraLorvex::getChannels()
{
    return framePath.format().channels;
}

bool CameraLorvex::hasCapabilityA()
{
    return true;
}

int CameraLorvex::getTriggerTypeMask()
{
    return lorvex::trigger::kAllTypes;
}

void CameraLorvex::setTrigParams(CameraTrigParams* params)
{
    // The caller holds getMutex() while frames can arrive.
    *trigParams = *params;
}

void CameraLorvex::hostHookA()
{
}

void CameraLorvex::saveParams()
{
    serialize(storedParams);
}

void CameraLorvex::loadParams()
{
    deserialize(storedParams);
}

bool CameraLorvex::hasCapabilityB()
{
    return false;
}

QMutex* CameraLorvex::getMutex()
{
    return &cameraMutex;
}

cv::Mat CameraLorvex::getBlankImage()
{
    const FrameFormat format = framePath.format();
    // A device may report any numbers: a size that cannot be allocated gives
    // an empty image rather than an exception through the host.
    try {
        return cv::Mat::zeros(format.height, format.width, format.matType);
    } catch (const std::exception&) {
        return cv::Mat();
    }
}

void CameraLorvex::hostHookB()
{
}

void CameraLorvex::closeCamera()
{
    cameraDevice.close();
}

void CameraLorvex::restartCamera()
{
    cameraDevice.restart();
}

// ---- what the device tells -----------------------------------------------------

void CameraLorvex::Events::deviceLost()
{
    // Not while the camera is being deleted: its host has let it go.
    if (!camera.bShuttingDown)
        emit camera.CameraLoss();
}

void CameraLorvex::Events::deviceReconnected()
{
    if (!camera.bShuttingDown)
        emit camera.CameraReconnect();
}

void CameraLorvex::Events::formatChanged(const FrameFormat& format, const MV_CC_PIXEL_CONVERT_PARAM& convert)
{
    camera.framePath.setFormat(format, convert);
}
