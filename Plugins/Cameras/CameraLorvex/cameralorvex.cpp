// Identity and the small interface answers, construction and teardown.
#include "cameralorvex.h"
#include "triggertypes.h"

#include <QMutexLocker>
#include <QThread>

#include <cstring>
#include <limits>

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

    {
        QMutexLocker device(&deviceMutex);
        CameraStop();
        CameraClose();
    }

    // An exception callback that began before the close may still be emitting
    // CameraLoss; the object must outlive it.
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
    QMutexLocker geometry(&geometryMutex);
    writeParamsWrap(json);
}

void CameraLorvex::deserialize(const QJsonObject& json)
{
    {
        // The device lock keeps a reconnect's geometry read-back from writing
        // the panel fields while they are restored. No cameraMutex: the host
        // may hold it around this call.
        DeviceOperation operation(*this);
        QJsonObject copy = json;
        readParamsWrap(copy);
        if (cameraDevice.isOpen()) {
            {
                QMutexLocker geometry(&geometryMutex);
                channels = (bMonoSensor || !colorImage) ? 1 : 3;
            }
            // A device already grabbing is only read back: a second start
            // would be refused, and that refusal is no loss.
            if (cameraDevice.isGrabbing())
                readBackGeometry();
            else
                bringUpOrLose(OpenFirst::No);
        }
    }
    reconnectTimer->start(3000);
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

QSize CameraLorvex::getImageSize()
{
    QMutexLocker geometry(&geometryMutex);
    return QSize(width, height);
}

int CameraLorvex::getChannels()
{
    QMutexLocker geometry(&geometryMutex);
    return channels;
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
    QMutexLocker geometry(&geometryMutex);
    // A restored panel may hold any numbers: a size OpenCV refuses, or one
    // that cannot be allocated, gives an empty image rather than an exception
    // through the host.
    if (width < 0 || height < 0)
        return cv::Mat();
    try {
        return cv::Mat::zeros(height, width, matType);
    } catch (const std::exception&) {
        return cv::Mat();
    }
}

void CameraLorvex::hostHookB()
{
}
