// Parameter changes from the host, exposure configurations and the
// quick-adjust list.
#include "cameralorvex.h"

namespace {

// Returned by selectExposure when the device is closed or being closed: the
// handle must not be used then. Shaped like the SDK's own error statuses.
constexpr int kStatusNoDevice = static_cast<int>(0x80000000u);

} // namespace

void CameraLorvex::paramsChanged()
{
    lorvex::HostLocker frames(&cameraMutex);
    qInfo() << "CameraLorvex::paramsChanged";
    // A device being opened or closed has nothing to read.
    cameraDevice.readBackIfFree();
}

void CameraLorvex::setExposureCount(int count)
{
    if (count > kMaxExposureCount) {
        qWarning() << "Camera" << cameraIndex << "exposure count" << count << "refused, at most"
                   << kMaxExposureCount;
        return;
    }
    exposureCount = count < 0 ? 0 : count;
    // The host may still hold the old items; they are deleted with the camera.
    retiredParamItems += paramItems;
    paramItems.clear();
    buildParamsWrap();
}

int CameraLorvex::selectExposure(int index)
{
    if (index < 0 || index >= exposureTimes.size())
        return -1;
    exposureIndex = index;
    const float microseconds = exposureTimes[index] * 1000.0f;
    return cameraDevice.writeExposureTime(microseconds, kStatusNoDevice);
}

void CameraLorvex::setExposureValue(int index, float& value)
{
    if (index < 0 || index >= exposureTimes.size())
        return;
    // The limits are written by an open, which a reconnect runs on a pool thread.
    lorvex::RankedLocker panel(cameraDevice.panelLock());
    if (value < exposureMin)
        value = 30.0f;
    else if (value > exposureMax)
        value = exposureMax;
    exposureTimes[index] = value;
}

float CameraLorvex::getExposureValue(int index)
{
    if (index < 0 || index >= exposureTimes.size())
        return 0.0f;
    return exposureTimes[index];
}

QVector<AdjustItem> CameraLorvex::getAdjustItems()
{
    lorvex::RankedLocker panel(cameraDevice.panelLock());
    QVector<AdjustItem> items(2);

    AdjustItem& exposure = items[0];
    exposure.name = QString::fromUtf8("曝光时间");
    exposure.valueType = Float;
    if (!exposureTimes.isEmpty()) {
        // An index outside the configurations (the count was lowered, or a
        // stored index lies beyond the list) edits the nearest one, so that a
        // quick-adjust edit always lands in a real configuration.
        const int index = qBound(0, exposureIndex, exposureTimes.size() - 1);
        exposure.value = &exposureTimes[index];
    } else {
        detachedExposure = 0.0f;
        exposure.value = &detachedExposure;
    }
    exposure.min = exposureMin;
    exposure.max = exposureMax;
    exposure.step = 0.01;

    AdjustItem& gainItem = items[1];
    gainItem.name = QString::fromUtf8("增益调节");
    gainItem.valueType = Int;
    gainItem.value = &gain;
    gainItem.min = gainLimits.min;
    gainItem.max = gainLimits.max;
    gainItem.step = 0.1;
    return items;
}
